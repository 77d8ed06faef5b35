#include "app/ScriptLog.h"
#include "app/Unit1.h"
#include "connection/Connection.h"
#include "connection/Session.h"
#include "query/QueryControl.h"
#include "support/ConnectWait.h"
#include "support/ModalScript.h"
#include "support/PgServer.h"
#include "support/TestEnv.h"
#include "support/WindowFixture.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QPushButton>
#include <QTabBar>
#include <QTreeWidget>
#include <QtTest>

// The results of a statement that gives several (one page each, a tab bar above the grid) and
// its OUT values, as the window shows them and the log under the editor lists them.
class tst_resultsets : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup() { m_form.close(); }
    void pages_data();
    void pages();
    void outValuesInLog();

private:
    void run(const QString &alias, const QString &sql);
    void pageKey(Qt::Key key); // Ctrl+PgUp or Ctrl+PgDown in the grid
    QString gridRow() const; // the grid's titles and first row: "b,c|x,2"
    QString exported(); // the shown result as the comma-quote export puts it on the clipboard
    QStringList logLines(); // the log as its Copy puts it on the clipboard, elapsed left out

    WindowFixture m_form;
};

void tst_resultsets::initTestCase()
{
    TestEnv::addSqliteDsn(QStringLiteral("SETSLITE"),
        { QStringLiteral("create table t(id integer)"),
            QStringLiteral("insert into t values (1), (2)") });
    PgServer &server = PgServer::instance();
    server.addDsn(QStringLiteral("SETSPG"), QStringLiteral("resultsets"));
    server.exec(QStringLiteral("create or replace procedure bump(inout a int, inout b text, "
                               "out c text) language plpgsql as $$ begin a := a + 1; "
                               "b := b || '!'; c := 'out'; end $$"),
        QStringLiteral("resultsets"));
}

void tst_resultsets::init()
{
    QVERIFY(m_form.open(WindowFixture::Shown::Active));
    m_form->setDBParms(PgServer::instance().loginText());
}

void tst_resultsets::run(const QString &alias, const QString &sql)
{
    QVERIFY(connectAndWait(*m_form, alias));
    m_form.start(m_form.runButton(), alias, sql);
    QVERIFY(m_form.waitIdle());
}

void tst_resultsets::pageKey(Qt::Key key)
{
    m_form.pages()->setCurrentWidget(m_form.child<QWidget>("TabSheet2"));
    m_form->activateWindow(); // back from the export's dialog
    QVERIFY(QTest::qWaitForWindowActive(m_form.form()));
    m_form.grid()->setFocus();
    QTRY_VERIFY(m_form.grid()->hasFocus());
    QTest::keyClick(m_form.grid(), key, Qt::ControlModifier);
}

QString tst_resultsets::gridRow() const
{
    const QAbstractItemModel *model = m_form.grid()->model();
    QStringList titles, values;
    for (int column = 0; column < model->columnCount(); ++column) {
        titles << model->headerData(column, Qt::Horizontal).toString();
        values << model->index(0, column).data().toString();
    }
    return titles.join(',') + '|' + values.join(',');
}

QString tst_resultsets::exported()
{
    ModalScript script({ [](QWidget *modal) {
        modal->findChild<QCheckBox *>("toClipboard")->setChecked(true);
        modal->findChild<QPushButton *>("BitBtn1")->click();
    } });
    m_form.child<QToolButton>("SpeedButton5")->click();
    return script.done() && script.unexpected == 0 ? QGuiApplication::clipboard()->text()
                                                   : QStringLiteral("export not answered");
}

QStringList tst_resultsets::logLines()
{
    QGuiApplication::clipboard()->clear();
    auto *log = m_form.child<QTreeWidget>("ScriptLog");
    m_form.pages()->setCurrentIndex(0); // the editor's page, the log under the editor
    m_form->activateWindow();
    log->setFocus();
    if (!QTest::qWaitFor([log] { return log->hasFocus(); }))
        return { QStringLiteral("the log has no focus") };
    QTest::keyClick(log, Qt::Key_C, Qt::ControlModifier);
    QStringList lines = QGuiApplication::clipboard()->text().split('\n');
    if (!lines.isEmpty()) // the first line's last cell is the elapsed time
        lines.first() = lines.first().section('\t', 0, 2);
    return lines;
}

void tst_resultsets::pages_data()
{
    QTest::addColumn<QString>("alias");
    QTest::addColumn<QString>("earlier"); // run first: its log lines must stay
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QStringList>("tabs"); // none: no tab bar
    QTest::addColumn<QStringList>("grid"); // per page: titles|first row
    QTest::addColumn<QStringList>("exports"); // per page
    QTest::addColumn<QStringList>("log"); // none: the log stays hidden

    const QString batch =
        QStringLiteral("select n from generate_series(1, 3) n;\nselect 'x' as b, 2 as c");
    const QStringList batchLog { "1\tbatch\t2 results", "\tresult\tResult 1 (3 rows)",
        "\tresult\tResult 2 (1 row)" };
    QTest::newRow("pg batch of two selects")
        << "SETSPG" << QString() << batch << QStringList { "Result 1 (3 rows)", "Result 2 (1 row)" }
        << QStringList { "n|1", "b,c|x,2" }
        << QStringList { "\"n\"\r\n\"1\"\r\n\"2\"\r\n\"3\"\r\n", "\"b\",\"c\"\r\n\"x\",\"2\"\r\n" }
        << batchLog;
    QTest::newRow("pg single select after it leaves the log")
        << "SETSPG" << batch << "select 5 as five" << QStringList() << QStringList { "five|5" }
        << QStringList { "\"five\"\r\n\"5\"\r\n" } << batchLog;
    QTest::newRow("sqlite single select")
        << "SETSLITE" << QString() << "select id from t order by id" << QStringList()
        << QStringList { "id|1" } << QStringList { "\"id\"\r\n\"1\"\r\n\"2\"\r\n" }
        << QStringList();
}

// Each result gets a page, switched by its tab, Ctrl+PgDown/PgUp or its line in the log; the
// grid and the export take the page shown. One result keeps the grid alone and the log as it was.
void tst_resultsets::pages()
{
    QFETCH(QString, alias);
    QFETCH(QString, earlier);
    QFETCH(QString, sql);
    QFETCH(QStringList, tabs);
    QFETCH(QStringList, grid);
    QFETCH(QStringList, exports);
    QFETCH(QStringList, log);

    if (!earlier.isEmpty())
        run(alias, earlier);
    run(alias, sql);
    auto *tabBar = m_form.child<QTabBar>("ResultTabs");
    QCOMPARE(tabBar->isVisible(), !tabs.isEmpty());
    QStringList captions;
    for (int i = 0; tabBar->isVisible() && i < tabBar->count(); ++i)
        captions << tabBar->tabText(i);
    QCOMPARE(captions, tabs);
    for (int page = grid.size() - 1; page >= 0; --page) {
        if (page > 0)
            QTest::mouseClick(tabBar, Qt::LeftButton, {}, tabBar->tabRect(page).center());
        else if (grid.size() > 1)
            pageKey(Qt::Key_PageUp);
        QCOMPARE(gridRow(), grid[page]);
        QCOMPARE(exported(), exports[page]);
        if (!tabs.isEmpty()) // panel 0: the records of the page shown
            QCOMPARE(m_form->statusText(0).toInt(), exports[page].count('\n') - 1);
    }
    auto *logTree = m_form.child<QTreeWidget>("ScriptLog");
    QCOMPARE(logTree->isHidden(), log.isEmpty());
    if (log.isEmpty())
        return;
    QCOMPARE(logLines(), log);
    if (grid.size() > 1 && tabs.size() > 1) {
        pageKey(Qt::Key_PageDown);
        QCOMPARE(tabBar->currentIndex(), 1);
        emit logTree->itemActivated(logTree->topLevelItem(1), 0); // "Result 1"
        QCOMPARE(tabBar->currentIndex(), 0);
        QCOMPARE(gridRow(), grid[0]);
    }
}

// A procedure's INOUT and OUT values are listed in the log, and its Copy takes them.
void tst_resultsets::outValuesInLog()
{
    const QString alias = QStringLiteral("SETSPG");
    QVERIFY(connectAndWait(*m_form, alias));
    auto *control = m_form->findChild<QueryControl *>();
    auto *log = m_form->findChild<ScriptLog *>();
    QVERIFY(control && log);
    bool ended = false;
    // Run (not Exec): the driver hands the values back as a result set too.
    control->startStatement(QStringLiteral("call bump(?, ?, ?)"),
        Session::instance().FindConnection(alias), false, false,
        [&](StatementOutcome &outcome) {
            QCOMPARE(outcome.errorText, QString());
            log->showStatement(QStringLiteral("\n-- bump it\ncall bump(:a, :b, :c)"), 0, {},
                outcome.parameterOutputs, outcome.elapsedMs);
            ended = true;
        },
        nullptr, 0,
        { { QStringLiteral(":a"), false, QStringLiteral("41"), ParameterDirection::InOut },
            { QStringLiteral(":b"), false, QStringLiteral("hi"), ParameterDirection::InOut },
            { QStringLiteral(":c"), true, {}, ParameterDirection::Out } });
    QTRY_VERIFY_WITH_TIMEOUT(ended, 60000);
    QCOMPARE(logLines(),
        (QStringList { "3\tcall\t3 OUT values", "\tout\tOUT :a = 42", "\tout\tOUT :b = hi!",
            "\tout\tOUT :c = out" }));
}

STELVIK_TEST_MAIN(tst_resultsets)
#include "tst_resultsets.moc"
