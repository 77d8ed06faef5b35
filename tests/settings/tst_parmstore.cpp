#include "settings/ParmStore.h"
#include "support/FileSizeLimit.h"
#include "support/SettingsFile.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QtTest>

#include <memory>
#include <stdexcept>
#include <sys/stat.h>

class tst_parmstore : public QObject
{
    Q_OBJECT

private:
    static QVariant storedValue()
    {
        SettingsFile settings;
        return settings.value(QStringLiteral("ConnectParms"));
    }

    static void setStoredValue(const QVariant &value)
    {
        SettingsFile settings;
        settings.setValue(QStringLiteral("ConnectParms"), value);
        settings.sync();
        QCOMPARE(settings.status(), QSettings::NoError);
    }

    static QString settingsFile() { return SettingsFile::path(); }

private slots:
    void cleanup();
    void missingValue();
    void notStorable_data();
    void notStorable();
    void invalidType_data();
    void invalidType();
    void failedWrite_data();
    void failedWrite();
    void otherValuesDoNotStopTheLogin_data();
    void otherValuesDoNotStopTheLogin();
    void ownerOnly_data();
    void ownerOnly();
};

void tst_parmstore::cleanup()
{
    QDir(settingsFile()).removeRecursively(); // a folder put in the file's place
    QFile::remove(settingsFile());
}

void tst_parmstore::missingValue()
{
    QVERIFY(!storedValue().isValid());
    QCOMPARE(readConnectParms(), QString());
}

void tst_parmstore::notStorable_data()
{
    QTest::addColumn<QString>("password");
    QTest::newRow("hash") << QStringLiteral("pa#ss");
    QTest::newRow("underscore") << QStringLiteral("a_b");
    QTest::newRow("full stop") << QStringLiteral("x.y");
    QTest::newRow("exclamation mark") << QStringLiteral("go!");
    QTest::newRow("at sign") << QStringLiteral("me@home");
    QTest::newRow("non-ASCII letter") << QStringLiteral("m\u00fcller");
}

void tst_parmstore::notStorable()
{
    // Stored, such a set would read back corrupted and fail every later login: it is stored
    // as the empty text instead, replacing whatever was stored before.
    QFETCH(QString, password);
    writeConnectParms(QStringLiteral("USER NAME=jdoe\r\nPASSWORD=old\r\n"));
    const QString plain = "USER NAME=jdoe\r\nPASSWORD=" + password + "\r\n";
    QVERIFY(!survivesScrambling(plain));
    writeConnectParms(plain);
    QCOMPARE(storedValue().toString(), QString());
    QCOMPARE(readConnectParms(), QString());
}

void tst_parmstore::invalidType_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::newRow("binary") << QVariant(QByteArray("abc"));
    QTest::newRow("list") << QVariant(QStringList { QStringLiteral("a"), QStringLiteral("b") });
    QTest::newRow("size") << QVariant(QSize(2, 3));
}

void tst_parmstore::invalidType()
{
    QFETCH(QVariant, value);
    setStoredValue(value);
    try {
        readConnectParms();
        QFAIL("no error raised");
    } catch (const std::runtime_error &error) {
        QCOMPARE(QString::fromUtf8(error.what()),
            QStringLiteral("Invalid data type for 'ConnectParms'"));
    }
}

void tst_parmstore::failedWrite_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("a folder in the file's place") << "folder";
    QTest::newRow("disk full") << "full";
}

void tst_parmstore::failedWrite()
{
    QFETCH(QString, fault);
    QByteArray before;
    std::unique_ptr<FileSizeLimit> full;
    if (fault == QLatin1String("folder")) {
        // A folder where the settings file should be cannot be replaced by a file.
        QVERIFY(QDir().mkpath(settingsFile()));
    } else {
        // Other values make the file larger than what the disk still takes.
        {
            SettingsFile settings;
            settings.setValue(QStringLiteral("History0"), QString(3000, QLatin1Char('h')));
        }
        writeConnectParms(QStringLiteral("USER NAME=old\r\nPASSWORD=old\r\n"));
        QFile file(settingsFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        before = file.readAll();
        full = std::make_unique<FileSizeLimit>(1024);
    }
    try {
        writeConnectParms(QStringLiteral("USER NAME=a\r\nPASSWORD=b\r\n"));
        QFAIL("no error raised");
    } catch (const std::runtime_error &error) {
        QCOMPARE(QString::fromUtf8(error.what()),
            QStringLiteral("Failed to set data for 'ConnectParms'"));
    }
    full.reset();
    if (!before.isEmpty()) {
        // The file was not cut: it holds the old login and the other values, byte for byte.
        QFile file(settingsFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
    }
}

// Values that read back with another type than they were written with (a list of one name, a
// number) are no failed write: the login is still stored.
void tst_parmstore::otherValuesDoNotStopTheLogin_data()
{
    QTest::addColumn<QVariant>("other");
    QTest::newRow("list of one") << QVariant(QStringList { QStringLiteral("DB2P201") });
    QTest::newRow("number") << QVariant(30);
    QTest::newRow("geometry bytes") << QVariant(QByteArray("\x01\xd9\xd0\xcb", 4));
}

void tst_parmstore::otherValuesDoNotStopTheLogin()
{
    QFETCH(QVariant, other);
    openUserSettings()->setValue(QStringLiteral("Other"), other);
    const QString login = QStringLiteral("USER NAME=u\r\nPASSWORD=p\r\n");
    writeConnectParms(login);
    QCOMPARE(readConnectParms(), login);
}

void tst_parmstore::ownerOnly_data()
{
    QTest::addColumn<int>("before"); // mode of the existing file; -1: no file
    QTest::addColumn<QString>("use");
    QTest::newRow("login stored, no file") << -1 << "write";
    QTest::newRow("login stored, file 0644") << 0644 << "write";
    QTest::newRow("login read, file 0644") << 0644 << "read";
    QTest::newRow("login read, no file") << -1 << "read";
    QTest::newRow("other value stored, file 0666") << 0666 << "other";
}

void tst_parmstore::ownerOnly()
{
    // The file holds the scrambled login: only its owner may read it, however it came to be.
    QFETCH(int, before);
    QFETCH(QString, use);
    const QString path = settingsFile();
    const QByteArray native = QFile::encodeName(path);
    if (before >= 0) {
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[General]\nHistory0=select 1\n");
        file.close();
        QCOMPARE(::chmod(native.constData(), mode_t(before)), 0);
    }
    if (use == QLatin1String("write")) {
        writeConnectParms(QStringLiteral("USER NAME=a\r\nPASSWORD=b\r\n"));
    } else if (use == QLatin1String("read")) {
        readConnectParms();
    } else {
        const std::unique_ptr<QSettings> settings = openUserSettings();
        settings->setValue(QStringLiteral("History1"), QStringLiteral("select 2\r\n"));
        settings->sync();
        QCOMPARE(settings->status(), QSettings::NoError);
    }
    struct stat info
    {
    };
    QCOMPARE(::stat(native.constData(), &info), 0);
    QCOMPARE(info.st_mode & 07777, mode_t(0600));
    // The values are stored and read as ever; those already there are kept.
    if (use == QLatin1String("write"))
        QCOMPARE(readConnectParms(), QStringLiteral("USER NAME=a\r\nPASSWORD=b\r\n"));
    SettingsFile reader;
    if (before >= 0)
        QCOMPARE(reader.value(QStringLiteral("History0")).toString(), QStringLiteral("select 1"));
}

STELVIK_TEST_GUILESS_MAIN(tst_parmstore)
#include "tst_parmstore.moc"
