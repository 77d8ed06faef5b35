#include "app/Unit1.h"
#include "connection/QueryDataset.h"
#include "support/ConnectWait.h"
#include "support/ModalScript.h"
#include "support/PgServer.h"
#include "support/SessionConnection.h"
#include "support/SettingsFile.h"
#include "support/TestEnv.h"
#include "support/WindowFixture.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <memory>

// What Run Query and Exec SQL tell the user about the statement they were given, on SQLite and on
// the private PostgreSQL server: a statement holding a NUL character never runs, and a statement
// without a result set run with Run Query is reported as executed.
class tst_statements : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void nulCharacterRefused_data();
    void nulCharacterRefused();
    void runQueryWithoutResultSet_data();
    void runQueryWithoutResultSet();

private:
    // The number that a one-value select gives, through the window's connection of the alias.
    QString value(const QString &alias, const QString &sql);

    WindowFixture m_form;
    std::unique_ptr<QTemporaryDir> m_dir;
};

namespace {

const QString Lite = QStringLiteral("STMTLITE");
const QString Pg = QStringLiteral("STMTPG");

// Chooses a file in the file dialog as a user does: the name typed in, then Open or Save.
ModalScript::Answer pick(const QString &path)
{
    return [path](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        QVERIFY2(dialog, modal->metaObject()->className());
        child<QLineEdit>(dialog, "fileNameEdit")->setText(path);
        static_cast<QDialog *>(dialog)->accept();
    };
}

QStringList settingsValues()
{
    SettingsFile settings;
    QStringList values;
    for (const QString &key : settings.allKeys())
        values << key + QLatin1Char('=') + settings.value(key).toString();
    return values;
}

} // namespace

void tst_statements::initTestCase()
{
    const QStringList tables { QStringLiteral("create table t(id integer)"),
        QStringLiteral("insert into t values (1), (2), (3)"),
        QStringLiteral("create table log(note varchar(20))") };
    TestEnv::addSqliteDsn(Lite, tables);
    PgServer &server = PgServer::instance();
    server.addDsn(Pg, QStringLiteral("statements"));
    server.exec(tables.join(QLatin1Char(';')), QStringLiteral("statements"));
}

void tst_statements::init()
{
    SettingsFile().clear();
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(m_form.open());
    m_form->setDBParms(PgServer::instance().loginText());
}

void tst_statements::cleanup()
{
    m_form.close();
    m_dir.reset();
}

QString tst_statements::value(const QString &alias, const QString &sql)
{
    if (!connectAndWait(*m_form, alias))
        return QStringLiteral("no connection");
    QueryDataset query;
    query.setConnection(alias, sessionConnection(alias));
    query.setSql(sql);
    query.OpenQuery();
    const QString text = query.FieldString(0);
    query.CountRecords(); // to the end, so that the connection is free for the next statement
    return text;
}

void tst_statements::nulCharacterRefused_data()
{
    QTest::addColumn<QString>("alias");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("line");

    // Cut at the NUL, each of these would change rows of t or show a wrong result.
    const auto withNul = [](const char *before, const char *after) {
        return QByteArray(before) + '\0' + QByteArray(after);
    };
    const QByteArray deleteAll = withNul("delete from t", " where id = 2\r\n");
    const QByteArray deleteOne = withNul("delete from t\r\nwhere id = 2", " and id = 3\r\n");
    const QByteArray select = withNul("select *\r\nfrom t\r\n\r\nwhere id = 2", " and id = 3\r\n");
    QTest::newRow("sqlite exec, line 1") << Lite << "SpeedButton2" << deleteAll << 1;
    QTest::newRow("sqlite exec, line 2") << Lite << "SpeedButton2" << deleteOne << 2;
    QTest::newRow("sqlite run, line 4") << Lite << "SpeedButton1" << select << 4;
    QTest::newRow("postgres exec, line 1") << Pg << "SpeedButton2" << deleteAll << 1;
    QTest::newRow("postgres run, line 4") << Pg << "SpeedButton1" << select << 4;
}

void tst_statements::nulCharacterRefused()
{
    QFETCH(QString, alias);
    QFETCH(QString, button);
    QFETCH(QByteArray, file);
    QFETCH(int, line);

    // A result on screen and a history entry: neither may change.
    m_form.chooseAlias(alias);
    m_form->setEditorText(QStringLiteral("select id from t where id = 1"));
    m_form.child<QToolButton>("SpeedButton1")->click();
    QVERIFY(m_form.waitIdle());
    QVERIFY(m_form->CurrentQuery);
    const QStringList settingsBefore = settingsValues();
    QCOMPARE(m_form->HistoryList.size(), 1);
    const QString statusBefore = m_form->statusText(1);

    // The statement comes from a query file, as a user would get it there.
    const QString path = m_dir->filePath(QStringLiteral("nul.sql"));
    {
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        QCOMPARE(out.write(file), file.size());
    }
    {
        ModalScript load({ pick(path) });
        m_form.child<QToolButton>("SpeedButton7")->click();
        QVERIFY(load.done());
    }
    QVERIFY(m_form->EditorText().contains(QChar(0)));
    QVERIFY(!m_form->QueryChanged);

    QString message;
    ModalScript script({ ModalScript::note(&message) });
    m_form.child<QToolButton>(qPrintable(button))->click();
    QVERIFY(script.done());
    QCOMPARE(script.unexpected, 0);
    QCOMPARE(script.seen.constFirst().icon, QMessageBox::Critical);
    QCOMPARE(message,
        QStringLiteral("Line %1 of the statement holds a NUL character. The statement was not run.")
            .arg(line));

    // Nothing ran, nothing was closed, nothing was added to the history.
    QVERIFY(!m_form->CurrentThread);
    QVERIFY(m_form->CurrentQuery);
    QCOMPARE(m_form->statusText(1), statusBefore);
    QCOMPARE(m_form->HistoryList.size(), 1);
    QCOMPARE(settingsValues(), settingsBefore);
    QVERIFY(!m_form->QueryChanged);
    QVERIFY(m_form.child<QToolButton>("SpeedButton1")->isEnabled());
    QVERIFY(m_form.child<QToolButton>("SpeedButton2")->isEnabled());
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    m_form->CloseCurrentQuery();
    QCOMPARE(value(alias, QStringLiteral("select count(*) from t")), QStringLiteral("3"));
}

void tst_statements::runQueryWithoutResultSet_data()
{
    QTest::addColumn<QString>("alias");
    QTest::newRow("sqlite") << Lite;
    QTest::newRow("postgres") << Pg;
}

void tst_statements::runQueryWithoutResultSet()
{
    QFETCH(QString, alias);

    const QString note = QStringLiteral("once ") + QString::fromLatin1(QTest::currentDataTag());
    m_form.chooseAlias(alias);
    m_form->setEditorText(QStringLiteral("insert into log values ('%1')").arg(note));
    QString message;
    ModalScript script({ ModalScript::note(&message) });
    m_form.child<QToolButton>("SpeedButton1")->click();
    QVERIFY(m_form.waitIdle());
    QVERIFY(script.done());
    QCOMPARE(script.unexpected, 0);

    // The user learns that the statement did run, so it is not run a second time.
    QCOMPARE(message, QStringLiteral("The statement was executed and returned no result set"));
    QVERIFY(!m_form->CurrentQuery);
    QCOMPARE(value(alias, QStringLiteral("select count(*) from log where note = '%1'").arg(note)),
        QStringLiteral("1"));
}

STELVIK_TEST_MAIN(tst_statements)
#include "tst_statements.moc"
