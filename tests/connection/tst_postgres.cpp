#include "connection/Connection.h"
#include "connection/DatabaseError.h"
#include "connection/QueryDataset.h"
#include "support/PgServer.h"
#include "support/SessionConnection.h"
#include "support/TestEnv.h"

#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>

// What only a server shows: logins checked by the server, statements from two threads on one
// connection, and a server that goes away while a result is being fetched.
class tst_postgres : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void login_data();
    void login();
    void statementsWaitTheirTurn();
    void serverStoppedDuringFetch();
    void statementErrors_data();
    void statementErrors();

private:
    QStringList params(const QString &password) const;
};

QStringList tst_postgres::params(const QString &password) const
{
    return { QStringLiteral("USER NAME=") + PgServer::instance().user(),
        QStringLiteral("PASSWORD=") + password };
}

void tst_postgres::initTestCase()
{
    PgServer &server = PgServer::instance();
    server.addDsn(QStringLiteral("PG"), QStringLiteral("server"));
    server.exec(QStringLiteral("create table rows as select n as id, md5(n::text) as hash "
                               "from generate_series(1, 5000) n"),
        QStringLiteral("server"));
    TestEnv::addSqliteDsn(QStringLiteral("LITE"), { QStringLiteral("create table t(id integer)") });
}

void tst_postgres::login_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("message"); // empty: the login works
    // The role's password holds ; { } and = : SQLConnect passes it on untouched.
    QTest::newRow("right password") << PgServer::instance().password() << "";
    QTest::newRow("wrong password") << "wrong"
                                    << "password authentication failed";
    QTest::newRow("empty password") << ""
                                    << "password";
}

void tst_postgres::login()
{
    QFETCH(QString, password);
    QFETCH(QString, message);
    Connection connection(TestEnv::session(), QStringLiteral("PG"));
    connection.Params = params(password);
    if (message.isEmpty()) {
        connection.OpenConnection();
        QVERIFY(connection.IsConnected());
        return;
    }
    try {
        connection.OpenConnection();
        QFAIL("no DatabaseError");
    } catch (const DatabaseError &error) {
        QVERIFY2(error.message().contains(message), error.what());
        QVERIFY2(!error.sqlState().isEmpty(), error.what());
    }
    QVERIFY(!connection.IsConnected());
}

void tst_postgres::statementsWaitTheirTurn()
{
    Connection connection(TestEnv::session(), QStringLiteral("PG"));
    connection.Params = params(PgServer::instance().password());
    connection.OpenConnection();

    auto first = std::make_unique<QueryDataset>();
    first->setConnection(QStringLiteral("PG"), sessionConnection(QStringLiteral("PG")));
    first->setSql(QStringLiteral("select id from rows order by id"));
    first->OpenQuery(); // holds the connection: its cursor is still open
    QVERIFY(!first->allFetched());

    // A worker-like thread opens a second statement on the same connection; it may only run
    // once the first one has let go.
    auto second = std::make_unique<QueryDataset>();
    second->setConnection(QStringLiteral("PG"), sessionConnection(QStringLiteral("PG")));
    second->setSql(QStringLiteral("select count(*) from rows"));
    std::atomic<bool> done { false };
    QString error;
    std::thread worker([&] {
        try {
            second->OpenQuery();
        } catch (const std::exception &e) {
            error = QString::fromLocal8Bit(e.what());
        }
        done = true;
    });
    // The first statement keeps working while the second waits.
    QCOMPARE(first->CountRecords(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(done.load(), 30000);
    worker.join();
    QCOMPARE(error, QString());
    QCOMPARE(second->FieldString(0), QStringLiteral("5000"));

    // Three threads queued behind a dataset that is closed instead of finished.
    first->OpenQuery();
    QVERIFY(!first->allFetched());
    std::atomic<int> finished { 0 };
    std::vector<std::thread> workers;
    for (int i = 0; i < 3; ++i)
        workers.emplace_back([&finished] {
            QueryDataset query;
            query.setSql(QStringLiteral("select max(id) from rows"));
            try {
                query.setConnection(QStringLiteral("PG"), sessionConnection(QStringLiteral("PG")));
                query.OpenQuery();
                if (query.FieldString(0) == QLatin1String("5000"))
                    ++finished;
            } catch (const std::exception &) { }
        });
    QCOMPARE(finished.load(), 0);
    first->Close();
    QTRY_COMPARE_WITH_TIMEOUT(finished.load(), 3, 30000);
    for (std::thread &thread : workers)
        thread.join();
}

void tst_postgres::serverStoppedDuringFetch()
{
    PgServer &server = PgServer::instance();
    Connection connection(TestEnv::session(), QStringLiteral("PG"));
    connection.Params = params(server.password());
    connection.OpenConnection();

    QueryDataset query;
    query.setConnection(QStringLiteral("PG"), sessionConnection(QStringLiteral("PG")));
    query.setSql(QStringLiteral("select id, hash from rows order by id"));
    query.OpenQuery();
    const int firstBlock = query.fetchedCount();
    QVERIFY(firstBlock > 0 && firstBlock < 5000);

    server.stop();
    auto restart = qScopeGuard([&] { server.start(); });
    QVERIFY_THROWS_EXCEPTION(DatabaseError, query.CountRecords());
    QVERIFY(!query.IsOpen());
    QCOMPARE(query.fetchedCount(), firstBlock); // nothing silently appended or dropped
    QVERIFY(!connection.IsConnected()); // the layer noticed the lost connection

    server.start();
    restart.dismiss();
    connection.OpenConnection();
    QVERIFY(connection.IsConnected());
    query.setConnection(QStringLiteral("PG"), sessionConnection(QStringLiteral("PG")));
    query.OpenQuery();
    QCOMPARE(query.CountRecords(), 5000);
}

void tst_postgres::statementErrors_data()
{
    QTest::addColumn<QString>("dsn");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("message"); // part of the driver's text, non-ASCII kept
    QTest::addColumn<QString>("sqlState");
    QTest::newRow("pg missing table") << "PG" << QString::fromUtf8("select * from \"tablé_ø\"")
                                      << QString::fromUtf8("tablé_ø") << "42P01";
    QTest::newRow("pg division by zero") << "PG"
                                         << "select 1/0 as x"
                                         << "division by zero"
                                         << "22012";
    QTest::newRow("sqlite missing table")
        << "LITE" << QString::fromUtf8("select * from \"tablé_ø\"") << QString::fromUtf8("tablé_ø")
        << "";
}

// A driver's message reaches the program as text, whatever its characters, with the SQLSTATE.
void tst_postgres::statementErrors()
{
    QFETCH(QString, dsn);
    QFETCH(QString, sql);
    QFETCH(QString, message);
    QFETCH(QString, sqlState);
    Connection connection(TestEnv::session(), dsn);
    connection.Params = params(PgServer::instance().password());
    connection.OpenConnection();
    QueryDataset query;
    query.setConnection(dsn, sessionConnection(dsn));
    query.setSql(sql);
    try {
        query.OpenQuery();
        QFAIL("no DatabaseError");
    } catch (const std::exception &error) {
        const auto *database = dynamic_cast<const DatabaseError *>(&error);
        QVERIFY(database);
        QVERIFY2(errorText(error).contains(message), error.what());
        QCOMPARE(errorText(error), database->message());
        QCOMPARE(QString::fromUtf8(error.what()), database->message());
        if (!sqlState.isEmpty())
            QCOMPARE(database->sqlState(), sqlState);
        else
            QCOMPARE(database->sqlState().size(), 5);
    }
}

STELVIK_TEST_GUILESS_MAIN(tst_postgres)
#include "tst_postgres.moc"
