#include "app/ULogin.h"
#include "app/Unit1.h"
#include "connection/QueryDataset.h"
#include "history/HistoryRecorder.h"
#include "results/Exporter.h"
#include "support/FileSizeLimit.h"
#include "support/ModalScript.h"
#include "support/PgServer.h"
#include "support/SettingsFile.h"
#include "support/TestEnv.h"
#include "support/WindowFixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QTableView>
#include <QToolButton>
#include <QtTest>

#include <csignal>
#include <limits>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// The settings file of the program: QSettings' native format is an ini file on this platform.
QString settingsPath()
{
    return SettingsFile::path();
}

// The private server's control as a check: false, with the reason, when the step failed.
bool serverStep(void (*step)(PgServer &))
{
    try {
        step(PgServer::instance());
        return true;
    } catch (const std::exception &error) {
        qWarning("%s", error.what());
        return false;
    }
}

// Every session is cut at once, as in a crash of the server.
bool stopImmediately()
{
    return serverStep([](PgServer &pg) { pg.stop(PgServer::Stop::Immediate); });
}

bool startServer()
{
    return serverStep([](PgServer &pg) { pg.start(); });
}

// Answers a file dialog as a user does: the name typed into its name box, then Save or Open.
ModalScript::Answer fileAnswer(const char *dialogName, const QString &path)
{
    return [dialogName, path](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        QVERIFY2(dialog, modal->metaObject()->className());
        QCOMPARE(dialog->objectName(), QLatin1String(dialogName));
        auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        QVERIFY(name);
        name->setText(path);
        static_cast<QDialog *>(dialog)->accept();
    };
}

// The extract dialog: every record, to a file.
ModalScript::Answer extractAll()
{
    return [](QWidget *modal) {
        auto *all = modal->findChild<QAbstractButton *>(QStringLiteral("AllRecords"));
        QVERIFY(all);
        all->click();
        child<QCheckBox>(modal, "toClipboard")->setChecked(false);
        child<QPushButton>(modal, "BitBtn1")->click();
    };
}

const QString oldContent = QStringLiteral("the old content\r\n");

} // namespace

// Faults from outside the program: the server going away, a full disk, a broken settings file,
// oversized or damaged input and a vanished database file. Each gives a clear message and loses
// nothing.
class tst_faults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void serverStops_data();
    void serverStops();
    void diskFull_data();
    void diskFull();
    void brokenSettings_data();
    void brokenSettings();
    void damagedInput_data();
    void damagedInput();
    void databaseFileDeleted();

private:
    void newForm();
    QToolButton *button(const char *name) const { return m_form.child<QToolButton>(name); }
    void start(const QString &alias, const QString &sql);
    bool waitIdle();

    WindowFixture m_form;
    QString m_liteFile;
};

void tst_faults::initTestCase()
{
    exportProgressDelayMs = std::numeric_limits<int>::max(); // no progress dialog when slow
    m_liteFile = TestEnv::addSqliteDsn(QStringLiteral("FAULTLITE"),
        { QStringLiteral("create table t(id integer, name varchar(20))"),
            QStringLiteral("insert into t values (1, 'one'), (2, 'two')"),
            QStringLiteral("create table big as with recursive s(n) as (select 1 union all "
                           "select n + 1 from s where n < 5000) select n from s") });
    PgServer::instance().addDsn(QStringLiteral("FAULTPG"));
}

void tst_faults::newForm()
{
    QVERIFY(m_form.open());
    m_form.child<QCheckBox>("CheckBox1")->setChecked(false);
}

void tst_faults::cleanup()
{
    if (m_form.form()) {
        ModalScript closeAny; // Logout may fail to store the empty login: that box is closed
        button("SpeedButton12")->click(); // Logout: the next test connects afresh
    }
    m_form.close();
    QFile::remove(settingsPath());
    QDir(settingsPath()).removeRecursively();
}

void tst_faults::start(const QString &alias, const QString &sql)
{
    m_form.start(m_form.runButton(), alias, sql);
}

bool tst_faults::waitIdle()
{
    return m_form.waitIdle(120000);
}

void tst_faults::serverStops_data()
{
    QTest::addColumn<QString>("during");
    QTest::newRow("fetch") << "fetch";
    QTest::newRow("count") << "count";
    QTest::newRow("export") << "export";
}

void tst_faults::serverStops()
{
    QFETCH(QString, during);
    QVERIFY(PgServer::instance().isRunning());
    newForm();
    m_form->setDBParms(PgServer::instance().loginText());
    const QString target = TestEnv::root() + QStringLiteral("/lost.csv");
    writeAll(target, oldContent.toLatin1());

    QString shown;
    if (during == QLatin1String("count")) {
        // The count fetches the second block on the worker; that block waits on the server
        // until the server goes.
        m_form.child<QCheckBox>("CheckBox1")->setChecked(true);
        ModalScript box({ ModalScript::note(&shown) });
        start(QStringLiteral("faultpg"),
            QStringLiteral("select n, case when n = 1500 then pg_sleep(600) end as pause "
                           "from generate_series(1, 3000) n"));
        QTRY_VERIFY_WITH_TIMEOUT(
            PgServer::instance().value(QStringLiteral(
                "select count(*) from pg_stat_activity where wait_event = 'PgSleep'"))
                == QLatin1String("1"),
            60000);
        QVERIFY(stopImmediately());
        QVERIFY(waitIdle());
        QVERIFY(box.done());
        QCOMPARE(box.unexpected, 0);
        QVERIFY(!m_form->CurrentQuery);
    } else {
        // The first block is on screen; the next one is fetched after the server went.
        start(QStringLiteral("faultpg"),
            QStringLiteral("select n, 'row ' || n as label from generate_series(1, 5000) n"));
        QVERIFY(waitIdle());
        QVERIFY(m_form->CurrentQuery);
        QVERIFY(!m_form->CurrentQuery->allFetched());
        QVERIFY(stopImmediately());
        if (during == QLatin1String("fetch")) {
            ModalScript box({ ModalScript::note(&shown) });
            auto *grid = m_form.child<QTableView>("DBGrid1");
            grid->scrollToBottom();
            QTRY_VERIFY_WITH_TIMEOUT(box.done(), 60000);
            QCOMPARE(box.unexpected, 0);
        } else {
            ModalScript box(
                { extractAll(), fileAnswer("SaveDialog1", target), ModalScript::note(&shown) });
            button("SpeedButton5")->click();
            QVERIFY(box.done());
            QCOMPARE(box.unexpected, 0);
            QCOMPARE(readAll(target), oldContent.toLatin1());
        }
    }
    QVERIFY2(shown.contains(QLatin1String("connection"), Qt::CaseInsensitive), qPrintable(shown));

    // The server comes back: the next Run connects again with the stored login.
    QVERIFY(startServer());
    m_form.child<QCheckBox>("CheckBox1")->setChecked(false);
    start(QStringLiteral("faultpg"), QStringLiteral("select 'back' as again"));
    QVERIFY(waitIdle());
    QVERIFY(m_form->CurrentQuery);
    QCOMPARE(m_form->CurrentQuery->FieldString(0), QStringLiteral("back"));
}

void tst_faults::diskFull_data()
{
    QTest::addColumn<QString>("command");
    QTest::newRow("export") << "export";
    QTest::newRow("save query") << "save query";
    QTest::newRow("history") << "history";
}

void tst_faults::diskFull()
{
    QFETCH(QString, command);
    newForm();
    m_form->setDBParms(PgServer::instance().loginText());
    const QString target = TestEnv::root() + QStringLiteral("/full.txt");
    writeAll(target, oldContent.toLatin1());
    const QString longLine =
        QStringLiteral("select n, '%1' as filler from big").arg(QString(2000, QLatin1Char('x')));
    QString shown;

    if (command == QLatin1String("export")) {
        start(QStringLiteral("faultlite"), QStringLiteral("select n from big"));
        QVERIFY(waitIdle());
        QVERIFY(m_form->CurrentQuery);
        // The history's thread has recorded the Run: the full disk is this command's alone.
        QVERIFY(m_form->historyDatabase()->flush(120000));
        const FileSizeLimit full(1024);
        ModalScript box(
            { extractAll(), fileAnswer("SaveDialog1", target), ModalScript::note(&shown) });
        button("SpeedButton5")->click();
        QVERIFY(box.done());
        QCOMPARE(box.unexpected, 0);
        QCOMPARE(readAll(target), oldContent.toLatin1());
        QVERIFY2(shown.startsWith(QStringLiteral("Unable to write to %1").arg(target)),
            qPrintable(shown));
    } else if (command == QLatin1String("save query")) {
        m_form->setEditorText(longLine);
        const QString title = m_form->windowTitle();
        QVERIFY(m_form->historyDatabase()->flush(120000)); // it has opened the database
        const FileSizeLimit full(1024);
        ModalScript box({ fileAnswer("SaveDialog2", target), ModalScript::press(QMessageBox::Yes),
            ModalScript::note(&shown) });
        button("SpeedButton8")->click();
        QVERIFY(box.done());
        QCOMPARE(box.unexpected, 0);
        QCOMPARE(readAll(target), oldContent.toLatin1());
        QVERIFY2(shown.startsWith(QStringLiteral("Unable to write to %1").arg(target)),
            qPrintable(shown));
        // The command ended there: the editor still holds unsaved changes.
        QCOMPARE(m_form->windowTitle(), title);
        QVERIFY(m_form->QueryChanged);
    } else {
        // Entries stored before: the settings file is larger than what the disk still takes.
        start(QStringLiteral("faultlite"), longLine);
        QVERIFY(waitIdle());
        const QByteArray before = readAll(settingsPath());
        QVERIFY(before.size() > 2000);
        // The history database meets the same full disk on its own thread: its message may
        // come too, before or after the settings' one.
        QStringList messages;
        ModalScript box;
        box.setFallback([&messages](QWidget *modal) {
            auto *message = qobject_cast<QMessageBox *>(modal);
            QVERIFY(message);
            messages << message->text();
            message->accept();
        });
        {
            const FileSizeLimit full(1024);
            // Two Runs: the second one's settings meet the changes the first could not write.
            for (const int n : { 7, 8 }) {
                start(QStringLiteral("faultlite"),
                    QStringLiteral("select n from big where n = %1").arg(n));
                QVERIFY(waitIdle());
                QTRY_COMPARE(
                    messages.count(QStringLiteral("Failed to set data for 'History0'")), n - 6);
                QCOMPARE(readAll(settingsPath()), before);
                // The statement itself ran.
                QVERIFY(m_form->CurrentQuery);
                QCOMPARE(m_form->CurrentQuery->FieldString(0), QString::number(n));
            }
        }
        QCOMPARE(box.unexpected, 0);
        for (const QString &text : std::as_const(messages))
            QVERIFY2(text == QLatin1String("Failed to set data for 'History0'")
                    || text.contains(QLatin1String("history database cannot be used")),
                qPrintable(text));
        // Space again: the next save writes the whole history, nothing lost on the way.
        start(QStringLiteral("faultlite"), QStringLiteral("select n from big where n = 9"));
        QVERIFY(waitIdle());
        SettingsFile settings;
        QStringList stored;
        for (int n = 0; n < 4; ++n)
            stored << settings.value(QStringLiteral("History%1").arg(n)).toString();
        QCOMPARE(stored,
            QStringList({ QStringLiteral("select n from big where n = 9\r\n"),
                QStringLiteral("select n from big where n = 8\r\n"),
                QStringLiteral("select n from big where n = 7\r\n"), longLine + "\r\n" }));
    }
}

void tst_faults::brokenSettings_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QStringList>("startMessages"); // shown at start-up, in order
    QTest::addColumn<QStringList>("history"); // loaded at start-up, newest first
    // The dialogs of the first Run: "login" for the login dialog, else a message's text.
    QTest::addColumn<QStringList>("runDialogs");
    QTest::addColumn<bool>("ran");

    const QString login = QStringLiteral("login");
    QTest::newRow("unreadable") << "unreadable" << QStringList() << QStringList()
                                << QStringList { login } << true;
    QTest::newRow("a folder") << "folder" << QStringList() << QStringList()
                              << QStringList { login,
                                     QStringLiteral("Failed to set data for 'ConnectParms'") }
                              << false;
    QTest::newRow("values of wrong types")
        << "types" << QStringList { QStringLiteral("Invalid data type for 'History1'") }
        << QStringList { QStringLiteral("select 0"), QStringLiteral("select 2") }
        << QStringList { QStringLiteral("Invalid data type for 'ConnectParms'") } << false;
}

void tst_faults::brokenSettings()
{
    QFETCH(QString, fault);
    QFETCH(QStringList, startMessages);
    QFETCH(QStringList, history);
    QFETCH(QStringList, runDialogs);
    QFETCH(bool, ran);

    const QString path = settingsPath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (fault == QLatin1String("unreadable")) {
        // A link to itself: no one can read it, not even the superuser.
        QVERIFY(QFile::link(path, path));
    } else if (fault == QLatin1String("folder")) {
        QVERIFY(QDir().mkpath(path + QStringLiteral("/inside")));
    } else {
        // Lists where text belongs, as a hand edit leaves them.
        writeAll(path,
            "[General]\nConnectParms=1, 2\nHistory0=select 0\nHistory1=select a, b from t\n"
            "History2=select 2\n");
    }

    QStringList shown(startMessages.size());
    {
        QList<ModalScript::Answer> answers;
        for (QString &text : shown)
            answers << ModalScript::note(&text);
        ModalScript startup(answers);
        newForm();
        QVERIFY(startup.done());
        QCOMPARE(startup.unexpected, 0);
    }
    QCOMPARE(shown, startMessages);
    QStringList loaded;
    for (const HistoryItem &item : std::as_const(m_form->HistoryList))
        loaded << item.Display;
    QCOMPARE(loaded, history);

    // The first Run: the login that could not be read is asked for, and a value that cannot be
    // stored or read is reported.
    QStringList runShown(runDialogs.size());
    {
        QList<ModalScript::Answer> answers;
        for (int i = 0; i < runDialogs.size(); ++i) {
            if (runDialogs.at(i) == QLatin1String("login")) {
                answers << [](QWidget *modal) {
                    QVERIFY2(qobject_cast<TLogin *>(modal), modal->metaObject()->className());
                    static_cast<QDialog *>(modal)->accept();
                };
                runShown[i] = runDialogs.at(i);
            } else {
                answers << ModalScript::note(&runShown[i]);
            }
        }
        ModalScript run(answers);
        start(QStringLiteral("faultlite"), QStringLiteral("select name from t where id = 2"));
        QVERIFY(waitIdle());
        QVERIFY(run.done());
        QCOMPARE(run.unexpected, 0);
    }
    QCOMPARE(runShown, runDialogs);
    QCOMPARE(bool(m_form->CurrentQuery), ran);
    if (ran)
        QCOMPARE(m_form->CurrentQuery->FieldString(0), QStringLiteral("two"));

    // Nothing that was stored is lost.
    if (fault == QLatin1String("folder")) {
        QVERIFY(QFileInfo(path + QStringLiteral("/inside")).isDir());
    } else if (fault == QLatin1String("types")) {
        const QByteArray after = readAll(path);
        QVERIFY2(after.contains("ConnectParms=1, 2"), after.constData());
        QVERIFY2(after.contains("select 0"), after.constData());
        QVERIFY2(after.contains("select a, b from t"), after.constData());
        QVERIFY2(after.contains("select 2"), after.constData());
    }
}

void tst_faults::damagedInput_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("message"); // the start of the Run's message; empty: none
    QTest::addColumn<QString>("firstField"); // the Run's result; empty: no result
    QTest::addColumn<bool>("unwrapped"); // the editor stops wrapping while it holds the text

    QByteArray large;
    large.reserve(50 * 1024 * 1024 + 100);
    large += "select count(*) from t\r\n";
    const QByteArray comment = "-- " + QByteArray(76, 'c') + "\r\n";
    while (large.size() < 50 * 1024 * 1024)
        large += comment;
    QTest::newRow("50 MB query file") << large << QString() << "2" << false;

    // Wrapped at the editor's width, this line would take hours to lay out.
    QByteArray oneLine = "select '" + QByteArray(10 * 1024 * 1024, 'y') + "' as long_value";
    QTest::newRow("10 MB statement on one line") << oneLine << QString() << "yyyy" << true;

    // Windows-1252 text (E9 is é) and a NUL inside the statement's second line.
    const QByteArray damaged("select name from t\r\nwhere name <> 'Caf\xe9'\0 or id = 1\r\n", 47);
    QTest::newRow("invalid UTF-8 and NUL")
        << damaged << QStringLiteral("Line 2 of the statement holds a NUL character") << ""
        << false;
}

void tst_faults::damagedInput()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, message);
    QFETCH(QString, firstField);
    QFETCH(bool, unwrapped);
    const QString path = TestEnv::root() + QStringLiteral("/input.sql");
    writeAll(path, file);
    newForm();
    m_form->setDBParms(PgServer::instance().loginText());
    const qsizetype historyBefore = m_form->HistoryList.size();

    {
        ModalScript load({ fileAnswer("OpenDialog1", path) });
        button("SpeedButton7")->click();
        QVERIFY(load.done());
        QCOMPARE(load.unexpected, 0);
    }
    // Every byte arrived in the editor: the text has as many characters as the file has bytes
    // (each line break counted as CR LF).
    QCOMPARE(m_form->EditorText().size() - (file.endsWith("\r\n") ? 0 : 2), file.size());
    auto *editor = m_form.child<QPlainTextEdit>("RE1");
    QCOMPARE(
        editor->lineWrapMode(), unwrapped ? QPlainTextEdit::NoWrap : QPlainTextEdit::WidgetWidth);

    QString shown;
    {
        ModalScript run(message.isEmpty()
                ? QList<ModalScript::Answer>()
                : QList<ModalScript::Answer> { ModalScript::note(&shown) });
        m_form.chooseAlias(QStringLiteral("faultlite"));
        button("SpeedButton1")->click();
        QVERIFY(waitIdle());
        QVERIFY(run.done());
        QCOMPARE(run.unexpected, 0);
    }
    if (message.isEmpty()) {
        QVERIFY(m_form->CurrentQuery);
        QVERIFY(m_form->CurrentQuery->FieldString(0).startsWith(firstField));
        QCOMPARE(m_form->HistoryList.size(), historyBefore + 1);
    } else {
        QVERIFY2(shown.startsWith(message), qPrintable(shown));
        QVERIFY(!m_form->CurrentQuery);
        QCOMPARE(m_form->HistoryList.size(), historyBefore);
    }

    // Saved again, the file keeps every byte.
    const QString copy = TestEnv::root() + QStringLiteral("/copy.sql");
    QFile::remove(copy); // a new file: no overwrite question
    ModalScript save({ fileAnswer("SaveDialog2", copy) });
    button("SpeedButton8")->click();
    QVERIFY(save.done());
    QCOMPARE(save.unexpected, 0);
    QByteArray expected = file;
    if (!expected.endsWith("\r\n"))
        expected += "\r\n";
    QCOMPARE(readAll(copy).toHex(), expected.toHex());

    // Without the long line the editor wraps again.
    m_form->setEditorText(QStringLiteral("select 1"));
    QCOMPARE(editor->lineWrapMode(), QPlainTextEdit::WidgetWidth);
}

void tst_faults::databaseFileDeleted()
{
    const QString file = TestEnv::addSqliteDsn(QStringLiteral("GONELITE"),
        { QStringLiteral("create table kept(v integer)"),
            QStringLiteral("insert into kept values (5)") });
    newForm();
    m_form->setDBParms(PgServer::instance().loginText());
    start(QStringLiteral("gonelite"), QStringLiteral("select v from kept"));
    QVERIFY(waitIdle());
    QVERIFY(m_form->CurrentQuery);
    QVERIFY(QFile::remove(file));

    // The open connection still reads the file it opened.
    {
        ModalScript quiet;
        start(QStringLiteral("gonelite"), QStringLiteral("select v + 1 from kept"));
        QVERIFY(waitIdle());
        QVERIFY(m_form->CurrentQuery);
        QCOMPARE(m_form->CurrentQuery->FieldString(0), QStringLiteral("6"));
        QCOMPARE(quiet.unexpected, 0);
    }

    // A new connection finds no table: a message, and the program runs on.
    button("SpeedButton12")->click();
    m_form->setDBParms(PgServer::instance().loginText());
    QString shown;
    ModalScript box({ ModalScript::note(&shown) });
    start(QStringLiteral("gonelite"), QStringLiteral("select v from kept"));
    QVERIFY(waitIdle());
    QVERIFY(box.done());
    QCOMPARE(box.unexpected, 0);
    QVERIFY2(shown.contains(QLatin1String("kept")), qPrintable(shown));
    QVERIFY(!m_form->CurrentQuery);

    start(QStringLiteral("faultlite"), QStringLiteral("select count(*) from t"));
    QVERIFY(waitIdle());
    QVERIFY(m_form->CurrentQuery);
    QCOMPARE(m_form->CurrentQuery->FieldString(0), QStringLiteral("2"));
    QCOMPARE(box.unexpected, 0);
}

STELVIK_TEST_MAIN(tst_faults)
#include "tst_faults.moc"
