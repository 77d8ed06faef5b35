#include "catalog/CatalogSql.h"
#include "catalog/RoutineParameters.h"

#include <QFile>
#include <QtTest>

using namespace Catalog;

// The DB2 catalog SQL and the mapping of its rows, against rows recorded from DB2 servers
// (tests/catalog/golden): the SQL text is pinned there, and the snapshot the rows make is laid
// out beside them. STELVIK_GOLDEN_UPDATE=1 writes the SQL and snapshot parts anew, for review.
class tst_CatalogSql : public QObject
{
    Q_OBJECT

    using Sections = QMap<QString, QString>; // "objects rows" -> its lines

    static Sections read(const QString &path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            qFatal("cannot read %s", qPrintable(path));
        Sections sections;
        QString current;
        for (const QString &line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
            if (line.startsWith(QLatin1String("== ")))
                current = line.mid(3);
            else if (!current.isEmpty() && !line.isEmpty())
                sections[current] += line + QLatin1Char('\n');
        }
        return sections;
    }

    static QVector<Row> rows(const QString &text)
    {
        QVector<Row> rows;
        for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            Row row = line.split(QLatin1Char('\t'));
            for (QString &value : row)
                if (value == QLatin1String("\\N"))
                    value = QString();
            rows << row;
        }
        return rows;
    }

    // The snapshot as a reader of the describe panel would check it, one line per fact.
    static QString layout(const Snapshot &snapshot)
    {
        QString text;
        for (const Object *object : snapshot.objects({}, {}, 1000)) {
            text += QStringLiteral("%1 %2.%3")
                        .arg(kindName(object->kind), object->schema, object->name);
            text +=
                object->remarks.isEmpty() ? QStringLiteral("\n") : " -- " + object->remarks + '\n';
            if (const QVector<Column> *columns = snapshot.columns(object->schema, object->name))
                for (const Column &c : *columns)
                    text += QStringLiteral("  column %1 %2(%3,%4)%5%6%7\n")
                                .arg(c.name, c.type)
                                .arg(c.length)
                                .arg(c.scale)
                                .arg(c.nullable ? "" : " not null")
                                .arg(c.keySeq ? QStringLiteral(" key %1").arg(c.keySeq) : QString())
                                .arg(c.remarks.isEmpty() ? QString() : " -- " + c.remarks);
            if (const QVector<Index> *indexes = snapshot.indexes(object->schema, object->name))
                for (const Index &index : *indexes)
                    text += QStringLiteral("  index %1%2 (%3)\n")
                                .arg(index.name, index.unique ? " unique" : "",
                                    index.columns.join(QStringLiteral(", ")));
        }
        return text;
    }

private slots:
    void db2_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<Source>("source");
        QTest::newRow("LUW") << "db2luw.txt" << Source::Db2Luw;
        QTest::newRow("z/OS") << "db2zos.txt" << Source::Db2Zos;
    }
    void db2()
    {
        QFETCH(QString, file);
        QFETCH(Source, source);
        const QString path = QStringLiteral(GOLDEN_DIR "/") + file;
        Sections golden = read(path);

        const Scope names { { "T301DBA", "APP" }, {}, {} };
        const Scope schema { { "T301DBA" }, {}, {} };
        const Scope table { { "T301DBA" }, "ORDERS", {} };
        Sections made;
        made["objects sql"] = objectsSql(source, names) + '\n';
        made["find sql"] = objectsSql(source, { { "O'HARA" }, {}, "ORD%" }) + '\n';
        made["columns sql"] = columnsSql(source, schema) + '\n';
        made["one table's columns sql"] = columnsSql(source, table) + '\n';
        made["indexes sql"] = indexesSql(source, table) + '\n';
        made["current schema sql"] = currentSchemaSql(source) + '\n';
        QHash<QString, QVector<Column>> columns;
        QHash<QString, QVector<Index>> indexes;
        addColumnRows(rows(golden["columns rows"]), columns);
        addIndexRows(rows(golden["indexes rows"]), indexes);
        made["snapshot"] = layout(
            Snapshot("DB2T301", {}, objectsOfRows(rows(golden["objects rows"])), columns, indexes));

        if (qEnvironmentVariableIntValue("STELVIK_GOLDEN_UPDATE")) {
            QFile out(path);
            QVERIFY(out.open(QIODevice::WriteOnly));
            for (const char *section : { "objects rows", "columns rows", "indexes rows" })
                out.write(("== " + QString::fromLatin1(section) + '\n' + golden[section]).toUtf8());
            for (auto at = made.cbegin(); at != made.cend(); ++at)
                out.write(("== " + at.key() + '\n' + at.value()).toUtf8());
            golden = read(path);
        }
        for (auto at = made.cbegin(); at != made.cend(); ++at)
            QCOMPARE(at.value(), golden.value(at.key()));
    }

    // A CALL's parameters on DB2: the query for the names as the CALL writes them, and the
    // overload its number of arguments chooses among the recorded rows.
    void db2CallParameters_data()
    {
        QTest::addColumn<QString>("call"); // the procedure's name as the CALL writes it
        QTest::addColumn<int>("arguments");
        QTest::newRow("qualified, the first overload") << "app.Ship_Order" << 2;
        QTest::newRow("on the path, quoted, the second") << "\"Ship\"\"O'\"" << 3;
        QTest::newRow("no overload takes four") << "app.Ship_Order" << 4;
    }
    void db2CallParameters()
    {
        QFETCH(QString, call);
        QFETCH(int, arguments);
        const Sections golden = read(QStringLiteral(GOLDEN_DIR "/db2routineparms.txt"));
        const QString db2 = QStringLiteral("IBM DB2 ODBC DRIVER");
        const QString schema = call.contains('.') ? call.section('.', 0, 0) : QString();
        QCOMPARE(
            routineParametersSql(catalogName(db2, schema), catalogName(db2, call.section('.', -1))),
            golden.value("sql " + call).trimmed());
        static const char *const directions[] = { "IN", "OUT", "INOUT" };
        QString made;
        for (const ProcedureParameter &p :
            procedureParametersOfRows(rows(golden["rows"]), arguments))
            made += QStringLiteral("%1 %2 %3 %4\n")
                        .arg(QLatin1String(directions[int(p.direction)]), p.name, p.typeName)
                        .arg(p.sqlType);
        QCOMPARE(made, golden.value(QStringLiteral("call with %1 arguments").arg(arguments)));
    }

    void sources_data()
    {
        QTest::addColumn<QString>("dbms");
        QTest::addColumn<Source>("source");
        QTest::newRow("DB2 on Linux") << "DB2/LINUXX8664" << Source::Db2Luw;
        QTest::newRow("DB2 on Windows") << "DB2/NT64" << Source::Db2Luw;
        QTest::newRow("DB2 for z/OS") << "DSN12015" << Source::Db2Zos;
        QTest::newRow("psqlODBC") << "PostgreSQL" << Source::PostgreSql;
        QTest::newRow("SQLite driver") << "SQLite" << Source::Sqlite;
        QTest::newRow("DB2 for i: catalog functions") << "DB2/400 SQL" << Source::Odbc;
        QTest::newRow("anything else") << "Microsoft SQL Server" << Source::Odbc;
    }
    void sources()
    {
        QFETCH(QString, dbms);
        QFETCH(Source, source);
        QCOMPARE(sourceOfDbms(dbms), source);
    }
};

QTEST_GUILESS_MAIN(tst_CatalogSql)
#include "tst_catalogsql.moc"
