#include "connection/Connection.h"
#include "connection/QueryDataset.h"
#include "results/DataSource.h"
#include "support/PgServer.h"
#include "support/SessionConnection.h"
#include "support/TestEnv.h"

#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QtTest>

#include <memory>

class tst_datasource : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cells_data();
    void cells();
    void unbound();
    void firstScreenFetchesOneBlock();
    void scrollingToTheEndFetchesTheRest();
    void recordsFetchedElsewhereAreAnnounced();
    void lostConnectionStopsFetching();

private:
    std::unique_ptr<QueryDataset> open(const QString &sql);

    static constexpr int bigRows = 20000;
    std::unique_ptr<Connection> m_connection;
};

void tst_datasource::initTestCase()
{
    TestEnv::addSqliteDsn(QStringLiteral("LITE"),
        { QStringLiteral("create table t(id integer, name varchar(20))"),
            QStringLiteral("insert into t values (1, 'one'), (2, null), (3, '')"),
            QStringLiteral("create table big as with recursive s(n) as (select 1 union all "
                           "select n + 1 from s where n < %1) select n from s")
                .arg(bigRows) });
    m_connection = TestEnv::connection(QStringLiteral("LITE"));
    m_connection->OpenConnection();
}

std::unique_ptr<QueryDataset> tst_datasource::open(const QString &sql)
{
    auto dataSet = std::make_unique<QueryDataset>();
    dataSet->setConnection(QStringLiteral("LITE"), sessionConnection(QStringLiteral("LITE")));
    dataSet->setSql(sql);
    dataSet->OpenQuery();
    return dataSet;
}

void tst_datasource::cells_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<QVariant>("display");
    QTest::addColumn<bool>("isNull");

    QTest::newRow("number") << 0 << 0 << QVariant(QStringLiteral("1")) << false;
    QTest::newRow("text") << 0 << 1 << QVariant(QStringLiteral("one")) << false;
    QTest::newRow("null has no text") << 1 << 1 << QVariant() << true;
    QTest::newRow("empty text is not null") << 2 << 1 << QVariant(QString()) << false;
}

void tst_datasource::cells()
{
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(QVariant, display);
    QFETCH(bool, isNull);

    auto dataSet = open(QStringLiteral("select id, name as title from t order by id"));
    DataSource model;
    model.setDataSet(dataSet.get());
    QCOMPARE(model.columnCount(), 2);
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("title"));

    const QModelIndex index = model.index(row, column);
    const QVariant shown = model.data(index, Qt::DisplayRole);
    QCOMPARE(shown.isValid(), display.isValid());
    if (display.isValid())
        QCOMPARE(shown.toString(), display.toString());
    QCOMPARE(model.data(index, DataSource::IsNullRole).toBool(), isNull);
}

void tst_datasource::unbound()
{
    auto dataSet = open(QStringLiteral("select id from t"));
    DataSource model;
    model.setDataSet(dataSet.get());
    QVERIFY(model.rowCount() > 0);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    model.setDataSet(nullptr);
    QCOMPARE(reset.count(), 1);
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.columnCount(), 0);
    QVERIFY(!model.canFetchMore(QModelIndex()));
    QVERIFY(!model.data(model.index(0, 0)).isValid());
}

void tst_datasource::firstScreenFetchesOneBlock()
{
    auto dataSet = open(QStringLiteral("select n from big"));
    DataSource model;
    model.setDataSet(dataSet.get());
    QTableView view;
    view.resize(400, 300);
    view.setModel(&model);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QCoreApplication::processEvents();

    QVERIFY(model.rowCount() > 0);
    QVERIFY2(model.rowCount() < bigRows, qPrintable(QString::number(model.rowCount())));
    QVERIFY(!dataSet->allFetched());
    QVERIFY(model.canFetchMore(QModelIndex()));
    QCOMPARE(model.rowCount(), dataSet->fetchedCount());
}

void tst_datasource::scrollingToTheEndFetchesTheRest()
{
    auto dataSet = open(QStringLiteral("select n from big"));
    DataSource model;
    model.setDataSet(dataSet.get());
    QTableView view;
    view.resize(400, 300);
    view.setModel(&model);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    const int firstScreen = model.rowCount();
    view.scrollToBottom();
    QTRY_VERIFY(model.rowCount() > firstScreen);

    // Each scroll to the bottom pulls the next block, until the cursor reaches the end.
    for (int round = 0; round < bigRows && model.canFetchMore(QModelIndex()); ++round) {
        view.scrollToBottom();
        QCoreApplication::processEvents();
    }
    QCOMPARE(model.rowCount(), bigRows);
    QVERIFY(dataSet->allFetched());
    QVERIFY(!model.canFetchMore(QModelIndex()));
    QCOMPARE(model.data(model.index(bigRows - 1, 0)).toString(), QString::number(bigRows));
}

void tst_datasource::recordsFetchedElsewhereAreAnnounced()
{
    auto dataSet = open(QStringLiteral("select n from big"));
    DataSource model;
    model.setDataSet(dataSet.get());
    const int first = model.rowCount();
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);

    QCOMPARE(dataSet->CountRecords(), bigRows);
    QCOMPARE(model.rowCount(), first); // not yet told
    model.syncRows();
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted.at(0).at(1).toInt(), first);
    QCOMPARE(inserted.at(0).at(2).toInt(), bigRows - 1);
    QCOMPARE(model.rowCount(), bigRows);
    model.syncRows();
    QCOMPARE(inserted.count(), 1);
}

void tst_datasource::lostConnectionStopsFetching()
{
    PgServer &server = PgServer::instance();
    server.addDsn(QStringLiteral("PGDS"));
    Connection connection(TestEnv::session(), QStringLiteral("PGDS"));
    connection.Params = server.loginParams();
    connection.OpenConnection();
    auto dataSet = std::make_unique<QueryDataset>();
    dataSet->setConnection(QStringLiteral("PGDS"), sessionConnection(QStringLiteral("PGDS")));
    dataSet->setSql(QStringLiteral("select n from generate_series(1, 200000) n"));
    dataSet->OpenQuery();

    DataSource model;
    model.setDataSet(dataSet.get());
    const int first = model.rowCount();
    QVERIFY(model.canFetchMore(QModelIndex()));
    QSignalSpy failed(&model, &DataSource::fetchFailed);

    server.stop();
    // Called from a view's event handling: the failure comes out as a signal, never a throw.
    for (int round = 0; round < 1000 && model.canFetchMore(QModelIndex()); ++round)
        model.fetchMore(QModelIndex());
    server.start();

    QCOMPARE(failed.count(), 1);
    QVERIFY(!failed.at(0).at(0).toString().isEmpty());
    QVERIFY(!model.canFetchMore(QModelIndex()));
    QVERIFY(model.rowCount() >= first);
    QVERIFY(model.rowCount() < 200000);
}

STELVIK_TEST_MAIN(tst_datasource)
#include "tst_datasource.moc"
