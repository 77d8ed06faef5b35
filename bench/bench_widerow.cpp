// Memory of a one-row result of an id and 400 VARCHAR(255) columns: the peak resident size of this
// process once it is open, on the private PostgreSQL server (which fetches rowsets) and on SQLite,
// against the peak before. Prints "name value unit" lines on stdout.

#include "connection/Connection.h"
#include "connection/QueryDataset.h"
#include "support/PgServer.h"
#include "support/SessionConnection.h"
#include "support/TestEnv.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>
#include <sys/resource.h>

namespace {

constexpr int Columns = 400;

void figure(const char *name, double value, const char *unit)
{
    std::printf("%s %.3f %s\n", name, value, unit);
    std::fflush(stdout);
}

double peakRssMb()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

QString wideTable()
{
    QStringList columns;
    for (int k = 1; k <= Columns; ++k)
        columns << QStringLiteral("c%1 varchar(255)").arg(k);
    return QStringLiteral("create table wide(id integer, %1)")
        .arg(columns.join(QLatin1String(", ")));
}

void measure(const char *prefix, const QString &dsn)
{
    QueryDataset query;
    query.setConnection(dsn, sessionConnection(dsn));
    query.setSql(QStringLiteral("select * from wide"));
    query.OpenQuery();
    const QByteArray p(prefix);
    figure(p + "_peak_rss", peakRssMb(), "MB");
    query.CountRecords();
}

} // namespace

int main(int argc, char **argv)
{
    TestEnv::setUp();
    QCoreApplication app(argc, argv);
    try {
        PgServer &server = PgServer::instance();
        server.addDsn(QStringLiteral("WIDEPG"), QStringLiteral("widerow"));
        server.exec(
            wideTable() + QStringLiteral("; insert into wide(id, c1, c400) values (1, 'a', 'z');"),
            QStringLiteral("widerow"));
        TestEnv::addSqliteDsn(QStringLiteral("WIDELITE"),
            { wideTable(), QStringLiteral("insert into wide(id, c1, c400) values (1, 'a', 'z')") });
        Connection pg(TestEnv::session(), QStringLiteral("WIDEPG"));
        pg.Params = server.loginParams();
        pg.OpenConnection();
        Connection lite(TestEnv::session(), QStringLiteral("WIDELITE"));
        lite.OpenConnection();
        figure("wide_row_baseline_peak_rss", peakRssMb(), "MB");
        // The server first: the peak of the process only grows.
        measure("wide_row_pg", QStringLiteral("WIDEPG"));
        measure("wide_row_sqlite", QStringLiteral("WIDELITE"));
    } catch (const std::exception &error) {
        std::fprintf(stderr, "bench_widerow: %s\n", error.what());
        return 1;
    }
    return 0;
}
