#include "app/Aliases.h"
#include "connection/Session.h"
#include "support/OrdinaryUser.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <odbcinst.h>

class tst_aliases : public QObject
{
    Q_OBJECT

private:
    // A value of the user data source `dsn`, read back through the driver manager.
    static QString dsnValue(const QString &dsn, const char *key)
    {
        UWORD oldMode = ODBC_BOTH_DSN;
        SQLGetConfigMode(&oldMode);
        SQLSetConfigMode(ODBC_USER_DSN);
        char buffer[512] = {};
        SQLGetPrivateProfileString(
            dsn.toUtf8().constData(), key, "", buffer, sizeof buffer, "odbc.ini");
        SQLSetConfigMode(oldMode);
        return QString::fromUtf8(buffer);
    }

    static QByteArray readFile(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    static void writeFile(const QString &path, const QByteArray &content)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    // Points the machine-wide settings at a fresh folder, so the DB2 settings can be arranged.
    void useSystemSettings(QTemporaryDir &dir)
    {
        QVERIFY(dir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, dir.path());
    }

    static void setDb2Path(const QVariant &value)
    {
        QSettings db2(QSettings::NativeFormat, QSettings::SystemScope, QStringLiteral("IBM"),
            QStringLiteral("DB2"));
        db2.setValue(QStringLiteral("DB2 Path Name"), value);
        db2.sync();
        QCOMPARE(db2.status(), QSettings::NoError);
    }

private slots:
    void appendBackslash_data();
    void appendBackslash();
    void writeIniString_data();
    void writeIniString();
    void writeIniStringFails();
    void setDB2Isolation();
    void setDB2IsolationWithoutSettings_data();
    void setDB2IsolationWithoutSettings();
    void setDB2IsolationInvalidType_data();
    void setDB2IsolationInvalidType();
    void setDB2IsolationWithoutFullAccess_data();
    void setDB2IsolationWithoutFullAccess();
    void ensureAlias();
};

void tst_aliases::appendBackslash_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
#ifdef Q_OS_WIN
    const QString sep = QStringLiteral("\\");
#else
    const QString sep = QStringLiteral("/");
#endif
    QTest::newRow("no separator") << QStringLiteral("/opt/ibm/db2") << "/opt/ibm/db2" + sep;
    QTest::newRow("trailing blank") << QStringLiteral("/opt/ibm/db2 ") << "/opt/ibm/db2" + sep;
    QTest::newRow("has separator") << "/opt/ibm/db2" + sep << "/opt/ibm/db2" + sep;
    QTest::newRow("control characters") << QStringLiteral("\t /opt/db2\r\n") << "/opt/db2" + sep;
    QTest::newRow("inner blank kept") << QStringLiteral(" my dir ") << "my dir" + sep;
    QTest::newRow("empty") << QString() << sep;
    QTest::newRow("blanks only") << QStringLiteral(" \t ") << sep;
#ifndef Q_OS_WIN
    QTest::newRow("backslash is a name character")
        << QStringLiteral("/opt/db2\\") << QStringLiteral("/opt/db2\\/");
#endif
}

void tst_aliases::appendBackslash()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(AppendBackslash(text), expected);
}

void tst_aliases::writeIniString_data()
{
    QTest::addColumn<QByteArray>("before"); // null: no file
    QTest::addColumn<QString>("section");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("no file") << QByteArray() << "DB2P201"
                             << QByteArray("[DB2P201]\nTXNISOLATION=1\n");
    QTest::newRow("existing value replaced, the rest kept")
        << QByteArray("; DB2 CLI settings\n[COMMON]\nTRACE=0\n\n[DB2P201]\nDBALIAS=P201\n"
                      "TXNISOLATION=0\nPATCH2=15\n\n[DB2P401]\nDBALIAS=P401\n")
        << "DB2P201"
        << QByteArray("; DB2 CLI settings\n[COMMON]\nTRACE=0\n\n[DB2P201]\nDBALIAS=P201\n"
                      "TXNISOLATION=1\nPATCH2=15\n\n[DB2P401]\nDBALIAS=P401\n");
    QTest::newRow("key added after the section's last entry")
        << QByteArray("[DB2P201]\nDBALIAS=P201\n\n[OTHER]\nA=1\n") << "DB2P201"
        << QByteArray("[DB2P201]\nDBALIAS=P201\nTXNISOLATION=1\n\n[OTHER]\nA=1\n");
    QTest::newRow("key added to the last section")
        << QByteArray("[OTHER]\nA=1\n[DB2P401]\nB=2\n") << "DB2P401"
        << QByteArray("[OTHER]\nA=1\n[DB2P401]\nB=2\nTXNISOLATION=1\n");
    QTest::newRow("section added") << QByteArray("[OTHER]\nA=1\n") << "DB2P401"
                                   << QByteArray("[OTHER]\nA=1\n[DB2P401]\nTXNISOLATION=1\n");
    QTest::newRow("no final line break") << QByteArray("[OTHER]\nA=1") << "DB2P201"
                                         << QByteArray("[OTHER]\nA=1\n[DB2P201]\nTXNISOLATION=1\n");
    QTest::newRow("names ignore case and blanks")
        << QByteArray("[ db2p201 ]\ntxnisolation = 0\n") << "DB2P201"
        << QByteArray("[ db2p201 ]\nTXNISOLATION=1\n");
    QTest::newRow("same key in another section untouched")
        << QByteArray("[OTHER]\nTXNISOLATION=0\n[DB2P201]\nA=1\n") << "DB2P201"
        << QByteArray("[OTHER]\nTXNISOLATION=0\n[DB2P201]\nA=1\nTXNISOLATION=1\n");
    QTest::newRow("commented-out key is not the key")
        << QByteArray("[DB2P201]\n;TXNISOLATION=0\n") << "DB2P201"
        << QByteArray("[DB2P201]\n;TXNISOLATION=0\nTXNISOLATION=1\n");
    QTest::newRow("CR LF lines stay CR LF")
        << QByteArray("[DB2P201]\r\nTXNISOLATION=0\r\n[OTHER]\r\nA=1\r\n") << "DB2P201"
        << QByteArray("[DB2P201]\r\nTXNISOLATION=1\r\n[OTHER]\r\nA=1\r\n");
    QTest::newRow("other bytes kept as they are")
        << QByteArray("[OTHER]\nNAME=\xe9\xff\n[DB2P201]\nTXNISOLATION=0\n") << "DB2P201"
        << QByteArray("[OTHER]\nNAME=\xe9\xff\n[DB2P201]\nTXNISOLATION=1\n");
    QTest::newRow("byte-order mark kept, first header found")
        << QByteArray("\xef\xbb\xbf[DB2P201]\r\nTXNISOLATION=0\r\n") << "DB2P201"
        << QByteArray("\xef\xbb\xbf[DB2P201]\r\nTXNISOLATION=1\r\n");
    QTest::newRow("byte-order mark before a comment")
        << QByteArray("\xef\xbb\xbf; settings\n[DB2P201]\nA=1\n") << "DB2P201"
        << QByteArray("\xef\xbb\xbf; settings\n[DB2P201]\nA=1\nTXNISOLATION=1\n");
    QTest::newRow("header with a comment")
        << QByteArray("[DB2P201] ; prod\nTXNISOLATION=0\n[DB2P401]\t# dr\nA=1\n") << "DB2P401"
        << QByteArray("[DB2P201] ; prod\nTXNISOLATION=0\n[DB2P401]\t# dr\nA=1\nTXNISOLATION=1\n");
    QTest::newRow("header with trailing blanks")
        << QByteArray("[DB2P201] \t\r\nTXNISOLATION=0\r\n") << "DB2P201"
        << QByteArray("[DB2P201] \t\r\nTXNISOLATION=1\r\n");
    QTest::newRow("text after the bracket is no header")
        << QByteArray("[DB2P201]x\nA=1\n") << "DB2P201"
        << QByteArray("[DB2P201]x\nA=1\n[DB2P201]\nTXNISOLATION=1\n");
}

void tst_aliases::writeIniString()
{
    QFETCH(QByteArray, before);
    QFETCH(QString, section);
    QFETCH(QByteArray, after);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("db2cli.ini"));
    if (!before.isNull())
        writeFile(path, before);
    WriteIniString(path, section, QStringLiteral("TXNISOLATION"), QStringLiteral("1"));
    QCOMPARE(readFile(path), after);
    // A second write of the same value changes nothing.
    WriteIniString(path, section, QStringLiteral("TXNISOLATION"), QStringLiteral("1"));
    QCOMPARE(readFile(path), after);
}

void tst_aliases::writeIniStringFails()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("missing/db2cli.ini"));
    try {
        WriteIniString(
            path, QStringLiteral("DB2P201"), QStringLiteral("TXNISOLATION"), QStringLiteral("1"));
        QFAIL("no error raised");
    } catch (const std::runtime_error &error) {
        QCOMPARE(QString::fromLocal8Bit(error.what()), "Unable to write to " + path);
    }
}

void tst_aliases::setDB2Isolation()
{
    QTemporaryDir system;
    useSystemSettings(system);
    QTemporaryDir db2;
    writeFile(db2.filePath(QStringLiteral("db2cli.ini")),
        "; settings\n[DB2P201]\nTXNISOLATION=0\nDBALIAS=P201\n\n[COMMON]\nTRACE=1\n");
    // A trailing blank and no final separator still name the folder.
    setDb2Path(db2.path() + QLatin1Char(' '));

    SetDB2Isolation();

    QCOMPARE(readFile(db2.filePath(QStringLiteral("db2cli.ini"))),
        QByteArray("; settings\n[DB2P201]\nTXNISOLATION=1\nDBALIAS=P201\n\n[COMMON]\nTRACE=1\n"
                   "[DB2P401]\nTXNISOLATION=1\n"));
}

void tst_aliases::setDB2IsolationWithoutSettings_data()
{
    QTest::addColumn<bool>("hasKey");
    QTest::newRow("no DB2 settings") << false;
    QTest::newRow("empty path") << true;
}

void tst_aliases::setDB2IsolationWithoutSettings()
{
    QFETCH(bool, hasKey);
    QTemporaryDir system;
    useSystemSettings(system);
    if (hasKey)
        setDb2Path(QString());
    const QStringList before =
        QDir(system.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    const QString cwdIni = QDir::current().filePath(QStringLiteral("db2cli.ini"));
    QVERIFY(!QFile::exists(cwdIni));

    SetDB2Isolation();

    // Nothing is written: neither an ini file nor the DB2 settings themselves.
    QCOMPARE(QDir(system.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
    QVERIFY(!QFile::exists(cwdIni));
    QVERIFY(!QFile::exists(QStringLiteral("/db2cli.ini")));
}

void tst_aliases::setDB2IsolationInvalidType_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::newRow("binary") << QVariant(QByteArray("/opt/db2"));
    QTest::newRow("list") << QVariant(QStringList { QStringLiteral("/a"), QStringLiteral("/b") });
}

void tst_aliases::setDB2IsolationInvalidType()
{
    QFETCH(QVariant, value);
    QTemporaryDir system;
    useSystemSettings(system);
    setDb2Path(value);
    try {
        SetDB2Isolation();
        QFAIL("no error raised");
    } catch (const std::runtime_error &error) {
        QCOMPARE(QString::fromLocal8Bit(error.what()),
            QStringLiteral("Invalid data type for 'DB2 Path Name'"));
    }
}

void tst_aliases::setDB2IsolationWithoutFullAccess_data()
{
    QTest::addColumn<QByteArray>("before"); // null: no file
    QTest::newRow("file the user may not write") << QByteArray("[DB2P201]\nTXNISOLATION=0\n");
    QTest::newRow("no file, folder the user may not write") << QByteArray();
}

void tst_aliases::setDB2IsolationWithoutFullAccess()
{
    // A DB2 client that another user installed (root, for this test's ordinary user): the
    // step stops without a word, as when the DB2 settings cannot be opened with full access.
    QFETCH(QByteArray, before);
    QTemporaryDir system;
    useSystemSettings(system);
    setDb2Path(system.path() + QStringLiteral("/client"));
    const QString client = system.path() + QStringLiteral("/client");
    QVERIFY(QDir().mkdir(client));
    const QString ini = client + QStringLiteral("/db2cli.ini");
    if (!before.isNull()) {
        writeFile(ini, before);
        QVERIFY(QFile::setPermissions(ini, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    }
    const QFile::Permissions readOnly = QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup
        | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
    QVERIFY(QFile::setPermissions(client, readOnly));
    QVERIFY(QFile::setPermissions(system.path(), readOnly | QFile::WriteOwner));

    QString error;
    const bool ran = OrdinaryUser::run([&] {
        try {
            SetDB2Isolation();
        } catch (const std::exception &e) {
            error = QString::fromUtf8(e.what());
        }
    });
    QFile::setPermissions(client, readOnly | QFile::WriteOwner);
    QVERIFY(ran);
    QCOMPARE(error, QString());
    QCOMPARE(QFile::exists(ini), !before.isNull());
    QCOMPARE(readFile(ini), before.isNull() ? QByteArray() : before);
}

void tst_aliases::ensureAlias()
{
    Session &session = TestEnv::session();
    const QStringList four { QStringLiteral("db2p201"), QStringLiteral("db2t301"),
        QStringLiteral("db2t302"), QStringLiteral("db2t303") };
    for (const QString &alias : four)
        QVERIFY(!session.AliasExists(alias));

    // Empty configuration: each alias is created as a DB2 data source of its own name.
    EnsureAlias(four.at(0), four.at(0));
    QVERIFY(session.AliasExists(four.at(0)));
    QCOMPARE(dsnValue(four.at(0), "Driver"), QStringLiteral("DB2"));
    QCOMPARE(dsnValue(four.at(0), "DB2 DSN"), four.at(0));
    QCOMPARE(dsnValue(four.at(0), "SQLPASSTHRU MODE"), QStringLiteral("SHARED NOAUTOCOMMIT"));

    // Populated configuration: an existing alias keeps its driver and parameters.
    const QString database = TestEnv::addSqliteDsn(QStringLiteral("db2t301"));
    TestEnv::addSqliteDsn(QStringLiteral("sales"));
    for (const QString &alias : four)
        EnsureAlias(alias, alias);
    QCOMPARE(dsnValue(QStringLiteral("db2t301"), "Driver"), QStringLiteral("SQLite3"));
    QCOMPARE(dsnValue(QStringLiteral("db2t301"), "Database"), database);
    QCOMPARE(dsnValue(QStringLiteral("db2t301"), "DB2 DSN"), QString());
    QCOMPARE(dsnValue(QStringLiteral("db2t302"), "DB2 DSN"), QStringLiteral("db2t302"));

    // Every alias once: the four and the other data source.
    QStringList names { QStringLiteral("stale") };
    session.ListAliasNames(names);
    for (const QString &alias : four + QStringList { QStringLiteral("sales") })
        QCOMPARE(names.count(alias), 1);
    QVERIFY(!names.contains(QStringLiteral("stale")));
}

STELVIK_TEST_GUILESS_MAIN(tst_aliases)
#include "tst_aliases.moc"
