#include "results/WorkbookZip.h"
#include "support/FileSizeLimit.h"
#include "support/TestEnv.h"

#include <QRandomGenerator>
#include <QtTest>

#include <stdexcept>

// The workbook's zip: sheets compressed in runs on the stream's thread and joined with a head and
// a tail into one entry, read back by Python's zipfile (with Zip64 records too); a full disk
// reported by the stream.
class tst_workbookzip : public QObject
{
    Q_OBJECT

private slots:
    void joinedEntries_data();
    void joinedEntries();
    void fullDisk();

private:
    QTemporaryDir m_dir;
};

void tst_workbookzip::joinedEntries_data()
{
    QTest::addColumn<qint64>("zip64From");
    QTest::newRow("plain") << qint64(0xFFFFFFFF);
    QTest::newRow("Zip64 for every size and offset") << qint64(0);
}

void tst_workbookzip::joinedEntries()
{
    QFETCH(qint64, zip64From);
    // Two sheets, the first over several chunks.
    SheetStream stream(m_dir.path());
    std::string chunk;
    QByteArray first;
    for (int i = 0; i < 3; ++i) {
        chunk.assign(SheetStream::ChunkBytes, char('a' + i));
        first += QByteArray::fromStdString(chunk);
        stream.write(chunk);
        QVERIFY(chunk.empty());
    }
    stream.endSheet();
    chunk = "<row r=\"2\"/>";
    stream.write(chunk);
    stream.endSheet();
    const std::vector<DeflateRun> runs = stream.finish();
    QCOMPARE(runs.size(), std::size_t(2));

    QFile file(m_dir.filePath(QStringLiteral("joined.zip")));
    QVERIFY(file.open(QIODevice::ReadWrite | QIODevice::Truncate));
    ZipWriter zip(file, zip64From);
    const QByteArray head = "<sheet>", tail = "</sheet>";
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const QByteArray headRun = deflateRun(head, false), tailRun = deflateRun(tail, true);
        ZipEntry entry;
        entry.name = "sheet" + QByteArray::number(qulonglong(i + 1)) + ".xml";
        entry.method = 8;
        entry.size = head.size() + runs[i].size + tail.size();
        entry.stored = headRun.size() + runs[i].stored + tailRun.size();
        entry.crc =
            joinCrc(joinCrc(crcOf(head), runs[i].crc, runs[i].size), crcOf(tail), tail.size());
        zip.beginEntry(entry);
        zip.write(headRun);
        zip.copy(stream.file(), runs[i].offset, runs[i].stored);
        zip.write(tailRun);
    }
    ZipEntry stored;
    stored.name = "stored.txt";
    stored.size = stored.stored = 5;
    stored.crc = crcOf("plain");
    zip.beginEntry(stored);
    zip.write("plain");
    zip.finish();
    file.close();

    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
        { QStringLiteral("-c"),
            QStringLiteral(
                "import sys, zipfile\n"
                "z = zipfile.ZipFile(sys.argv[1])\n"
                "assert z.testzip() is None\n"
                "assert z.read('sheet1.xml') == b'<sheet>' + b'a' * %1 + b'b' * %1 + b'c' * %1 "
                "+ b'</sheet>'\n"
                "assert z.read('sheet2.xml') == b'<sheet><row r=\"2\"/></sheet>'\n"
                "assert z.read('stored.txt') == b'plain'\n"
                "zip64 = [i.extra[:2] == b'\\x01\\x00' for i in z.infolist()]\n"
                "assert zip64 == [%2] * 3, zip64\n")
                .arg(SheetStream::ChunkBytes)
                .arg(zip64From == 0 ? QStringLiteral("True") : QStringLiteral("False")),
            file.fileName() });
    QVERIFY(python.waitForFinished(60000));
    QVERIFY2(python.exitCode() == 0, python.readAllStandardError().constData());
    if (zip64From != 0) {
        QVERIFY(file.open(QIODevice::ReadOnly));
        const std::vector<ZipEntry> entries = readZipEntries(file);
        QCOMPARE(entries.size(), std::size_t(3));
        QCOMPARE(entries[0].size, qint64(head.size() + first.size() + tail.size()));
        QCOMPARE(entries[2].name, QByteArray("stored.txt"));
    }
}

// A disk that fills up while the thread writes: the export hears of it at its next hand-over or
// at the end, with the reason.
void tst_workbookzip::fullDisk()
{
    SheetStream stream(m_dir.path());
    const FileSizeLimit full(64 * 1024);
    std::string chunk;
    QString message;
    try {
        for (int i = 0; i < 16; ++i) {
            chunk.resize(SheetStream::ChunkBytes); // noise does not compress
            QRandomGenerator::global()->fillRange(
                reinterpret_cast<quint32 *>(chunk.data()), chunk.size() / sizeof(quint32));
            stream.write(chunk);
        }
        stream.endSheet();
        stream.finish();
    } catch (const std::runtime_error &error) {
        message = QString::fromUtf8(error.what());
    }
    QVERIFY2(message.startsWith(QStringLiteral("Cannot write the workbook's temporary file")),
        qPrintable(message));
}

STELVIK_TEST_GUILESS_MAIN(tst_workbookzip)
#include "tst_workbookzip.moc"
