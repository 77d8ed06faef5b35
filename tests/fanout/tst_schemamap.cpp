#include "fanout/SchemaMap.h"

#include <QtTest>

// A statement written for one alias, rewritten for another by the schema map read from its
// setting: only qualified schema names among the tokens change, an alias with no equivalent is
// skipped.
class tst_schemamap : public QObject
{
    Q_OBJECT

private slots:
    void forAlias_data();
    void forAlias();
};

namespace {

// The routing rule as the family knows it, for the names these cases use.
QString aliasOf(const QString &schema)
{
    static const QHash<QString, QString> owners { { QStringLiteral("T301DBA"),
                                                      QStringLiteral("DB2T301") },
        { QStringLiteral("T311DBA"), QStringLiteral("DB2T301") },
        { QStringLiteral("T302DBA"), QStringLiteral("DB2T302") },
        { QStringLiteral("P201DBA"), QStringLiteral("DB2P201") } };
    return owners.value(schema.toUpper());
}

} // namespace

void tst_schemamap::forAlias_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("alias");
    QTest::addColumn<int>("dialect");
    QTest::addColumn<QString>("expected"); // empty: skipped
    const int db2 = int(Sql::Dialect::Db2);
    const int pg = int(Sql::Dialect::PostgreSql);
    QTest::newRow("qualified table") << "select * from T301DBA.ORDERS"
                                     << "db2t302" << db2 << "select * from T302DBA.ORDERS";
    QTest::newRow("lower case, correlation names stay")
        << "select o.id from t301dba.orders o join T301DBA.LINES l on l.o = o.id"
        << "DB2P201" << db2
        << "select o.id from P201DBA.orders o join P201DBA.LINES l on l.o = o.id";
    QTest::newRow("strings and comments untouched")
        << "select 'T301DBA.X' /* T301DBA.Y */ from T301DBA.A -- T301DBA.B"
        << "DB2T302" << db2 << "select 'T301DBA.X' /* T301DBA.Y */ from T302DBA.A -- T301DBA.B";
    QTest::newRow("a name that qualifies nothing stays")
        << "select T301DBA from T301DBA.A"
        << "DB2T302" << db2 << "select T301DBA from T302DBA.A";
    QTest::newRow("delimited") << "select * from \"T301DBA\".\"A\""
                               << "DB2T302" << db2 << "select * from \"T302DBA\".\"A\"";
    QTest::newRow("dollar string") << "select $$T301DBA.X$$, T301DBA.F(1)"
                                   << "DB2T302" << pg << "select $$T301DBA.X$$, T302DBA.F(1)";
    QTest::newRow("own alias unchanged") << "select * from T301DBA.A"
                                         << "DB2T301" << db2 << "select * from T301DBA.A";
    QTest::newRow("not of the family")
        << "select * from PUBLIC.A, SYSIBM.SYSDUMMY1"
        << "DB2T302" << db2 << "select * from PUBLIC.A, SYSIBM.SYSDUMMY1";
    QTest::newRow("no equivalent") << "select * from T301DBA.A"
                                   << "DB2P401" << db2 << QString();
    QTest::newRow("family schema in no row") << "select * from T302DBA.A, T311DBA.B"
                                             << "DB2T302" << db2 << QString();
}

void tst_schemamap::forAlias()
{
    QFETCH(QString, text);
    QFETCH(QString, alias);
    QFETCH(int, dialect);
    QFETCH(QString, expected);
    // One row as a person writes the setting: a second, empty row and blanks are dropped.
    const SchemaMap map(
        SchemaMap::parseRows({ QStringLiteral("T301DBA t302dba,P201DBA;\n") }), aliasOf);
    const SchemaMap::Rewrite rewrite = map.forAlias(text, alias, Sql::Dialect(dialect));
    if (expected.isEmpty()) {
        QVERIFY(!rewrite.skipped.isEmpty());
        QVERIFY2(rewrite.skipped.contains(Sql::asciiUpper(alias)), qPrintable(rewrite.skipped));
    } else {
        QCOMPARE(rewrite.skipped, QString());
        QCOMPARE(rewrite.text, expected);
    }
}

QTEST_GUILESS_MAIN(tst_schemamap)
#include "tst_schemamap.moc"
