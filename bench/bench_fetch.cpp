// Fetch speed and memory of the result dataset against a plain ODBC fetch loop and isql, on
// SQLite and on the private PostgreSQL server. Prints "name value unit" lines on stdout.
// Usage: bench_fetch [ROWS]   (or ROWS in the environment; default 1000000)

#include "BenchFloor.h"
#include "BenchTable.h"
#include "ProcessMemory.h"
#include "connection/Connection.h"
#include "connection/QueryDataset.h"
#include "support/PgServer.h"
#include "support/SessionConnection.h"
#include "support/TestEnv.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <cstdio>
#include <fcntl.h>
#include <malloc.h>
#include <sql.h>
#include <sqlext.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

void figure(const char *name, double value, const char *unit)
{
    std::printf("%s %.3f %s\n", name, value, unit);
    std::fflush(stdout);
}

// Memory that a run adds at its peak, in MB: VmHWM against VmRSS at the start (Linux; the peak
// is reset through clear_refs after freed memory went back to the system).
double baselineMb = 0;

void resetPeak()
{
    malloc_trim(0);
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
    baselineMb = statusMb("VmRSS:");
}

double peakMb()
{
    return statusMb("VmHWM:") - baselineMb;
}

struct Run
{
    double rowsPerSecond = 0;
    double peak = 0;
    long rows = 0;
};

// The floor, with the memory it adds.
Run floorLoop(const QString &dsn, const QString &user, const QString &password, const char *sql)
{
    resetPeak();
    const FloorRun floor = floorFetch(dsn, user, password, sql);
    Run run;
    run.rowsPerSecond = floor.rowsPerSecond;
    run.rows = floor.rows;
    run.peak = peakMb();
    return run;
}

// Open + CountRecords through our dataset; the dataset stays alive for the store figures.
Run datasetRun(QueryDataset &query, const QString &dsn, const char *sql)
{
    resetPeak();
    QElapsedTimer timer;
    timer.start();
    query.setConnection(dsn, sessionConnection(dsn));
    query.setSql(QString::fromLatin1(sql));
    query.OpenQuery();
    Run run;
    run.rows = query.CountRecords();
    run.rowsPerSecond = run.rows / (timer.nsecsElapsed() / 1e9);
    run.peak = peakMb();
    return run;
}

// isql -b with the statement on stdin and its output thrown away; its own peak memory.
Run isqlRun(
    const QString &dsn, const QString &user, const QString &password, const char *sql, long rows)
{
    int input[2];
    if (pipe(input) != 0)
        return {};
    QElapsedTimer timer;
    timer.start();
    const pid_t child = fork();
    if (child == 0) {
        dup2(input[0], 0);
        close(input[1]);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        const QByteArray d = dsn.toUtf8(), u = user.toUtf8(), p = password.toUtf8();
        if (user.isEmpty())
            execlp("isql", "isql", "-b", d.constData(), nullptr);
        else
            execlp("isql", "isql", "-b", d.constData(), u.constData(), p.constData(), nullptr);
        _exit(127);
    }
    close(input[0]);
    const std::string line = std::string(sql) + "\n";
    if (write(input[1], line.data(), line.size()) < 0)
        std::perror("isql input");
    close(input[1]);
    int status = 0;
    rusage usage {};
    wait4(child, &status, 0, &usage);
    Run run;
    run.rows = rows;
    run.rowsPerSecond = rows / (timer.nsecsElapsed() / 1e9);
    run.peak = usage.ru_maxrss / 1024.0;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        std::fprintf(stderr, "isql %s ended with status %d\n", qPrintable(dsn), status);
    return run;
}

// Bytes of the comma-quote text of the whole result: every value (or <Null>) between double
// quotes, joined by commas, each line ended by CR LF; the header line included.
double commaQuoteBytes(QueryDataset &query)
{
    double bytes = 0;
    const int fields = query.FieldCount();
    for (int field = 0; field < fields; ++field)
        bytes += query.FieldTitle(field).toUtf8().size() + 2 + (field ? 1 : 0);
    bytes += 2;
    const int records = query.fetchedCount();
    for (int record = 0; record < records; ++record) {
        for (int field = 0; field < fields; ++field)
            bytes += (query.isNull(record, field) ? 6 : query.text(record, field).toUtf8().size())
                + 2 + (field ? 1 : 0);
        bytes += 2;
    }
    return bytes;
}

void report(const char *prefix, const Run &floor, const Run &ours, const Run &isql)
{
    const QByteArray p(prefix);
    figure(p + "_floor_rows_per_s", floor.rowsPerSecond, "rows/s");
    figure(p + "_dataset_rows_per_s", ours.rowsPerSecond, "rows/s");
    figure(p + "_isql_rows_per_s", isql.rowsPerSecond, "rows/s");
    figure(p + "_floor_added_memory", floor.peak, "MB");
    figure(p + "_dataset_added_memory", ours.peak, "MB");
    figure(p + "_isql_peak_memory", isql.peak, "MB");
    figure(p + "_vs_floor", ours.rowsPerSecond / floor.rowsPerSecond, "x");
}

} // namespace

int main(int argc, char **argv)
{
    TestEnv::setUp();
    QCoreApplication app(argc, argv);
    const long rows = benchRows(argc, argv);
    const char *sql = "select * from bench";

    try {
        createBenchTables(rows);
        PgServer &server = PgServer::instance();

        BenchConnections connections;

        // The machine may be busy with other work: floor and dataset runs alternate, and the
        // best of each counts.
        const int repeats = benchRepeats();
        auto best = [](Run &kept, const Run &run) {
            if (run.rowsPerSecond > kept.rowsPerSecond)
                kept = run;
        };
        auto measure = [&](const char *prefix, const QString &dsn, const QString &user,
                           const QString &password, bool storeFigures) {
            Run floor, ours;
            for (int i = 0; i < repeats; ++i) {
                best(floor, floorLoop(dsn, user, password, sql));
                QueryDataset query;
                best(ours, datasetRun(query, dsn, sql));
                if (storeFigures && i == repeats - 1) {
                    const double store = double(query.storeBytes());
                    const double text = commaQuoteBytes(query);
                    figure("store_bytes", store, "bytes");
                    figure("comma_quote_bytes", text, "bytes");
                    figure("store_vs_text", store / text, "x");
                }
            }
            report(prefix, floor, ours, isqlRun(dsn, user, password, sql, ours.rows));
        };
        measure("fetch_sqlite", QStringLiteral("BENCHLITE"), {}, {}, true);
        measure("fetch_pg", QStringLiteral("BENCHPG"), server.user(), server.password(), false);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "bench_fetch: %s\n", error.what());
        return 1;
    }
    return 0;
}
