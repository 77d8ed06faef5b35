// The catalog service on a big catalog. Prints, as "name value unit" lines:
//   catalog_open_ms:          from ensureLoaded to the snapshot of a cached catalog of 50,000
//                             tables and 1,000,000 columns (the first keystroke of the day);
//   catalog_columns_ms:       the columns of one table on first use, from the cache file (mean
//                             over 200 tables, one after another);
//   catalog_load_pg_ms:       a cold load of the names of 10,000 tables of 20 columns from the
//                             local PostgreSQL server, through psqlODBC, into the snapshot and
//                             the cache file;
//   catalog_psql_ms:          the same names read by psql (a process of its own, local socket);
//   catalog_load_vs_psql:     the two side by side;
//   ui_stall_catalog_ms:      the longest gap between two turns of the UI thread's event loop
//                             while all of the above ran.
// ROWS below 1,000,000 shrinks both catalogs in proportion, for a short run.

#include "StallMeter.h"
#include "catalog/CatalogCache.h"
#include "catalog/CatalogService.h"
#include "catalog/CatalogSql.h"
#include "support/PgServer.h"
#include "support/TestEnv.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

using namespace Catalog;

namespace {

// Turns the event loop until the service says what pred waits for; false after 10 minutes.
bool waitFor(CatalogService &service, const std::function<bool()> &pred)
{
    if (pred())
        return true;
    QEventLoop loop;
    QObject::connect(&service, &Catalogs::snapshotChanged, &loop, [&] {
        if (pred())
            loop.quit();
    });
    QObject::connect(
        &service, &Catalogs::loadFailed, &loop, [&](const QString &, const QString &message) {
            std::fprintf(stderr, "bench_catalog: %s\n", qPrintable(message));
            loop.quit();
        });
    QTimer::singleShot(600000, &loop, &QEventLoop::quit);
    loop.exec();
    return pred();
}

// A catalog of `tables` tables of 20 columns each in 100 schemas, written into the cache file.
void generateCache(const QString &path, const QString &alias, int tables)
{
    CatalogCache cache(path);
    QVector<Object> objects;
    objects.reserve(tables);
    for (int i = 0; i < tables; ++i)
        objects.append({ QStringLiteral("S%1").arg(i % 100, 3, 10, QLatin1Char('0')),
            QStringLiteral("TABLE_%1").arg(i, 6, 10, QLatin1Char('0')), Kind::Table,
            QStringLiteral("generated") });
    cache.writeNames(alias, QDateTime::currentDateTime(), objects);
    QHash<QString, QVector<Column>> columns;
    for (int i = 0; i < tables; ++i) {
        QVector<Column> list;
        for (int c = 0; c < 20; ++c)
            list.append({ QStringLiteral("COLUMN_%1").arg(c), QStringLiteral("VARCHAR"), 40, 0,
                c != 0, c == 0 ? 1 : 0, QString() });
        columns.insert(Snapshot::key(objects[i].schema, objects[i].name), list);
        if (columns.size() == 5000 || i == tables - 1) {
            cache.writeColumns(alias, columns, {});
            columns.clear();
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    long rows = 1000000;
    if (argc > 1)
        rows = std::atol(argv[1]);
    else if (!qEnvironmentVariableIsEmpty("ROWS"))
        rows = qEnvironmentVariableIntValue("ROWS");
    const double scale = std::clamp(rows / 1e6, 0.01, 1.0);
    const int bigTables = int(50000 * scale);
    const int pgTables = int(10000 * scale);
    TestEnv::setUp();
    QApplication app(argc, argv);

    try {
        const QString bigPath = TestEnv::root() + QStringLiteral("/big-catalog.db");
        generateCache(bigPath, QStringLiteral("BIGCAT"), bigTables);

        double stallMs = 0;
        auto stall = std::make_unique<StallMeter>(); // off while this thread waits for psql
        CatalogService big(bigPath);
        QElapsedTimer timer;
        timer.start();
        big.ensureLoaded(QStringLiteral("BIGCAT"));
        if (!waitFor(big, [&] { return big.snapshot(QStringLiteral("BIGCAT")) != nullptr; }))
            throw std::runtime_error("the cached catalog did not open");
        std::printf("catalog_open_ms %.1f ms\n", timer.nsecsElapsed() / 1e6);
        std::printf("catalog_open_tables %d tables\n",
            big.snapshot(QStringLiteral("BIGCAT"))->objectCount());

        const int asked = 200;
        timer.restart();
        for (int i = 0; i < asked; ++i) {
            const int at = int((qint64(i) * 7919) % bigTables);
            const QString schema = QStringLiteral("S%1").arg(at % 100, 3, 10, QLatin1Char('0'));
            const QString name = QStringLiteral("TABLE_%1").arg(at, 6, 10, QLatin1Char('0'));
            big.requestColumns(QStringLiteral("BIGCAT"), schema, name);
            if (!waitFor(big, [&] {
                    return big.snapshot(QStringLiteral("BIGCAT"))->columns(schema, name) != nullptr;
                }))
                throw std::runtime_error("columns from the cache did not come");
        }
        std::printf("catalog_columns_ms %.2f ms\n", timer.nsecsElapsed() / 1e6 / asked);

        stallMs = stall->maxGapMs;
        stall.reset();
        PgServer &server = PgServer::instance();
        const QString database = QStringLiteral("catalogbench");
        server.addDsn(QStringLiteral("CATPG"), database);
        server.exec(QStringLiteral("DROP SCHEMA IF EXISTS bench CASCADE; CREATE SCHEMA bench;"
                                   "DO $$ BEGIN FOR i IN 1..%1 LOOP EXECUTE format("
                                   "'CREATE TABLE bench.t%s (id integer PRIMARY KEY, %s)', i,"
                                   " (SELECT string_agg('c' || c || ' varchar(40)', ', ')"
                                   " FROM generate_series(2, 20) c));"
                                   // A transaction holds a lock per table it created.
                                   " IF i % 500 = 0 THEN COMMIT; END IF; END LOOP; END $$")
                        .arg(pgTables),
            database);
        CatalogService pg(TestEnv::root() + QStringLiteral("/pg-catalog.db"));
        stall = std::make_unique<StallMeter>();
        timer.restart();
        pg.setLogin(QStringLiteral("CATPG"), server.user(), server.password());
        pg.ensureLoaded(QStringLiteral("CATPG"));
        if (!waitFor(pg, [&] { return pg.snapshot(QStringLiteral("CATPG")) != nullptr; }))
            throw std::runtime_error("the PostgreSQL catalog did not load");
        const double loadMs = timer.nsecsElapsed() / 1e6;
        stallMs = std::max(stallMs, stall->maxGapMs);
        stall.reset();
        std::printf("catalog_load_pg_tables %d tables\n",
            pg.snapshot(QStringLiteral("CATPG"))->objectCount());
        std::printf("catalog_load_pg_ms %.1f ms\n", loadMs);

        timer.restart();
        const QString names = server.value(objectsSql(Source::PostgreSql, {}), database);
        const double psqlMs = timer.nsecsElapsed() / 1e6;
        std::printf("catalog_psql_rows %lld rows\n",
            static_cast<long long>(names.count(QLatin1Char('\n')) + 1));
        std::printf("catalog_psql_ms %.1f ms\n", psqlMs);
        std::printf("catalog_load_vs_psql %.2f x\n", loadMs / psqlMs);
        std::printf("ui_stall_catalog_ms %.1f ms\n", stallMs);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "bench_catalog: %s\n", error.what());
        return 1;
    }
    return 0;
}
