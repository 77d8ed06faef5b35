// The SQL lexer and the statement model, per dialect, over scripts of what a day's work holds in
// each. Prints, as "name value unit":
//   sql_lex_mb_s_<dialect>: megabytes (UTF-8 size of the text) lexed per second, every token
//                           of a 20 MB script once, best of seven runs;
//   sql_classify_1mb_ms:    milliseconds to split a 1 MB script into statements and classify
//                           each (effects at every level, unfiltered changes), best of seven,
//                           the slowest dialect's.
// ROWS does not apply.

#include "sql/SqlStatements.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Mix
{
    const char *name;
    Sql::Dialect dialect;
    std::vector<QString> pieces;
};

const std::vector<Mix> &mixes()
{
    static const std::vector<Mix> all = {
        { "db2", Sql::Dialect::Db2,
            { QStringLiteral("select o.id, o.amount, c.\"Name\" from T301DBA.ORDERS o\r\n"
                             "  join T301DBA.CUSTOMER c on c.id = o.customer_id\r\n"
                             "  where o.amount > 1250.75 and c.city = 'Saint-Jean d''Arc';\r\n"),
                QStringLiteral("-- nightly fix, ticket 4711; do not rerun\r\n"
                               "update P201DBA.ACCOUNT set status = 'X', touched = current "
                               "timestamp where id in (select id from P201DBA.STAGE where flag = "
                               "1);\r\n"),
                QStringLiteral("/* a block comment; with a terminator inside */\r\n"
                               "insert into T302DBA.LOG (a, b, c) values (1, 2.5e3, X'0aff');\r\n"),
                QStringLiteral("--#SET TERMINATOR @\r\ncreate procedure p() begin atomic "
                               "update t set n = n + 1; delete from u where k = ?; end@\r\n"
                               "--#SET TERMINATOR ;\r\n"),
                QStringLiteral("begin atomic declare v int; if v > 0 then delete from t where k = "
                               "v; end if; end;\r\n"),
                QStringLiteral("select * from old table (delete from T303DBA.QUEUE where created "
                               "< current date - 30 days);\r\n") } },
        { "postgresql", Sql::Dialect::PostgreSql,
            { QStringLiteral("select o.id, o.amount::numeric(12,2), c.\"Name\" from orders o\n"
                             "  join customer c on c.id = o.customer_id\n"
                             "  where o.amount > $1 and c.city = E'Saint-Jean d\\'Arc';\n"),
                QStringLiteral("do $$ begin\n  update account set status = 'X' where id = 1;\n"
                               "  perform pg_notify('c', 'x; y');\nend $$;\n"),
                QStringLiteral("/* outer /* nested; */ comment */ insert into log (a, b) values "
                               "(1, 'two') on conflict (a) do update set b = excluded.b;\n"),
                QStringLiteral("create function f(a int) returns int language plpgsql as $body$\n"
                               "begin return a + 1; end;\n$body$;\n"),
                QStringLiteral("with d as (delete from queue where created < now() - interval "
                               "'30 days' returning *) select count(*) from d;\n"),
                QStringLiteral("explain analyze select * from orders where id = 7;\n") } },
        { "sqlite", Sql::Dialect::Sqlite,
            { QStringLiteral("select o.id, o.amount, c.[Name] from orders o\n"
                             "  join `customer` c on c.id = o.customer_id\n"
                             "  where o.amount > :amount and c.city = 'Saint-Jean d''Arc';\n"),
                QStringLiteral("create trigger tr after insert on orders begin\n"
                               "  update stats set n = n + 1;\n  delete from queue where id = "
                               "new.id;\nend;\n"),
                QStringLiteral("insert or replace into blobs values (?1, X'00ff', 'a;b');\n"),
                QStringLiteral("pragma table_info(orders);\n"),
                QStringLiteral("-- tidy; up\nreplace into t (id, v) values (1, 'x');\n"),
                QStringLiteral("with x as (select 1) delete from t where id in x;\n") } },
        { "ansi", Sql::Dialect::Ansi,
            { QStringLiteral("select o.id, o.amount, c.\"Name\" from orders o\n"
                             "  join customer c on c.id = o.customer_id\n"
                             "  where o.amount > 1250.75 and c.city = 'Saint-Jean d''Arc';\n"),
                QStringLiteral("update account set status = 'X' where id in (select id from "
                               "stage where flag = 1);\n"),
                QStringLiteral("/* a block comment; with a terminator inside */\n"
                               "insert into log (a, b, c) values (1, 2.5e3, X'0aff');\n"),
                QStringLiteral("merge into t using s on (t.id = s.id) when matched then update "
                               "set a = s.a;\n"),
                QStringLiteral("delete from queue where created < current_date;\n") } },
    };
    return all;
}

QString makeScript(const Mix &mix, qint64 bytes)
{
    QRandomGenerator random(21);
    QString text;
    text.reserve(bytes + 1024);
    while (text.size() < bytes)
        text += mix.pieces[random.bounded(int(mix.pieces.size()))];
    return text;
}

template <typename Work>
qint64 bestNs(int runs, Work &&work)
{
    qint64 best = -1;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        work();
        const qint64 ns = timer.nsecsElapsed();
        best = best < 0 ? ns : std::min(best, ns);
    }
    return best;
}

} // namespace

int main()
{
    double slowestClassifyMs = 0;
    for (const Mix &mix : mixes()) {
        const QString script = makeScript(mix, 20LL * 1000 * 1000);
        const double megabytes = double(script.toUtf8().size()) / 1e6;
        qint64 tokens = 0;
        const qint64 lexNs = bestNs(7, [&] {
            tokens = 0;
            Sql::Lexer lexer(script, mix.dialect);
            while (lexer.next().kind != Sql::TokenKind::End)
                ++tokens;
        });
        const QString oneMb = makeScript(mix, 1000 * 1000);
        qsizetype statements = 0;
        const qint64 classifyNs =
            bestNs(5, [&] { statements = Sql::splitStatements(oneMb, mix.dialect).size(); });
        const double classifyMs = double(classifyNs) / 1e6;
        slowestClassifyMs = std::max(slowestClassifyMs, classifyMs);
        std::fprintf(stderr, "%s: %lld tokens in %.1f MB; 1 MB: %lld statements in %.1f ms\n",
            mix.name, static_cast<long long>(tokens), megabytes, static_cast<long long>(statements),
            classifyMs);
        std::printf("sql_lex_mb_s_%s %.0f MB/s\n", mix.name, megabytes / (double(lexNs) / 1e9));
    }
    std::printf("sql_classify_1mb_ms %.1f ms\n", slowestClassifyMs);
    return 0;
}
