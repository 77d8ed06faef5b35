#include "connection/Connection.h"
#include "connection/DatabaseError.h"
#include "connection/QueryDataset.h"
#include "connection/Session.h"
#include "support/SessionConnection.h"
#include "support/TestEnv.h"

#include <QFile>
#include <QtTest>

#include <memory>
#include <odbcinst.h>
#include <unistd.h>

// The engine session over unixODBC's real configuration (private ini files): aliases as user
// data sources, the alias list, connections found by name, opened and closed.
class tst_session : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void createAlias_data();
    void createAlias();
    void createAliasKeepsExistingKeys();
    void createAliasKeepsTheRestOfTheFile();
    void listHoldsEachNameOnce();
    void connect_data();
    void connect();
    void findAndCloseConnections();
    void datasetOutlivesClosedConnection();
};

namespace {

QString userIniValue(const QString &dsn, const QString &key)
{
    UWORD old = ODBC_BOTH_DSN;
    SQLGetConfigMode(&old);
    SQLSetConfigMode(ODBC_USER_DSN);
    char value[512] = {};
    SQLGetPrivateProfileString(dsn.toLocal8Bit().constData(), key.toLocal8Bit().constData(),
        "<missing>", value, sizeof value, "odbc.ini");
    SQLSetConfigMode(old);
    return QString::fromLocal8Bit(value);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

} // namespace

void tst_session::initTestCase()
{
    TestEnv::addSqliteDsn(QStringLiteral("LITE"),
        { QStringLiteral("create table t(id int, name varchar(10))"),
            QStringLiteral("with recursive s(n) as (select 1 union all select n + 1 "
                           "from s where n < 3000) insert into t select n, 'n' || n "
                           "from s") });
}

void tst_session::createAlias_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("driver");
    QTest::addColumn<QStringList>("params");

    QTest::newRow("DB2 alias without a DB2 driver")
        << "db2p201"
        << "DB2" << QStringList { "DB2 DSN=DB2P201", "SQLPASSTHRU MODE=SHARED NOAUTOCOMMIT" };
    QTest::newRow("SQLite alias") << "mylite"
                                  << "SQLite3"
                                  << QStringList { "Database=/tmp/none.db", "StepAPI=1" };
    QTest::newRow("no parameters") << "bare"
                                   << "DB2" << QStringList();
    QTest::newRow("value holding =") << "eq"
                                     << "DB2" << QStringList { "Options=a=b;c" };
}

void tst_session::createAlias()
{
    QFETCH(QString, name);
    QFETCH(QString, driver);
    QFETCH(QStringList, params);
    Session &session = TestEnv::session();
    QVERIFY(!session.AliasExists(name));

    session.CreateAlias(name, driver, params);
    session.SaveAliasConfig();

    QVERIFY(session.AliasExists(name));
    QVERIFY(session.AliasExists(name.toUpper()));
    QStringList names;
    session.ListAliasNames(names);
    QCOMPARE(names.count(name), 1);
    QCOMPARE(userIniValue(name, QStringLiteral("Driver")), driver);
    for (const QString &line : params) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        QCOMPARE(userIniValue(name, line.left(equals)), line.mid(equals + 1));
    }
}

void tst_session::createAliasKeepsExistingKeys()
{
    Session &session = TestEnv::session();
    session.CreateAlias(QStringLiteral("twice"), QStringLiteral("DB2"),
        { QStringLiteral("DB2 DSN=FIRST"), QStringLiteral("Other=kept") });
    session.CreateAlias(
        QStringLiteral("twice"), QStringLiteral("DB2"), { QStringLiteral("DB2 DSN=SECOND") });
    session.SaveAliasConfig();
    QCOMPARE(
        userIniValue(QStringLiteral("twice"), QStringLiteral("DB2 DSN")), QStringLiteral("SECOND"));
    QCOMPARE(
        userIniValue(QStringLiteral("twice"), QStringLiteral("Other")), QStringLiteral("kept"));
}

void tst_session::createAliasKeepsTheRestOfTheFile()
{
    // The user's own data source file, as a person keeps it: comments, blank lines, spacing.
    const QString path = qEnvironmentVariable("ODBCINI");
    QVERIFY(!path.isEmpty());
    const QByteArray before = readFile(path)
        + "\n; my own sources\n[Mine]   # the local one\nDriver   =   SQLite3\n"
          "Database = /tmp/mine.db\n\n# end of file\n";
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(before);
    }
    // A second name for the file as it is now: written in place, it would change too.
    const QString oldName = path + QStringLiteral(".old");
    QFile::remove(oldName);
    QCOMPARE(
        ::link(QFile::encodeName(path).constData(), QFile::encodeName(oldName).constData()), 0);

    Session &session = TestEnv::session();
    QVERIFY(!session.AliasExists(QStringLiteral("db2t303")));
    session.CreateAlias(QStringLiteral("db2t303"), QStringLiteral("DB2"),
        { QStringLiteral("DB2 DSN=db2t303"),
            QStringLiteral("SQLPASSTHRU MODE=SHARED NOAUTOCOMMIT") });
    session.SaveAliasConfig();

    // Appended; every other byte as it was; the file replaced in one step.
    QCOMPARE(readFile(path),
        before + "[db2t303]\nDriver=DB2\nDB2 DSN=db2t303\nSQLPASSTHRU MODE=SHARED NOAUTOCOMMIT\n");
    QCOMPARE(readFile(oldName), before);
    // Seen at once by this process, keys with blanks included.
    QVERIFY(session.AliasExists(QStringLiteral("db2t303")));
    QCOMPARE(userIniValue(QStringLiteral("db2t303"), QStringLiteral("SQLPASSTHRU MODE")),
        QStringLiteral("SHARED NOAUTOCOMMIT"));
    QCOMPARE(userIniValue(QStringLiteral("Mine"), QStringLiteral("Database")),
        QStringLiteral("/tmp/mine.db"));
    QStringList names;
    session.ListAliasNames(names);
    QCOMPARE(names.count(QStringLiteral("db2t303")), 1);
    QCOMPARE(names.count(QStringLiteral("Mine")), 1);
    QFile::remove(oldName);
}

void tst_session::listHoldsEachNameOnce()
{
    // A system data source of the same name as a user one, and a system-only one.
    QFile system(TestEnv::root() + QStringLiteral("/sys/odbc.ini"));
    QVERIFY(system.open(QIODevice::Append));
    system.write("[LITE]\nDriver=SQLite3\nDatabase=/nonexistent.db\n\n"
                 "[SYSONLY]\nDriver=SQLite3\nDatabase=/nonexistent.db\n\n");
    system.close();
    TestEnv::session().SaveAliasConfig();

    QStringList names { QStringLiteral("left over") };
    TestEnv::session().ListAliasNames(names);
    QVERIFY(!names.contains(QStringLiteral("left over")));
    QCOMPARE(names.count(QStringLiteral("LITE")), 1);
    QCOMPARE(names.count(QStringLiteral("SYSONLY")), 1);
    QVERIFY(!names.contains(QStringLiteral("ODBC")));
    QVERIFY(!names.contains(QStringLiteral("Default")));
    QCOMPARE(names.removeDuplicates(), 0);
}

void tst_session::connect_data()
{
    QTest::addColumn<QString>("alias");
    QTest::addColumn<QString>("message"); // empty: the connection opens

    QTest::newRow("SQLite data source") << "LITE"
                                        << "";
    QTest::newRow("SQLite, name in other case") << "lite"
                                                << "";
    QTest::newRow("driver not installed") << "DB2P201"
                                          << "[unixODBC][Driver Manager]";
    QTest::newRow("unknown data source") << "NOSUCHDSN"
                                         << "Data source name not found";
}

void tst_session::connect()
{
    QFETCH(QString, alias);
    QFETCH(QString, message);
    TestEnv::session().CreateAlias(
        QStringLiteral("DB2P201"), QStringLiteral("DB2"), { QStringLiteral("DB2 DSN=DB2P201") });
    Connection connection(TestEnv::session(), alias);
    connection.Params =
        QStringList { QStringLiteral("USER NAME=someone"), QStringLiteral("PASSWORD=p;{w}=d") };
    QVERIFY(!connection.IsConnected());
    if (message.isEmpty()) {
        connection.OpenConnection();
        QVERIFY(connection.IsConnected());
        QVERIFY(connection.handle());
        return;
    }
    try {
        connection.OpenConnection();
        QFAIL("no DatabaseError");
    } catch (const DatabaseError &error) {
        const QString text = QString::fromLocal8Bit(error.what());
        QVERIFY2(text.contains(message), error.what());
        QVERIFY2(
            !text.endsWith(QLatin1Char('\n')) && !text.endsWith(QLatin1Char(' ')), error.what());
    }
    QVERIFY(!connection.IsConnected());
    QVERIFY(!connection.handle());
}

void tst_session::findAndCloseConnections()
{
    Session &session = TestEnv::session();
    auto first = TestEnv::connection(QStringLiteral("LITE"));
    Connection second(TestEnv::session(), QStringLiteral("OTHER"));
    QCOMPARE(session.FindConnection(QStringLiteral("lite")), first.get());
    QCOMPARE(session.FindConnection(QStringLiteral("Other")), &second);
    QCOMPARE(session.FindConnection(QStringLiteral("missing")), nullptr);

    first->OpenConnection();
    QVERIFY(first->IsConnected());
    session.CloseConnections();
    QVERIFY(!first->IsConnected());
    first->OpenConnection(); // closed connections can be opened again
    QVERIFY(first->IsConnected());

    // A connection belongs to the session it is handed: found and closed by that one alone.
    Session own;
    Connection mine(own, QStringLiteral("MINE"));
    QCOMPARE(own.FindConnection(QStringLiteral("mine")), &mine);
    QCOMPARE(session.FindConnection(QStringLiteral("MINE")), nullptr);
    QCOMPARE(own.FindConnection(QStringLiteral("LITE")), nullptr);
    own.CloseConnections();
    QVERIFY(first->IsConnected());

    first.reset();
    QCOMPARE(session.FindConnection(QStringLiteral("LITE")), nullptr);
}

void tst_session::datasetOutlivesClosedConnection()
{
    Connection connection(TestEnv::session(), QStringLiteral("LITE"));
    connection.OpenConnection();
    QueryDataset query;
    query.setConnection(QStringLiteral("LITE"), sessionConnection(QStringLiteral("LITE")));
    query.setSql(QStringLiteral("select id, name from t order by id"));
    query.OpenQuery();
    QVERIFY(!query.allFetched());

    // Closing the connection never pulls the ODBC connection from under an open result.
    TestEnv::session().CloseConnections();
    QVERIFY(!connection.IsConnected());
    QCOMPARE(query.CountRecords(), 3000);
    QCOMPARE(query.text(2999, 1), QStringLiteral("n3000"));

    // A dataset set up for a closed connection refuses to run.
    QueryDataset later;
    later.setConnection(QStringLiteral("LITE"), sessionConnection(QStringLiteral("LITE")));
    later.setSql(QStringLiteral("select 1"));
    QVERIFY_THROWS_EXCEPTION(DatabaseError, later.OpenQuery());
    QVERIFY(!later.IsOpen());
}

STELVIK_TEST_GUILESS_MAIN(tst_session)
#include "tst_session.moc"
