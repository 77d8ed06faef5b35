#include "catalog/RoutineParameters.h"
#include "connection/ConnectionHandle.h"
#include "connection/Session.h"
#include "support/PgServer.h"
#include "support/TestEnv.h"

#include <QFile>
#include <QMap>
#include <QtTest>

using namespace Catalog;

// A procedure's parameters for a CALL: on DB2 from SYSCAT.ROUTINEPARMS rows recorded as DB2
// returns them (tests/catalog/golden/db2routineparms.txt), elsewhere from the driver, checked on
// the private PostgreSQL server.
class tst_RoutineParameters : public QObject
{
    Q_OBJECT

    // The golden file's sections: "rows" -> its lines.
    static QMap<QString, QStringList> golden()
    {
        QFile file(QStringLiteral(GOLDEN_DIR "/db2routineparms.txt"));
        if (!file.open(QIODevice::ReadOnly))
            qFatal("cannot read %s", qPrintable(file.fileName()));
        QMap<QString, QStringList> sections;
        QString current;
        for (const QString &line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
            if (line.startsWith(QLatin1String("== ")))
                sections[current = line.mid(3)];
            else if (!line.isEmpty())
                sections[current] << line;
        }
        return sections;
    }

    static QStringList layout(const QVector<ProcedureParameter> &parameters)
    {
        static const char *const directions[] = { "IN", "OUT", "INOUT" };
        QStringList lines;
        for (const ProcedureParameter &parameter : parameters)
            lines << QStringLiteral("%1 %2 %3 %4")
                         .arg(QLatin1String(directions[int(parameter.direction)]), parameter.name,
                             parameter.typeName)
                         .arg(parameter.sqlType);
        return lines;
    }

private slots:
    void fromCatalogRows_data()
    {
        QTest::addColumn<int>("arguments");
        QTest::newRow("two: the first of the overloads") << 2;
        QTest::newRow("five: the second") << 5;
        QTest::newRow("three: none takes them") << 3;
    }
    void fromCatalogRows()
    {
        QFETCH(int, arguments);
        const QMap<QString, QStringList> sections = golden();
        QVector<Row> rows;
        for (const QString &line : sections.value(QStringLiteral("rows")))
            rows << line.split(QLatin1Char('\t'));
        QCOMPARE(layout(procedureParametersOfRows(rows, arguments)),
            sections.value(QStringLiteral("call with %1 arguments").arg(arguments)));
    }

    void catalogSql_data()
    {
        QTest::addColumn<QString>("schema"); // as the CALL writes it
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("section");
        QTest::newRow("qualified, folded") << "app"
                                           << "Ship_Order"
                                           << "sql";
        QTest::newRow("on the path, quoted") << ""
                                             << "\"Ship\"\"O'\""
                                             << "path sql";
    }
    void catalogSql()
    {
        QFETCH(QString, schema);
        QFETCH(QString, name);
        QFETCH(QString, section);
        const QString driver = QStringLiteral("IBM DB2 ODBC DRIVER");
        QCOMPARE(QStringList { routineParametersSql(
                     catalogName(driver, schema), catalogName(driver, name)) },
            golden().value(section));
    }

    // Not DB2: the driver's SQLProcedureColumns, IN and INOUT in order.
    void fromDriver()
    {
        PgServer &server = PgServer::instance();
        server.addDsn(QStringLiteral("ROUTINEPG"), QStringLiteral("routines"));
        server.exec(QStringLiteral("create or replace procedure ship(in id int, inout amount "
                                   "numeric, inout note text) language plpgsql as $$ begin "
                                   "amount := amount * 2; note := note || '!'; end $$"),
            QStringLiteral("routines"));
        ConnectionHandle handle(QStringLiteral("ROUTINEPG"), server.user(), server.password());
        const QString driver = TestEnv::session().AliasDriver(QStringLiteral("ROUTINEPG"));
        QVERIFY2(!driver.contains(QLatin1String("DB2"), Qt::CaseInsensitive), qPrintable(driver));
        QStringList shown;
        for (const QString &line : layout(callParameters(
                 handle, driver, QStringLiteral("public"), QStringLiteral("ship"), 3)))
            shown << line.section(QLatin1Char(' '), 0, 1);
        QCOMPARE(shown, (QStringList { "IN id", "INOUT amount", "INOUT note" }));
    }
};

STELVIK_TEST_GUILESS_MAIN(tst_RoutineParameters)
#include "tst_routineparameters.moc"
