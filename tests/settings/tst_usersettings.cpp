#include "settings/UserSettings.h"
#include "support/SettingsFile.h"
#include "support/TestEnv.h"

#include <QtTest>

#include <functional>
#include <map>

// Each getter keeps its own rule for what a person may have stored: odd values (empty, garbage,
// out of range) read as that rule says, never by another value's rule.
class tst_usersettings : public QObject
{
    Q_OBJECT

private slots:
    void getter_data();
    void getter();
};

namespace {

// A getter's answer as one value: HistoryKeep's rejected text is a QString, its unset an
// invalid value, ResultMemoryMB in megabytes.
QVariant read(const QString &name)
{
    static const std::map<QString, std::function<QVariant()>> getters {
        { QStringLiteral("AutoCommit"), [] { return QVariant(UserSettings::autoCommit()); } },
        { QStringLiteral("ConfirmUnfilteredChanges"),
            [] { return QVariant(UserSettings::confirmUnfilteredEverywhere()); } },
        { QStringLiteral("CredentialStore"),
            [] { return QVariant(UserSettings::credentialsInKeyring()); } },
        { QStringLiteral("HistoryKeep"),
            [] {
                std::optional<QString> rejected;
                const std::optional<int> keep = UserSettings::historyKeep(&rejected);
                return keep ? QVariant(*keep) : rejected ? QVariant(*rejected) : QVariant();
            } },
        { QStringLiteral("LoginTimeout"), [] { return QVariant(UserSettings::loginTimeout()); } },
        { QStringLiteral("ProductionAliases"),
            [] { return QVariant(UserSettings::productionAliases()); } },
        { QStringLiteral("ResultMemoryMB"),
            [] { return QVariant(qint64(UserSettings::resultMemoryBytes() >> 20)); } },
        { QStringLiteral("ScriptContinueOnError"),
            [] { return QVariant(UserSettings::scriptContinueOnError()); } },
        { QStringLiteral("WindowGeometry"),
            [] { return QVariant(UserSettings::windowGeometry()); } },
    };
    return getters.at(name)();
}

} // namespace

void tst_usersettings::getter_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QVariant>("stored"); // invalid: not set
    QTest::addColumn<QVariant>("expected");
    const QString t = QStringLiteral("true"); // a text, as a person writes it in the file
    auto row = [](const char *tag, const char *name, const QVariant &stored,
                   const QVariant &answer) {
        QTest::newRow(tag) << QString::fromLatin1(name) << stored << answer;
    };
    row("auto-commit unset", "AutoCommit", QVariant(), true);
    row("auto-commit FALSE", "AutoCommit", QStringLiteral(" FALSE "), false);
    row("auto-commit 0", "AutoCommit", QStringLiteral("0"), false);
    row("auto-commit no", "AutoCommit", QStringLiteral("no"), true);
    row("auto-commit empty", "AutoCommit", QStringLiteral(""), true);
    row("unfiltered unset", "ConfirmUnfilteredChanges", QVariant(), false);
    row("unfiltered true", "ConfirmUnfilteredChanges", t, true);
    row("unfiltered 0", "ConfirmUnfilteredChanges", QStringLiteral("0"), false);
    row("unfiltered garbage", "ConfirmUnfilteredChanges", QStringLiteral("maybe"), true);
    row("credentials unset", "CredentialStore", QVariant(), true);
    row("credentials Settings", "CredentialStore", QStringLiteral(" Settings "), false);
    row("credentials garbage", "CredentialStore", QStringLiteral("file"), true);
    row("keep unset", "HistoryKeep", QVariant(), QVariant());
    row("keep 50", "HistoryKeep", QStringLiteral(" 50 "), 50);
    row("keep 0", "HistoryKeep", QStringLiteral("0"), QStringLiteral("0"));
    row("keep empty", "HistoryKeep", QStringLiteral(""), QStringLiteral(""));
    row("keep garbage", "HistoryKeep", QStringLiteral("lots"), QStringLiteral("lots"));
    row("timeout unset", "LoginTimeout", QVariant(), 30);
    row("timeout 0", "LoginTimeout", QStringLiteral("0"), 0);
    row("timeout negative", "LoginTimeout", QStringLiteral("-1"), 30);
    row("timeout garbage", "LoginTimeout", QStringLiteral("soon"), 30);
    row("production unset", "ProductionAliases", QVariant(),
        QStringList { QStringLiteral("DB2P201"), QStringLiteral("DB2P401") });
    row("production text", "ProductionAliases", QStringLiteral("a, b;c  d"),
        QStringList {
            QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d") });
    row("production empty", "ProductionAliases", QStringLiteral(""), QStringList());
    row("memory unset", "ResultMemoryMB", QVariant(), qint64(256));
    row("memory 64", "ResultMemoryMB", QStringLiteral("64"), qint64(64));
    row("memory zero", "ResultMemoryMB", 0, qint64(256));
    row("memory negative", "ResultMemoryMB", QStringLiteral("-5"), qint64(256));
    row("memory 2^30", "ResultMemoryMB", QStringLiteral("1073741824"), qint64(256));
    row("memory garbage", "ResultMemoryMB", QStringLiteral("lots"), qint64(256));
    row("script unset", "ScriptContinueOnError", QVariant(), false);
    row("script true", "ScriptContinueOnError", t, true);
    row("geometry text", "WindowGeometry", QStringLiteral("abc"), QByteArray());
    row("geometry bytes", "WindowGeometry", QByteArray("\x01\xff", 2), QByteArray("\x01\xff", 2));
}

void tst_usersettings::getter()
{
    QFETCH(QString, name);
    QFETCH(QVariant, stored);
    QFETCH(QVariant, expected);
    {
        SettingsFile settings;
        settings.clear();
        if (stored.isValid())
            settings.setValue(name, stored);
    }
    QCOMPARE(read(name), expected);
}

STELVIK_TEST_GUILESS_MAIN(tst_usersettings)
#include "tst_usersettings.moc"
