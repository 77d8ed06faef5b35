#include "app/Unit1.h"
#include "history/HistoryDb.h"
#include "history/HistoryStore.h"
#include "support/ConnectWait.h"
#include "support/ModalScript.h"
#include "support/PgServer.h"
#include "support/SettingsFile.h"
#include "support/TestEnv.h"
#include "support/WindowFixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTabWidget>
#include <QToolButton>
#include <QtTest>

Q_DECLARE_METATYPE(RunOutcome)

namespace {

enum class Ending { Waited, CloseQuery, WindowClosed };

void removeDatabase()
{
    for (const char *suffix : { "", "-wal", "-shm" })
        QFile::remove(HistoryDb::defaultPath() + QLatin1String(suffix));
}

QStringList itemTexts(const QComboBox *box)
{
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    return items;
}

} // namespace
Q_DECLARE_METATYPE(Ending)

class tst_historysearch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void outcomesFromTheWindow_data();
    void outcomesFromTheWindow();
    void searchField();
    void importAtFirstStart();
    void damagedDatabaseAtStart();
    void keepSetting_data();
    void keepSetting();
    void longStatement_data();
    void longStatement();

private:
    void newWindow();
    void start(QToolButton *button, const QString &sql);
    bool waitIdle() const;
    // The newest run of the database, once the window's writer has stored what it was given.
    HistoryRecord newestRun();
    QLineEdit *search() const { return m_form.child<QLineEdit>("HistorySearch"); }
    QComboBox *list() const { return m_form.child<QComboBox>("ComboBox2"); }
    QPlainTextEdit *fullText() const { return m_form.child<QPlainTextEdit>("HistFullSQL"); }
    QToolButton *button(const char *name) const { return m_form.child<QToolButton>(name); }

    WindowFixture m_form;
};

void tst_historysearch::initTestCase()
{
    TestEnv::addSqliteDsn(QStringLiteral("HSLITE"),
        { QStringLiteral("create table t(id integer, name varchar(20))"),
            QStringLiteral("insert into t values (1, 'one'), (2, 'two'), (3, 'three')"),
            QStringLiteral("create table log(note varchar(20))") });
}

void tst_historysearch::init()
{
    newWindow();
}

void tst_historysearch::cleanup()
{
    m_form.close();
    SettingsFile().remove(QStringLiteral("HistoryKeep"));
}

void tst_historysearch::newWindow()
{
    QVERIFY(m_form.open());
    m_form->setDBParms(PgServer::loginText(QStringLiteral("u"), QStringLiteral("p")));
}

void tst_historysearch::start(QToolButton *runOrExec, const QString &sql)
{
    m_form->setEditorText(sql);
    QVERIFY(connectAndWait(*m_form, QStringLiteral("HSLITE"))); // the click starts the worker
    m_form.chooseAlias(QStringLiteral("hslite"));
    runOrExec->click();
}

bool tst_historysearch::waitIdle() const
{
    return m_form.waitIdle(30000);
}

HistoryRecord tst_historysearch::newestRun()
{
    if (m_form.form() && m_form->historyDatabase())
        [&] { QVERIFY(m_form->historyDatabase()->flush(30000)); }();
    HistoryDb db(HistoryDb::defaultPath());
    const QList<HistoryRecord> runs = db.search(QString(), 1);
    return runs.isEmpty() ? HistoryRecord() : runs.first();
}

void tst_historysearch::outcomesFromTheWindow_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("exec");
    QTest::addColumn<bool>("count");
    QTest::addColumn<Ending>("ending");
    QTest::addColumn<RunOutcome>("outcome");
    QTest::addColumn<qint64>("records");
    QTest::addColumn<QString>("error");

    const QString select = QStringLiteral("select id, name\r\nfrom t");
    QTest::newRow("select") << select << false << false << Ending::Waited << RunOutcome::Completed
                            << qint64(-1) << QString();
    QTest::newRow("select counted") << select << false << true << Ending::Waited
                                    << RunOutcome::Completed << qint64(3) << QString();
    QTest::newRow("exec") << "insert into log values ('x')" << true << false << Ending::Waited
                          << RunOutcome::Completed << qint64(-1) << QString();
    QTest::newRow("error") << "select nope from missing" << false << false << Ending::Waited
                           << RunOutcome::Error << qint64(-1) << "no such table";
    QTest::newRow("abandoned by Close Query") << select << false << false << Ending::CloseQuery
                                              << RunOutcome::Abandoned << qint64(-1) << QString();
    QTest::newRow("cancelled by closing the window")
        << select << false << false << Ending::WindowClosed << RunOutcome::Cancelled << qint64(-1)
        << QString();
}

void tst_historysearch::outcomesFromTheWindow()
{
    QFETCH(QString, sql);
    QFETCH(bool, exec);
    QFETCH(bool, count);
    QFETCH(Ending, ending);
    QFETCH(RunOutcome, outcome);
    QFETCH(qint64, records);
    QFETCH(QString, error);

    m_form.child<QCheckBox>("CheckBox1")->setChecked(count);
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    ModalScript errorBox(outcome == RunOutcome::Error
            ? QList<ModalScript::Answer> { ModalScript::press(QMessageBox::Ok) }
            : QList<ModalScript::Answer> {});
    start(button(exec ? "SpeedButton2" : "SpeedButton1"), sql);
    QVERIFY(m_form->CurrentThread);
    // The hand-back of the worker needs the event loop: the run cannot have ended yet.
    if (ending == Ending::CloseQuery)
        button("SpeedButton4")->click();
    else if (ending == Ending::WindowClosed)
        m_form.close();
    else
        QVERIFY(waitIdle());
    const qint64 after = QDateTime::currentMSecsSinceEpoch();
    QVERIFY(errorBox.done());
    QCOMPARE(errorBox.unexpected, 0);

    const HistoryRecord run = newestRun();
    QCOMPARE(run.text, HistoryStore::joinLines(HistoryStore::splitLines(sql)));
    QCOMPARE(run.alias, QStringLiteral("HSLITE"));
    QVERIFY(run.startedMs >= before && run.startedMs <= after);
    QVERIFY(run.elapsedMs >= 0 && run.elapsedMs <= after - before + 1);
    QCOMPARE(run.outcome, outcome);
    QCOMPARE(run.recordCount, records);
    if (error.isEmpty())
        QVERIFY(run.errorText.isEmpty());
    else
        QVERIFY2(run.errorText.contains(error), qPrintable(run.errorText));
}

void tst_historysearch::searchField()
{
    m_form.close();
    removeDatabase();
    SettingsFile().clear();
    {
        HistoryDb db(HistoryDb::defaultPath());
        const std::pair<const char *, const char *> runs[] = {
            { "select emp_no\r\nfrom T301DBA.employees\r\n", "DB2T301" },
            { "update P201DBA.orders set qty = 1\r\n", "DB2P201" },
            { "select count(*) from T301DBA.orders\r\n", "DB2T301" },
        };
        for (const auto &[text, alias] : runs) {
            HistoryRecord record;
            record.text = QLatin1String(text);
            record.alias = QLatin1String(alias);
            record.startedMs = QDateTime::currentMSecsSinceEpoch();
            record.outcome = RunOutcome::Completed;
            db.insert(record, 100);
        }
    }
    newWindow();
    m_form->AddToHistory({ QStringLiteral("select settings"), QStringLiteral("from two") });
    m_form->AddToHistory({ QStringLiteral("select settings one") });
    const QStringList partList = itemTexts(list());

    // Above the entry list, empty at first: the page shows the settings history.
    QCOMPARE(search()->placeholderText(), QStringLiteral("Search history"));
    QVERIFY(search()->text().isEmpty());
    QCOMPARE(search()->parentWidget()->objectName(), QStringLiteral("TabSheet3"));
    m_form.child<QTabWidget>("PageControl1")->setCurrentIndex(2);
    const QWidget *panel = m_form.child<QWidget>("Panel1");
    QVERIFY(search()->geometry().bottom() < panel->geometry().top());
    QCOMPARE(partList, QStringList({ "select settings one", "select settings" }));

    QTest::keyClicks(search(), QStringLiteral("ord"));
    const QRegularExpression line(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d \\| "
                                                 "(DB2T301|DB2P201) \\| completed \\| (.*)$"));
    QStringList firstLines;
    for (const QString &item : itemTexts(list())) {
        const QRegularExpressionMatch match = line.match(item);
        QVERIFY2(match.hasMatch(), qPrintable(item));
        firstLines << match.captured(2);
    }
    QCOMPARE(firstLines,
        QStringList(
            { "select count(*) from T301DBA.orders", "update P201DBA.orders set qty = 1" }));
    QCOMPARE(list()->currentIndex(), 0);
    QCOMPARE(fullText()->toPlainText(), QStringLiteral("select count(*) from T301DBA.orders"));

    // Words and prefixes, an alias; the memo shows the pick.
    search()->setText(QStringLiteral("sel alias:db2t301"));
    QCOMPARE(list()->count(), 2);
    list()->setCurrentIndex(1);
    emit list()->activated(1);
    QCOMPARE(fullText()->toPlainText(), QStringLiteral("select emp_no\nfrom T301DBA.employees"));

    // Print and Make this the current query work on the shown entry.
    const QString pdf = TestEnv::root() + QStringLiteral("/history.pdf");
    QPrinter printer;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    m_form->setOptions({ false, &printer });
    button("SpeedButton11")->click();
    m_form->setOptions(WindowFixture::options());
    QProcess text;
    text.start(QStringLiteral("pdftotext"), { pdf, QStringLiteral("-") });
    QVERIFY(text.waitForFinished(30000));
    QVERIFY(text.readAllStandardOutput().contains("from T301DBA.employees"));
    button("SpeedButton10")->click();
    QCOMPARE(m_form->EditorText(), QStringLiteral("select emp_no\r\nfrom T301DBA.employees\r\n"));
    QVERIFY(m_form->QueryChanged);
    QCOMPARE(m_form.child<QTabWidget>("PageControl1")->currentIndex(), 0);

    // Nothing matches: nothing is shown, so both buttons have nothing to act on.
    search()->setText(QStringLiteral("zebra"));
    QCOMPARE(list()->count(), 0);
    QCOMPARE(list()->currentIndex(), -1);
    QVERIFY(fullText()->toPlainText().isEmpty());
    m_form->setEditorText(QStringLiteral("kept"));
    button("SpeedButton10")->click();
    QCOMPARE(m_form->EditorText(), QStringLiteral("kept\r\n"));

    // A run while a search is typed joins the list once it is stored, with its outcome.
    search()->setText(QStringLiteral("hsmarker"));
    m_form->QueryChanged = false;
    start(button("SpeedButton1"), QStringLiteral("select id as hsmarker from t"));
    QVERIFY(waitIdle());
    QTRY_COMPARE(itemTexts(list()).size(), 1);
    QTRY_VERIFY2(list()->itemText(0).endsWith(
                     QStringLiteral("| HSLITE | completed | select id as hsmarker from t")),
        qPrintable(list()->itemText(0)));

    // Emptied, the field gives back the page as it always was.
    search()->clear();
    QCOMPARE(itemTexts(list()),
        QStringList({ "select id as hsmarker from t", "select settings one", "select settings" }));
    QCOMPARE(list()->currentIndex(), 0);
    QCOMPARE(fullText()->toPlainText(), QStringLiteral("select id as hsmarker from t"));
}

void tst_historysearch::importAtFirstStart()
{
    m_form.close();
    removeDatabase();
    {
        SettingsFile settings;
        settings.clear();
        settings.setValue(QStringLiteral("History0"), QStringLiteral("select newest"));
        settings.setValue(QStringLiteral("History1"), QStringLiteral("select older\nfrom t"));
    }
    newWindow();
    QVERIFY(m_form->historyDatabase());
    QVERIFY(m_form->historyDatabase()->imported());
    const QString place = HistoryDb::defaultPath(); // for its owner alone, with its folder
    for (const QString &file : { QFileInfo(place).path(), place, place + "-wal", place + "-shm" })
        QVERIFY2(
            QFile::exists(file) && !(QFile::permissions(file).toInt() & 0x77), qPrintable(file));
    search()->setText(QStringLiteral("sel"));
    QCOMPARE(itemTexts(list()),
        QStringList({ "- | - | - | select newest", "- | - | - | select older" }));
    list()->setCurrentIndex(1);
    emit list()->activated(1);
    QCOMPARE(fullText()->toPlainText(), QStringLiteral("select older\nfrom t"));

    // Imported once: the next start finds the database.
    newWindow();
    QVERIFY(!m_form->historyDatabase()->imported());
    HistoryDb db(HistoryDb::defaultPath());
    QCOMPARE(db.count(), qint64(2));
}

void tst_historysearch::damagedDatabaseAtStart()
{
    m_form.close();
    removeDatabase();
    const QByteArray garbage = QByteArray("not a database, not at all. ").repeated(100);
    {
        QFile file(HistoryDb::defaultPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(garbage);
        SettingsFile settings;
        settings.clear();
        settings.setValue(QStringLiteral("History0"), QStringLiteral("select kept"));
    }
    QString message;
    {
        ModalScript once({ ModalScript::note(&message) });
        newWindow();
        QVERIFY(once.done());
    }
    QVERIFY2(
        message.contains(QStringLiteral("history database cannot be used")), qPrintable(message));
    QVERIFY(!m_form->historyDatabase());
    // Moved aside, never deleted.
    QVERIFY(!QFile::exists(HistoryDb::defaultPath()));
    const QFileInfo place(HistoryDb::defaultPath());
    const QStringList aside =
        place.dir().entryList({ place.fileName() + QStringLiteral(".damaged-*") }, QDir::Files);
    QCOMPARE(aside.size(), 1);
    QVERIFY(message.contains(aside.first()));
    QFile moved(place.dir().filePath(aside.first()));
    QVERIFY(moved.open(QIODevice::ReadOnly));
    QCOMPARE(moved.readAll(), garbage);

    // The settings history runs on, searched without the database; no second message comes.
    ModalScript none;
    start(button("SpeedButton1"), QStringLiteral("select name from t"));
    QVERIFY(waitIdle());
    QCOMPARE(m_form->HistoryList.size(), 2);
    {
        SettingsFile settings;
        QCOMPARE(settings.value(QStringLiteral("History1")).toString(),
            QStringLiteral("select kept\r\n"));
    }
    search()->setText(QStringLiteral("sel na"));
    QCOMPARE(itemTexts(list()), QStringList({ "- | - | - | select name from t" }));
    QCOMPARE(none.unexpected, 0);
    QVERIFY(none.seen.isEmpty());

    // The next start begins a new database from the settings history.
    newWindow();
    QVERIFY(m_form->historyDatabase());
    QVERIFY(m_form->historyDatabase()->imported());
}

void tst_historysearch::keepSetting_data()
{
    QTest::addColumn<QVariant>("setting");
    QTest::addColumn<qint64>("kept"); // of 5 runs
    QTest::addColumn<QString>("message");
    QTest::newRow("three") << QVariant(QStringLiteral("3")) << qint64(3) << QString();
    QTest::newRow("missing") << QVariant() << qint64(5) << QString();
    const QString bad = QStringLiteral(
        "The setting HistoryKeep is not a whole number above 0: \"%1\". The history keeps "
        "100000 entries.");
    QTest::newRow("not a number") << QVariant(QStringLiteral("many")) << qint64(5)
                                  << bad.arg(QStringLiteral("many"));
    QTest::newRow("zero") << QVariant(QStringLiteral("0")) << qint64(5) << bad.arg(0);
}

void tst_historysearch::keepSetting()
{
    QFETCH(QVariant, setting);
    QFETCH(qint64, kept);
    QFETCH(QString, message);
    m_form.close();
    removeDatabase();
    {
        SettingsFile settings;
        settings.clear();
        if (setting.isValid())
            settings.setValue(QStringLiteral("HistoryKeep"), setting);
    }
    {
        ModalScript once(message.isEmpty() ? QList<ModalScript::Answer> {}
                                           : QList<ModalScript::Answer> { ModalScript::accept() });
        newWindow();
        QVERIFY(once.done());
        QCOMPARE(once.unexpected, 0);
        if (!message.isEmpty())
            QCOMPARE(once.seen.first().text, message);
    }
    for (int i = 1; i <= 5; ++i) {
        m_form->setEditorText(QStringLiteral("select %1").arg(i));
        m_form->historyRunStarted(QStringLiteral("A"));
        m_form->historyRunAbandoned();
    }
    QCOMPARE(newestRun().text, QStringLiteral("select 5\r\n"));
    HistoryDb db(HistoryDb::defaultPath());
    QCOMPARE(db.count(), kept);
}

void tst_historysearch::longStatement_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown"); // the list entry's statement part
    const QString in =
        "select name from t where id in (" + QStringLiteral("1, ").repeated(70000) + "0)";
    const QString cut = in.left(1000) + QChar(0x2026);
    QTest::newRow("settings list") << QString() << in << cut;
    QTest::newRow("search") << "sel" << in << cut;
    QTest::newRow("search, long second line") << "t"
                                              << "select *\r\n" + in << "select *";
}

void tst_historysearch::longStatement()
{
    // The list shows a cut first line, as a grid cell is cut; the memo, and so Make current and
    // Print, have the whole statement, read from the database when the search's row is cut.
    QFETCH(QString, query);
    QFETCH(QString, text);
    QFETCH(QString, shown);
    m_form->setEditorText(text);
    m_form->AddToHistory(HistoryStore::splitLines(text));
    m_form->historyRunStarted(QStringLiteral("HSLITE"));
    m_form->historyRunAbandoned();
    QVERIFY(m_form->historyDatabase()->flush(30000));
    m_form->setEditorText(QStringLiteral("other"));
    m_form->QueryChanged = false;
    search()->setText(query);
    QVERIFY2(
        list()->itemText(0).endsWith((query.isEmpty() ? "" : " | HSLITE | abandoned | ") + shown),
        qPrintable(list()->itemText(0).left(200)));
    QCOMPARE(fullText()->toPlainText(), QString(text).replace(QStringLiteral("\r\n"), "\n"));
    button("SpeedButton10")->click();
    QCOMPARE(m_form->EditorText(), text + QStringLiteral("\r\n"));
}

STELVIK_TEST_MAIN(tst_historysearch)
#include "tst_historysearch.moc"
