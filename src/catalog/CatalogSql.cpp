#include "catalog/CatalogSql.h"

#include "sql/SqlLexer.h"

#include <QRegularExpression>

namespace Catalog {

Source sourceOfDbms(const QString &dbmsName)
{
    const QString name = dbmsName.trimmed();
    if (name.startsWith(QLatin1String("DB2/400"), Qt::CaseInsensitive))
        return Source::Odbc; // DB2 for i: no SYSCAT views; its driver's catalog functions serve
    if (name.startsWith(QLatin1String("DB2/"), Qt::CaseInsensitive))
        return Source::Db2Luw; // "DB2/LINUXX8664", "DB2/NT64", "DB2/AIX64"
    if (name.startsWith(QLatin1String("DSN"), Qt::CaseInsensitive))
        return Source::Db2Zos; // "DSN12015": the z/OS subsystem's level
    if (name.contains(QLatin1String("PostgreSQL"), Qt::CaseInsensitive))
        return Source::PostgreSql;
    if (name.startsWith(QLatin1String("SQLite"), Qt::CaseInsensitive))
        return Source::Sqlite;
    return Source::Odbc;
}

QString sourceName(Source source)
{
    switch (source) {
    case Source::Db2Luw:
        return QStringLiteral("DB2 LUW");
    case Source::Db2Zos:
        return QStringLiteral("DB2 for z/OS");
    case Source::PostgreSql:
        return QStringLiteral("PostgreSQL");
    case Source::Sqlite:
        return QStringLiteral("SQLite");
    case Source::Odbc:
        break;
    }
    return QStringLiteral("ODBC");
}

QString sqlLiteral(const QString &text)
{
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

namespace {

// The scope's conditions on a schema and a name column, joined to `base` with AND.
QString where(const Scope &scope, const QString &schemaColumn, const QString &nameColumn,
    QStringList base = {}, bool filterName = true)
{
    if (!scope.schemas.isEmpty()) {
        QStringList literals;
        for (const QString &schema : scope.schemas)
            literals << sqlLiteral(schema);
        base << schemaColumn + QStringLiteral(" IN (") + literals.join(QStringLiteral(", "))
                + QLatin1Char(')');
    }
    if (filterName && !scope.table.isEmpty())
        base << nameColumn + QStringLiteral(" = ") + sqlLiteral(scope.table);
    if (filterName && !scope.like.isEmpty())
        base << nameColumn + QStringLiteral(" LIKE ") + sqlLiteral(scope.like);
    return base.isEmpty() ? QString()
                          : QStringLiteral(" WHERE ") + base.join(QStringLiteral(" AND "));
}

// PostgreSQL's own schemas stay out unless the include list names them.
QStringList pgBase(const Scope &scope, QStringList base)
{
    if (scope.schemas.isEmpty())
        base << QStringLiteral("n.nspname NOT IN ('pg_catalog', 'information_schema')")
             << QStringLiteral("n.nspname NOT LIKE 'pg\\_%'");
    return base;
}

const char *const kPgRelKinds = "c.relkind IN ('r', 'p', 'v', 'm', 'f')";

} // namespace

QString objectsSql(Source source, const Scope &scope)
{
    switch (source) {
    case Source::Db2Luw:
        return QStringLiteral("SELECT TABSCHEMA, TABNAME, TYPE, REMARKS FROM SYSCAT.TABLES")
            + where(scope, QStringLiteral("TABSCHEMA"), QStringLiteral("TABNAME"))
            + QStringLiteral(" UNION ALL SELECT ROUTINESCHEMA, ROUTINENAME, 'ROUTINE', MIN(REMARKS)"
                             " FROM SYSCAT.ROUTINES")
            + where(scope, QStringLiteral("ROUTINESCHEMA"), QStringLiteral("ROUTINENAME"))
            + QStringLiteral(" GROUP BY ROUTINESCHEMA, ROUTINENAME WITH UR");
    case Source::Db2Zos:
        return QStringLiteral("SELECT CREATOR, NAME, TYPE, REMARKS FROM SYSIBM.SYSTABLES")
            + where(scope, QStringLiteral("CREATOR"), QStringLiteral("NAME"))
            + QStringLiteral(" UNION ALL SELECT SCHEMA, NAME, 'ROUTINE', MIN(REMARKS)"
                             " FROM SYSIBM.SYSROUTINES")
            + where(scope, QStringLiteral("SCHEMA"), QStringLiteral("NAME"))
            + QStringLiteral(" GROUP BY SCHEMA, NAME WITH UR");
    case Source::PostgreSql:
        return QStringLiteral(
                   "SELECT n.nspname, c.relname, CASE c.relkind WHEN 'v' THEN 'V' WHEN 'm' THEN 'S'"
                   " WHEN 'f' THEN 'N' ELSE 'T' END, d.description FROM pg_catalog.pg_class c"
                   " JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace"
                   " LEFT JOIN pg_catalog.pg_description d ON d.objoid = c.oid"
                   " AND d.classoid = 'pg_catalog.pg_class'::regclass AND d.objsubid = 0")
            + where(scope, QStringLiteral("n.nspname"), QStringLiteral("c.relname"),
                pgBase(scope, { QLatin1String(kPgRelKinds) }))
            + QStringLiteral(" UNION ALL SELECT n.nspname, p.proname, 'ROUTINE', MIN(d.description)"
                             " FROM pg_catalog.pg_proc p"
                             " JOIN pg_catalog.pg_namespace n ON n.oid = p.pronamespace"
                             " LEFT JOIN pg_catalog.pg_description d ON d.objoid = p.oid"
                             " AND d.classoid = 'pg_catalog.pg_proc'::regclass")
            + where(
                scope, QStringLiteral("n.nspname"), QStringLiteral("p.proname"), pgBase(scope, {}))
            + QStringLiteral(" GROUP BY n.nspname, p.proname");
    case Source::Sqlite:
        // One schema, "main"; the include list has nothing to choose from.
        return QStringLiteral(
                   "SELECT 'main', name, CASE type WHEN 'view' THEN 'V' ELSE 'T' END, NULL"
                   " FROM sqlite_master")
            + where(Scope { {}, scope.table, scope.like }, QString(), QStringLiteral("name"),
                { QStringLiteral("type IN ('table', 'view')"),
                    QStringLiteral("name NOT LIKE 'sqlite\\_%' ESCAPE '\\'") });
    case Source::Odbc:
        break;
    }
    return QString();
}

QString columnsSql(Source source, const Scope &scope)
{
    switch (source) {
    case Source::Db2Luw:
        return QStringLiteral("SELECT TABSCHEMA, TABNAME, COLNAME, TYPENAME, LENGTH, SCALE, NULLS,"
                              " COALESCE(KEYSEQ, 0), REMARKS FROM SYSCAT.COLUMNS")
            + where(scope, QStringLiteral("TABSCHEMA"), QStringLiteral("TABNAME"))
            + QStringLiteral(" ORDER BY TABSCHEMA, TABNAME, COLNO WITH UR");
    case Source::Db2Zos:
        return QStringLiteral(
                   "SELECT TBCREATOR, TBNAME, NAME, COLTYPE, LENGTH, SCALE, NULLS, KEYSEQ,"
                   " REMARKS FROM SYSIBM.SYSCOLUMNS")
            + where(scope, QStringLiteral("TBCREATOR"), QStringLiteral("TBNAME"))
            + QStringLiteral(" ORDER BY TBCREATOR, TBNAME, COLNO WITH UR");
    case Source::PostgreSql:
        return QStringLiteral(
                   "SELECT n.nspname, c.relname, a.attname, t.typname,"
                   " CASE WHEN t.typname IN ('varchar', 'bpchar') AND a.atttypmod > 4"
                   " THEN a.atttypmod - 4 WHEN t.typname = 'numeric' AND a.atttypmod > 4"
                   " THEN ((a.atttypmod - 4) >> 16) & 65535 ELSE 0 END,"
                   " CASE WHEN t.typname = 'numeric' AND a.atttypmod > 4"
                   " THEN (a.atttypmod - 4) & 65535 ELSE 0 END,"
                   " CASE WHEN a.attnotnull THEN 'N' ELSE 'Y' END,"
                   " COALESCE((SELECT o.n FROM unnest(k.indkey::pg_catalog.int2[]) WITH ORDINALITY"
                   " AS o(attnum, n) WHERE o.attnum = a.attnum), 0), d.description"
                   " FROM pg_catalog.pg_attribute a JOIN pg_catalog.pg_class c ON c.oid = "
                   "a.attrelid"
                   " JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace"
                   " JOIN pg_catalog.pg_type t ON t.oid = a.atttypid"
                   " LEFT JOIN pg_catalog.pg_index k ON k.indrelid = c.oid AND k.indisprimary"
                   " LEFT JOIN pg_catalog.pg_description d ON d.objoid = c.oid"
                   " AND d.classoid = 'pg_catalog.pg_class'::regclass AND d.objsubid = a.attnum")
            + where(scope, QStringLiteral("n.nspname"), QStringLiteral("c.relname"),
                pgBase(scope,
                    { QStringLiteral("a.attnum > 0"), QStringLiteral("NOT a.attisdropped"),
                        QLatin1String(kPgRelKinds) }))
            + QStringLiteral(" ORDER BY n.nspname, c.relname, a.attnum");
    case Source::Sqlite:
        return QStringLiteral("SELECT 'main', m.name, p.name, p.type, 0, 0,"
                              " CASE p.\"notnull\" WHEN 0 THEN 'Y' ELSE 'N' END, p.pk, NULL"
                              " FROM sqlite_master m JOIN pragma_table_info(m.name) p")
            + where(Scope { {}, scope.table, {} }, QString(), QStringLiteral("m.name"),
                { QStringLiteral("m.type IN ('table', 'view')") })
            + QStringLiteral(" ORDER BY m.name, p.cid");
    case Source::Odbc:
        break;
    }
    return QString();
}

QString indexesSql(Source source, const Scope &scope)
{
    switch (source) {
    case Source::Db2Luw:
        return QStringLiteral("SELECT TABSCHEMA, TABNAME, INDNAME, UNIQUERULE, COLNAMES"
                              " FROM SYSCAT.INDEXES")
            + where(scope, QStringLiteral("TABSCHEMA"), QStringLiteral("TABNAME"))
            + QStringLiteral(" ORDER BY TABSCHEMA, TABNAME, INDNAME WITH UR");
    case Source::Db2Zos:
        return QStringLiteral("SELECT I.TBCREATOR, I.TBNAME, I.NAME, I.UNIQUERULE, K.COLNAME"
                              " FROM SYSIBM.SYSINDEXES I JOIN SYSIBM.SYSKEYS K"
                              " ON K.IXCREATOR = I.CREATOR AND K.IXNAME = I.NAME")
            + where(scope, QStringLiteral("I.TBCREATOR"), QStringLiteral("I.TBNAME"))
            + QStringLiteral(" ORDER BY I.TBCREATOR, I.TBNAME, I.NAME, K.COLSEQ WITH UR");
    case Source::PostgreSql:
        return QStringLiteral(
                   "SELECT n.nspname, c.relname, x.relname,"
                   " CASE WHEN i.indisunique THEN 'U' ELSE 'D' END, a.attname"
                   " FROM pg_catalog.pg_index i JOIN pg_catalog.pg_class x ON x.oid = i.indexrelid"
                   " JOIN pg_catalog.pg_class c ON c.oid = i.indrelid"
                   " JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace"
                   " CROSS JOIN LATERAL unnest(i.indkey::pg_catalog.int2[]) WITH ORDINALITY"
                   " AS k(attnum, seq)"
                   " JOIN pg_catalog.pg_attribute a ON a.attrelid = c.oid AND a.attnum = k.attnum")
            + where(
                scope, QStringLiteral("n.nspname"), QStringLiteral("c.relname"), pgBase(scope, {}))
            + QStringLiteral(" ORDER BY n.nspname, c.relname, x.relname, k.seq");
    case Source::Sqlite:
        return QStringLiteral("SELECT 'main', m.name, l.name,"
                              " CASE l.\"unique\" WHEN 0 THEN 'D' ELSE 'U' END, i.name"
                              " FROM sqlite_master m JOIN pragma_index_list(m.name) l"
                              " JOIN pragma_index_info(l.name) i")
            + where(Scope { {}, scope.table, {} }, QString(), QStringLiteral("m.name"),
                { QStringLiteral("m.type = 'table'") })
            + QStringLiteral(" ORDER BY m.name, l.name, i.seqno");
    case Source::Odbc:
        break;
    }
    return QString();
}

QString currentSchemaSql(Source source)
{
    switch (source) {
    case Source::Db2Luw:
        return QStringLiteral("VALUES CURRENT SCHEMA");
    case Source::Db2Zos:
        return QStringLiteral("SELECT CURRENT SCHEMA FROM SYSIBM.SYSDUMMY1");
    case Source::PostgreSql:
        return QStringLiteral("SELECT current_schema()");
    case Source::Sqlite:
        return QStringLiteral("SELECT 'main'");
    case Source::Odbc:
        break;
    }
    return QString();
}

Kind kindOfCode(QStringView code)
{
    const QString upper = Sql::asciiUpper(code.trimmed().toString());
    static const QHash<QString, Kind> kinds = {
        // DB2 LUW: T, G (global temporary), H (hierarchy), U (typed), L (detached); z/OS: X
        // (auxiliary), C (clone), P (implicit XML), R (archive); ODBC's table types.
        { "T", Kind::Table },
        { "G", Kind::Table },
        { "H", Kind::Table },
        { "U", Kind::Table },
        { "L", Kind::Table },
        { "X", Kind::Table },
        { "C", Kind::Table },
        { "P", Kind::Table },
        { "R", Kind::Table },
        { "TABLE", Kind::Table },
        { "SYSTEM TABLE", Kind::Table },
        { "GLOBAL TEMPORARY", Kind::Table },
        { "LOCAL TEMPORARY", Kind::Table },
        { "V", Kind::View },
        { "W", Kind::View },
        { "VIEW", Kind::View },
        { "A", Kind::Alias },
        { "ALIAS", Kind::Alias },
        { "SYNONYM", Kind::Alias },
        { "N", Kind::Nickname },
        { "S", Kind::MaterializedQuery },
        { "M", Kind::MaterializedQuery },
        { "ROUTINE", Kind::Routine },
    };
    return kinds.value(upper, Kind::Other);
}

namespace {

// DB2 pads CHAR columns (z/OS's CHAR(8) type names, old CHAR(8) schemas) with blanks.
QString trimmedRight(const QString &text)
{
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1) == QLatin1Char(' '))
        --end;
    return text.left(end);
}

int number(const QString &text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok ? value : 0;
}

} // namespace

QVector<Object> objectsOfRows(const QVector<Row> &rows)
{
    QVector<Object> objects;
    objects.reserve(rows.size());
    for (const Row &row : rows) {
        if (row.size() < 4 || row[1].isEmpty())
            continue;
        objects.append({ trimmedRight(row[0]), row[1], kindOfCode(row[2]), row[3] });
    }
    return objects;
}

void addColumnRows(const QVector<Row> &rows, QHash<QString, QVector<Column>> &columns)
{
    static const QRegularExpression declared(
        QStringLiteral("^\\s*([^(]*?)\\s*\\(\\s*(\\d+)\\s*(?:,\\s*(\\d+)\\s*)?\\)\\s*$"));
    for (const Row &row : rows) {
        if (row.size() < 9 || row[2].isEmpty())
            continue;
        Column column { row[2], trimmedRight(row[3]).trimmed(), number(row[4]), number(row[5]),
            trimmedRight(row[6]) != QLatin1String("N"), number(row[7]), row[8] };
        const QRegularExpressionMatch match = declared.match(column.type);
        if (match.hasMatch()) {
            column.type = match.captured(1);
            column.length = match.captured(2).toInt();
            column.scale = match.captured(3).toInt();
        }
        columns[Snapshot::key(trimmedRight(row[0]), row[1])].append(std::move(column));
    }
}

void addIndexRows(const QVector<Row> &rows, QHash<QString, QVector<Index>> &indexes)
{
    static const QRegularExpression orderMarks(QStringLiteral("[+-]"));
    for (const Row &row : rows) {
        if (row.size() < 5 || row[2].isEmpty())
            continue;
        QVector<Index> &list = indexes[Snapshot::key(trimmedRight(row[0]), row[1])];
        if (list.isEmpty() || list.last().name != row[2])
            list.append({ row[2], trimmedRight(row[3]) != QLatin1String("D"), {} });
        // DB2 LUW lists an index's columns in one value, each after its order: "+ID-CREATED".
        if (row[4].startsWith(QLatin1Char('+')) || row[4].startsWith(QLatin1Char('-')))
            list.last().columns << row[4].split(orderMarks, Qt::SkipEmptyParts);
        else
            list.last().columns << row[4];
    }
}

} // namespace Catalog
