#include "app/Unit1.h"
#include "history/HistoryDb.h"
#include "support/ModalScript.h"
#include "support/PgServer.h"
#include "support/TestEnv.h"
#include "support/WindowFixture.h"

#include <QRegularExpression>
#include <QSettings>
#include <QTreeWidget>
#include <QtTest>

// Run Script on SQLite and on the private PostgreSQL server: one question for the whole script,
// a log line per statement, a stop at the error in the middle, each statement in the history
// database and the query's result in the grid.
class tst_scripts : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void errorInTheMiddle_data();
    void errorInTheMiddle();

private:
    WindowFixture m_form;
};

void tst_scripts::initTestCase()
{
    const QStringList tables { QStringLiteral("create table t(id integer)"),
        QStringLiteral("insert into t values (1), (2), (3)") };
    TestEnv::addSqliteDsn(QStringLiteral("SCRIPTLITE"), tables);
    PgServer::instance().addDsn(QStringLiteral("SCRIPTPG"), QStringLiteral("scripts"));
    PgServer::instance().exec(tables.join(u';'), QStringLiteral("scripts"));
    QSettings(QStringLiteral("Varnholt"), QStringLiteral("Stelvik"))
        .setValue(QStringLiteral("ConfirmUnfilteredChanges"), true);
}

void tst_scripts::errorInTheMiddle_data()
{
    QTest::addColumn<QString>("alias");
    QTest::addColumn<QString>("missing"); // how the driver says the table is missing
    QTest::newRow("SQLite") << "SCRIPTLITE"
                            << "no such table: nosuch";
    QTest::newRow("PostgreSQL") << "SCRIPTPG"
                                << "relation \"nosuch\" does not exist";
}

void tst_scripts::errorInTheMiddle()
{
    QFETCH(QString, alias);
    QFETCH(QString, missing);
    QVERIFY(m_form.open());
    m_form->setDBParms(PgServer::instance().loginText());
    m_form.type(QStringLiteral("update t set id = id;\nselect id from t order by id;\n"
                               "insert into nosuch values (1);\ndelete from t;\n"));
    m_form.chooseAlias(alias);
    const int entries = m_form->HistoryList.size();
    QString question;
    ModalScript script({ [&question](QWidget *box) {
        question = static_cast<QMessageBox *>(box)->text();
        ModalScript::press(QMessageBox::Yes)(box);
    } });
    QTest::keyClick(m_form.editor(), Qt::Key_X, Qt::AltModifier);
    QVERIFY(m_form.waitIdle());
    QCOMPARE(script.unexpected, 0); // one question for the two unfiltered changes
    QVERIFY2(question.contains("Line 1: a change") && question.contains("Line 4: a change"),
        qPrintable(question));

    auto *log = m_form.child<QTreeWidget>("ScriptLog");
    QStringList lines;
    for (int i = 0; i < log->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *item = log->topLevelItem(i);
        lines << item->text(0) + " " + item->text(1) + " " + item->text(2);
    }
    const QString expected = "1 change 3 rows affected\n2 query 3 rows fetched\n3 change .*"
        + QRegularExpression::escape(missing) + ".*\n4 change skipped";
    QVERIFY2(QRegularExpression("^" + expected + "$").match(lines.join('\n')).hasMatch(),
        qPrintable(lines.join('\n')));
    QCOMPARE(m_form->statusText(1), QStringLiteral("Script stopped at line 3"));
    QCOMPARE(m_form->HistoryList.size(), entries + 1); // the script once
    QCOMPARE(m_form->HistoryList.first().Display, QStringLiteral("update t set id = id;"));

    // The three statements that ran, newest first, each with its own outcome.
    QVERIFY(m_form->historyDatabase()->flush(30000));
    QStringList runs;
    for (const HistoryRecord &run : HistoryDb(HistoryDb::defaultPath()).search(QString(), 3))
        runs << HistoryRecord::outcomeName(run.outcome) + " " + QString::number(run.recordCount)
                + " " + run.text.trimmed();
    QCOMPARE(runs,
        QStringList({ "error -1 insert into nosuch values (1)",
            "completed 3 select id from t order by id", "completed -1 update t set id = id" }));

    // The grid shows the query's result: the delete after the error never ran.
    QCOMPARE(m_form.grid()->model()->rowCount(), 3);
    log->setCurrentItem(log->topLevelItem(1));
    emit log->itemActivated(log->topLevelItem(1), 0);
    QCOMPARE(m_form.pages()->currentWidget()->objectName(), QStringLiteral("TabSheet2"));
    QCOMPARE(m_form.grid()->model()->headerData(0, Qt::Horizontal).toString().toLower(), "id");
}

STELVIK_TEST_MAIN(tst_scripts)
#include "tst_scripts.moc"
