#include "connection/QueryDataset.h"
#include "connection/ResultStore.h"
#include "support/FileSizeLimit.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstring>
#include <sys/resource.h>

// Rows of a number column (8 bytes each) and a text column: row r holds r, and the text
// "row <r>" padded with letters to `width` characters, or a null on every seventh row.
class tst_resultstore : public QObject
{
    Q_OBJECT

private:
    static QByteArray textOf(int row, int width)
    {
        QByteArray text = "row " + QByteArray::number(row);
        while (text.size() < width)
            text += char('a' + text.size() % 26);
        return text;
    }

    static void fill(ResultStore &store, int blocks, int rowsPerBlock, int width)
    {
        for (int b = 0; b < blocks; ++b) {
            ResultStore::Block block = store.newBlock(rowsPerBlock);
            for (int i = 0; i < rowsPerBlock; ++i) {
                const qint64 row = store.rowCount() + block.rows();
                block.addValue(0, reinterpret_cast<const char *>(&row), sizeof row);
                if (row % 7 == 3) {
                    block.addNull(1);
                } else {
                    const QByteArray text = textOf(int(row), width);
                    block.addValue(1, text.constData(), std::size_t(text.size()));
                }
                block.endRow();
            }
            store.append(std::move(block));
        }
    }

    // Every row read back as written, in the order given.
    static void verifyRows(const ResultStore &store, const QList<int> &rows, int width)
    {
        for (const int row : rows) {
            const char *data = nullptr;
            std::size_t length = 0;
            QVERIFY(store.value(row, 0, data, length));
            QCOMPARE(length, sizeof(qint64));
            qint64 number;
            std::memcpy(&number, data, sizeof number);
            QCOMPARE(number, qint64(row));
            const bool null = row % 7 == 3;
            QCOMPARE(store.isNull(row, 1), null);
            QCOMPARE(store.value(row, 1, data, length), !null);
            if (!null)
                QCOMPARE(QByteArray(data, qsizetype(length)), textOf(row, width));
        }
    }

    static QList<int> allRows(const ResultStore &store)
    {
        QList<int> rows;
        for (int row = 0; row < store.rowCount(); ++row)
            rows.append(row);
        return rows;
    }

private slots:
    void spillAndReadBack_data();
    void spillAndReadBack();
    void fullDisk();
    void valueLongerThanABlock();
    void emptyResults();
};

void tst_resultstore::spillAndReadBack_data()
{
    QTest::addColumn<qint64>("budget");
    QTest::addColumn<bool>("spills");
    QTest::newRow("within the budget") << qint64(64) * 1024 * 1024 << false;
    QTest::newRow("beyond the budget") << qint64(100) * 1024 << true;
    QTest::newRow("no memory at all") << qint64(0) << true;
}

void tst_resultstore::spillAndReadBack()
{
    QFETCH(qint64, budget);
    QFETCH(bool, spills);
    QTemporaryDir folder;
    ResultStore store({ 8, 0 }, std::size_t(budget), folder.path());
    const int width = 40;
    fill(store, 40, 500, width); // about 1 MB
    QCOMPARE(store.rowCount(), 40 * 500);
    QCOMPARE(store.blockCount(), 40);
    QCOMPARE(store.spilledBlockCount() > 0, spills);
    QCOMPARE(store.spilledBytes() > 0, spills);
    if (spills) {
        // The blocks in memory stay within the budget, the two read-back copies aside.
        QVERIFY(store.memoryBytes() <= std::size_t(budget) + 64 * 1024);
        // The temporary file has no name: nothing is left in the folder.
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    // Forwards, backwards, and jumping between the first and the last blocks.
    QList<int> rows = allRows(store);
    verifyRows(store, rows, width);
    std::reverse(rows.begin(), rows.end());
    verifyRows(store, rows, width);
    QList<int> jumps;
    for (int i = 0; i < 200; ++i)
        jumps << (i * 7919) % store.rowCount() << store.rowCount() - 1 - i;
    verifyRows(store, jumps, width);
    if (spills)
        QVERIFY(store.memoryBytes() <= std::size_t(budget) + 64 * 1024);
}

void tst_resultstore::fullDisk()
{
    // The file may grow to 256 KB; the write past that fails with EFBIG instead of a signal.
    QTemporaryDir folder;
    ResultStore store({ 8, 0 }, 0, folder.path());
    const int width = 100;
    QString message;
    int blocks = 0;
    try {
        const FileSizeLimit full(256 * 1024);
        for (; blocks < 100; ++blocks)
            fill(store, 1, 500, width); // about 60 KB each
    } catch (const std::runtime_error &error) {
        message = QString::fromUtf8(error.what());
    }

    QVERIFY2(!message.isEmpty(), "the full disk went unnoticed");
    QVERIFY2(blocks >= 3 && blocks < 100, qPrintable(QString::number(blocks)));
    QVERIFY2(message.contains(folder.path()) && message.contains(QLatin1String("cannot grow")),
        qPrintable(message));
    QVERIFY2(message.contains(QString::number(store.rowCount())), qPrintable(message));
    // Every row added, the failed block's included, stays readable.
    QCOMPARE(store.rowCount(), (blocks + 1) * 500);
    QVERIFY(store.spilledBlockCount() >= 3);
    verifyRows(store, allRows(store), width);
}

void tst_resultstore::valueLongerThanABlock()
{
    // One value of 3 MB between small rows, with a budget of 1 MB: its block alone is larger
    // than the budget and than every other block, and goes to the file and back whole.
    QTemporaryDir folder;
    ResultStore store({ 0 }, 1024 * 1024, folder.path());
    QByteArray big(3 * 1024 * 1024, 'x');
    for (int i = 0; i < big.size(); i += 997)
        big[i] = char('a' + i % 26);
    const QList<QByteArray> values { "small", big, "after", "last" };
    for (const QByteArray &text : values) {
        ResultStore::Block block = store.newBlock(1);
        block.addValue(0, text.constData(), std::size_t(text.size()));
        block.endRow();
        store.append(std::move(block));
    }
    QCOMPARE(store.rowCount(), values.size());
    QVERIFY(store.spilledBlockCount() >= 2);
    // Small, big, small again: the read-back copies grow and are reused.
    for (const int row : { 0, 1, 0, 2, 1, 3, 1 }) {
        const char *data = nullptr;
        std::size_t length = 0;
        QVERIFY(store.value(row, 0, data, length));
        QCOMPARE(QByteArray(data, qsizetype(length)), values.at(row));
    }
}

void tst_resultstore::emptyResults()
{
    QTemporaryDir folder;
    ResultStore store({ 8, 0 }, 0, folder.path());
    store.append(store.newBlock(10)); // a block without rows adds nothing
    QCOMPARE(store.rowCount(), 0);
    QCOMPARE(store.blockCount(), 0);
    QCOMPARE(store.spilledBytes(), 0);
    const char *data = nullptr;
    std::size_t length = 0;
    QVERIFY(!store.value(0, 0, data, length));
    QVERIFY(!store.value(-1, 1, data, length));
    QVERIFY(store.isNull(0, 1));

    // Empty texts are values, not nulls, in memory and in the file alike.
    ResultStore::Block block = store.newBlock(2);
    for (int row = 0; row < 2; ++row) {
        const qint64 number = row;
        block.addValue(0, reinterpret_cast<const char *>(&number), sizeof number);
        if (row == 0)
            block.addValue(1, "", 0);
        else
            block.addNull(1);
        block.endRow();
    }
    store.append(std::move(block));
    QCOMPARE(store.spilledBlockCount(), 1);
    QVERIFY(store.value(0, 1, data, length));
    QCOMPARE(length, std::size_t(0));
    QVERIFY(!store.value(1, 1, data, length));
    QVERIFY(!store.value(0, 2, data, length)); // no such column
    QVERIFY(!store.value(2, 0, data, length)); // no such row
}

STELVIK_TEST_GUILESS_MAIN(tst_resultstore)
#include "tst_resultstore.moc"
