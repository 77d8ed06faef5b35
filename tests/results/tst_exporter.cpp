#include "connection/Connection.h"
#include "connection/QueryDataset.h"
#include "results/Exporter.h"
#include "support/FileSizeLimit.h"
#include "support/ModalScript.h"
#include "support/PgServer.h"
#include "support/SessionConnection.h"
#include "support/SettingsFile.h"
#include "support/TestEnv.h"
#include "valuetext/ValueLocale.h"

#include <QDir>
#include <QFile>
#include <QProgressDialog>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <limits>
#include <memory>
#include <sys/resource.h>

// File exports written as the walk goes, on SQLite and on the private PostgreSQL server: the
// same bytes as the text built in memory, with the record pointer left at the same place, and
// the old file kept byte for byte when the walk fails, is cancelled or the disk fills.
class tst_exporter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void streamedEqualsInMemory_data();
    void streamedEqualsInMemory();
    void oldFileKept_data();
    void oldFileKept();
    void spillFailsDuringWalk_data();
    void spillFailsDuringWalk();

private:
    std::unique_ptr<QueryDataset> open(const QString &dsn, const QString &sql);

    QTemporaryDir m_dir;
    std::unique_ptr<Connection> m_lite;
    std::unique_ptr<Connection> m_pg;
};

namespace {

constexpr int Rows = 50000;
const QString Lite = QStringLiteral("STREAM");
const QString Pg = QStringLiteral("STREAMPG");
const QString all = QStringLiteral("select ID, NAME, AMOUNT from big");

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

} // namespace

void tst_exporter::initTestCase()
{
    ValueText::setLocale(QLocale::c()); // a decimal point and a group comma
    QVERIFY(m_dir.isValid());
    TestEnv::addSqliteDsn(Lite,
        { "create table big (ID integer, NAME varchar(30), AMOUNT double precision)",
            QStringLiteral("insert into big with recursive n(i) as (select 1 union all select "
                           "i + 1 from n where i < %1) select i, 'name \"' || i || '\", x', "
                           "case when i % 9 = 0 then null else i * 1.25 - 7000 end from n")
                .arg(Rows) });
    PgServer &pg = PgServer::instance();
    pg.addDsn(Pg, QStringLiteral("stream"));
    pg.exec(QStringLiteral("create table big (ID integer, NAME varchar(30), AMOUNT double "
                           "precision);"
                           "insert into big select i, 'name \"' || i || '\", x', case when i % 9 "
                           "= 0 then null else i * 1.25 - 7000 end from generate_series(1, %1) i")
                .arg(Rows),
        QStringLiteral("stream"));
    m_lite = TestEnv::connection(Lite);
    m_lite->OpenConnection();
    m_pg = TestEnv::connection(Pg);
    m_pg->Params = pg.loginParams();
    m_pg->OpenConnection();
}

std::unique_ptr<QueryDataset> tst_exporter::open(const QString &dsn, const QString &sql)
{
    auto query = std::make_unique<QueryDataset>(UserSettings::resultMemoryBytes());
    query->setConnection(dsn, sessionConnection(dsn));
    query->setSql(sql);
    query->OpenQuery();
    return query;
}

void tst_exporter::streamedEqualsInMemory_data()
{
    QTest::addColumn<QString>("dsn");
    QTest::addColumn<bool>("report");
    QTest::addColumn<int>("limit");
    QTest::addColumn<int>("budgetMb"); // the user's setting for the streamed run; 0: unset
    for (const QString &dsn : { Lite, Pg }) {
        for (const bool report : { false, true }) {
            const char *format = report ? "report" : "comma-quote";
            QTest::addRow("%s %s, all", qPrintable(dsn), format) << dsn << report << -1 << 0;
            QTest::addRow("%s %s, 12345", qPrintable(dsn), format) << dsn << report << 12345 << 0;
            QTest::addRow("%s %s, all, beyond a 1 MB budget", qPrintable(dsn), format)
                << dsn << report << -1 << 1;
        }
    }
}

void tst_exporter::streamedEqualsInMemory()
{
    QFETCH(QString, dsn);
    QFETCH(bool, report);
    QFETCH(int, limit);
    QFETCH(int, budgetMb);
    const ExportFormat format = report ? ExportFormat::Report : ExportFormat::CommaQuote;

    QByteArray inMemory;
    auto first = open(dsn, all);
    buildExportText(*first, format, limit, inMemory);
    const int recordAfter = first->RecNo();
    const std::size_t unboundedStore = first->storeBytes();
    first.reset(); // a partly fetched result holds its connection's turn

    // Many batches and many fetched blocks, over an existing longer file.
    const QString path = m_dir.filePath(QStringLiteral("streamed.txt"));
    writeFile(path, QByteArray(8 * 1024 * 1024, 'z'));
    SettingsFile settings;
    if (budgetMb > 0)
        settings.setValue(QStringLiteral("ResultMemoryMB"), budgetMb);
    auto second = open(dsn, all);
    settings.remove(QStringLiteral("ResultMemoryMB"));
    writeExportFile(*second, format, limit, path);
    if (budgetMb > 0) {
        // The rows take more than the budget; most of them went to the temporary file.
        QVERIFY(second->storeBytes() < std::size_t(budgetMb) * 1024 * 1024 + 256 * 1024);
        QVERIFY(unboundedStore > std::size_t(budgetMb) * 1024 * 1024 + 256 * 1024);
    }
    const QByteArray streamed = readFile(path);
    QCOMPARE(streamed.size(), inMemory.size());
    QVERIFY(streamed == inMemory);
    QCOMPARE(second->RecNo(), recordAfter);

    // The walk fetched ahead of its formatting, but never beyond the block its last line needs.
    if (limit >= 0)
        QVERIFY2(second->fetchedCount() <= (limit / 1000 + 1) * 1000,
            qPrintable(QString::number(second->fetchedCount())));
    const int lines = limit < 0 ? Rows : limit;
    QCOMPARE(streamed.count("\r\n"), lines + 1);
    QCOMPARE(recordAfter, limit < 0 ? Rows - 1 : limit);
    const QByteArray lastName = "name \"" + QByteArray::number(lines) + "\", x";
    QVERIFY2(streamed.contains(lastName), lastName.constData());
    QVERIFY(!streamed.contains("name \"" + QByteArray::number(lines + 1) + "\", x"));
}

void tst_exporter::oldFileKept_data()
{
    QTest::addColumn<QString>("dsn");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("cancelIt");
    QTest::addColumn<qint64>("fileLimit"); // bytes a file may take; 0: no limit
    QTest::addColumn<QString>("error"); // part of the message; empty: no error

    QTest::newRow("sqlite cancelled") << Lite << all << true << qint64(0) << QString();
    QTest::newRow("pg cancelled") << Pg << all << true << qint64(0) << QString();
    QTest::newRow("sqlite walk fails")
        << Lite
        << "select ID, case when ID < 15000 then NAME else abs(-9223372036854775808) end from big"
        << false << qint64(0) << "integer overflow";
    QTest::newRow("pg walk fails")
        << Pg << "select ID, case when ID < 15000 then NAME else (1 / (ID - ID))::text end from big"
        << false << qint64(0) << "division by zero";
    QTest::newRow("sqlite disk full")
        << Lite << all << false << qint64(200 * 1024) << "Unable to write to ";
    QTest::newRow("pg disk full") << Pg << all << false << qint64(200 * 1024)
                                  << "Unable to write to ";
}

void tst_exporter::oldFileKept()
{
    QFETCH(QString, dsn);
    QFETCH(QString, sql);
    QFETCH(bool, cancelIt);
    QFETCH(qint64, fileLimit);
    QFETCH(QString, error);

    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("old.txt"));
    QByteArray old;
    for (int i = 0; i < 5000; ++i)
        old += char(i * 7 % 256);
    writeFile(path, old);

    auto query = open(dsn, sql);
    QWidget parent;
    const int savedDelay = exportProgressDelayMs;
    // Cancelled: the dialog shows with the first records; otherwise it never shows.
    exportProgressDelayMs = cancelIt ? 0 : std::numeric_limits<int>::max();
    QList<ModalScript::Answer> answers;
    if (cancelIt)
        answers << [](QWidget *modal) {
            auto *progress = qobject_cast<QProgressDialog *>(modal);
            QVERIFY(progress);
            progress->cancel();
        };
    ModalScript script(answers);
    QString message;
    bool completed = false;
    bool ended = false;
    {
        std::unique_ptr<FileSizeLimit> limit;
        if (fileLimit > 0)
            limit = std::make_unique<FileSizeLimit>(rlim_t(fileLimit));
        ExportRun run(*query, ExportFormat::CommaQuote, -1, false, path, &parent);
        run.start([&](bool written, std::exception_ptr error) {
            completed = written;
            ended = true;
            try {
                if (error)
                    std::rethrow_exception(error);
            } catch (const std::exception &caught) {
                message = QString::fromUtf8(caught.what());
            }
        });
        QTRY_VERIFY_WITH_TIMEOUT(ended, 60000);
    }
    exportProgressDelayMs = savedDelay;

    QVERIFY(!completed);
    QVERIFY(script.done());
    QCOMPARE(script.unexpected, 0);
    if (error.isEmpty())
        QVERIFY2(message.isEmpty(), qPrintable(message));
    else
        QVERIFY2(message.contains(error), qPrintable(message));
    if (fileLimit > 0)
        QVERIFY2(message.startsWith(QStringLiteral("Unable to write to %1: ").arg(path)),
            qPrintable(message));
    QVERIFY(readFile(path) == old);
    if (cancelIt) {
        // The rows fetched ahead of the cancelled walk were kept: the result goes on from
        // where it was, every row once and in order.
        QCOMPARE(query->CountRecords(), Rows);
        int wrong = -1;
        for (int record = 0; record < Rows && wrong < 0; ++record)
            if (query->text(record, 0) != QString::number(record + 1))
                wrong = record;
        QCOMPARE(wrong, -1);
    }
    // The temporary file went too.
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden),
        QStringList { QStringLiteral("old.txt") });
}

STELVIK_TEST_MAIN(tst_exporter)
#include "tst_exporter.moc"

void tst_exporter::spillFailsDuringWalk_data()
{
    QTest::addColumn<QString>("dsn");
    QTest::newRow("sqlite") << Lite;
    QTest::newRow("pg") << Pg;
}

void tst_exporter::spillFailsDuringWalk()
{
    // The rows pass a 1 MB budget and the disk takes no more than 256 KB of them while a walk
    // fetches ahead: the walk ends with the store's error, and every row stored stays readable.
    QFETCH(QString, dsn);
    std::unique_ptr<QueryDataset> query;
    {
        SettingsFile settings;
        settings.setValue(QStringLiteral("ResultMemoryMB"), 1);
        query = open(dsn, all);
        settings.remove(QStringLiteral("ResultMemoryMB"));
    }
    QByteArray text;
    QString message;
    try {
        const FileSizeLimit full(256 * 1024);
        buildExportText(*query, ExportFormat::CommaQuote, -1, text);
    } catch (const std::exception &caught) {
        message = QString::fromUtf8(caught.what());
    }
    QVERIFY2(message.contains(QLatin1String("cannot grow")), qPrintable(message));
    const int kept = query->fetchedCount();
    QVERIFY2(kept > 1000 && kept < Rows, qPrintable(QString::number(kept)));
    QVERIFY(query->allFetched());
    int wrong = -1;
    for (int record = 0; record < kept && wrong < 0; ++record)
        if (query->text(record, 0) != QString::number(record + 1))
            wrong = record;
    QCOMPARE(wrong, -1);
}
