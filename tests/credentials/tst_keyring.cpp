#include "credentials/CredentialStore.h"
#include "settings/crypt.h"
#include "support/KeyringSession.h"
#include "support/SettingsFile.h"
#include "support/TestEnv.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QFile>
#include <QSettings>
#include <QtTest>

#include <atomic>
#include <optional>

// Runs once in each state of the keyring (tests/keyring-session): where one answers, the
// password goes into it; everywhere else the stored login keeps its old format exactly.
class tst_keyring : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void storeAndRead_data();
    void storeAndRead();
    void storedValueRead_data();
    void storedValueRead();
    void clear_data();
    void clear();
    void unansweredKeyring();
};

namespace {

using OptionalText = std::optional<QString>;

QString loginText(const QString &user, const QString &password)
{
    return "USER NAME=" + user + "\r\nPASSWORD=" + password + "\r\n";
}

QString userLine(const QString &user)
{
    return "USER NAME=" + user + "\r\n";
}

QString settingsFile()
{
    return SettingsFile::path();
}

QVariant storedValue()
{
    return SettingsFile().value(QStringLiteral("ConnectParms"));
}

// Writes the settings as an earlier run (or an older version) left them.
void leaveSettings(const QString &choice, const OptionalText &plainValue)
{
    SettingsFile settings;
    if (!choice.isEmpty())
        settings.setValue(QStringLiteral("CredentialStore"), choice);
    if (plainValue)
        settings.setValue(QStringLiteral("ConnectParms"), Encrypt(*plainValue));
    settings.sync();
    QCOMPARE(settings.status(), QSettings::NoError);
}

} // namespace

void tst_keyring::initTestCase()
{
    const QString problem = KeyringSession::verify();
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

void tst_keyring::cleanup()
{
    QFile::remove(settingsFile());
    KeyringSession::clearPassword();
}

void tst_keyring::storeAndRead_data()
{
    QTest::addColumn<QString>("choice"); // the setting "CredentialStore"; empty: not set
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("storedWith"); // the settings value, plain, with a keyring
    QTest::addColumn<OptionalText>("keyringWith"); // the keyring's entry then
    QTest::addColumn<QString>("storedWithout"); // the settings value without a keyring

    const QString login = loginText(QStringLiteral("jdoe"), QStringLiteral("pw-1"));
    const QString user = userLine(QStringLiteral("jdoe"));
    const OptionalText password = QStringLiteral("pw-1");
    const OptionalText none;
    QTest::newRow("default store") << QString() << login << user << password << login;
    QTest::newRow("keyring chosen")
        << QStringLiteral("keyring") << login << user << password << login;
    QTest::newRow("settings chosen")
        << QStringLiteral("settings") << login << login << none << login;
    QTest::newRow("settings chosen, other case and blanks")
        << QStringLiteral(" Settings ") << login << login << none << login;
    QTest::newRow("empty user and password")
        << QString() << loginText(QString(), QString()) << userLine(QString())
        << OptionalText(QString()) << loginText(QString(), QString());
    const QString blanks = loginText(QStringLiteral("J Doe"), QStringLiteral("a b=c "));
    QTest::newRow("blanks and equals signs")
        << QString() << blanks << userLine(QStringLiteral("J Doe"))
        << OptionalText(QStringLiteral("a b=c ")) << blanks;
    // Only the scrambled settings lose such characters; the keyring keeps the password exactly.
    const QString odd = QStringLiteral("pa#ss_\u00fc!");
    QTest::newRow("password outside the scrambling alphabet")
        << QString() << loginText(QStringLiteral("jdoe"), odd) << user << OptionalText(odd)
        << QString();
    QTest::newRow("user outside the scrambling alphabet")
        << QString() << loginText(QStringLiteral("j_doe"), QStringLiteral("pw")) << QString()
        << none << QString();
    const QString extra = login + QStringLiteral("DATABASE=x\r\n");
    QTest::newRow("not the login's two lines") << QString() << extra << extra << none << extra;
    QTest::newRow("empty text") << QString() << QString() << QString() << none << QString();
}

void tst_keyring::storeAndRead()
{
    QFETCH(QString, choice);
    QFETCH(QString, text);
    QFETCH(QString, storedWith);
    QFETCH(OptionalText, keyringWith);
    QFETCH(QString, storedWithout);
    leaveSettings(choice, std::nullopt);

    CredentialStore::write(text);

    const QString stored = KeyringSession::answers() ? storedWith : storedWithout;
    QCOMPARE(storedValue().typeId(), QMetaType::QString);
    QCOMPARE(storedValue().toString(), Encrypt(stored));
    if (KeyringSession::answers())
        QCOMPARE(KeyringSession::password(), keyringWith);

    // A later run reads the text back (when it could be stored), and reading changes nothing.
    QCOMPARE(CredentialStore::read(), stored.isEmpty() ? QString() : text);
    QCOMPARE(storedValue().toString(), Encrypt(stored));
}

void tst_keyring::storedValueRead_data()
{
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QString>("stored"); // the settings value an earlier run left
    QTest::addColumn<OptionalText>("keyringBefore"); // the keyring's entry then
    QTest::addColumn<QString>("readWith"); // read() with a keyring answering
    QTest::addColumn<QString>("storedAfter"); // the settings value afterwards, with a keyring
    QTest::addColumn<OptionalText>("keyringAfter");
    QTest::addColumn<QString>("readWithout"); // read() without a keyring; nothing changes

    const QString full = loginText(QStringLiteral("jdoe"), QStringLiteral("pw-1"));
    const QString user = userLine(QStringLiteral("jdoe"));
    const OptionalText none;
    const OptionalText password = QStringLiteral("pw-1");

    QTest::newRow("old value: password moves into the keyring")
        << QString() << full << none << full << user << password << full;
    QTest::newRow("old value replaces an older keyring entry")
        << QString() << full << OptionalText(QStringLiteral("older")) << full << user << password
        << full;
    QTest::newRow("old value stays when the settings are chosen")
        << QStringLiteral("settings") << full << none << full << full << none << full;
    const QString extra = full + QStringLiteral("DATABASE=x\r\n");
    QTest::newRow("other text stays")
        << QString() << extra << none << extra << extra << none << extra;
    QTest::newRow("user line joined with the keyring's password")
        << QString() << user << password << full << user << password << QString();
    QTest::newRow("user line without a keyring entry asks for a login")
        << QString() << user << none << QString() << user << none << QString();
    QTest::newRow("settings chosen: password moves back")
        << QStringLiteral("settings") << user << password << full << full << none << QString();
    const OptionalText unscramblable = QStringLiteral("pa#ss");
    QTest::newRow("settings chosen: a password the settings would corrupt stays")
        << QStringLiteral("settings") << user << unscramblable
        << loginText(QStringLiteral("jdoe"), *unscramblable) << user << unscramblable << QString();
    QTest::newRow("nothing stored")
        << QString() << QString() << none << QString() << QString() << none << QString();
}

void tst_keyring::storedValueRead()
{
    QFETCH(QString, choice);
    QFETCH(QString, stored);
    QFETCH(OptionalText, keyringBefore);
    QFETCH(QString, readWith);
    QFETCH(QString, storedAfter);
    QFETCH(OptionalText, keyringAfter);
    QFETCH(QString, readWithout);
    leaveSettings(choice, stored);
    if (keyringBefore && KeyringSession::answers())
        KeyringSession::setPassword(*keyringBefore);

    if (KeyringSession::answers()) {
        QCOMPARE(CredentialStore::read(), readWith);
        QCOMPARE(storedValue().toString(), Encrypt(storedAfter));
        QCOMPARE(KeyringSession::password(), keyringAfter);
        // A second run finds the moved login where the first one left it.
        QCOMPARE(CredentialStore::read(), readWith);
    } else {
        QCOMPARE(CredentialStore::read(), readWithout);
        QCOMPARE(storedValue().toString(), Encrypt(stored));
    }
}

void tst_keyring::clear_data()
{
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<OptionalText>("keyringBefore");

    const QString full = loginText(QStringLiteral("jdoe"), QStringLiteral("pw-1"));
    const QString user = userLine(QStringLiteral("jdoe"));
    const OptionalText password = QStringLiteral("pw-1");
    QTest::newRow("login in the keyring") << QString() << user << password;
    QTest::newRow("old value") << QString() << full << OptionalText();
    QTest::newRow("old value and a keyring entry left behind") << QString() << full << password;
    QTest::newRow("settings chosen, password in the keyring")
        << QStringLiteral("settings") << user << password;
    QTest::newRow("settings chosen, old value")
        << QStringLiteral("settings") << full << OptionalText();
}

void tst_keyring::clear()
{
    // What Close and Logout and a failed login do: both places forget the login.
    QFETCH(QString, choice);
    QFETCH(QString, stored);
    QFETCH(OptionalText, keyringBefore);
    leaveSettings(choice, stored);
    if (keyringBefore && KeyringSession::answers())
        KeyringSession::setPassword(*keyringBefore);

    CredentialStore::write(QString());

    QCOMPARE(storedValue().typeId(), QMetaType::QString);
    QCOMPARE(storedValue().toString(), QString());
    if (KeyringSession::answers())
        QCOMPARE(KeyringSession::password(), OptionalText());
    QCOMPARE(CredentialStore::read(), QString());
}

namespace {

// A keyring that takes every request and answers none until told to: it owns the Secret
// Service's name on the test's private bus, through a connection of its own.
class SilentKeyring : public QDBusVirtualObject
{
public:
    SilentKeyring()
        : m_bus(QDBusConnection::connectToBus(
            QDBusConnection::SessionBus, QStringLiteral("silent-keyring")))
    {
        m_bus.registerVirtualObject(QStringLiteral("/"), this, QDBusConnection::SubPath);
        m_registered = m_bus.registerService(QStringLiteral("org.freedesktop.secrets"));
    }

    ~SilentKeyring() override
    {
        m_bus.unregisterService(QStringLiteral("org.freedesktop.secrets"));
        m_bus.unregisterObject(QStringLiteral("/"), QDBusConnection::UnregisterTree);
        QDBusConnection::disconnectFromBus(QStringLiteral("silent-keyring"));
    }

    bool registered() const { return m_registered; }
    int requests() const { return m_requests; }

    // From now on every request, held or new, gets an error at once. Called on the keyring's
    // thread.
    void answerWithErrors()
    {
        m_answering = true;
        for (const QDBusMessage &request : std::as_const(m_held))
            m_bus.send(request.createErrorReply(QDBusError::Failed, QStringLiteral("gone")));
        m_held.clear();
    }

    QString introspect(const QString &) const override { return QString(); }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &) override
    {
        ++m_requests;
        if (m_answering)
            m_bus.send(message.createErrorReply(QDBusError::Failed, QStringLiteral("gone")));
        else
            m_held.append(message);
        return true;
    }

private:
    QDBusConnection m_bus;
    bool m_registered = false;
    std::atomic<bool> m_answering = false;
    std::atomic<int> m_requests = 0;
    QList<QDBusMessage> m_held;
};

} // namespace

void tst_keyring::unansweredKeyring()
{
    if (KeyringSession::mode() != QLatin1String("nodaemon"))
        QSKIP("needs a session bus on which no keyring runs (tst_keyring_nodaemon)");
    // The keyring hears its requests on a thread of its own, as the store waits for its answers
    // without handling this thread's events.
    QThread bus;
    bus.start();
    SilentKeyring keyring;
    const auto stopBus = qScopeGuard([&] { // before the keyring goes
        bus.quit();
        bus.wait();
    });
    QVERIFY(keyring.registered());
    keyring.moveToThread(&bus);
    const QString login = loginText(QStringLiteral("jdoe"), QStringLiteral("pw-1"));

    // The store gives up on the keyring at its deadline and keeps the old format.
    CredentialStore::write(login);
    QVERIFY(keyring.requests() > 0);
    QCOMPARE(storedValue().toString(), Encrypt(login));

    // While that request is pending, the keyring counts as none without being asked again.
    const int requests = keyring.requests();
    QCOMPARE(CredentialStore::read(), login);
    CredentialStore::write(login);
    QCOMPARE(keyring.requests(), requests);

    // The late answer changes nothing; once it came, the keyring is asked again.
    QMetaObject::invokeMethod(
        &keyring, [&] { keyring.answerWithErrors(); }, Qt::BlockingQueuedConnection);
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            const int before = keyring.requests();
            CredentialStore::write(login);
            return keyring.requests() > before;
        }(),
        30000);
    QCOMPARE(storedValue().toString(), Encrypt(login));
    QCOMPARE(CredentialStore::read(), login);
}

STELVIK_TEST_GUILESS_MAIN(tst_keyring)
#include "tst_keyring.moc"
