#include "app/Unit1.h"
#include "support/ModalScript.h"
#include "support/OrdinaryUser.h"
#include "support/SettingsFile.h"
#include "support/TestEnv.h"
#include "support/WindowFixture.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <memory>

// The start-up of the main window as an ordinary user meets it: a DB2 client that another user
// installed, a data source file the user may not read, a hand-edited history. A step that fails
// shows its message once and costs no later step, and the stored history is never lost.
class tst_startup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void stepsFailOnTheirOwn_data();
    void stepsFailOnTheirOwn();

private:
    QTemporaryDir m_system; // stands for the machine-wide settings
};

namespace {

const QFile::Permissions readOnlyFolder = QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup
    | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
const QFile::Permissions readOnlyFile = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;

// Named once, before the file exists: a settings object of this process would otherwise keep
// the file's contents in the settings' shared cache, which a start in a new process never has.
QString settingsFile()
{
    static const QString path = SettingsFile::path();
    return path;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(content) == content.size();
}

void setDb2Path(const QString &path)
{
    QSettings db2(QSettings::NativeFormat, QSettings::SystemScope, QStringLiteral("IBM"),
        QStringLiteral("DB2"));
    db2.setValue(QStringLiteral("DB2 Path Name"), path);
}

QStringList items(const QComboBox *box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts << box->itemText(i);
    return texts;
}

} // namespace

void tst_startup::initTestCase()
{
    settingsFile();
    QApplication::setApplicationName(UserSettings::application());
    QApplication::setOrganizationName(UserSettings::organization());
    QVERIFY(m_system.isValid());
    QVERIFY(QFile::setPermissions(m_system.path(), readOnlyFolder | QFile::WriteOwner));
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, m_system.path());
    TestEnv::addSqliteDsn(QStringLiteral("Sales"));
}

void tst_startup::cleanup()
{
    QFile::setPermissions(qEnvironmentVariable("ODBCINI"), readOnlyFile | QFile::WriteOwner);
    QFile::remove(settingsFile());
    QSettings(QSettings::NativeFormat, QSettings::SystemScope, QStringLiteral("IBM"),
        QStringLiteral("DB2"))
        .clear();
}

void tst_startup::stepsFailOnTheirOwn_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QStringList>("messages"); // as shown, in order
    QTest::addColumn<QStringList>("loaded"); // the history after start-up, newest first
    const QStringList six { "select 0", "select 1", "select 2", "select 3", "select 4",
        "select 5" };
    const QString client = QDir::tempPath() + QStringLiteral("/stelvik-no-such-client");

    QTest::newRow("DB2 client of another user") << "client of another user" << QStringList() << six;
    QTest::newRow("DB2 client folder missing")
        << "client folder missing"
        << QStringList { "Unable to write to " + client + "/db2cli.ini." } << six;
    QTest::newRow("data source file unreadable")
        << "data sources unreadable"
        << QStringList { "Cannot create alias db2p201: Unable to write to "
               + qEnvironmentVariable("ODBCINI") + "." }
        << six;
    QTest::newRow("settings file unreadable")
        << "settings unreadable" << QStringList() << QStringList();
    QTest::newRow("hand-edited history value")
        << "history value not text" << QStringList { "Invalid data type for 'History3'" }
        << QStringList { "select 0", "select 1", "select 2", "select 4", "select 5" };
}

void tst_startup::stepsFailOnTheirOwn()
{
    QFETCH(QString, fault);
    QFETCH(QStringList, messages);
    QFETCH(QStringList, loaded);

    // Six statements in the user's settings file, the fourth hand-edited in the bad case: an
    // unquoted comma makes the settings read a list.
    QByteArray stored = "[General]\n";
    for (int n = 0; n < 6; ++n)
        stored += "History" + QByteArray::number(n) + "=select "
            + (n == 3 && fault == QLatin1String("history value not text") ? "a, b from t"
                                                                          : QByteArray::number(n))
            + "\\r\\n\n";
    if (fault == QLatin1String("settings unreadable"))
        stored += "ConnectParms=\n"; // another size: nothing this process read before
    QVERIFY(QDir().mkpath(QFileInfo(settingsFile()).absolutePath()));
    QVERIFY(writeFile(settingsFile(), stored));

    QTemporaryDir installation; // a DB2 client of root's, where the user may not write
    QVERIFY(installation.isValid());
    const QString client = installation.filePath(QStringLiteral("client"));
    const QByteArray cli = "[DB2P201]\nTXNISOLATION=0\n";
    QVERIFY(QDir().mkdir(client));
    QVERIFY(writeFile(client + QStringLiteral("/db2cli.ini"), cli));
    QVERIFY(QFile::setPermissions(client + QStringLiteral("/db2cli.ini"), readOnlyFile));
    QVERIFY(QFile::setPermissions(client, readOnlyFolder));
    QVERIFY(QFile::setPermissions(installation.path(), readOnlyFolder | QFile::WriteOwner));
    if (fault == QLatin1String("client of another user"))
        setDb2Path(client);
    else if (fault == QLatin1String("client folder missing"))
        setDb2Path(QDir::tempPath() + QStringLiteral("/stelvik-no-such-client"));
    else if (fault == QLatin1String("data sources unreadable"))
        QVERIFY(QFile::setPermissions(qEnvironmentVariable("ODBCINI"), {}));
    // A settings file that another user left behind (a start with sudo) and only they may read.
    QStringList othersFiles;
    if (fault == QLatin1String("settings unreadable")) {
        QVERIFY(QFile::setPermissions(settingsFile(), QFile::ReadOwner | QFile::WriteOwner));
        if (OrdinaryUser::switches())
            othersFiles << settingsFile();
        else
            QVERIFY(QFile::setPermissions(settingsFile(), {}));
    }

    WindowFixture form;
    ModalScript script(
        QList<ModalScript::Answer>(messages.size(), ModalScript::press(QMessageBox::Ok)));
    QVERIFY(OrdinaryUser::run(
        [&] {
            form.open(WindowFixture::Shown::No);
            // As a Run adds its statement.
            form->AddToHistory({ QStringLiteral("select new") });
        },
        othersFiles));
    QFile::setPermissions(client, readOnlyFolder | QFile::WriteOwner);

    QStringList shown;
    for (const ModalScript::Seen &seen : script.seen)
        shown << seen.text;
    QCOMPARE(shown, messages);
    QCOMPARE(script.unexpected, 0);
    QCOMPARE(readFile(client + QStringLiteral("/db2cli.ini")), cli);

    // The later steps ran: the alias list is filled and sorted, the history loaded and shown.
    const QStringList aliases = items(child<QComboBox>(form.form(), "ComboBox1"));
    QVERIFY(aliases.contains(QStringLiteral("Sales"))
        || fault == QLatin1String("data sources unreadable"));
    if (fault != QLatin1String("data sources unreadable"))
        QVERIFY(aliases.contains(QStringLiteral("db2p201")));
    QStringList sorted = aliases;
    sorted.sort(Qt::CaseInsensitive);
    QCOMPARE(aliases, sorted);
    QStringList history;
    for (const HistoryItem &item : std::as_const(form->HistoryList))
        history << item.Display;
    QCOMPARE(history, QStringList { QStringLiteral("select new") } + loaded);
    QCOMPARE(items(child<QComboBox>(form.form(), "ComboBox2")), history);

    // Settings that could not be read were not written over either.
    if (fault == QLatin1String("settings unreadable")) {
        QCOMPARE(readFile(settingsFile()), stored);
        form.close();
        return;
    }
    // Nothing stored was lost: every loaded entry behind the new one, the unreadable value kept.
    SettingsFile reader;
    for (int i = 0; i < history.size(); ++i)
        QCOMPARE(reader.value(QStringLiteral("History%1").arg(i)).toString(),
            history.at(i) + QStringLiteral("\r\n"));
    if (loaded.size() < 6)
        QCOMPARE(reader.value(QStringLiteral("History%1").arg(history.size())),
            QVariant(QStringList { QStringLiteral("select a"), QStringLiteral("b from t\r\n") }));
    form.close();
}

STELVIK_TEST_MAIN(tst_startup)
#include "tst_startup.moc"
