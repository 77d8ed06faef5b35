#include "app/ULogin.h"
#include "app/Unit1.h"
#include "connection/Connection.h"
#include "connection/Session.h"
#include "settings/crypt.h"
#include "support/ConnectWait.h"
#include "support/KeyringSession.h"
#include "support/ModalScript.h"
#include "support/PgServer.h"
#include "support/SettingsFile.h"
#include "support/TestEnv.h"
#include "support/WindowFixture.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QToolButton>
#include <QtTest>

#include <memory>
#include <optional>

// The window's login road with the desktop keyring in each state (tests/keyring-session),
// against a server that checks passwords: the login typed once is kept, serves a later run, and
// Close and Logout forgets it everywhere.
class tst_keyringlogin : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void loginKeptAcrossRuns_data();
    void loginKeptAcrossRuns();

private:
    WindowFixture window;
};

namespace {

using OptionalText = std::optional<QString>;

QString storedPlain()
{
    return Decrypt(SettingsFile().value(QStringLiteral("ConnectParms")).toString());
}

ModalScript::Answer typeLogin(const QString &user, const QString &password)
{
    return [user, password](QWidget *dialog) {
        auto *login = qobject_cast<TLogin *>(dialog);
        QVERIFY(login);
        login->UName->setText(user);
        login->UPass->setText(password);
        login->BitBtn1->click();
    };
}

} // namespace

void tst_keyringlogin::initTestCase()
{
    const QString problem = KeyringSession::verify();
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    try {
        PgServer &pg = PgServer::instance();
        pg.addDsn(QStringLiteral("db2t301"));
        pg.addDsn(QStringLiteral("db2t302"));
        pg.exec(QStringLiteral("CREATE ROLE plain LOGIN PASSWORD 'Secret-42 x='"));
        pg.exec(QStringLiteral("CREATE ROLE odd LOGIN PASSWORD 'pa#ss_1.x'"));
    } catch (const std::exception &error) {
        QFAIL(error.what());
    }
}

void tst_keyringlogin::init()
{
    SettingsFile().clear();
    KeyringSession::clearPassword();
    QVERIFY(window.open(WindowFixture::Shown::No));
}

void tst_keyringlogin::cleanup()
{
    window.close();
    TestEnv::session().CloseConnections();
}

void tst_keyringlogin::loginKeptAcrossRuns_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("keptWithoutKeyring"); // the scrambled settings can hold it

    QTest::newRow("password the settings can hold")
        << QStringLiteral("plain") << QStringLiteral("Secret-42 x=") << true;
    QTest::newRow("password only a keyring keeps exactly")
        << QStringLiteral("odd") << QStringLiteral("pa#ss_1.x") << false;
}

void tst_keyringlogin::loginKeptAcrossRuns()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(bool, keptWithoutKeyring);
    const QString text = PgServer::loginText(user, password);
    const bool keyring = KeyringSession::answers();

    {
        ModalScript script({ typeLogin(user, password) });
        QVERIFY(connectAndWait(*window, QStringLiteral("DB2T301")));
        QVERIFY(script.done());
        QCOMPARE(script.unexpected, 0);
    }
    QCOMPARE(window->CachedParms, text);
    if (keyring) {
        QCOMPARE(storedPlain(), "USER NAME=" + user + "\r\n");
        QCOMPARE(KeyringSession::password(), OptionalText(password));
    } else {
        QCOMPARE(storedPlain(), keptWithoutKeyring ? text : QString());
    }

    // A later run: a new window and closed connections. The kept login opens another alias
    // without a dialog; only a login the settings could not hold is asked for again.
    window.close();
    TestEnv::session().CloseConnections();
    QVERIFY(window.open(WindowFixture::Shown::No));
    const bool kept = keyring || keptWithoutKeyring;
    {
        ModalScript script(kept ? QList<ModalScript::Answer>()
                                : QList<ModalScript::Answer> { typeLogin(user, password) });
        QVERIFY(connectAndWait(*window, QStringLiteral("DB2T302")));
        QVERIFY(script.done());
        QCOMPARE(script.unexpected, 0);
    }
    QCOMPARE(window->CachedParms, text);

    // Close and Logout forgets the login in the settings and in the keyring, closed at once.
    window.child<QToolButton>("SpeedButton12")->click();
    window->close();
    QCOMPARE(storedPlain(), QString());
    if (keyring)
        QCOMPARE(KeyringSession::password(), OptionalText());
    QVERIFY(window.open(WindowFixture::Shown::No));
    {
        ModalScript script({ typeLogin(user, password) });
        QVERIFY(connectAndWait(*window, QStringLiteral("DB2T302")));
        QVERIFY(script.done());
    }
}

STELVIK_TEST_MAIN(tst_keyringlogin)
#include "tst_keyringlogin.moc"
