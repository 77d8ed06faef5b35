// Export speed and memory: the comma-quote and report exports, through the code the export buttons
// use, against unixODBC's isql writing the same data as delimited text, on SQLite and on the
// private PostgreSQL server. Prints "name value unit" lines on stdout.
// Usage: bench_export [ROWS]   (or ROWS in the environment; default 1000000)

#include "BenchTable.h"
#include "connection/Connection.h"
#include "connection/QueryDataset.h"
#include "results/Exporter.h"
#include "support/PgServer.h"
#include "support/TestEnv.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void figure(const QByteArray &name, double value, const char *unit)
{
    std::printf("%s %.3f %s\n", name.constData(), value, unit);
    std::fflush(stdout);
}

double statusMb(const char *key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(int(qstrlen(key))).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0;
}

// Resets the peak resident size (Linux: VmHWM, through clear_refs).
void resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

struct Export
{
    double seconds = 0;
    long rows = 0;
    double extraMb = 0; // peak resident size above the size before the result was opened
    double budgetMb = 0; // the dataset's store plus the output's size
};

// A freshly opened result (first block only), then the export from the click on: the walk,
// the text and the complete file.
Export exportRun(const QString &dsn, const char *sql, ExportFormat format, const QString &path)
{
    resetPeak();
    const double before = statusMb("VmRSS:");
    QueryDataset query;
    query.setDatabaseName(dsn);
    query.setSql(QString::fromLatin1(sql));
    query.OpenQuery();
    QElapsedTimer timer;
    timer.start();
    exportResult(query, format, -1, false, path, nullptr);
    Export run;
    run.seconds = timer.nsecsElapsed() / 1e9;
    run.rows = query.fetchedCount();
    run.extraMb = statusMb("VmHWM:") - before;
    run.budgetMb = (double(query.storeBytes()) + double(QFileInfo(path).size())) / (1024.0 * 1024);
    return run;
}

// isql -b -d, -q with the statement on stdin and its output into a file.
double isqlSeconds(const QString &dsn, const QString &user, const QString &password,
    const char *sql, const QString &path)
{
    int input[2];
    if (pipe(input) != 0)
        return 0;
    QElapsedTimer timer;
    timer.start();
    const pid_t child = fork();
    if (child == 0) {
        dup2(input[0], 0);
        close(input[1]);
        const int out =
            open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, 1);
        const QByteArray d = dsn.toUtf8(), u = user.toUtf8(), p = password.toUtf8();
        if (user.isEmpty())
            execlp("isql", "isql", "-b", "-d,", "-q", d.constData(), nullptr);
        else
            execlp("isql", "isql", "-b", "-d,", "-q", d.constData(), u.constData(), p.constData(),
                nullptr);
        _exit(127);
    }
    close(input[0]);
    const std::string line = std::string(sql) + "\n";
    if (write(input[1], line.data(), line.size()) < 0)
        std::perror("isql input");
    close(input[1]);
    int status = 0;
    waitpid(child, &status, 0);
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        std::fprintf(stderr, "isql %s ended with status %d\n", qPrintable(dsn), status);
    return seconds;
}

} // namespace

int main(int argc, char **argv)
{
    TestEnv::setUp();
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv); // the export may show its progress dialog
    const long rows = benchRows(argc, argv);
    const char *sql = "select * from bench";
    const QString folder = TestEnv::root();

    try {
        createBenchTables(rows);
        PgServer &server = PgServer::instance();

        BenchConnections connections;

        // The machine may be busy with other work: the runs alternate and the best of each counts.
        const int repeats = benchRepeats();
        const QString out = QDir(folder).filePath(QStringLiteral("export.txt"));
        double reportVsCq = 0;
        auto measure = [&](const QByteArray &prefix, const QString &dsn, const QString &user,
                           const QString &password) {
            Export cq, rp;
            double isql = 0;
            for (int i = 0; i < repeats; ++i) {
                const Export c = exportRun(dsn, sql, ExportFormat::CommaQuote, out);
                if (cq.seconds == 0 || c.seconds < cq.seconds)
                    cq = c;
                const Export r = exportRun(dsn, sql, ExportFormat::Report, out);
                if (rp.seconds == 0 || r.seconds < rp.seconds)
                    rp = r;
                const double s = isqlSeconds(dsn, user, password, sql, out);
                if (isql == 0 || s < isql)
                    isql = s;
            }
            figure(prefix + "_cq_rows_per_s", cq.rows / cq.seconds, "rows/s");
            figure(prefix + "_report_rows_per_s", rp.rows / rp.seconds, "rows/s");
            figure(prefix + "_isql_rows_per_s", cq.rows / isql, "rows/s");
            figure(prefix + "_cq_mem_vs_budget", cq.extraMb / cq.budgetMb, "x");
            figure(prefix + "_report_mem_vs_budget", rp.extraMb / rp.budgetMb, "x");
            figure("export_cq_vs_isql_" + prefix.mid(7), isql / cq.seconds, "x");
            reportVsCq = std::max(reportVsCq, rp.seconds / cq.seconds);
        };
        measure("export_sqlite", QStringLiteral("BENCHLITE"), {}, {});
        measure("export_pg", QStringLiteral("BENCHPG"), server.user(), server.password());
        figure("export_report_vs_cq", reportVsCq, "x");
    } catch (const std::exception &error) {
        std::fprintf(stderr, "bench_export: %s\n", error.what());
        return 1;
    }
    return 0;
}
