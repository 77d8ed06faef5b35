#include "app/ULogin.h"
#include "app/Unit1.h"
#include "connection/Connection.h"
#include "connection/DatabaseError.h"
#include "connection/QueryDataset.h"
#include "connection/Session.h"
#include "settings/crypt.h"
#include "support/ConnectWait.h"
#include "support/ModalScript.h"
#include "support/PgLock.h"
#include "support/PgServer.h"
#include "support/SessionConnection.h"
#include "support/SettingsFile.h"
#include "support/TestEnv.h"
#include "support/WindowFixture.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QToolButton>
#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>

namespace {

// Answers every modal dialog that the connect routine opens, however many: fills each login
// dialog with the given user ID and password, presses OK in each message box, and records what
// was shown.
class ModalResponder
{
public:
    struct Seen
    {
        QString kind; // "login" or the message box's objectName
        QString text; // the prefilled user ID, or the message box's text
        bool loginVariableSet = false; // Login referred to the dialog while it was shown
    };

    ModalResponder(const QString &user, const QString &password)
    {
        m_script.setFallback([this, user, password](QWidget *modal) {
            if (auto *login = qobject_cast<TLogin *>(modal)) {
                seen.append({ QStringLiteral("login"), login->UName->text(), Login == login });
                login->UName->setText(user);
                login->UPass->setText(password);
                login->BitBtn1->click();
            } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
                seen.append({ box->objectName(), box->text(), false });
                box->button(QMessageBox::Ok) ? box->button(QMessageBox::Ok)->click()
                                             : box->accept();
            } else {
                seen.append({ QStringLiteral("unexpected ") + modal->metaObject()->className(),
                    QString(), false });
                modal->close();
            }
        });
    }

    QList<Seen> seen;

    int count(const QString &kind) const
    {
        int n = 0;
        for (const Seen &entry : seen)
            n += entry.kind == kind;
        return n;
    }

private:
    ModalScript m_script { QList<ModalScript::Answer>() };
};

// A role whose password is made of characters the stored set can hold.
const QString user = QStringLiteral("loginuser");
const QString password = QStringLiteral("Secret-42 x=");

const QString prefix = QStringLiteral("Error Connecting to Database.  Error Message is: ");
const QString suffix =
    QStringLiteral("\r\n\r\nBut it's usually a bad password that causes this error");

QVariant storedParms()
{
    return SettingsFile().value(QStringLiteral("ConnectParms"));
}

void storeParms(const QString &plain)
{
    SettingsFile settings;
    settings.setValue(QStringLiteral("ConnectParms"), Encrypt(plain));
}

} // namespace

class tst_login : public QObject
{
    Q_OBJECT

private:
    PgServer *pg = nullptr;
    WindowFixture window;

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void loginDialogForm();
    void firstLoginServesEveryAlias();
    void storedSetInNewRun();
    void wrongPassword();
    void storedSetFails();
    void closeAndLogout();
    void openAliasWithClearedSet();
    void passwordOutsideAlphabet();
    void closeWhileStatementRuns();
    void logoutWhileRunning_data();
    void logoutWhileRunning();
    void selectDatabase_data();
    void selectDatabase();
};

void tst_login::initTestCase()
{
    try {
        pg = &PgServer::instance();
        pg->addDsn(QStringLiteral("db2t301"));
        pg->addDsn(QStringLiteral("db2t302"));
        pg->addDsn(QStringLiteral("db2t303"));
        pg->addDsn(QStringLiteral("loginlock"));
        pg->exec("CREATE ROLE " + user + " LOGIN PASSWORD '" + password + "'");
        pg->exec(QStringLiteral("CREATE ROLE mend LOGIN PASSWORD 'pa#ss_1.x'"));
    } catch (const std::exception &error) {
        QFAIL(error.what());
    }
}

void tst_login::init()
{
    SettingsFile().clear();
    QVERIFY(window.open(WindowFixture::Shown::No));
}

void tst_login::cleanup()
{
    window.close();
    QVERIFY(!Login);
}

void tst_login::loginDialogForm()
{
    // What the user relies on: a masked password, Enter presses OK, no way to close the
    // dialog other than OK, and Tab from the user ID to the password.
    TLogin login(window.form());
    QCOMPARE(login.UPass->echoMode(), QLineEdit::Password);
    QVERIFY(login.BitBtn1->isDefault());
    QVERIFY(!(login.windowFlags()
        & (Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint | Qt::WindowMinMaxButtonsHint)));
    QWidget *next = login.UName->nextInFocusChain();
    while (!(next->focusPolicy() & Qt::TabFocus))
        next = next->nextInFocusChain();
    QCOMPARE(next, login.UPass);
}

void tst_login::firstLoginServesEveryAlias()
{
    ModalResponder responder(user, password);
    QVERIFY(connectAndWait(*window, QStringLiteral("DB2T301")));
    QCOMPARE(responder.seen.size(), 1);
    QCOMPARE(responder.seen.at(0).kind, QStringLiteral("login"));
    QCOMPARE(responder.seen.at(0).text, WindowsUserName());
    QVERIFY(responder.seen.at(0).loginVariableSet);
    QVERIFY(!Login);

    const QString plain = PgServer::loginText(user, password);
    QCOMPARE(window->CachedParms, plain);
    QCOMPARE(storedParms().toString(), Encrypt(plain));
    QVERIFY(TestEnv::session().FindConnection(QStringLiteral("db2t301"))->IsConnected());

    // Another alias uses the same set, and an open alias is simply reused: no dialog.
    QVERIFY(connectAndWait(*window, QStringLiteral("DB2T302")));
    QVERIFY(connectAndWait(*window, QStringLiteral("DB2T301")));
    QCOMPARE(responder.seen.size(), 1);
    QVERIFY(TestEnv::session().FindConnection(QStringLiteral("DB2T302"))->IsConnected());
}

void tst_login::storedSetInNewRun()
{
    const QString plain = PgServer::loginText(user, password);
    storeParms(plain);
    ModalResponder responder { QString(), QString() };
    QVERIFY(window->CachedParms.isEmpty());
    QVERIFY(connectAndWait(*window, QStringLiteral("DB2T303")));
    QCOMPARE(responder.seen.size(), 0);
    QCOMPARE(window->CachedParms, plain);

    // Once read, the cached set is used even when the stored one changes.
    storeParms(PgServer::loginText(QStringLiteral("other"), QStringLiteral("x")));
    QCOMPARE(window->getDBParms(), plain);
}

void tst_login::wrongPassword()
{
    {
        ModalResponder responder(QStringLiteral("typed-id"), QStringLiteral("wrong"));
        QVERIFY(!connectAndWait(*window, QStringLiteral("DB2T301")));
        QCOMPARE(responder.seen.size(), 2);
        QCOMPARE(responder.seen.at(1).kind, QStringLiteral("ConnectErrorBox"));
        const QString text = responder.seen.at(1).text;
        QVERIFY2(text.startsWith(prefix) && text.endsWith(suffix), qPrintable(text));
        const QString message =
            text.mid(prefix.size(), text.size() - prefix.size() - suffix.size());
        QVERIFY2(message.contains(QStringLiteral("password authentication failed")),
            qPrintable(message));
    }
    QVERIFY(!Login);
    QVERIFY(window->CachedParms.isEmpty());
    QCOMPARE(storedParms().typeId(), QMetaType::QString);
    QCOMPARE(storedParms().toString(), QString());
    QVERIFY(!TestEnv::session().FindConnection(QStringLiteral("DB2T301"))->IsConnected());

    // The next attempt asks again, prefilled with the account name rather than the typed ID.
    ModalResponder responder(user, password);
    QVERIFY(connectAndWait(*window, QStringLiteral("DB2T301")));
    QCOMPARE(responder.seen.size(), 1);
    QCOMPARE(responder.seen.at(0).text, WindowsUserName());
}

void tst_login::storedSetFails()
{
    storeParms(PgServer::loginText(user, QStringLiteral("changed-on-the-server")));
    {
        ModalResponder responder { QString(), QString() };
        QVERIFY(!connectAndWait(*window, QStringLiteral("DB2T302")));
        QCOMPARE(responder.seen.size(), 1); // the message only, no dialog
        QCOMPARE(responder.seen.at(0).kind, QStringLiteral("ConnectErrorBox"));
        QVERIFY(responder.seen.at(0).text.startsWith(prefix));
    }
    QCOMPARE(storedParms().toString(), QString());
    QVERIFY(window->CachedParms.isEmpty());

    ModalResponder responder(user, password);
    QVERIFY(connectAndWait(*window, QStringLiteral("DB2T302")));
    QCOMPARE(responder.count(QStringLiteral("login")), 1);
}

void tst_login::closeAndLogout()
{
    {
        ModalResponder responder(user, password);
        QVERIFY(connectAndWait(*window, QStringLiteral("DB2T301")));
        QVERIFY(connectAndWait(*window, QStringLiteral("DB2T302")));
    }
    auto *logout = window->findChild<QToolButton *>(QStringLiteral("SpeedButton12"));
    QVERIFY(logout);
    logout->click();
    // Gone from the settings by the time the command returns.
    QVERIFY(storedParms().isValid());
    QCOMPARE(storedParms().toString(), QString());
    QTRY_VERIFY(window->CachedParms.isEmpty()); // once the credentials thread confirmed it
    Connection *first = TestEnv::session().FindConnection(QStringLiteral("DB2T301"));
    QVERIFY(first && !first->IsConnected());
    QVERIFY(!TestEnv::session().FindConnection(QStringLiteral("DB2T302"))->IsConnected());

    ModalResponder responder(user, password);
    QVERIFY(connectAndWait(*window, QStringLiteral("DB2T301")));
    QCOMPARE(responder.count(QStringLiteral("login")), 1);
    // The same connection object is opened again.
    QCOMPARE(TestEnv::session().FindConnection(QStringLiteral("DB2T301")), first);
    QVERIFY(first->IsConnected());
}

void tst_login::openAliasWithClearedSet()
{
    {
        ModalResponder responder(user, password);
        QVERIFY(connectAndWait(*window, QStringLiteral("DB2T301")));
    }
    window->setDBParms(PgServer::loginText(user, QStringLiteral("bad")));
    {
        ModalResponder responder { QString(), QString() };
        QVERIFY(!connectAndWait(*window, QStringLiteral("DB2T302")));
    }
    QVERIFY(window->getDBParms().isEmpty());

    ModalResponder responder { QString(), QString() };
    QVERIFY(connectAndWait(*window, QStringLiteral("DB2T301")));
    QCOMPARE(responder.seen.size(), 0);
}

void tst_login::passwordOutsideAlphabet()
{
    const QString plain = PgServer::loginText(QStringLiteral("mend"), QStringLiteral("pa#ss_1.x"));
    {
        ModalResponder responder(QStringLiteral("mend"), QStringLiteral("pa#ss_1.x"));
        QVERIFY(connectAndWait(*window, QStringLiteral("DB2T301")));
        // Kept for this run, so a second alias needs no dialog...
        QVERIFY(connectAndWait(*window, QStringLiteral("DB2T302")));
        QCOMPARE(responder.seen.size(), 1);
    }
    QCOMPARE(window->CachedParms, plain);
    // ...but not stored, since it would read back corrupted.
    QCOMPARE(storedParms().typeId(), QMetaType::QString);
    QCOMPARE(storedParms().toString(), QString());

    // The next run asks for the login instead of failing with a stored, corrupted set.
    QVERIFY(window.open(WindowFixture::Shown::No));
    ModalResponder responder(QStringLiteral("mend"), QStringLiteral("pa#ss_1.x"));
    QVERIFY(connectAndWait(*window, QStringLiteral("DB2T301")));
    QCOMPARE(responder.seen.size(), 1);
    QCOMPARE(responder.seen.at(0).kind, QStringLiteral("login"));
}

void tst_login::closeWhileStatementRuns()
{
    {
        ModalResponder responder(user, password);
        QVERIFY(connectAndWait(*window, QStringLiteral("DB2T301")));
        QVERIFY(connectAndWait(*window, QStringLiteral("DB2T302")));
    }
    auto dataset = std::make_unique<QueryDataset>();
    dataset->setConnection(QStringLiteral("DB2T301"), sessionConnection(QStringLiteral("DB2T301")));
    // The statement waits for a lock of the test's, so it runs until the test lets it go.
    PgLock lock(QStringLiteral("loginlock"), 7301);
    dataset->setSql(QStringLiteral("select 1 as one from ") + PgLock::waitFor(7301));

    std::atomic<bool> started { false };
    std::atomic<bool> finished { false };
    struct Joining : std::thread
    {
        using std::thread::thread;
        ~Joining()
        {
            if (joinable())
                join(); // also when a check failed: a running thread must not be destroyed
        }
    };
    Joining worker([&, query = std::move(dataset)]() mutable {
        started = true;
        try {
            query->OpenQuery();
        } catch (const std::exception &) {
            // A statement cut off by the logout may fail; it must not crash.
        }
        query.reset(); // freed on the worker, as an abandoned worker does
        finished = true;
    });
    QTRY_VERIFY(started);
    // Wait until the server runs the statement, seen from a second connection.
    const auto sleepers = [] {
        QueryDataset probe;
        probe.setConnection(
            QStringLiteral("DB2T302"), sessionConnection(QStringLiteral("DB2T302")));
        probe.setSql(QStringLiteral("select count(*) from pg_stat_activity where state = 'active'"
                                    " and wait_event = 'advisory'"));
        probe.OpenQuery();
        probe.GoFirst();
        return probe.FieldString(0);
    };
    QTRY_COMPARE_WITH_TIMEOUT(sleepers(), QStringLiteral("1"), 30000);

    auto *logout = window->findChild<QToolButton *>(QStringLiteral("SpeedButton12"));
    logout->click(); // must not wait for the statement
    QVERIFY2(!finished, "logout waited for the running statement");
    QVERIFY(!TestEnv::session().FindConnection(QStringLiteral("DB2T301"))->IsConnected());

    lock.release();
    QTRY_VERIFY_WITH_TIMEOUT(finished, 30000);
    worker.join();

    // The connection can be opened again afterwards.
    ModalResponder responder(user, password);
    QVERIFY(connectAndWait(*window, QStringLiteral("DB2T301")));
    QCOMPARE(responder.count(QStringLiteral("login")), 1);
}

void tst_login::logoutWhileRunning_data()
{
    QTest::addColumn<bool>("abandoned"); // Close Query before the logout
    QTest::newRow("current statement") << false;
    QTest::newRow("abandoned statement") << true;
}

void tst_login::logoutWhileRunning()
{
    QFETCH(bool, abandoned);
    // True when no statement waits for the test's lock any more (psql fails the block while one
    // does).
    const auto noSleeper = [this] {
        try {
            pg->exec(QStringLiteral("DO $$ BEGIN IF EXISTS (SELECT 1 FROM pg_stat_activity WHERE "
                                    "wait_event = 'advisory') THEN RAISE EXCEPTION 'busy'; END IF; "
                                    "END $$"));
            return true;
        } catch (const std::exception &) {
            return false;
        }
    };
    auto *run = window->findChild<QToolButton *>(QStringLiteral("SpeedButton1"));
    auto *close = window->findChild<QToolButton *>(QStringLiteral("SpeedButton4"));
    auto *logout = window->findChild<QToolButton *>(QStringLiteral("SpeedButton12"));
    auto *editor = window->findChild<QPlainTextEdit *>(QStringLiteral("RE1"));
    QVERIFY(run && close && logout && editor);

    ModalResponder responder(user, password);
    // The statement waits for a lock of the test's, so it runs until the test lets it go. The
    // column name picks the alias db2t301.
    PgLock lock(QStringLiteral("loginlock"), 7302);
    editor->setPlainText(QStringLiteral("select 1 as t301dba from ") + PgLock::waitFor(7302));
    run->click();
    QTRY_COMPARE(responder.count(QStringLiteral("login")), 1); // once the stored set was read
    QVERIFY(!run->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(!noSleeper(), 30000);

    if (abandoned)
        close->click();
    logout->click();
    QTRY_VERIFY(window->CachedParms.isEmpty());
    QVERIFY(!TestEnv::session().FindConnection(QStringLiteral("DB2T301"))->IsConnected());
    QVERIFY(!run->isEnabled() || abandoned);

    lock.release();
    if (abandoned) {
        QVERIFY(run->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(noSleeper(), 30000);
    } else {
        // The current statement ends and is handed back the usual way.
        QTRY_VERIFY_WITH_TIMEOUT(run->isEnabled(), 30000);
        QVERIFY(!window->CurrentThread);
    }

    // The next Run asks for the login again and works.
    editor->setPlainText(QStringLiteral("select 1 as t301dba"));
    run->click();
    QTRY_COMPARE(responder.count(QStringLiteral("login")), 2);
    QTRY_VERIFY_WITH_TIMEOUT(
        window->statusText(1).startsWith(QStringLiteral("Select Complete")), 30000);
    // An abandoned statement's end shows nothing; a current one's result or error shows the
    // usual way; nothing else pops up.
    for (const ModalResponder::Seen &entry : responder.seen) {
        QVERIFY2(entry.kind == QStringLiteral("login")
                || (!abandoned && entry.kind == QStringLiteral("QueryErrorBox")),
            qPrintable(entry.kind + QLatin1Char(' ') + entry.text));
    }
}

void tst_login::selectDatabase_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("before"); // an item of the list, or a typed name
    QTest::addColumn<QString>("expected");

    QTest::newRow("lower case") << "select * from t312dba.orders" << QString() << "db2t302";
    QTest::newRow("first group wins")
        << "select * from T302DBA.a, T301DBA.b" << QString() << "db2t301";
    QTest::newRow("inside a word and a comment") << "select 1 -- xT333DBAx\r\nfrom dual"
                                                 << "db2t301"
                                                 << "db2t303";
    QTest::newRow("string literal") << "select 'P221DBA' from t" << QString() << "db2p201";
    QTest::newRow("last schema of group 1") << "from T371DBA.X"
                                            << "db2t303"
                                            << "db2t301";
    QTest::newRow("no DB2P401 alias empties the box") << "select * from P421DBA.t"
                                                      << "db2t302" << QString();
    QTest::newRow("no match keeps a typed name") << "select 1 from t"
                                                 << "MYDB"
                                                 << "MYDB";
    QTest::newRow("no match keeps the selection") << "select 1 from T301DB.t"
                                                  << "db2t303"
                                                  << "db2t303";
}

void tst_login::selectDatabase()
{
    QFETCH(QString, sql);
    QFETCH(QString, before);
    QFETCH(QString, expected);

    auto *combo = window->findChild<QComboBox *>(QStringLiteral("ComboBox1"));
    QVERIFY(combo);
    QVERIFY(combo->findText(QStringLiteral("db2p401")) < 0);
    const int item = combo->findText(before);
    if (item >= 0)
        combo->setCurrentIndex(item);
    else
        combo->setEditText(before);
    QCOMPARE(combo->currentText(), before);

    auto *editor = window->findChild<QPlainTextEdit *>(QStringLiteral("RE1"));
    QVERIFY(editor);
    editor->setPlainText(sql);
    window->SelectDatabaseFromSQL();

    QCOMPARE(combo->currentText(), expected);
    QCOMPARE(combo->currentIndex(), combo->findText(expected, Qt::MatchFixedString));
}

STELVIK_TEST_MAIN(tst_login)
#include "tst_login.moc"
