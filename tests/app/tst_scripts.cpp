#include "app/Unit1.h"
#include "history/HistoryDb.h"
#include "support/ModalScript.h"
#include "support/PgServer.h"
#include "support/SettingsFile.h"
#include "support/TestEnv.h"
#include "support/WindowFixture.h"

#include <QFormLayout>
#include <QLabel>
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
    void bodiesAndStringsStayWhole();
    void unclosedRunsNothing_data();
    void unclosedRunsNothing();
    void errorMarkInTheStatement_data();
    void errorMarkInTheStatement();
    void valuesAskedOnce_data();
    void valuesAskedOnce();

private:
    WindowFixture m_form;
};

void tst_scripts::initTestCase()
{
    const QStringList tables { QStringLiteral("create table t(id integer)"),
        QStringLiteral("insert into t values (1), (2), (3)"),
        QStringLiteral("create table notes(note varchar(100))"),
        QStringLiteral("insert into notes values ('a'), ('b')") };
    TestEnv::addSqliteDsn(QStringLiteral("SCRIPTLITE"), tables);
    PgServer::instance().addDsn(QStringLiteral("SCRIPTPG"), QStringLiteral("scripts"));
    PgServer::instance().exec(tables.join(u';'), QStringLiteral("scripts"));
    SettingsFile().setValue(QStringLiteral("ConfirmUnfilteredChanges"), true);
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

namespace {

QStringList logLines(QTreeWidget *log)
{
    QStringList lines;
    for (int i = 0; i < log->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *item = log->topLevelItem(i);
        lines << item->text(0) + " " + item->text(1) + " " + item->text(2);
    }
    return lines;
}

} // namespace

// A DO block with a terminator in a comment and an E'' string with one after an escaped quote
// are one statement each, even when the script goes on after errors: the table keeps its rows.
void tst_scripts::bodiesAndStringsStayWhole()
{
    QVERIFY(m_form.open());
    m_form->setDBParms(PgServer::instance().loginText());
    SettingsFile().setValue(QStringLiteral("ScriptContinueOnError"), true);
    m_form.type(QStringLiteral("do $$ begin perform 1; /* ; delete from t; */ end $$;\n"
                               "select E'it\\'s; delete from t; x';\n"
                               "select 1 from nosuch;\nselect count(*) from t;\n"));
    m_form.chooseAlias(QStringLiteral("SCRIPTPG"));
    ModalScript none(QList<ModalScript::Answer> {});
    QTest::keyClick(m_form.editor(), Qt::Key_X, Qt::AltModifier);
    QVERIFY(m_form.waitIdle());
    SettingsFile().remove(QStringLiteral("ScriptContinueOnError"));
    QCOMPARE(none.unexpected, 0);
    const QStringList lines = logLines(m_form.child<QTreeWidget>("ScriptLog"));
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines[0], QStringLiteral("1 call completed"));
    QCOMPARE(lines[1], QStringLiteral("2 query 1 row fetched"));
    QCOMPARE(lines[3], QStringLiteral("4 query 1 row fetched"));
    QCOMPARE(PgServer::instance().value("select count(*) from t", "scripts"), QStringLiteral("3"));
}

void tst_scripts::unclosedRunsNothing_data()
{
    QTest::addColumn<QString>("alias");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("outcome");
    QTest::newRow("SQLite string") << "SCRIPTLITE"
                                   << "delete from t where id = 1;\nselect 'abc; delete from t;\n"
                                   << "2  not run: a string begun on line 2 is not closed";
    QTest::newRow("SQLite trigger body")
        << "SCRIPTLITE"
        << "delete from t where id = 1;\ncreate trigger tr after insert on t begin\n"
           "delete from t;\n"
        << "2  not run: a BEGIN ... END body begun on line 2 is not closed";
    QTest::newRow("PostgreSQL dollar string")
        << "SCRIPTPG"
        << "delete from t where id = 1;\ndo $$ begin delete from t; end;\n"
        << "2  not run: a dollar-quoted string ($$) begun on line 2 is not closed";
}

// A statement the splitter cannot close stops the whole script before anything runs.
void tst_scripts::unclosedRunsNothing()
{
    QFETCH(QString, alias);
    QFETCH(QString, script);
    QFETCH(QString, outcome);
    QVERIFY(m_form.open());
    m_form->setDBParms(PgServer::instance().loginText());
    m_form.type(script);
    m_form.chooseAlias(alias);
    ModalScript none(QList<ModalScript::Answer> {});
    QTest::keyClick(m_form.editor(), Qt::Key_X, Qt::AltModifier);
    QVERIFY(m_form.waitIdle());
    QCOMPARE(none.unexpected, 0);
    QCOMPARE(logLines(m_form.child<QTreeWidget>("ScriptLog")), QStringList { outcome });
    QVERIFY2(m_form->statusText(1).startsWith("Script not run: line 2"),
        qPrintable(m_form->statusText(1)));
    m_form.type(QStringLiteral("select count(*) from t"));
    QTest::keyClick(m_form.editor(), Qt::Key_F5);
    QVERIFY(m_form.waitIdle());
    QTRY_COMPARE(m_form.grid()->model()->index(0, 0).data().toInt(), 3);
}

void tst_scripts::errorMarkInTheStatement_data()
{
    QTest::addColumn<QString>("alias");
    QTest::addColumn<QString>("marked"); // the editor's text the error mark covers
    // Both name the token "=" and not which of the two: the whole statement is marked.
    QTest::newRow("SQLite") << "SCRIPTLITE"
                            << "select id from t where id = = 1";
    QTest::newRow("PostgreSQL") << "SCRIPTPG"
                                << "select id from t where id = = 1";
    // A token named once is marked alone.
    QTest::newRow("SQLite, one place") << "SCRIPTLITE"
                                       << "t"; // near "t": frm reads as a column alias
}

// The failing statement of a script is marked in the editor, at the place its message names.
void tst_scripts::errorMarkInTheStatement()
{
    QFETCH(QString, alias);
    QFETCH(QString, marked);
    QVERIFY(m_form.open());
    m_form->setDBParms(PgServer::instance().loginText());
    const QString text = marked == "t"
        ? QStringLiteral("select 1;\nselect id frm t;\nselect 2;\n")
        : QStringLiteral("select 1;\nselect id from t where id = = 1;\nselect 2;\n");
    m_form.type(text);
    m_form.chooseAlias(alias);
    ModalScript none(QList<ModalScript::Answer> {});
    QTest::keyClick(m_form.editor(), Qt::Key_X, Qt::AltModifier);
    QVERIFY(m_form.waitIdle());
    const QList<QTextEdit::ExtraSelection> marks = m_form.editor()->extraSelections();
    QVERIFY(!marks.isEmpty());
    const QTextCursor mark = marks.last().cursor;
    QCOMPARE(mark.selectedText(), marked);
    QCOMPARE(mark.blockNumber(), 1);
}

// Answers a script's values dialog: its labels into `labels`, then the values typed and Return
// pressed (Esc when there are none).
static ModalScript::Answer giveValues(const QStringList &values, QStringList *labels)
{
    return [values, labels](QWidget *dialog) {
        auto *form = dialog->findChild<QFormLayout *>();
        QVERIFY(form);
        for (int row = 0; row < form->rowCount(); ++row)
            *labels << static_cast<QLabel *>(form->itemAt(row, QFormLayout::LabelRole)->widget())
                           ->text();
        const QList<QComboBox *> fields = dialog->findChildren<QComboBox *>("ParameterValue");
        for (int i = 0; i < fields.size() && i < values.size(); ++i)
            fields[i]->setEditText(values[i]);
        QTest::keyClick(dialog->focusWidget(), values.isEmpty() ? Qt::Key_Escape : Qt::Key_Return);
    };
}

void tst_scripts::valuesAskedOnce_data()
{
    QTest::addColumn<QString>("alias");
    QTest::addColumn<QString>("note"); // null: Esc
    // Spliced, the query would find every note.
    QTest::newRow("SQLite") << "SCRIPTLITE"
                            << "' OR ''='";
    QTest::newRow("PostgreSQL") << "SCRIPTPG"
                                << "' OR ''='";
    QTest::newRow("Esc runs nothing") << "SCRIPTLITE" << QString();
}

// ":note" in three statements is asked once, each "?" on its own, and every statement runs with
// its values bound: the query finds the one row the insert added, and the delete removes it.
void tst_scripts::valuesAskedOnce()
{
    QFETCH(QString, alias);
    QFETCH(QString, note);
    QVERIFY(m_form.open());
    m_form->setDBParms(PgServer::instance().loginText());
    m_form.type(QStringLiteral("insert into notes values (:note);\n"
                               "select note from notes where note = :note or note = ?;\n"
                               "delete from notes where note = :note;\n"));
    m_form.chooseAlias(alias);
    QStringList labels;
    ModalScript script(
        { giveValues(note.isNull() ? QStringList() : QStringList { note, "zz" }, &labels) });
    QTest::keyClick(m_form.editor(), Qt::Key_X, Qt::AltModifier);
    QVERIFY(m_form.waitIdle());
    QVERIFY(script.done());
    QCOMPARE(script.unexpected, 0);
    QCOMPARE(labels, (QStringList { ":note", "?1 (line 2)" }));
    const QStringList lines = logLines(m_form.child<QTreeWidget>("ScriptLog"));
    if (note.isNull()) {
        QCOMPARE(lines, QStringList()); // no statement started
        QCOMPARE(m_form->statusText(1), QStringLiteral("Script not run: no values were given"));
        return;
    }
    const QString with = " with :note = '" + QString(note).replace("'", "''") + "'";
    QCOMPARE(lines,
        (QStringList { "1 change 1 row affected" + with,
            "2 query 1 row fetched" + with + ", ?1 = 'zz'", "3 change 1 row affected" + with }));
    QCOMPARE(m_form.grid()->model()->rowCount(), 1);
    QCOMPARE(m_form.grid()->model()->index(0, 0).data().toString(), note);
    // Each statement's history entry keeps the values it ran with.
    QTRY_COMPARE(HistoryDb(HistoryDb::defaultPath()).recentValues(":note").value(0), note);
}

STELVIK_TEST_MAIN(tst_scripts)
#include "tst_scripts.moc"
