// The SQL lexer and statement splitter over a mixed 50 MB script. Prints, as "name value unit":
//   sql_lex_mb_per_s:    megabytes (UTF-8 size of the text) split into statements per second,
//                        best of three runs; the split lexes every token once.
// ROWS does not apply.

#include "sql/SqlStatements.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QString>

#include <algorithm>
#include <cstdio>

namespace {

// Selects, changes, comments, strings with doubled quotes, delimited names, numbers and a
// compound statement under another terminator: what a day's scripts hold.
QString makeScript(qint64 bytes)
{
    QRandomGenerator random(21);
    const QString pieces[] = {
        QStringLiteral("select o.id, o.amount, c.\"Name\" from T301DBA.ORDERS o\r\n"
                       "  join T301DBA.CUSTOMER c on c.id = o.customer_id\r\n"
                       "  where o.amount > 1250.75 and c.city = 'Saint-Jean d''Arc';\r\n"),
        QStringLiteral("-- nightly fix, ticket 4711; do not rerun\r\n"
                       "update P201DBA.ACCOUNT set status = 'X', touched = current timestamp "
                       "where id in (select id from P201DBA.STAGE where flag = 1);\r\n"),
        QStringLiteral("/* a block comment; with a terminator inside */\r\n"
                       "insert into T302DBA.LOG (a, b, c) values (1, 2.5e3, X'0aff');\r\n"),
        QStringLiteral("--#SET TERMINATOR @\r\ncreate procedure p() begin atomic "
                       "update t set n = n + 1; delete from u where k = ?; end@\r\n"
                       "--#SET TERMINATOR ;\r\n"),
        QStringLiteral("delete from T303DBA.QUEUE where created < current date - 30 days;\r\n"),
    };
    QString text;
    text.reserve(bytes + 1024);
    while (text.size() < bytes)
        text += pieces[random.bounded(int(std::size(pieces)))];
    return text;
}

} // namespace

int main()
{
    const QString script = makeScript(50LL * 1000 * 1000);
    const double megabytes = double(script.toUtf8().size()) / 1e6;
    qint64 best = -1;
    qsizetype statements = 0;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer timer;
        timer.start();
        statements = Sql::splitStatements(script).size();
        const qint64 ns = timer.nsecsElapsed();
        best = best < 0 ? ns : std::min(best, ns);
    }
    std::fprintf(
        stderr, "%lld statements in %.1f MB\n", static_cast<long long>(statements), megabytes);
    std::printf("sql_lex_mb_per_s %.0f MB/s\n", megabytes / (double(best) / 1e9));
    return 0;
}
