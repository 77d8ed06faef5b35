// One statement on four aliases at once (three SQLite data sources and the private PostgreSQL
// server), merged into one result of ROWS rows: the time until every alias ended, the rows per
// second, and the peak memory the run adds with the result keeping the default 256 MB budget in
// memory and the rest in its temporary file. Prints "name value unit" lines on stdout.
// Usage: bench_fanout [ROWS]   (or ROWS in the environment; default 1000000)

#include "BenchTable.h"
#include "ProcessMemory.h"
#include "connection/Connection.h"
#include "connection/QueryDataset.h"
#include "fanout/FanOutRun.h"
#include "support/PgServer.h"
#include "support/SessionConnection.h"
#include "support/TestEnv.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>

#include <cstdio>
#include <malloc.h>
#include <memory>
#include <vector>

namespace {

void figure(const char *name, double value, const char *unit)
{
    std::printf("%s %.3f %s\n", name, value, unit);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    TestEnv::setUp();
    QCoreApplication app(argc, argv);
    const long rows = benchRows(argc, argv);
    const QStringList aliases { "FANBENCH1", "FANBENCH2", "FANBENCH3", "FANBENCHPG" };
    std::vector<std::unique_ptr<Connection>> connections;
    PgServer &server = PgServer::instance();
    server.addDsn(QStringLiteral("FANBENCHPG"), QStringLiteral("fanbench"));
    for (const QString &alias : aliases) {
        if (alias != QLatin1String("FANBENCHPG"))
            TestEnv::addSqliteDsn(alias);
        connections.push_back(TestEnv::connection(alias));
        if (alias == QLatin1String("FANBENCHPG"))
            connections.back()->Params = server.loginParams();
        connections.back()->OpenConnection();
    }
    // The same text on both kinds of database: a quarter of the rows from each alias.
    const QString sql = QStringLiteral(
        "with recursive s(n) as (select 1 union all select n + 1 from s where n < %1) "
        "select n as id, 'name ' || n as name, n * 2 as twice from s")
                            .arg(rows / 4);
    QVector<FanOutRun::Target> targets;
    for (const QString &alias : aliases)
        targets.append({ alias, sessionConnection(alias), sql, QString() });

    malloc_trim(0);
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
    clear.close();
    const double baseline = statusMb("VmRSS:");

    FanOutRun fanOut(QueryDataset::DefaultStoreBudget);
    std::unique_ptr<QueryDataset> result;
    QEventLoop loop;
    QObject::connect(&fanOut, &FanOutRun::resultReady, [&] { result = fanOut.takeResult(); });
    // The merged rows are taken into the result as they arrive, as the window's grid does.
    QObject::connect(&fanOut, &FanOutRun::rowsArrived, [&] {
        if (result)
            result->fetchMore();
    });
    QObject::connect(&fanOut, &FanOutRun::finished, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    fanOut.start(targets);
    loop.exec();
    const int merged = result ? result->CountRecords() : 0;
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    for (const FanOutRun::Status &status : fanOut.statuses()) {
        if (status.state != FanOutRun::State::Done)
            std::fprintf(stderr, "%s did not end well: %s\n", qPrintable(status.alias),
                qPrintable(status.error));
    }
    if (merged != rows / 4 * 4) {
        std::fprintf(stderr, "merged %d rows, expected %ld\n", merged, rows / 4 * 4);
        return 1;
    }
    figure("fanout_merge_4_aliases", seconds, "s");
    figure("fanout_merge_rows_per_second", merged / seconds, "rows/s");
    figure("fanout_merge_peak_memory", statusMb("VmHWM:") - baseline, "MB");
    figure("fanout_merge_store_memory", double(result->storeBytes()) / 1048576.0, "MB");
    return 0;
}
