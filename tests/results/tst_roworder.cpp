#include "connection/Connection.h"
#include "connection/QueryDataset.h"
#include "connection/ResultReader.h"
#include "results/RowOrder.h"
#include "results/TextSort.h"
#include "support/PgServer.h"
#include "support/SessionConnection.h"
#include "support/TestEnv.h"
#include "valuetext/ValueLocale.h"

#include <QtTest>

#include <memory>

// The orders and selections of a result's rows, read from the finished store through a reader,
// on SQLite and on the private PostgreSQL server: values by their type, NULL first ascending and
// last descending, text by the collation; the filter over the text the cells show.
class tst_roworder : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sortByType_data();
    void sortByType();
    void filterCounts_data();
    void filterCounts();
    void decimalOrder();

private:
    std::unique_ptr<ResultReader> read(const QString &dsn, std::size_t budget = 1 << 30,
        const QString &sql = QStringLiteral("select i, d, f, dt, ts, t from k"));
    std::unique_ptr<QueryDataset> m_query;
    std::unique_ptr<Connection> m_lite;
    std::unique_ptr<Connection> m_pg;
};

namespace {

const QString Lite = QStringLiteral("ORDERLITE");
const QString Pg = QStringLiteral("ORDERPG");
// Five records; in every column the third is NULL and ascending the rest go 1, 3, 0, 4, which
// the values' text would not give (-2 < 10 < 100 < 3; Cherry < able < banana < Äpfel).
const QString Rows = QStringLiteral(
    "insert into k values (10, 10.5, 2.5, '2001-02-03', '2001-02-03 10:00:00', 'banana'),"
    "(-2, -1, -7, '1999-12-31', '2001-02-03 09:00:00', 'able'),"
    "(null, null, null, null, null, null),"
    "(3, 9.25, 0.125, '2001-01-31', '2001-02-03 09:30:00', 'Äpfel'),"
    "(100, 100, 1e10, '2010-01-01', '2002-01-01 00:00:00', 'Cherry')");

} // namespace

void tst_roworder::initTestCase()
{
    ValueText::setLocale(QLocale::c()); // the cells' text, which the filter reads
    const QString table = QStringLiteral("create table k (i integer, d decimal(12,2), f double "
                                         "precision, dt date, ts timestamp, t varchar(20))");
    const QString decimals = QStringLiteral(
        "create table n (id integer, v decimal); insert into n values (1, '1.0e+20'), "
        "(2, '-3.0e-07'), (3, 5), (4, null), (5, '-1.5E+3'), (6, '0.0001'), (7, 0)");
    TestEnv::addSqliteDsn(Lite,
        { table, Rows, decimals.section(';', 0, 0), decimals.section(';', 1),
            "insert into n values (8, 'abc'), (9, '1e-400x')", "create table far (t varchar(5000))",
            "insert into far values ('near' || replace(hex(zeroblob(1500)), '0', 'x') || "
            "'needle'), ('needle only here')" });
    PgServer &pg = PgServer::instance();
    pg.addDsn(Pg, QStringLiteral("roworder"));
    pg.exec(table + QLatin1Char(';') + Rows + QLatin1Char(';') + decimals
            + QStringLiteral("; insert into n values (8, 'NaN'), (9, 'Infinity'), (10, "
                             "'-Infinity')"),
        QStringLiteral("roworder"));
    m_lite = TestEnv::connection(Lite);
    m_lite->OpenConnection();
    m_pg = TestEnv::connection(Pg);
    m_pg->Params = pg.loginParams();
    m_pg->OpenConnection();
}

std::unique_ptr<ResultReader> tst_roworder::read(
    const QString &dsn, std::size_t budget, const QString &sql)
{
    m_query = std::make_unique<QueryDataset>(budget);
    m_query->setConnection(dsn, sessionConnection(dsn));
    m_query->setSql(sql);
    m_query->OpenQuery();
    m_query->CountRecords();
    return m_query->reader();
}

void tst_roworder::sortByType_data()
{
    QTest::addColumn<QString>("dsn");
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("descending");
    QTest::addColumn<QVector<int>>("records");
    const char *names[] = { "integer", "decimal", "double", "date", "timestamp", "text" };
    for (const QString &dsn : { Lite, Pg })
        for (int column = 0; column < 6; ++column) {
            QTest::addRow("%s %s ascending", qPrintable(dsn), names[column])
                << dsn << column << false << QVector<int> { 2, 1, 3, 0, 4 };
            QTest::addRow("%s %s descending", qPrintable(dsn), names[column])
                << dsn << column << true << QVector<int> { 4, 0, 3, 1, 2 };
        }
}

void tst_roworder::sortByType()
{
    QFETCH(QString, dsn);
    QFETCH(int, column);
    QFETCH(bool, descending);
    QFETCH(QVector<int>, records);

    const std::unique_ptr<ResultReader> reader = read(dsn);
    QVERIFY(reader);
    m_query->Close(); // the reader keeps the rows
    std::atomic<bool> stop { false };
    std::vector<int> order;
    QVERIFY(RowOrder::sorted(*reader, column, descending ? Qt::DescendingOrder : Qt::AscendingOrder,
        QLocale(QLocale::English, QLocale::UnitedStates), stop, order));
    QCOMPARE(QVector<int>(order.begin(), order.end()), records);
    if (column == 5) { // text: also in runs of one value each, merged from their files
        std::vector<int> values;
        std::vector<int> nulls;
        QVERIFY(RowOrder::sortTexts(*reader, column, descending,
            QLocale(QLocale::English, QLocale::UnitedStates), stop, values, nulls, 1));
        records.removeAll(2);
        QCOMPARE(QVector<int>(values.begin(), values.end()), records);
    }
    stop = true;
    QVERIFY(!RowOrder::sorted(*reader, column, Qt::AscendingOrder, QLocale(), stop, order));
    QVERIFY(order.empty());
}

void tst_roworder::filterCounts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QVector<int>>("records");
    QTest::newRow("case ignored") << "äPF" << QVector<int> { 3 };
    QTest::newRow("any column") << "10" << QVector<int> { 0, 4 };
    QTest::newRow("the text a cell shows") << "feb 2001 09" << QVector<int> { 1, 3 };
    QTest::newRow("NULL holds no text") << "null" << QVector<int> {};
}

void tst_roworder::filterCounts()
{
    QFETCH(QString, text);
    QFETCH(QVector<int>, records);

    // Beyond a budget of a few bytes, every block but the newest is read back from the file.
    const std::unique_ptr<ResultReader> reader = read(Lite, 16);
    std::atomic<bool> stop { false };
    std::vector<int> kept;
    QVERIFY(RowOrder::filtered(*reader, nullptr, text, stop, kept));
    QCOMPARE(QVector<int>(kept.begin(), kept.end()), records);
    // Over a sorted order the filter keeps that order.
    const std::vector<int> reversed(records.rbegin(), records.rend());
    QVERIFY(RowOrder::filtered(*reader, &reversed, text, stop, kept));
    QCOMPARE(kept, reversed);
}

// Decimals sort as the database itself orders them (NULL first). The filter reads each value
// whole, past the 1,000 characters a cell shows.
void tst_roworder::decimalOrder()
{
    std::vector<int> kept;
    QVERIFY(RowOrder::filtered(*read(Lite, 16, QStringLiteral("select t from far")), nullptr,
        QStringLiteral("NEEDLE"), false, kept));
    QCOMPARE(kept.size(), std::size_t(2));
    for (const QString &dsn : { Lite, Pg }) {
        read(dsn, 1 << 30, QStringLiteral("select id - 1 from n order by v nulls first, id"));
        QVector<int> expected;
        for (int row = 0; row < m_query->fetchedCount(); ++row)
            expected << m_query->text(row, 0).toInt();
        const std::unique_ptr<ResultReader> reader =
            read(dsn, 1 << 30, QStringLiteral("select v from n order by id"));
        std::atomic<bool> stop { false };
        std::vector<int> records;
        QVERIFY(RowOrder::sorted(*reader, 0, Qt::AscendingOrder, QLocale::c(), stop, records));
        QCOMPARE(QVector<int>(records.begin(), records.end()), expected);
    }
}

QTEST_GUILESS_MAIN(tst_roworder)
#include "tst_roworder.moc"
