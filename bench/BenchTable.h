#pragma once

// The benchmarks' shared table: eight mixed columns (integers, decimals, floats, text with quotes
// and commas, dates, timestamps, NULLs) in SQLite (data source BENCHLITE) and in the private
// PostgreSQL server (BENCHPG, database "bench"), and the run parameters every program reads.

#include "connection/Connection.h"
#include "support/PgServer.h"
#include "support/TestEnv.h"

#include <QString>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

// Rows: the first argument, else $ROWS, else 1,000,000.
inline long benchRows(int argc, char **argv)
{
    long rows = qEnvironmentVariableIntValue("ROWS");
    if (argc > 1)
        rows = std::atol(argv[1]);
    return rows > 0 ? rows : 1000000;
}

// The machine may be busy with other work: runs alternate and the best of REPEATS (3) counts.
inline int benchRepeats()
{
    return std::max(
        1, qEnvironmentVariableIsSet("REPEATS") ? qEnvironmentVariableIntValue("REPEATS") : 3);
}

// Creates the table "bench" with the given number of rows in both databases.
inline void createBenchTables(long rows)
{
    std::fprintf(stderr, "creating %ld rows in SQLite...\n", rows);
    TestEnv::addSqliteDsn(QStringLiteral("BENCHLITE"),
        { QStringLiteral(
              "create table bench(id integer, qty int, price decimal(12,2), ratio double, "
              "name varchar(40), born date, stamp timestamp, note varchar(40))"),
            QStringLiteral(
                "with recursive s(n) as (select 1 union all select n + 1 from s where n < %1) "
                "insert into bench select n, n % 1000, (n * 7919 % 10000000) / 100.0, "
                "n / 7.0, 'name, \"' || n || '\"', date('2000-01-01', '+' || (n % 9000) || "
                "' days'), datetime('2020-01-01', '+' || n || ' seconds'), "
                "case when n % 5 = 0 then null else 'note ' || (n % 977) end from s")
                .arg(rows) });
    std::fprintf(stderr, "creating %ld rows in PostgreSQL...\n", rows);
    PgServer &server = PgServer::instance();
    server.addDsn(QStringLiteral("BENCHPG"), QStringLiteral("bench"));
    server.exec(
        QStringLiteral("create table bench(id integer, qty int, price numeric(12,2), "
                       "ratio double precision, name varchar(40), born date, stamp timestamp, "
                       "note varchar(40));"
                       "insert into bench select n, n % 1000, (n::bigint * 7919 % 10000000) / "
                       "100.0, n / 7.0, 'name, \"' || n || '\"', date '2000-01-01' + n % 9000, "
                       "timestamp '2020-01-01' + n * interval '1 second', case when n % 5 = 0 "
                       "then null else 'note ' || (n % 977) end from generate_series(1, %1) n;"
                       "analyze bench;")
            .arg(rows),
        QStringLiteral("bench"));
}

// Both data sources' connections, open and registered, so that datasets find them by name.
struct BenchConnections
{
    BenchConnections()
        : lite(TestEnv::session(), QStringLiteral("BENCHLITE"))
        , pg(TestEnv::session(), QStringLiteral("BENCHPG"))
    {
        lite.OpenConnection();
        PgServer &server = PgServer::instance();
        pg.Params = server.loginParams();
        pg.OpenConnection();
    }
    Connection lite;
    Connection pg;
};
