#include "sql/SqlWords.h"

#include <QStringList>

#include <algorithm>
#include <iterator>

namespace {

// Sorted for a binary search.
const char16_t *const keywordList[] = { u"ADD", u"AFTER", u"ALL", u"ALTER", u"ANALYZE", u"AND",
    u"ANY", u"AS", u"ASC", u"ATOMIC", u"ATTACH", u"BEFORE", u"BEGIN", u"BETWEEN", u"BIGINT",
    u"BLOB", u"BY", u"CALL", u"CASE", u"CAST", u"CHAR", u"CHARACTER", u"CHECK", u"CLOB",
    u"COALESCE", u"COLUMN", u"COMMENT", u"COMMIT", u"CONFLICT", u"CONSTRAINT", u"COUNT", u"CREATE",
    u"CROSS", u"CURRENT", u"CURSOR", u"DATE", u"DAY", u"DAYS", u"DBCLOB", u"DECIMAL", u"DECLARE",
    u"DEFAULT", u"DELETE", u"DESC", u"DETACH", u"DISTINCT", u"DO", u"DOUBLE", u"DROP", u"EACH",
    u"ELSE", u"ELSEIF", u"ELSIF", u"END", u"ESCAPE", u"EXCEPT", u"EXECUTE", u"EXISTS", u"EXPLAIN",
    u"FALSE", u"FETCH", u"FIRST", u"FOR", u"FOREIGN", u"FROM", u"FULL", u"FUNCTION", u"GRANT",
    u"GRAPHIC", u"GROUP", u"HAVING", u"HOUR", u"HOURS", u"IF", u"ILIKE", u"IMMEDIATE", u"IN",
    u"INDEX", u"INNER", u"INSERT", u"INT", u"INTEGER", u"INTERSECT", u"INTO", u"IS", u"ISOLATION",
    u"JOIN", u"KEY", u"LANGUAGE", u"LEFT", u"LIKE", u"LIMIT", u"LOCK", u"LOOP", u"MATCHED",
    u"MERGE", u"MINUTE", u"MINUTES", u"MONTH", u"MONTHS", u"NOT", u"NOTHING", u"NULL", u"NULLS",
    u"NUMERIC", u"OF", u"OFFSET", u"ON", u"ONLY", u"OPTIMIZE", u"OR", u"ORDER", u"OUTER", u"OVER",
    u"PARTITION", u"PERFORM", u"PRAGMA", u"PRIMARY", u"PROCEDURE", u"RAISE", u"REAL", u"REFERENCES",
    u"RELEASE", u"RENAME", u"REPLACE", u"RETURN", u"RETURNING", u"RETURNS", u"REVOKE", u"RIGHT",
    u"ROLLBACK", u"ROW", u"ROWS", u"SAVEPOINT", u"SECOND", u"SECONDS", u"SELECT", u"SET",
    u"SMALLINT", u"SOME", u"TABLE", u"TEMP", u"TEMPORARY", u"THEN", u"TIME", u"TIMESTAMP", u"TO",
    u"TRANSACTION", u"TRIGGER", u"TRUE", u"TRUNCATE", u"UNION", u"UNIQUE", u"UPDATE", u"USER",
    u"USING", u"VACUUM", u"VALUES", u"VARCHAR", u"VARGRAPHIC", u"VIEW", u"WHEN", u"WHERE", u"WHILE",
    u"WITH", u"XML", u"YEAR", u"YEARS" };

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

} // namespace

namespace Sql {

bool isKeyword(QStringView word)
{
    const auto less = [](QStringView a, QStringView b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    };
    const auto *found = std::lower_bound(std::begin(keywordList), std::end(keywordList), word,
        [&](const char16_t *entry, QStringView w) { return less(QStringView(entry), w); });
    return found != std::end(keywordList)
        && word.compare(QStringView(*found), Qt::CaseInsensitive) == 0;
}

// Words that cannot stand as a bare column or table name in the databases the statements go to.
bool isReserved(QStringView upper)
{
    static const QStringList words = QStringLiteral(
        "ALL ALTER AND ANY AS ASC BETWEEN BY CASE CAST CHECK COLUMN CONSTRAINT CREATE CROSS "
        "CURRENT CURRENT_DATE CURRENT_TIME CURRENT_TIMESTAMP CURRENT_USER DEFAULT DELETE DESC "
        "DISTINCT DROP ELSE END EXCEPT EXISTS FALSE FETCH FOR FOREIGN FROM FULL GRANT GROUP "
        "HAVING IN INNER INSERT INTERSECT INTO IS JOIN LEADING LEFT LIKE LIMIT NATURAL NOT NULL "
        "OFFSET ON OR ORDER OUTER PRIMARY REFERENCES RIGHT ROW ROWS SELECT SESSION_USER SET SOME "
        "TABLE THEN TO TRAILING TRUE UNION UNIQUE UPDATE USER USING VALUES WHEN WHERE WITH")
                                         .split(QLatin1Char(' '));
    return words.contains(upper);
}

// A name as the SQL text needs it: bare when it is a regular identifier, otherwise a delimited
// identifier between double quotes, its quotes doubled.
QString identifier(const QString &name)
{
    bool regular = !name.isEmpty() && !isDigit(name.front());
    for (const QChar c : name)
        regular = regular
            && ((c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
                || (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || isDigit(c)
                || c == QLatin1Char('_'));
    if (regular && !isReserved(name.toUpper()))
        return name;
    QString quoted = name;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// The table name as typed: parts between dots (schema and table), each kept when the user gave
// it between double quotes, quoted where it needs it otherwise.
QString tableName(const QString &typed)
{
    QStringList parts { QString() };
    bool quoted = false;
    for (const QChar c : typed.trimmed()) {
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        if (c == QLatin1Char('.') && !quoted)
            parts.append(QString());
        else
            parts.last() += c;
    }
    for (QString &part : parts) {
        part = part.trimmed();
        const bool delimited = part.size() >= 2 && part.startsWith(QLatin1Char('"'))
            && part.endsWith(QLatin1Char('"'))
            && !part.mid(1, part.size() - 2)
                    .replace(QLatin1String("\"\""), QString())
                    .contains(QLatin1Char('"'));
        if (!delimited)
            part = identifier(part);
    }
    return parts.join(QLatin1Char('.'));
}

const QStringList &completionKeywords(Dialect dialect)
{
    const auto make = [](const char *extra) {
        QString all = QStringLiteral(
            "ALL AND AS ASC BETWEEN BY CASE CAST COALESCE COUNT CREATE CROSS DELETE DESC DISTINCT "
            "DROP ELSE END EXCEPT EXISTS FROM FULL GROUP HAVING IN INNER INSERT INTERSECT INTO IS "
            "JOIN LEFT LIKE MAX MIN NOT NULL ON OR ORDER OUTER RIGHT SELECT SET SUM TABLE THEN "
            "UNION UPDATE VALUES VIEW WHEN WHERE WITH ");
        all += QLatin1String(extra);
        QStringList words = all.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        words.sort();
        words.removeDuplicates();
        return words;
    };
    static const QStringList ansi = make("FETCH FIRST ROWS ONLY MERGE");
    static const QStringList db2 = make(
        "FETCH FIRST ROWS ONLY WITH UR CS RS RR CURRENT DATE TIME TIMESTAMP DAYS MONTHS YEARS "
        "MERGE MATCHED OPTIMIZE FOR CALL DECIMAL VARCHAR INTEGER CHAR SUBSTR VALUE FINAL OLD NEW "
        "TRUNCATE IMMEDIATE");
    static const QStringList postgres =
        make("LIMIT OFFSET ILIKE RETURNING ON CONFLICT DO NOTHING NULLS FIRST LAST LATERAL NOW "
             "INTERVAL TRUNCATE EXPLAIN ANALYZE");
    static const QStringList sqlite = make(
        "LIMIT OFFSET GLOB PRAGMA REPLACE RETURNING ON CONFLICT DO NOTHING IFNULL EXPLAIN QUERY "
        "PLAN");
    switch (dialect) {
    case Dialect::Db2:
        return db2;
    case Dialect::PostgreSql:
        return postgres;
    case Dialect::Sqlite:
        return sqlite;
    case Dialect::Ansi:
        break;
    }
    return ansi;
}

} // namespace Sql
