#include "connection/ConnectionHandle.h"
#include "connection/DatabaseError.h"
#include "support/PgServer.h"
#include "support/TestEnv.h"

#include <QtTest>

#include <memory>

// A connection's transactions as the window drives them: with auto-commit off, changes stay
// private to their connection until committed, and are gone after a rollback. Seen from a second
// connection, on SQLite and on a PostgreSQL server.
class tst_transactions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void endTransaction_data();
    void endTransaction();
};

namespace {

OdbcHandle exec(ConnectionHandle &connection, const QString &sql)
{
    OdbcHandle statement(SQL_HANDLE_STMT, connection.get());
    Odbc::check(SQLExecDirectW(statement.get(), const_cast<SQLWCHAR *>(Odbc::wide(sql)),
                    SQLINTEGER(sql.size())),
        statement);
    return statement;
}

int count(ConnectionHandle &connection)
{
    const OdbcHandle statement = exec(connection, QStringLiteral("select count(*) from tx"));
    SQLINTEGER n = -1;
    Odbc::check(SQLFetch(statement.get()), statement);
    Odbc::check(SQLGetData(statement.get(), 1, SQL_C_SLONG, &n, 0, nullptr), statement);
    return n;
}

std::unique_ptr<ConnectionHandle> open(const QString &dsn)
{
    if (dsn == u"PG")
        return std::make_unique<ConnectionHandle>(
            dsn, PgServer::instance().user(), PgServer::instance().password());
    return std::make_unique<ConnectionHandle>(dsn, QString(), QString());
}

} // namespace

void tst_transactions::initTestCase()
{
    TestEnv::addSqliteDsn(QStringLiteral("LITE"), { QStringLiteral("create table tx(id int)") });
    PgServer::instance().addDsn(QStringLiteral("PG"), QStringLiteral("transactions"));
    PgServer::instance().exec(QStringLiteral("create table tx(id int); grant all on tx to public"),
        QStringLiteral("transactions"));
}

void tst_transactions::endTransaction_data()
{
    QTest::addColumn<QString>("dsn");
    QTest::addColumn<QString>("end"); // commit, rollback, or autocommit (turned on again)
    QTest::addColumn<int>("added"); // rows the second connection sees afterwards
    for (const char *dsn : { "LITE", "PG" }) {
        QTest::addRow("%s commit", dsn) << dsn << "commit" << 2;
        QTest::addRow("%s rollback", dsn) << dsn << "rollback" << 0;
        QTest::addRow("%s auto-commit on again", dsn) << dsn << "autocommit" << 2;
    }
}

void tst_transactions::endTransaction()
{
    QFETCH(QString, dsn);
    QFETCH(QString, end);
    QFETCH(int, added);
    std::unique_ptr<ConnectionHandle> work = open(dsn);
    std::unique_ptr<ConnectionHandle> watch = open(dsn);
    const int before = count(*watch);

    work->setAutoCommit(false);
    QVERIFY(!work->autoCommit());
    exec(*work, QStringLiteral("insert into tx values (1)"));
    exec(*work, QStringLiteral("insert into tx values (2)"));
    QCOMPARE(count(*work), before + 2);
    QCOMPARE(count(*watch), before); // open work is the working connection's own
    if (end == u"autocommit")
        work->setAutoCommit(true);
    else
        work->endTransaction(end == u"commit");
    QCOMPARE(count(*watch), before + added);
    QCOMPARE(count(*work), before + added);
}

STELVIK_TEST_GUILESS_MAIN(tst_transactions)
#include "tst_transactions.moc"
