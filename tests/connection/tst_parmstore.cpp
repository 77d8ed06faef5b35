#include "connection/ParmStore.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QtTest>

#include <stdexcept>

class tst_parmstore : public QObject
{
    Q_OBJECT

private:
    static QVariant storedValue()
    {
        QSettings settings(QStringLiteral("Varnholt"), QStringLiteral("Stelvik"));
        return settings.value(QStringLiteral("ConnectParms"));
    }

    static void setStoredValue(const QVariant &value)
    {
        QSettings settings(QStringLiteral("Varnholt"), QStringLiteral("Stelvik"));
        settings.setValue(QStringLiteral("ConnectParms"), value);
        settings.sync();
        QCOMPARE(settings.status(), QSettings::NoError);
    }

    static QString settingsFile()
    {
        return QSettings(QStringLiteral("Varnholt"), QStringLiteral("Stelvik")).fileName();
    }

private slots:
    void cleanup();
    void missingValue();
    void notStorable_data();
    void notStorable();
    void invalidType_data();
    void invalidType();
    void failedWrite();
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

void tst_parmstore::failedWrite()
{
    // A folder where the settings file should be cannot be replaced by a file.
    QVERIFY(QDir().mkpath(settingsFile()));
    try {
        writeConnectParms(QStringLiteral("USER NAME=a\r\nPASSWORD=b\r\n"));
        QFAIL("no error raised");
    } catch (const std::runtime_error &error) {
        QCOMPARE(QString::fromUtf8(error.what()),
            QStringLiteral("Failed to set data for 'ConnectParms'"));
    }
}

STELVIK_TEST_GUILESS_MAIN(tst_parmstore)
#include "tst_parmstore.moc"
