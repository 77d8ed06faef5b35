#include "threads/OffThread.h"

#include <QThread>
#include <QtTest>

#include <atomic>
#include <memory>

// An answer comes back only while it is still wanted: the receiver lives, the request was not
// dropped, no newer request superseded it.
class tst_offthread : public QObject
{
    Q_OBJECT

private slots:
    void delivered_data();
    void delivered();
};

void tst_offthread::delivered_data()
{
    QTest::addColumn<QString>("meanwhile"); // done while the work of requests 1 and 2 waits
    QTest::addColumn<QString>("told"); // the answers delivered | discarded

    QTest::newRow("wanted") << ""
                            << "1 2 | ";
    QTest::newRow("superseded") << "renew"
                                << "2 | ";
    QTest::newRow("dropped") << "drop"
                             << " | ";
    QTest::newRow("receiver gone") << "delete"
                                   << " | 1 2";
}

void tst_offthread::delivered()
{
    QFETCH(QString, meanwhile);
    QFETCH(QString, told);

    auto receiver = std::make_unique<QObject>();
    OffThread::Latest latest;
    std::atomic<bool> go { false };
    auto held = std::make_shared<int>(); // what the works hold
    QStringList delivered, discarded;
    for (const int n : { 1, 2 }) {
        // Request 2 supersedes request 1 in the row that says so; else each has its own wish.
        OffThread::WishPtr wish =
            meanwhile == "renew" ? latest.renew() : std::make_shared<OffThread::Wish>();
        if (meanwhile == "drop")
            wish->drop();
        OffThread::run(
            receiver.get(), wish,
            [&go, n, held] {
                while (!go.load())
                    QThread::yieldCurrentThread();
                return n;
            },
            [&delivered](int answer) { delivered << QString::number(answer); },
            [&discarded](int answer) { discarded << QString::number(answer); });
    }
    if (meanwhile == "delete")
        receiver.reset();
    const std::weak_ptr<int> works = held;
    held.reset();
    go.store(true);
    // Both works ended and let go of what they held on their threads; then what they posted.
    QTRY_VERIFY_WITH_TIMEOUT(works.expired(), 30000);
    QCoreApplication::processEvents();
    delivered.sort();
    discarded.sort();
    QCOMPARE(delivered.join(' ') + " | " + discarded.join(' '), told);
}

QTEST_GUILESS_MAIN(tst_offthread)
#include "tst_offthread.moc"
