#include "connection/Connection.h"
#include "connection/ConnectionHandle.h"
#include "connection/QueryDataset.h"
#include "query/QThread.h"
#include "query/QueryControl.h"
#include "support/TestEnv.h"

#include <QSignalSpy>
#include <QtTest>

#include <memory>

// A statement whose connection stays held by a cancelled one does not wait behind it for long:
// it runs on a fresh connection of the same alias and login.
class tst_querycontrol : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void heldConnectionGivesWay_data();
    void heldConnectionGivesWay();

private:
    std::unique_ptr<Connection> m_lite;
};

void tst_querycontrol::initTestCase()
{
    TestEnv::addSqliteDsn(QStringLiteral("QCLITE"),
        { QStringLiteral("create table t(id integer)"),
            QStringLiteral("insert into t values (42)") });
    m_lite = TestEnv::connection(QStringLiteral("QCLITE"));
    m_lite->OpenConnection();
}

void tst_querycontrol::heldConnectionGivesWay_data()
{
    QTest::addColumn<bool>("cancelAccepted");

    QTest::newRow("cancel taken, connection still held") << true;
    QTest::newRow("cancel refused by the driver") << false;
}

void tst_querycontrol::heldConnectionGivesWay()
{
    QFETCH(bool, cancelAccepted);

    const std::shared_ptr<ConnectionHandle> held = m_lite->handle();
    QVERIFY(held);
    // A cancelled statement that keeps its turn on the connection.
    held->acquire();
    held->noteCancel(cancelAccepted);

    QueryControl control;
    QString error = QStringLiteral("not handed back");
    std::unique_ptr<QueryDataset> result;
    std::shared_ptr<ConnectionHandle> fresh;
    connect(&control, &QueryControl::handedBack, this, [&](TQthread *worker) {
        error = worker->ErrorText;
        fresh = worker->FreshConnection;
        result = std::move(worker->Query);
    });
    QSignalSpy handedBack(&control, &QueryControl::handedBack);
    control.startStatement(
        QStringLiteral("select id from t"), QStringLiteral("QCLITE"), held, false, false);
    QTRY_COMPARE_WITH_TIMEOUT(handedBack.count(), 1, 30000);

    QCOMPARE(error, QString());
    QVERIFY(fresh);
    QVERIFY(fresh != held);
    QCOMPARE(fresh->dataSource(), held->dataSource());
    QCOMPARE(fresh->user(), held->user());
    QVERIFY(result && result->IsOpen());
    QCOMPARE(result->connection(), fresh);
    QCOMPARE(result->FieldString(0), QStringLiteral("42"));
    // The held connection was left alone.
    QVERIFY(held->busy());
    held->release();
    QVERIFY(!held->busy());
}

STELVIK_TEST_GUILESS_MAIN(tst_querycontrol)
#include "tst_querycontrol.moc"
