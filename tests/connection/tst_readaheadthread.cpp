#include "connection/ReadAheadThread.h"

#include <QtTest>

#include <stdexcept>

// The read-ahead thread without a database: blocks of numbered rows from a counter.
class tst_readaheadthread : public QObject
{
    Q_OBJECT

private slots:
    void takeAndStop_data();
    void takeAndStop();
};

namespace {

struct Rows
{
    std::vector<int> values;
    int rows() const { return int(values.size()); }
};

} // namespace

void tst_readaheadthread::takeAndStop_data()
{
    // The source has `total` rows in blocks of 10 and fails at row `failAt` (-1: never); the
    // taker takes `taken` blocks, then stops the thread. Expected: the rows handed over in
    // order (taken, then left over from the stop), and whether an error ends them.
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("wanted");
    QTest::addColumn<int>("failAt");
    QTest::addColumn<int>("taken");
    QTest::addColumn<int>("rows");
    QTest::addColumn<bool>("error");
    QTest::newRow("all taken") << 95 << -1 << -1 << 20 << 95 << false;
    QTest::newRow("stopped early, none lost") << 1000 << -1 << -1 << 2 << -1 << false;
    QTest::newRow("wanted rows only") << 1000 << 35 << -1 << 20 << 40 << false;
    QTest::newRow("already wanted") << 1000 << 5 << -1 << 20 << 10 << false;
    QTest::newRow("error ends the blocks") << 1000 << -1 << 42 << 20 << 40 << true;
}

void tst_readaheadthread::takeAndStop()
{
    QFETCH(int, total);
    QFETCH(int, wanted);
    QFETCH(int, failAt);
    QFETCH(int, taken);
    QFETCH(int, rows);
    QFETCH(bool, error);
    int next = 0; // touched by the read routine alone, on the thread
    ReadAheadThread<Rows> reader([] { return Rows(); },
        [&](Rows &block) {
            for (int k = 0; k < 10 && next < total; ++k, ++next) {
                if (next == failAt)
                    throw std::runtime_error("read failed");
                block.values.push_back(next);
            }
            return next == total;
        },
        0, wanted);
    std::vector<int> got;
    bool failed = false;
    auto add = [&](auto &item) {
        QVERIFY(!failed); // nothing after an error
        failed = bool(item.error); // and the rows of a failed read do not count
        if (!failed)
            got.insert(got.end(), item.block.values.begin(), item.block.values.end());
    };
    for (int k = 0; k < taken; ++k)
        if (auto item = reader.take())
            add(*item);
    for (auto &item : reader.stop())
        add(item);
    QVERIFY(!reader.take()); // the thread has ended
    QCOMPARE(failed, error);
    if (rows >= 0)
        QCOMPARE(int(got.size()), rows);
    else // stopped while reading: a whole number of blocks, no more than it may read ahead
        QVERIFY(got.size() % 10 == 0 && got.size() <= (2 + ReadAheadThread<Rows>::Depth + 1) * 10);
    for (std::size_t k = 0; k < got.size(); ++k)
        QCOMPARE(got[k], int(k));
}

QTEST_GUILESS_MAIN(tst_readaheadthread)
#include "tst_readaheadthread.moc"
