#include "app/Unit1.h"
#include "connection/Connection.h"
#include "connection/QueryDataset.h"
#include "query/QueryControl.h"
#include "query/Reaper.h"
#include "results/DataSource.h"
#include "support/ConnectWait.h"
#include "support/FileSizeLimit.h"
#include "support/ModalScript.h"
#include "support/PgServer.h"
#include "support/ProcessPause.h"
#include "support/SettingsFile.h"
#include "support/SilentServer.h"
#include "support/TestEnv.h"
#include "support/WindowFixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QPointer>
#include <QSettings>
#include <QSignalSpy>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <memory>

// The window stays responsive whatever a server does, and Close Query stops what runs: the
// connect, the statement on the server, the late count and the walk to the end of a result.
class tst_responsive : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void connectToSilentServer_data();
    void connectToSilentServer();
    void closeQueryCancelsOnServer();
    void closingWindowCancelsOnServer();
    void nothingWaitsOnHungServer_data();
    void nothingWaitsOnHungServer();
    void lateCountOffUiThread();
    void countStoppedByFullDisk_data();
    void countStoppedByFullDisk();
    void ctrlEndFetchesToEnd_data();
    void ctrlEndFetchesToEnd();
    void keys_data();
    void keys();
    void bigValuesCutForDisplayOnly();
    void unresizedColumnsKeepDisplayWidth();

private:
    QToolButton *button(const char *name) const { return m_form.child<QToolButton>(name); }
    QTableView *grid() const { return m_form.child<QTableView>("DBGrid1"); }
    QueryControl *control() const { return m_form->findChild<QueryControl *>(); }
    void setUp(const QString &alias, const QString &sql);
    bool idle() const;
    // Rows of pg_stat_activity running that statement, read on a connection of its own.
    int activeBackends(const QString &sql);
    // The first column of the first row of a query on the watching connection.
    QString watch(const QString &sql);
    static void setLoginTimeout(int seconds);

    WindowFixture m_form;
    std::unique_ptr<SilentServer> m_silent; // accepts connections and never answers
    std::unique_ptr<Connection> m_watch;
};

void tst_responsive::initTestCase()
{
    TestEnv::addSqliteDsn(QStringLiteral("RESPLITE"),
        { QStringLiteral("create table big as with recursive s(n) as (select 1 union all "
                         "select n + 1 from s where n < 20000) select n from s"),
            QStringLiteral("create table filler as with recursive s(n) as (select 1 union all "
                           "select n + 1 from s where n < 200000) select n, printf('%060d', n) "
                           "as s from s"),
            QStringLiteral("create table wide(a varchar(120), b integer)"),
            QStringLiteral("insert into wide values ('x', 1)"),
            QStringLiteral("create table huge(v text)"),
            QStringLiteral(
                "insert into huge values (replace(hex(zeroblob(1000000)), '00', 'xy'))") });
    PgServer &server = PgServer::instance();
    server.addDsn(QStringLiteral("RESPPG"));
    server.addDsn(QStringLiteral("WATCHPG"));
    server.exec(QStringLiteral("drop table if exists bigpg; "
                               "create table bigpg as select generate_series(1, 500000) n; "
                               "grant select on bigpg to public"));
    m_watch = TestEnv::connection(QStringLiteral("WATCHPG"));
    m_watch->Params = server.loginParams();
    m_watch->OpenConnection();
}

void tst_responsive::init()
{
    m_silent = std::make_unique<SilentServer>();
    TestEnv::writeUserDsn(QStringLiteral("SILENT"), QStringLiteral("PostgreSQL Unicode"),
        { { QStringLiteral("Servername"), QStringLiteral("127.0.0.1") },
            { QStringLiteral("Port"), QString::number(m_silent->port()) },
            { QStringLiteral("Database"), QStringLiteral("nothing") } });
    setLoginTimeout(0);
    QVERIFY(m_form.open(WindowFixture::Shown::Active));
    m_form->setDBParms(PgServer::instance().loginText());

    m_form.child<QCheckBox>("CheckBox1")->setChecked(false);
}

void tst_responsive::cleanup()
{
    m_form.close();
    // Ends the connects that still wait for it: their connections are closed.
    m_silent.reset();
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

void tst_responsive::setLoginTimeout(int seconds)
{
    SettingsFile settings;
    settings.setValue(QStringLiteral("LoginTimeout"), seconds);
}

void tst_responsive::setUp(const QString &alias, const QString &sql)
{
    // Connected first, so that a click starts the worker at once, as on every later Run.
    if (alias != QLatin1String("silent"))
        QVERIFY(connectAndWait(*m_form, alias.toUpper()));
    m_form->setEditorText(sql);
    m_form.chooseAlias(alias);
}

bool tst_responsive::idle() const
{
    return !m_form->CurrentThread && button("SpeedButton1")->isEnabled()
        && button("SpeedButton2")->isEnabled() && QApplication::overrideCursor() == nullptr;
}

QString tst_responsive::watch(const QString &sql)
{
    if (!m_watch->IsConnected()) // Close and Logout closes every connection
        m_watch->OpenConnection();
    QueryDataset watch;
    watch.setConnection(QStringLiteral("WATCHPG"), m_watch->handle());
    watch.setSql(sql);
    watch.OpenQuery();
    return watch.FieldString(0);
}

int tst_responsive::activeBackends(const QString &sql)
{
    // The driver may wrap the statement (in a cursor declaration): its text is part of the query.
    return watch(QStringLiteral("select count(*) from pg_stat_activity where state = 'active' "
                                "and pid <> pg_backend_pid() and position('%1' in query) > 0")
                     .arg(sql))
        .toInt();
}

void tst_responsive::connectToSilentServer_data()
{
    QTest::addColumn<int>("loginTimeout");
    QTest::addColumn<bool>("closeQuery"); // else the driver gives up
    QTest::addColumn<QString>("closer"); // the button that abandons the connect

    QTest::newRow("Close Query abandons") << 0 << true << "SpeedButton4";
    QTest::newRow("Close and Logout abandons") << 0 << true << "SpeedButton12";
    QTest::newRow("login timeout") << 2 << false << QString();
}

void tst_responsive::connectToSilentServer()
{
    QFETCH(int, loginTimeout);
    QFETCH(bool, closeQuery);
    QFETCH(QString, closer);

    setLoginTimeout(loginTimeout);
    m_form->setStatusText(1, QStringLiteral("before"));
    const QString stored = m_form->getDBParms();
    setUp(QStringLiteral("silent"), QStringLiteral("select 1"));

    // What the window shows while the connect waits, seen from inside that wait.
    struct Seen
    {
        bool called = false;
        QString panel;
        bool runEnabled = true;
        bool execEnabled = true;
        bool waitCursor = false;
        int repaints = 0;
    } seen;
    connect(control(), &QueryControl::stateChanged, this, [&](QueryControl::State state) {
        if (state != QueryControl::State::Connecting)
            return;
        seen.called = true;
        seen.panel = m_form->statusText(1);
        seen.runEnabled = button("SpeedButton1")->isEnabled();
        seen.execEnabled = button("SpeedButton2")->isEnabled();
        seen.waitCursor = QApplication::overrideCursor()
            && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
        // The window goes on handling its events: a timer fires, then Close Query is pressed.
        auto *ticker = new QTimer(m_form.form()); // owned by the window
        connect(ticker, &QTimer::timeout, m_form.form(), [&seen, ticker, closeQuery, closer, this] {
            if (++seen.repaints == 3) {
                ticker->stop();
                if (closeQuery)
                    button(closer.toLatin1().constData())->click();
            }
        });
        ticker->start(10);
    });

    QString message;
    ModalScript script(closeQuery ? QList<ModalScript::Answer> {}
                                  : QList<ModalScript::Answer> { ModalScript::note(&message) });
    button("SpeedButton1")->click(); // returns at once: the connect goes on meanwhile
    QTRY_VERIFY_WITH_TIMEOUT(seen.repaints >= 3 && script.done() && idle(), 60000);

    QVERIFY(seen.called);
    QCOMPARE(seen.panel, QStringLiteral("Connecting to SILENT"));
    QVERIFY(!seen.runEnabled);
    QVERIFY(!seen.execEnabled);
    QVERIFY(seen.waitCursor);
    QVERIFY(seen.repaints >= 3);

    QVERIFY(script.done());
    QCOMPARE(script.unexpected, 0);
    QVERIFY(idle());
    QCOMPARE(m_form->statusText(1), QStringLiteral("before"));
    if (closeQuery) {
        // Abandoned: neither a success nor a failure; the login stays unless logged out.
        QCOMPARE(
            m_form->getDBParms(), closer == QLatin1String("SpeedButton4") ? stored : QString());
    } else {
        QVERIFY2(
            message.startsWith(QStringLiteral("Error Connecting to Database.  Error Message is: ")),
            qPrintable(message));
        QVERIFY2(message.contains(QStringLiteral("timeout"), Qt::CaseInsensitive)
                || message.contains(QStringLiteral("timed out"), Qt::CaseInsensitive),
            qPrintable(message));
        QCOMPARE(m_form->getDBParms(), QString());
    }
}

void tst_responsive::closeQueryCancelsOnServer()
{
    const QString sleep = QStringLiteral("select pg_sleep(600)");
    setUp(QStringLiteral("resppg"), sleep);
    button("SpeedButton1")->click();
    QPointer<QObject> worker = m_form->CurrentThread;
    QVERIFY(worker);
    QSignalSpy ended(worker.data(), &QObject::destroyed);
    QTRY_COMPARE_WITH_TIMEOUT(activeBackends(sleep), 1, 30000);

    button("SpeedButton4")->click();
    QVERIFY(idle());
    // The server stops the statement: its backend leaves the active state, and the worker ends
    // quietly long before the sleep would.
    QTRY_COMPARE_WITH_TIMEOUT(activeBackends(sleep), 0, 30000);
    QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 30000);
    QVERIFY(idle());
    QCOMPARE(m_form->statusText(1), QStringLiteral("Running Query"));

    // The alias's connection serves the next Run.
    setUp(QStringLiteral("resppg"), QStringLiteral("select 42 as answer"));
    button("SpeedButton1")->click();
    QTRY_VERIFY_WITH_TIMEOUT(idle(), 30000);
    QVERIFY(m_form->CurrentQuery);
    QCOMPARE(grid()->model()->index(0, 0).data().toString(), QStringLiteral("42"));
}

void tst_responsive::closingWindowCancelsOnServer()
{
    const QString sleep = QStringLiteral("select pg_sleep(601)");
    setUp(QStringLiteral("resppg"), sleep);
    button("SpeedButton1")->click();
    QPointer<QObject> worker = m_form->CurrentThread;
    QVERIFY(worker);
    QSignalSpy ended(worker.data(), &QObject::destroyed);
    QTRY_COMPARE_WITH_TIMEOUT(activeBackends(sleep), 1, 30000);

    // The window closes at once (the program would end here) and the server stops the statement.
    m_form->close();
    QTRY_COMPARE_WITH_TIMEOUT(activeBackends(sleep), 0, 30000);
    QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 30000);
}

void tst_responsive::nothingWaitsOnHungServer_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("running"); // the server hangs, else the backend of a result
    QTest::addColumn<bool>("closeWindow"); // else Close Query

    QTest::newRow("cancel") << "select pg_sleep(602)" << true << false;
    QTest::newRow("window closed") << "select pg_sleep(602)" << true << true;
    QTest::newRow("free of a result") << "select n from bigpg" << false << false;
    QTest::newRow("free of a result, same database") << "select n from bigpg" << false << false;
}

void tst_responsive::nothingWaitsOnHungServer()
{
    QFETCH(QString, sql);
    QFETCH(bool, running);
    QFETCH(bool, closeWindow);

    setUp(QStringLiteral("resppg"), sql);
    button("SpeedButton1")->click();
    if (running)
        QTRY_COMPARE_WITH_TIMEOUT(activeBackends(sql), 1, 30000);
    else
        QTRY_VERIFY_WITH_TIMEOUT(idle() && m_form->CurrentQuery, 30000);
    // The form's backend: running the statement, or holding its cursor open between fetches.
    const pid_t backend =
        watch(QStringLiteral("select pid from pg_stat_activity where pid <> "
                             "pg_backend_pid() and %1")
                  .arg(running ? QStringLiteral("position('%1' in query) > 0").arg(sql)
                               : QStringLiteral("state = 'idle in transaction'")))
            .toInt();
    {
        const ProcessPause hung(running ? ProcessPause::parentOf(backend) : backend);
        if (closeWindow) {
            m_form->close(); // returns at once, as the program's exit would
        } else {
            button("SpeedButton4")->click(); // returns at once
            QVERIFY(idle());
            // The window goes on with its work: a statement on another database runs to its end,
            // and one on the same database too (on a fresh connection).
            const bool same = QByteArray(QTest::currentDataTag()).contains("same");
            setUp(same ? "resppg" : "resplite",
                same ? "select n from bigpg where n = 7" : "select n from big where n = 7");
            button("SpeedButton1")->click();
            QTRY_VERIFY_WITH_TIMEOUT(idle() && m_form->CurrentQuery, 30000);
            QCOMPARE(grid()->model()->index(0, 0).data().toString(), QStringLiteral("7"));
        }
        QVERIFY(Reaper::pending() > 0); // what waits for the server is off the UI thread
    }
    QTRY_COMPARE_WITH_TIMEOUT(Reaper::pending(), 0, 60000);
}

void tst_responsive::lateCountOffUiThread()
{
    m_form->setStatusText(0, QStringLiteral("earlier"));
    auto *countBox = m_form.child<QCheckBox>("CheckBox1");

    // Ticked while the select runs: the count runs on the worker, the window stays busy and
    // handles its events; Close Query stops it.
    setUp(QStringLiteral("resppg"), QStringLiteral("select n from bigpg"));
    bool countRequested = false;
    bool busyWhileCounting = false;
    QMetaObject::Connection watch =
        connect(control(), &QueryControl::stateChanged, this, [&](QueryControl::State state) {
            if (state != QueryControl::State::Counting)
                return;
            // Counting is entered only once the worker was told to count.
            countRequested = m_form->CurrentThread && m_form->CurrentThread == control()->worker();
            busyWhileCounting = !m_form->CurrentQuery && !button("SpeedButton1")->isEnabled()
                && QApplication::overrideCursor();
            // Pressed as soon as the window handles events again, while the count runs.
            if (countRequested)
                QTimer::singleShot(0, button("SpeedButton4"), &QToolButton::click);
        });
    button("SpeedButton1")->click();
    QPointer<QObject> worker = m_form->CurrentThread;
    QSignalSpy ended(worker.data(), &QObject::destroyed);
    countBox->setChecked(true);
    QTRY_VERIFY_WITH_TIMEOUT(countRequested, 120000);
    QVERIFY(busyWhileCounting);
    QTRY_VERIFY(idle());
    QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 60000);
    QCOMPARE(m_form->statusText(0), QStringLiteral("earlier"));
    QVERIFY(!m_form->CurrentQuery);
    disconnect(watch);

    // Run to its end, the count reaches panel 0 and panel 1 keeps the select's own time.
    countBox->setChecked(false);
    setUp(QStringLiteral("resplite"), QStringLiteral("select n from big"));
    button("SpeedButton1")->click();
    countBox->setChecked(true);
    QTRY_VERIFY_WITH_TIMEOUT(idle(), 30000);
    QVERIFY(m_form->CurrentQuery);
    QCOMPARE(m_form->statusText(0), QStringLiteral("20000"));
    QVERIFY(m_form->statusText(1).startsWith(QStringLiteral("Select Complete in : ")));
    QCOMPARE(grid()->model()->rowCount(), 20000);
}

void tst_responsive::countStoppedByFullDisk_data()
{
    QTest::addColumn<bool>("late"); // Record Count ticked while the select runs
    QTest::newRow("ticked before the run") << false;
    QTest::newRow("ticked while it runs") << true;
}

void tst_responsive::countStoppedByFullDisk()
{
    QFETCH(bool, late);
    SettingsFile settings;
    settings.setValue(QStringLiteral("ResultMemoryMB"), 1); // the rest goes to the cache folder
    auto *countBox = m_form.child<QCheckBox>("CheckBox1");
    countBox->setChecked(!late);
    setUp(QStringLiteral("resplite"), QStringLiteral("select n, s from filler"));
    QString message;
    ModalScript script({ ModalScript::note(&message) });
    {
        const FileSizeLimit full(4 << 20); // the cache folder takes 4 MB of the 13 MB
        button("SpeedButton1")->click();
        countBox->setChecked(true);
        QTRY_VERIFY_WITH_TIMEOUT(idle() && script.done(), 60000);
    }
    settings.remove(QStringLiteral("ResultMemoryMB"));
    QVERIFY(script.done());
    QCOMPARE(script.unexpected, 0);
    // The message's promise is kept: the rows fetched so far are shown, and the run ended.
    QVERIFY2(message.contains(QStringLiteral("those stay available")), qPrintable(message));
    QVERIFY(m_form->CurrentQuery);
    const int kept = grid()->model()->rowCount();
    QVERIFY2(kept > 1000 && kept < 200000, qPrintable(QString::number(kept)));
    QCOMPARE(grid()->model()->index(kept - 1, 0).data().toString(), QString::number(kept));
    QVERIFY(m_form->statusText(1).startsWith(QStringLiteral("Select Complete in : ")));
}

void tst_responsive::ctrlEndFetchesToEnd_data()
{
    QTest::addColumn<QString>("alias");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<int>("rows");

    QTest::newRow("sqlite") << "resplite"
                            << "select n from big" << 20000;
    QTest::newRow("postgres") << "resppg"
                              << "select n from generate_series(1, 25000) n" << 25000;
}

void tst_responsive::ctrlEndFetchesToEnd()
{
    QFETCH(QString, alias);
    QFETCH(QString, sql);
    QFETCH(int, rows);

    m_form->setStatusText(0, QStringLiteral("earlier"));
    setUp(alias, sql);
    button("SpeedButton1")->click();
    QTRY_VERIFY_WITH_TIMEOUT(idle(), 30000);
    QVERIFY(grid()->model()->rowCount() < rows);

    QTest::keyClick(grid(), Qt::Key_End, Qt::ControlModifier);
    QVERIFY(m_form->CurrentThread);
    QVERIFY(!button("SpeedButton1")->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(idle(), 30000);
    QCOMPARE(m_form->statusText(0), QString::number(rows));
    QCOMPARE(grid()->model()->rowCount(), rows);
    QCOMPARE(grid()->currentIndex().row(), rows - 1);
    QCOMPARE(grid()->currentIndex().data().toString(), QString::number(rows));
    QCOMPARE(m_form->CurrentQuery->RecNo(), rows - 1);

    // Esc while the walk runs stops it and closes the result, as Close Query does. The count of
    // fetched records leaves panel 0 with the result it described.
    button("SpeedButton1")->click();
    QCOMPARE(m_form->statusText(0), QStringLiteral("earlier"));
    QTRY_VERIFY_WITH_TIMEOUT(idle(), 30000);
    QTest::keyClick(grid(), Qt::Key_End, Qt::ControlModifier);
    QPointer<QObject> walk = m_form->CurrentThread;
    QVERIFY(walk);
    QSignalSpy ended(walk.data(), &QObject::destroyed);
    QTest::keyClick(grid(), Qt::Key_Escape);
    QVERIFY(idle());
    QCOMPARE(m_form->statusText(0), QStringLiteral("earlier"));
    QVERIFY(!m_form->CurrentQuery);
    QCOMPARE(grid()->model()->rowCount(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 30000);
}

void tst_responsive::keys_data()
{
    QTest::addColumn<QString>("from"); // the widget with the focus
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("effect");

    const int ctrl = int(Qt::ControlModifier);
    const int shift = int(Qt::ShiftModifier);
    for (const char *from : { "RE1", "DBGrid1" }) {
        const QByteArray f(from);
        QTest::newRow(f + " F5") << from << int(Qt::Key_F5) << 0 << "run";
        QTest::newRow(f + " Ctrl+Return") << from << int(Qt::Key_Return) << ctrl << "run";
        QTest::newRow(f + " Shift+F5") << from << int(Qt::Key_F5) << shift << "exec";
        QTest::newRow(f + " Ctrl+Shift+Return")
            << from << int(Qt::Key_Return) << (ctrl | shift) << "exec";
        QTest::newRow(f + " Esc") << from << int(Qt::Key_Escape) << 0 << "close";
        QTest::newRow(f + " Ctrl+Break") << from << int(Qt::Key_Pause) << ctrl << "close";
        QTest::newRow(f + " Ctrl+O") << from << int(Qt::Key_O) << ctrl << "OpenDialog1";
        QTest::newRow(f + " Ctrl+S") << from << int(Qt::Key_S) << ctrl << "SaveDialog2";
        QTest::newRow(f + " Ctrl+P") << from << int(Qt::Key_P) << ctrl << "PrintDialog1";
        QTest::newRow(f + " Ctrl+H") << from << int(Qt::Key_H) << ctrl << "ReplaceDialog1";
    }
}

void tst_responsive::keys()
{
    QFETCH(QString, from);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, effect);

    QWidget *target = m_form.child<QWidget>(from.toLatin1().constData());
    const auto press = [&] {
        target->setFocus();
        QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    };
    if (effect == QLatin1String("run") || effect == QLatin1String("exec")) {
        const bool isExec = effect == QLatin1String("exec");
        setUp(QStringLiteral("resplite"),
            isExec ? QStringLiteral("update wide set b = 1") : QStringLiteral("select n from big"));
        press();
        QCOMPARE(m_form->statusText(1),
            isExec ? QStringLiteral("Executing SQL") : QStringLiteral("Running Query"));
        QTRY_VERIFY_WITH_TIMEOUT(idle(), 30000);
        if (isExec)
            QCOMPARE(m_form->statusText(1), QStringLiteral("Execute Complete!"));
        else
            QVERIFY(m_form->CurrentQuery);
    } else if (effect == QLatin1String("close")) {
        setUp(QStringLiteral("resppg"), QStringLiteral("select pg_sleep(600)"));
        button("SpeedButton1")->click();
        QVERIFY(m_form->CurrentThread);
        press();
        QVERIFY(idle());
    } else {
        m_form->QueryChanged = false;
        QString shown; // the dialog's name, or its class when it has none
        ModalScript script({ [&shown](QWidget *dialog) {
            shown = dialog->objectName().isEmpty()
                ? QString::fromLatin1(dialog->metaObject()->className())
                : dialog->objectName();
            static_cast<QDialog *>(dialog)->reject();
        } });
        press();
        if (effect == QLatin1String("ReplaceDialog1")) {
            // Modeless: shown, not answered.
            auto *dialog = m_form.child<QWidget>("ReplaceDialog1");
            QTRY_VERIFY(dialog->isVisible());
            dialog->hide();
            return;
        }
        QVERIFY(script.done());
        QCOMPARE(script.unexpected, 0);
        QCOMPARE(shown, effect);
    }
}

void tst_responsive::bigValuesCutForDisplayOnly()
{
    setUp(QStringLiteral("resplite"), QStringLiteral("select v from huge"));
    button("SpeedButton1")->click();
    QTRY_VERIFY_WITH_TIMEOUT(idle(), 30000);
    const QString shown = grid()->model()->index(0, 0).data().toString();
    QCOMPARE(shown.size(), DataSource::MaxDisplayChars + 1);
    QVERIFY(shown.startsWith(QStringLiteral("xyxy")));
    QCOMPARE(shown.back(), QChar(0x2026));

    // The copy takes the whole value.
    grid()->setCurrentIndex(grid()->model()->index(0, 0));
    m_form.child<QAction>("CopyFieldtoClipboard1")->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text().size(), 2000000);
}

void tst_responsive::unresizedColumnsKeepDisplayWidth()
{
    setUp(QStringLiteral("resplite"), QStringLiteral("select a, b from wide"));
    button("SpeedButton1")->click();
    QTRY_VERIFY_WITH_TIMEOUT(idle(), 30000);
    QueryDataset *result = m_form->CurrentQuery.get();
    QVERIFY(result);
    QCOMPARE(result->DisplayWidth(0), 120);
    QHeaderView *header = grid()->horizontalHeader();
    // Capped for display, not in the field.
    QVERIFY(header->sectionSize(0) < 120 * grid()->fontMetrics().averageCharWidth());

    // The user widens the second column: the first keeps its 120.
    header->resizeSection(1, header->sectionSize(1) + 5 * grid()->fontMetrics().averageCharWidth());
    QCOMPARE(result->DisplayWidth(0), 120);
    QCOMPARE(result->DisplayWidth(1), 15);
}

STELVIK_TEST_MAIN(tst_responsive)
#include "tst_responsive.moc"
