#include "connection/Connection.h"
#include "connection/QueryDataset.h"
#include "query/QThread.h"
#include "support/PgServer.h"
#include "support/TestEnv.h"

#include <QLocale>
#include <QPointer>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

// What the completion handler saw, on the thread it ran on.
struct HandBack
{
    bool called = false;
    bool onUiThread = false;
    bool workerWaiting = false;
    bool opened = false;
    QString errorText;
    int fetched = -1;
    bool allFetched = false;
    std::unique_ptr<QueryDataset> taken;
};

class tst_qthread : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void elapsedText_data();
    void elapsedText();
    void statement_data();
    void statement();
    void abandonedWorkerFreesItself();
    void stopRequestDoesNotShorten();

private:
    // Starts a self-freeing worker and waits until it has destroyed itself.
    void runToEnd(TQthread *worker);
    long handleUses(const Connection &connection) const { return connection.handle().use_count(); }
    // A job for the statement on a connection (the test's SQLite one when null).
    StatementJob job(const QString &sql, bool isExec, const Connection *connection = nullptr) const
    {
        connection = connection ? connection : m_lite.get();
        StatementJob job;
        job.sql = sql;
        job.alias = connection->DatabaseName;
        job.connection = connection->handle();
        job.isExec = isExec;
        job.storeBudget = QueryDataset::DefaultStoreBudget;
        return job;
    }

    std::unique_ptr<Connection> m_lite;
};

void tst_qthread::initTestCase()
{
    TestEnv::addSqliteDsn(QStringLiteral("LITE"),
        { QStringLiteral("create table t(id integer, name text)"),
            QStringLiteral("insert into t values (1, 'one'), (2, null), (3, 'three')"),
            QStringLiteral("create table big as with recursive s(n) as (select 1 "
                           "union all select n + 1 from s where n < 20000) "
                           "select n from s") });
    m_lite = TestEnv::connection(QStringLiteral("LITE"));
    m_lite->OpenConnection();
    QVERIFY(m_lite->IsConnected());
}

void tst_qthread::elapsedText_data()
{
    QTest::addColumn<quint32>("startTick");
    QTest::addColumn<quint32>("endTick");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("expected");

    QTest::newRow("no time") << 500u << 500u << "C"
                             << "0.0000 Seconds";
    QTest::newRow("milliseconds") << 1000u << 1005u << "C"
                                  << "0.0050 Seconds";
    QTest::newRow("over a second") << 1000u << 2234u << "C"
                                   << "1.2340 Seconds";
    QTest::newRow("a minute") << 0u << 61000u << "C"
                              << "61.0000 Seconds";
    QTest::newRow("no grouping") << 0u << 1234567u << "en_US"
                                 << "1234.5670 Seconds";
    QTest::newRow("comma locale") << 0u << 1234u << "de_DE"
                                  << "1,2340 Seconds";
    QTest::newRow("tick wraps") << 0xFFFFFF00u << 0x00000100u << "C"
                                << "0.5120 Seconds";
    QTest::newRow("wraps to zero") << 0xFFFFFC18u << 0u << "C"
                                   << "1.0000 Seconds";
}

void tst_qthread::elapsedText()
{
    QFETCH(quint32, startTick);
    QFETCH(quint32, endTick);
    QFETCH(QString, locale);
    QFETCH(QString, expected);

    const qint32 ms = TQthread::tickDifference(startTick, endTick);
    QCOMPARE(StatementOutcome::elapsedText(ms, QLocale(locale)), expected);

    // The outcome's own text uses the default locale.
    const QLocale saved;
    QLocale::setDefault(QLocale(locale));
    StatementOutcome outcome;
    outcome.elapsedMs = ms;
    const QString text = outcome.elapsedText();
    QLocale::setDefault(saved);
    QCOMPARE(text, expected);
}

void tst_qthread::runToEnd(TQthread *worker)
{
    QSignalSpy destroyed(worker, &QObject::destroyed);
    worker->FreeOnTerminate = true;
    worker->start();
    QTRY_COMPARE_WITH_TIMEOUT(destroyed.count(), 1, 30000);
}

void tst_qthread::statement_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("isExec");
    QTest::addColumn<bool>("wantCount");
    QTest::addColumn<bool>("opened");
    QTest::addColumn<QString>("error"); // a part of the database's message; empty: none
    QTest::addColumn<int>("records"); // fetched records the handler sees; -1: not looked at

    QTest::newRow("select") << "select id, name from t order by id" << false << false << true
                            << QString() << 3;
    QTest::newRow("select counted")
        << "select n from big" << false << true << true << QString() << 20000;
    QTest::newRow("select fails") << "select * from no_such_table" << false << false << false
                                  << "no such table" << -1;
    QTest::newRow("exec succeeds")
        << "update t set name = 'x' where id = 99" << true << false << false << QString() << -1;
    QTest::newRow("exec fails") << "insert into no_such_table values (1)" << true << false << false
                                << "no such table" << -1;
    // abs() of the smallest integer fails on the last row only: the open succeeds, the count
    // walking the rest of the result fails.
    QTest::newRow("count fails")
        << "select case when n = 20000 then abs(-9223372036854775807 - 1) else n end from big"
        << false << true << true << "integer overflow" << -1;
}

void tst_qthread::statement()
{
    QFETCH(QString, sql);
    QFETCH(bool, isExec);
    QFETCH(bool, wantCount);
    QFETCH(bool, opened);
    QFETCH(QString, error);
    QFETCH(int, records);

    const long usesBefore = handleUses(*m_lite);
    StatementJob statement = job(sql, isExec);
    statement.wantCount = wantCount;
    auto *worker = new TQthread(std::move(statement)); // frees itself
    QCOMPARE(worker->Outcome.result->sql(), sql);
    const bool takeOver = opened && error.isEmpty();

    HandBack seen;
    worker->OnTerminate = [&seen, takeOver](TQthread *w) {
        seen.called = true;
        seen.onUiThread = QThread::currentThread() == QCoreApplication::instance()->thread();
        seen.workerWaiting = w->isRunning();
        seen.opened = w->Outcome.opened;
        seen.errorText = w->Outcome.errorText;
        if (takeOver) {
            seen.fetched = w->Outcome.result->fetchedCount();
            seen.allFetched = w->Outcome.result->allFetched();
            seen.taken = std::move(w->Outcome.result);
        }
    };
    runToEnd(worker);

    QVERIFY(seen.called);
    QVERIFY(seen.onUiThread);
    QVERIFY(seen.workerWaiting);
    QCOMPARE(seen.opened, opened);
    if (error.isEmpty())
        QCOMPARE(seen.errorText, QString());
    else
        QVERIFY2(seen.errorText.contains(error, Qt::CaseInsensitive), qPrintable(seen.errorText));

    if (takeOver) {
        QVERIFY(seen.taken && seen.taken->IsOpen());
        if (wantCount) {
            QVERIFY(seen.allFetched);
            QCOMPARE(seen.fetched, records);
        } else {
            QCOMPARE(seen.taken->CountRecords(), records);
        }
        seen.taken.reset();
    }
    // Whatever was not taken over went with the worker: nothing holds the connection any more.
    QCOMPARE(handleUses(*m_lite), usesBefore);
}

void tst_qthread::abandonedWorkerFreesItself()
{
    const long usesBefore = handleUses(*m_lite);
    StatementJob statement = job(QStringLiteral("select n from big"), false);
    statement.wantCount = true;
    auto *worker = new TQthread(std::move(statement)); // frees itself
    bool called = false;
    worker->OnTerminate = [&called](TQthread *) { called = true; };
    QSignalSpy destroyed(worker, &QObject::destroyed);
    worker->FreeOnTerminate = true;
    worker->start();
    // Removed on the UI thread: however soon the worker ends, its hand-back finds nothing.
    worker->OnTerminate = nullptr;
    QTRY_COMPARE_WITH_TIMEOUT(destroyed.count(), 1, 30000);
    QVERIFY(!called);
    QCOMPARE(handleUses(*m_lite), usesBefore);
}

void tst_qthread::stopRequestDoesNotShorten()
{
    PgServer &server = PgServer::instance();
    server.addDsn(QStringLiteral("PGQ"));
    Connection pg(TestEnv::session(), QStringLiteral("PGQ"));
    pg.Params = server.loginParams();
    pg.OpenConnection();

    auto *worker =
        new TQthread(job(QStringLiteral("select 7 as seven from pg_sleep(1)"), false, &pg));
    HandBack seen;
    qint32 elapsed = -1;
    worker->OnTerminate = [&](TQthread *w) {
        seen.called = true;
        seen.opened = w->Outcome.opened;
        seen.errorText = w->Outcome.errorText;
        elapsed = w->Outcome.elapsedMs;
        seen.taken = std::move(w->Outcome.result);
    };
    QSignalSpy destroyed(worker, &QObject::destroyed);
    worker->FreeOnTerminate = true;
    worker->start();
    worker->requestInterruption();
    QTRY_COMPARE_WITH_TIMEOUT(destroyed.count(), 1, 30000);

    QVERIFY(seen.called);
    QCOMPARE(seen.errorText, QString());
    QVERIFY(seen.opened);
    // The whole sleep ran: the elapsed time covers it and the result arrived.
    QVERIFY2(elapsed >= 1000, qPrintable(QString::number(elapsed)));
    QVERIFY(seen.taken && seen.taken->IsOpen());
    QCOMPARE(seen.taken->FieldString(0), QStringLiteral("7"));
}

STELVIK_TEST_GUILESS_MAIN(tst_qthread)
#include "tst_qthread.moc"
