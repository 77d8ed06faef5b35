#include "history/HistoryDb.h"
#include "history/HistoryRecorder.h"
#include "support/TestEnv.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

Q_DECLARE_METATYPE(RunOutcome)

namespace {

QStringList texts(const QList<HistoryRecord> &records)
{
    QStringList list;
    for (const HistoryRecord &record : records)
        list << record.text;
    return list;
}

HistoryRecord run(const QString &text, const QString &alias)
{
    HistoryRecord record;
    record.text = text + QStringLiteral("\r\n");
    record.alias = alias;
    record.startedMs = QDateTime::currentMSecsSinceEpoch();
    record.outcome = RunOutcome::Completed;
    return record;
}

// The helper program beside this test's build folder.
QString helperPath()
{
    return qEnvironmentVariable("STELVIK_BINARY_DIR")
        + QStringLiteral("/tests/history/historydb_helper");
}

// Starts the helper and waits until it prints `word` (after opening the database or taking its
// lock).
bool startHelper(QProcess &helper, const QStringList &arguments, const QByteArray &word)
{
    helper.start(helperPath(), arguments);
    if (!helper.waitForStarted())
        return false;
    QByteArray out;
    while (!out.contains(word)) {
        if (!helper.waitForReadyRead(30000))
            return false;
        out += helper.readAllStandardOutput();
    }
    return true;
}

} // namespace

class tst_historydb : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void recordsEachOutcome_data();
    void recordsEachOutcome();
    void importsOnceOnFirstStart();
    void search_data();
    void search();
    void keepLimit();
    void markerValues();
    void twoWritersAtOnce();
    void damagedFileMovedAside();
    void lockedLongerThanBusyTimeout();
    void folderCannotBeCreated();
    void readOnlyFile();
    void ownerOnly_data();
    void ownerOnly();

private:
    QString m_path;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_historydb::init()
{
    m_dir = std::make_unique<QTemporaryDir>(TestEnv::root() + QStringLiteral("/db-XXXXXX"));
    QVERIFY(m_dir->isValid());
    m_path = m_dir->filePath(QStringLiteral("history.db"));
}

void tst_historydb::recordsEachOutcome_data()
{
    QTest::addColumn<RunOutcome>("outcome");
    QTest::addColumn<bool>("ended");
    QTest::addColumn<qint64>("count");
    QTest::addColumn<QString>("error");
    QTest::newRow("completed, counted")
        << RunOutcome::Completed << true << qint64(1234) << QString();
    QTest::newRow("completed") << RunOutcome::Completed << true << qint64(-1) << QString();
    QTest::newRow("error") << RunOutcome::Error << true << qint64(-1)
                           << QStringLiteral("no such table: missing\nsecond line");
    QTest::newRow("abandoned") << RunOutcome::Abandoned << true << qint64(-1) << QString();
    QTest::newRow("cancelled") << RunOutcome::Cancelled << true << qint64(-1) << QString();
    QTest::newRow("never ended") << RunOutcome::Running << false << qint64(-1) << QString();
}

void tst_historydb::recordsEachOutcome()
{
    QFETCH(RunOutcome, outcome);
    QFETCH(bool, ended);
    QFETCH(qint64, count);
    QFETCH(QString, error);

    const qint64 started = QDateTime::currentMSecsSinceEpoch();
    {
        HistoryRecorder recorder;
        recorder.open(m_path, 100, 5000);
        QVERIFY(!recorder.imported());
        QSignalSpy failed(&recorder, &HistoryRecorder::failed);
        const qint64 earlier =
            recorder.runStarted(QStringLiteral("select 0\r\n"), QStringLiteral("x"), 1);
        recorder.runEnded(earlier, 5, RunOutcome::Completed);
        const qint64 key = recorder.runStarted(
            QStringLiteral("select *\r\nfrom t\r\n"), QStringLiteral("db2t301"), started);
        QVERIFY(key != 0);
        if (ended)
            recorder.runEnded(key, 42, outcome, error);
        if (count >= 0)
            recorder.runCounted(key, count);
        QVERIFY(recorder.flush(30000));
        QCOMPARE(failed.count(), 0);
    }
    HistoryDb db(m_path);
    const QList<HistoryRecord> records = db.search(QString(), 10);
    QCOMPARE(records.size(), 2);
    const HistoryRecord &record = records.first();
    QCOMPARE(record.text, QStringLiteral("select *\r\nfrom t\r\n"));
    QCOMPARE(record.alias, QStringLiteral("DB2T301"));
    QCOMPARE(record.startedMs, started);
    QCOMPARE(record.elapsedMs, ended ? qint64(42) : qint64(-1));
    QCOMPARE(record.recordCount, count);
    QCOMPARE(record.outcome, outcome);
    QCOMPARE(record.errorText, error);
    QVERIFY(record.displayLine().endsWith(
        QStringLiteral(" | DB2T301 | %1 | select *").arg(HistoryRecord::outcomeName(outcome))));
    QCOMPARE(records.last().outcome, RunOutcome::Completed);
}

void tst_historydb::importsOnceOnFirstStart()
{
    int calls = 0;
    const auto settingsHistory = [&] {
        ++calls;
        return QStringList { QStringLiteral("select oldest\r\n"),
            QStringLiteral("select middle\r\n"), QStringLiteral("select newest\r\nfrom t\r\n") };
    };
    {
        HistoryDb db(m_path, 5000, settingsHistory);
        QVERIFY(db.imported());
        const QList<HistoryRecord> records = db.search(QString(), 10);
        QCOMPARE(texts(records),
            QStringList(
                { "select newest\r\nfrom t\r\n", "select middle\r\n", "select oldest\r\n" }));
        for (const HistoryRecord &record : records) {
            QCOMPARE(record.startedMs, qint64(-1));
            QVERIFY(record.alias.isEmpty());
            QCOMPARE(record.outcome, RunOutcome::Unknown);
        }
        QCOMPARE(records.first().displayLine(), QStringLiteral("- | - | - | select newest"));
        db.insert(run(QStringLiteral("select new"), QStringLiteral("A")), 100);
    }
    HistoryDb again(m_path, 5000, settingsHistory);
    QVERIFY(!again.imported());
    QCOMPARE(calls, 1);
    QCOMPARE(again.count(), qint64(4));
    QCOMPARE(again.search(QString(), 1).first().text, QStringLiteral("select new\r\n"));
}

void tst_historydb::search_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QList<int>>("expected"); // rows of the table below, newest first

    QTest::newRow("word") << "orders" << QList<int> { 2, 1 };
    QTest::newRow("prefix") << "ord" << QList<int> { 2, 1 };
    QTest::newRow("one letter") << "t" << QList<int> { 3, 2, 0 };
    QTest::newRow("every word must match") << "sel ord" << QList<int> { 2 };
    QTest::newRow("any case") << "SEL EMP" << QList<int> { 0 };
    QTest::newRow("underscore word") << "emp_no" << QList<int> { 0 };
    QTest::newRow("underscore word's prefix") << "emp_" << QList<int> { 0 };
    QTest::newRow("inside an underscore word is no match") << "no" << QList<int> { 3 };
    QTest::newRow("qualified name") << "t301dba.emp" << QList<int> { 0 };
    QTest::newRow("quoted") << "\"orders\"" << QList<int> { 2, 1 };
    QTest::newRow("inside a word is no match") << "rders" << QList<int> {};
    QTest::newRow("no match") << "zebra" << QList<int> {};
    QTest::newRow("alias") << "alias:db2t301" << QList<int> { 2, 0 };
    QTest::newRow("alias and word") << "count alias:DB2T301" << QList<int> { 2 };
    QTest::newRow("alias elsewhere") << "alias:sample orders" << QList<int> {};
    QTest::newRow("unknown alias") << "alias:nothing" << QList<int> {};
    QTest::newRow("punctuation only lists all") << "*" << QList<int> { 4, 3, 2, 1, 0 };
    QTest::newRow("non-ASCII") << "caf" << QList<int> { 3 };
    // Letters beyond the index's tables are found as typed, anywhere, in any case.
    QTest::newRow("newer letter") << "\uA7AF" << QList<int> { 4 };
    QTest::newRow("newer letters, other case") << "\u026A\uA7AF" << QList<int> { 4 };
    QTest::newRow("old letter, newer capital") << "\u026A" << QList<int> { 4 };
    QTest::newRow("letter the index drops") << "\u19B1" << QList<int> { 4 };
    QTest::newRow("newer letter and a word") << "sel \uA7B0" << QList<int> { 4 };
    QTest::newRow("newer letter and a word elsewhere") << "orders \uA7AF" << QList<int> {};
    QTest::newRow("newer letter and alias") << "alias:db2p201 \uA7AE" << QList<int> { 4 };
}

void tst_historydb::search()
{
    QFETCH(QString, query);
    QFETCH(QList<int>, expected);
    const QStringList statements { QStringLiteral("select emp_no, name from T301DBA.employees"),
        QStringLiteral("update P201DBA.orders set qty = 1"),
        QStringLiteral("select count(*) from T301DBA.orders"),
        QStringLiteral("delete from temp_table where note = 'Café'"),
        QStringLiteral("select '\uA7AE\uA7AF\uA7B0', '\u19B0\u19B1' as k") };
    const QStringList aliases { QStringLiteral("DB2T301"), QStringLiteral("DB2P201"),
        QStringLiteral("db2t301"), QStringLiteral("SAMPLE"), QStringLiteral("DB2P201") };
    HistoryDb db(m_path);
    for (int i = 0; i < statements.size(); ++i)
        db.insert(run(statements.at(i), aliases.at(i)), 100);
    QStringList wanted;
    for (int row : expected)
        wanted << statements.at(row) + QStringLiteral("\r\n");
    QCOMPARE(texts(db.search(query, 100)), wanted);
    // The limit keeps the newest.
    if (wanted.size() > 1)
        QCOMPARE(texts(db.search(query, 1)), wanted.mid(0, 1));
}

void tst_historydb::keepLimit()
{
    HistoryDb db(m_path);
    for (int i = 1; i <= 7; ++i)
        db.insert(run(QStringLiteral("select word%1").arg(i), QStringLiteral("A")), 3);
    QCOMPARE(db.count(), qint64(3));
    QCOMPARE(texts(db.search(QStringLiteral("select"), 100)),
        QStringList({ "select word7\r\n", "select word6\r\n", "select word5\r\n" }));
    // The index forgets the dropped runs too.
    QVERIFY(db.search(QStringLiteral("word1"), 100).isEmpty());
    QVERIFY(db.search(QStringLiteral("word4"), 100).isEmpty());
    // A smaller limit later drops more at the next run; a bulk load keeps it as well.
    db.insert(run(QStringLiteral("select word8"), QStringLiteral("A")), 2);
    QCOMPARE(
        texts(db.search(QString(), 100)), QStringList({ "select word8\r\n", "select word7\r\n" }));
    QList<HistoryRecord> many;
    for (int i = 0; i < 10; ++i)
        many << run(QStringLiteral("select bulk%1").arg(i), QStringLiteral("B"));
    db.insertMany(many, 4);
    QCOMPARE(db.count(), qint64(4));
    QCOMPARE(db.search(QString(), 1).first().text, QStringLiteral("select bulk9\r\n"));
}

void tst_historydb::twoWritersAtOnce()
{
    constexpr int perWriter = 300;
    HistoryRecorder recorder;
    recorder.open(m_path, HistoryDb::DefaultKeep, HistoryDb::DefaultBusyTimeoutMs);
    QSignalSpy failed(&recorder, &HistoryRecorder::failed);
    QProcess helper;
    QVERIFY(startHelper(helper,
        { m_path, QStringLiteral("record"), QString::number(perWriter), QStringLiteral("other") },
        "ready"));
    helper.write("go\n");
    for (int i = 0; i < perWriter; ++i) {
        const qint64 key = recorder.runStarted(
            QStringLiteral("select mine %1\r\n").arg(i), QStringLiteral("MINE"), i);
        recorder.runEnded(key, 1, RunOutcome::Completed);
    }
    QVERIFY(helper.waitForFinished(60000));
    QCOMPARE(helper.exitCode(), 0);
    QVERIFY(recorder.flush(60000));
    QCOMPARE(failed.count(), 0);

    HistoryDb db(m_path);
    QCOMPARE(db.count(), qint64(2 * perWriter));
    const QList<HistoryRecord> mine = db.search(QStringLiteral("mine alias:mine"), 1000);
    QCOMPARE(mine.size(), perWriter);
    for (const HistoryRecord &record : mine)
        QCOMPARE(record.outcome, RunOutcome::Completed);
    QCOMPARE(db.search(QStringLiteral("other alias:helper"), 1000).size(), perWriter);
}

void tst_historydb::damagedFileMovedAside()
{
    QByteArray garbage;
    for (int i = 0; i < 200; ++i)
        garbage += "this is no database at all ";
    {
        QFile file(m_path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(garbage);
    }
    HistoryRecorder recorder;
    try {
        recorder.open(
            m_path, 100, 5000, [] { return QStringList { QStringLiteral("select 1\r\n") }; });
        QFAIL("a damaged file was opened");
    } catch (const HistoryDbError &error) {
        QVERIFY(error.corrupt);
        QVERIFY2(
            QString::fromUtf8(error.what()).contains(QStringLiteral("moved to")), error.what());
    }
    QVERIFY(!recorder.isOpen());
    QVERIFY(!QFile::exists(m_path));
    const QStringList aside =
        QDir(m_dir->path()).entryList({ QStringLiteral("history.db.damaged-*") }, QDir::Files);
    QCOMPARE(aside.size(), 1);
    QFile moved(m_dir->filePath(aside.first()));
    QVERIFY(moved.open(QIODevice::ReadOnly));
    QCOMPARE(moved.readAll(), garbage);

    // The next start finds no database: a new one, with the settings history imported.
    recorder.open(m_path, 100, 5000, [] { return QStringList { QStringLiteral("select 1\r\n") }; });
    QVERIFY(recorder.imported());
    QCOMPARE(recorder.search(QString(), 10).size(), 1);
}

void tst_historydb::lockedLongerThanBusyTimeout()
{
    HistoryRecorder recorder;
    recorder.open(m_path, 100, 200);
    QSignalSpy failed(&recorder, &HistoryRecorder::failed);
    QVERIFY(recorder.flush(30000)); // the writer's connection is open

    // While another process holds the write lock, opening only reads and succeeds; a write
    // waits for the busy timeout and then fails, damaging nothing.
    QProcess locker;
    QVERIFY(startHelper(locker, { m_path, QStringLiteral("lock") }, "locked"));
    {
        HistoryDb second(m_path, 200);
        try {
            second.insert(run(QStringLiteral("select 0"), QStringLiteral("A")), 100);
            QFAIL("wrote to a locked database");
        } catch (const HistoryDbError &error) {
            QVERIFY(!error.corrupt);
        }
    }

    const qint64 key = recorder.runStarted(QStringLiteral("select 1\r\n"), QStringLiteral("A"), 1);
    recorder.runEnded(key, 1, RunOutcome::Completed);
    QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 30000);
    QVERIFY(!recorder.isOpen());
    QCOMPARE(
        recorder.runStarted(QStringLiteral("select 2\r\n"), QStringLiteral("A"), 2), qint64(0));
    locker.write("done\n");
    QVERIFY(locker.waitForFinished(30000));
    QCOMPARE(failed.count(), 1);
    QVERIFY(QFile::exists(m_path));
    HistoryDb db(m_path);
    QCOMPARE(db.count(), qint64(0));
}

void tst_historydb::folderCannotBeCreated()
{
    const QString blocker = m_dir->filePath(QStringLiteral("file"));
    {
        QFile file(blocker);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    HistoryRecorder recorder;
    try {
        recorder.open(blocker + QStringLiteral("/history.db"), 100, 200);
        QFAIL("opened a database below a file");
    } catch (const HistoryDbError &error) {
        QVERIFY(!error.corrupt);
    }
    QVERIFY(!recorder.isOpen());
    QCOMPARE(recorder.runStarted(QStringLiteral("select 1\r\n"), QString(), 1), qint64(0));
}

void tst_historydb::readOnlyFile()
{
    {
        HistoryDb db(m_path);
        db.insert(run(QStringLiteral("select 1"), QStringLiteral("A")), 100);
        db.insert(run(QStringLiteral("select 2"), QStringLiteral("A")), 100);
    }
    // Root writes to any file whose mode forbids it, but not to an immutable one.
    const bool root = ::geteuid() == 0;
    const auto setReadOnly = [&](bool on) {
        if (root)
            return QProcess::execute(QStringLiteral("chattr"),
                       { on ? QStringLiteral("+i") : QStringLiteral("-i"), m_path })
                == 0;
        return QFile::setPermissions(
            m_path, on ? QFile::ReadOwner : QFile::ReadOwner | QFile::WriteOwner);
    };
    QVERIFY(setReadOnly(true));
    auto undo = qScopeGuard([&] { setReadOnly(false); });
    const QByteArray before = [&] {
        QFile file(m_path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    HistoryRecorder recorder;
    try {
        recorder.open(m_path, 100, 200);
        QFAIL("opened a read-only file for recording");
    } catch (const HistoryDbError &error) {
        QVERIFY(!error.corrupt);
        QVERIFY2(
            QString::fromUtf8(error.what()).contains(QStringLiteral("read-only")), error.what());
    }
    QVERIFY(!recorder.isOpen());
    QFile file(m_path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), before);
    undo.dismiss();
    QVERIFY(setReadOnly(false));
    QCOMPARE(HistoryDb(m_path).count(), qint64(2));
}

void tst_historydb::ownerOnly_data()
{
    QTest::addColumn<int>("folderMode"); // of an existing folder; -1: no folder yet
    QTest::addColumn<int>("fileMode"); // of an existing database, -wal and -shm; -1: none
    QTest::newRow("fresh") << -1 << -1;
    QTest::newRow("existing 0644 database, -wal and -shm") << -1 << 0644;
    QTest::newRow("existing 0755 folder") << 0755 << -1;
}

void tst_historydb::ownerOnly()
{
    // Every statement ever run is in these files: only their owner may read them, whatever the
    // umask, and a file or folder left wider by an earlier version is brought back.
    QFETCH(int, folderMode);
    QFETCH(int, fileMode);
    const QByteArray folder = QFile::encodeName(m_dir->filePath(QStringLiteral("data")));
    const QByteArray path = folder + "/history.db";
    const auto mode = [](const QByteArray &file) {
        struct stat info;
        return ::stat(file.constData(), &info) == 0 ? int(info.st_mode & 0777) : -1;
    };
    const mode_t umaskBefore = ::umask(0);
    auto restore = qScopeGuard([&] { ::umask(umaskBefore); });
    std::unique_ptr<HistoryDb> earlier; // holds -wal and -shm open while the next one opens
    if (fileMode >= 0) {
        earlier = std::make_unique<HistoryDb>(QFile::decodeName(path));
        earlier->insert(run(QStringLiteral("select earlier"), QStringLiteral("A")), 100);
        for (const char *suffix : { "", "-wal", "-shm" })
            QCOMPARE(::chmod((path + suffix).constData(), mode_t(fileMode)), 0);
    }
    if (folderMode >= 0) // with no umask: exactly that mode
        QCOMPARE(::mkdir(folder.constData(), mode_t(folderMode)), 0);
    HistoryDb db(QFile::decodeName(path));
    db.insert(run(QStringLiteral("select now"), QStringLiteral("A")), 100);
    QCOMPARE(mode(folder), 0700);
    for (const char *suffix : { "", "-wal", "-shm" })
        QCOMPARE(mode(path + suffix), 0600);
    QCOMPARE(db.count(), qint64(fileMode >= 0 ? 2 : 1));
}

STELVIK_TEST_GUILESS_MAIN(tst_historydb)
#include "tst_historydb.moc"

// The values a statement's markers took are kept with its run: the newest run of the same
// statement gives them back whatever its white space, a name offers its values newest first and
// each once, the list shows them, and runs beyond the limit take theirs along.
void tst_historydb::markerValues()
{
    {
        // A file as the version before kept it: no table for the values yet.
        HistoryDb made(m_path);
        HistoryRecord old;
        old.text = QStringLiteral("SELECT 0\r\n");
        made.insert(old, 0);
    }
    sqlite3 *raw = nullptr;
    QCOMPARE(sqlite3_open(m_path.toUtf8().constData(), &raw), SQLITE_OK);
    QCOMPARE(sqlite3_exec(raw,
                 "DROP TRIGGER entries_parameters_ad; DROP TABLE parameters; PRAGMA user_version=1",
                 nullptr, nullptr, nullptr),
        SQLITE_OK);
    sqlite3_close(raw);

    HistoryDb db(m_path);
    QCOMPARE(db.count(), 1);
    const auto run = [&](const QString &text, QVector<HistoryParameter> values, int keep = 0) {
        HistoryRecord record;
        record.text = text;
        record.parameters = std::move(values);
        return db.insert(record, keep);
    };
    const QString note =
        QStringLiteral("SELECT NOTE FROM single WHERE NOTE = :note AND N = :n\r\n");
    run(note, { { ":note", false, "first" }, { ":n", false, "1" } });
    run(QStringLiteral("SELECT 1 FROM t WHERE a = :note\r\n"), { { ":note", false, "other" } });
    run(note, { { ":note", false, "it's" }, { ":n", true, {} } });
    run(QStringLiteral("SELECT 2\r\n"), {});
    run(QStringLiteral("SELECT 3 FROM t WHERE a = :note\r\n"), { { ":note", false, "first" } });

    const QVector<HistoryParameter> last =
        db.lastValues(QStringLiteral("SELECT NOTE  FROM single\nWHERE NOTE = :note AND N = :n"));
    QCOMPARE(last.size(), 2);
    QCOMPARE(last[0].value, QStringLiteral("it's"));
    QVERIFY(last[1].isNull);
    QVERIFY(db.lastValues(QStringLiteral("SELECT 2")).isEmpty());
    QCOMPARE(db.recentValues(QStringLiteral(":note")), (QStringList { "first", "it's", "other" }));
    QCOMPARE(db.recentValues(QStringLiteral(":note"), 1), QStringList { "first" });

    const QList<HistoryRecord> shown = db.search(QStringLiteral("single"), 10);
    QCOMPARE(shown.size(), 2);
    QVERIFY2(
        shown.first().displayLine().endsWith(QStringLiteral("with :note = 'it''s', :n = NULL")),
        qPrintable(shown.first().displayLine()));

    run(QStringLiteral("SELECT 4\r\n"), {}, 1); // keeps only this run
    QVERIFY(db.lastValues(note).isEmpty());
    QVERIFY(db.recentValues(QStringLiteral(":note")).isEmpty());
}
