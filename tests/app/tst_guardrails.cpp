#include "app/Unit1.h"
#include "settings/ParmStore.h"
#include "support/ModalScript.h"
#include "support/PgServer.h"
#include "support/TestEnv.h"
#include "support/WaitIdle.h"
#include "support/WindowFixture.h"

#include <QComboBox>
#include <QPlainTextEdit>
#include <QSettings>
#include <QTableView>
#include <QToolButton>
#include <QtTest>

#include <memory>

// The question before a change reaches a production database, or every row of a table, on
// SQLite and on the private PostgreSQL server: what asks, and that No runs nothing and records
// nothing.
class tst_GuardRails : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void confirm_data();
    void confirm();
};

namespace {

const QString Lite = QStringLiteral("GUARDLITE");
const QString Pg = QStringLiteral("GUARDPG");

} // namespace

void tst_GuardRails::initTestCase()
{
    const QStringList tables { QStringLiteral("create table t(id integer)"),
        QStringLiteral("insert into t values (1), (2)") };
    TestEnv::addSqliteDsn(Lite, tables);
    PgServer::instance().addDsn(Pg, QStringLiteral("guardrails"));
    PgServer::instance().exec(tables.join(u';'), QStringLiteral("guardrails"));
}

void tst_GuardRails::confirm_data()
{
    QTest::addColumn<QString>("alias");
    QTest::addColumn<bool>("production"); // the alias is named in ProductionAliases
    QTest::addColumn<QVariant>("unfiltered"); // ConfirmUnfilteredChanges; invalid: unset
    QTest::addColumn<QString>("sql");
    QTest::addColumn<int>("answer"); // 0: no question expected
    QTest::addColumn<int>("rows"); // rows of t afterwards
    const int yes = QMessageBox::Yes, no = QMessageBox::No;
    for (const QString &alias : { Lite, Pg }) {
        const QByteArray a = alias.toLatin1();
        QTest::addRow("%s production select", a.data())
            << alias << true << QVariant() << "select * from t" << 0 << 2;
        QTest::addRow("%s production insert, No", a.data())
            << alias << true << QVariant() << "insert into t values (3)" << no << 2;
        QTest::addRow("%s production insert, Yes", a.data())
            << alias << true << QVariant() << "insert into t values (3)" << yes << 3;
        QTest::addRow("%s test, unfiltered not asked by default", a.data())
            << alias << false << QVariant() << "update t set id = id" << 0 << 2;
        QTest::addRow("%s test, unfiltered asked, No", a.data())
            << alias << false << QVariant(true) << "update t set id = id" << no << 2;
        QTest::addRow("%s test, unfiltered not asked when off", a.data())
            << alias << false << QVariant(false) << "select 1 from t" << 0 << 2;
        QTest::addRow("%s production values", a.data())
            << alias << true << QVariant() << "values (1)" << 0 << 2;
        QTest::addRow("%s production plain explain", a.data())
            << alias << true << QVariant() << "explain delete from t" << 0 << 2;
        // Asked from the text as written, before any value is asked for.
        QTest::addRow("%s production delete with a marker, No", a.data())
            << alias << true << QVariant() << "delete from t where id = :id" << no << 2;
        QTest::addRow("%s production with ... delete, No", a.data())
            << alias << true << QVariant() << "with x as (select 1) delete from t" << no << 2;
    }
    // Changes hidden below the first word, as each database writes them.
    QTest::newRow("PG explain analyze delete, No")
        << Pg << true << QVariant() << "explain analyze delete from t" << no << 2;
    QTest::newRow("PG do block, No")
        << Pg << true << QVariant() << "do $$ begin delete from t; end $$" << no << 2;
    QTest::newRow("PG do block unfiltered on test, No")
        << Pg << false << QVariant(true) << "do $$ begin delete from t; end $$" << no << 2;
    QTest::newRow("SQLite replace into, No")
        << Lite << true << QVariant() << "replace into t values (1)" << no << 2;
    QTest::newRow("SQLite assigning pragma, No")
        << Lite << true << QVariant() << "pragma user_version = 7" << no << 2;
    QTest::newRow("SQLite reading pragma")
        << Lite << true << QVariant() << "pragma user_version" << 0 << 2;
}

void tst_GuardRails::confirm()
{
    QFETCH(QString, alias);
    QFETCH(bool, production);
    QFETCH(QVariant, unfiltered);
    QFETCH(QString, sql);
    QFETCH(int, answer);
    QFETCH(int, rows);
    {
        const std::unique_ptr<QSettings> settings = openUserSettings();
        settings->setValue(QStringLiteral("ProductionAliases"),
            production ? QStringList { alias } : QStringList { QStringLiteral("OTHER") });
        if (unfiltered.isValid())
            settings->setValue(QStringLiteral("ConfirmUnfilteredChanges"), unfiltered);
        else
            settings->remove(QStringLiteral("ConfirmUnfilteredChanges"));
    }
    TForm1 form(WindowFixture::options());
    form.setDBParms(PgServer::instance().loginText());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto *box = child<QComboBox>(&form, "ComboBox1");
    auto *editor = child<QPlainTextEdit>(&form, "RE1");
    box->setCurrentIndex(box->findText(alias));
    editor->setPlainText(sql);
    const int historyBefore = int(form.HistoryList.size());
    {
        ModalScript script(answer ? QList<ModalScript::Answer> { ModalScript::press(
                               QMessageBox::StandardButton(answer)) }
                                  : QList<ModalScript::Answer> {});
        child<QToolButton>(&form, "SpeedButton2")->click(); // Exec SQL
        QVERIFY(waitForNoWorker(form));
        QVERIFY(script.done());
        QCOMPARE(script.unexpected, 0);
        if (answer)
            QCOMPARE(script.seen.first().objectName, QStringLiteral("ConfirmChange"));
    }
    QCOMPARE(int(form.HistoryList.size()), historyBefore + (answer == QMessageBox::No ? 0 : 1));
    editor->setPlainText(QStringLiteral("select count(*) from t"));
    child<QToolButton>(&form, "SpeedButton1")->click();
    QVERIFY(waitForNoWorker(form));
    auto *grid = child<QTableView>(&form, "DBGrid1");
    QTRY_COMPARE(grid->model()->index(0, 0).data().toInt(), rows);
    if (rows == 3) { // back to two rows for the next row of the table
        editor->setPlainText(QStringLiteral("delete from t where id = 3"));
        ModalScript yes({ ModalScript::press(QMessageBox::Yes) });
        child<QToolButton>(&form, "SpeedButton2")->click();
        QVERIFY(waitForNoWorker(form));
    }
}

STELVIK_TEST_MAIN(tst_GuardRails)
#include "tst_guardrails.moc"
