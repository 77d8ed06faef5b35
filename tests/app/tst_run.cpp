#include "app/ScriptLog.h"
#include "app/Unit1.h"
#include "connection/QueryDataset.h"
#include "connection/Session.h"
#include "query/QueryControl.h"
#include "results/DataSource.h"
#include "support/ConnectWait.h"
#include "support/ModalScript.h"
#include "support/PgLock.h"
#include "support/PgServer.h"
#include "support/SessionConnection.h"
#include "support/TestEnv.h"
#include "support/WindowFixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QHeaderView>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

// Answers each statement error box from inside its own event loop, noting what the window showed
// while it was up. Any other dialog fails the test.
class BoxAnswerer
{
public:
    explicit BoxAnswerer(TForm1 *form)
    {
        m_script.setFallback([this, form](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            QVERIFY2(box && box->objectName() == QLatin1String("QueryErrorBox"),
                modal->metaObject()->className());
            ++answered;
            text = box->text();
            panelWhileShown = form->statusText(1);
            cursorDefaultWhileShown = QApplication::overrideCursor() == nullptr;
            QAbstractButton *ok = box->button(QMessageBox::Ok);
            QVERIFY(ok);
            ok->click();
        });
    }

    int answered = 0;
    QString text;
    QString panelWhileShown;
    bool cursorDefaultWhileShown = false;

private:
    ModalScript m_script { QList<ModalScript::Answer>() };
};

class tst_run : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void select_data();
    void select();
    void countTickedWhileSelectRuns();
    void exec_data();
    void exec();
    void statementError_data();
    void statementError();
    void closeQueryDuringLongStatement();
    void newRunWhileAbandonedWorkerRuns();
    void emptyAliasClosesResultOnly();
    void windowGoesWhileStatementRuns();
    void nullCellsPainted();
    void displayWidthFollowsResize_data();
    void displayWidthFollowsResize();
    void currentRowInStep_data();
    void currentRowInStep();
    void resultPages_data();
    void resultPages();
    void outValuesInLog();
    void pinnedResults_data();
    void pinnedResults();

private:
    template <typename T>
    T *child(const char *name) const
    {
        return m_form.child<T>(name);
    }
    QCheckBox *countBox() const { return child<QCheckBox>("CheckBox1"); }

    // Puts the statement and alias in place and presses the button.
    void start(QToolButton *button, const QString &alias, const QString &sql);
    // Waits until no worker is current.
    bool waitIdle(int timeoutMs = 30000);
    bool idleState() const;
    QString selectCompletePattern() const;
    QString shownResult(); // grid: first title|first value|comma-quote export's lines|panel 0
    QStringList logLines(); // what Ctrl+C in the log copies, the elapsed time left out
    QStringList tabCaptions(); // none while the tab bar is hidden
    void keyInGrid(Qt::Key key, Qt::KeyboardModifiers modifiers);

    WindowFixture m_form;
};

void tst_run::initTestCase()
{
    TestEnv::addSqliteDsn(QStringLiteral("RUNLITE"),
        { QStringLiteral("create table t(id integer, name varchar(20))"),
            QStringLiteral("insert into t values (1, 'one'), (2, null), (3, '')"),
            QStringLiteral("create table log(note varchar(20))"),
            QStringLiteral("create table big as with recursive s(n) as (select 1 union all "
                           "select n + 1 from s where n < 20000) select n from s") });
    PgServer::instance().addDsn(QStringLiteral("RUNPG"));
    PgServer::instance().addDsn(QStringLiteral("RUNPGLOCK"));
    PgServer::instance().exec(
        QStringLiteral("create or replace procedure bump(inout a int, inout b text, out c text) "
                       "language plpgsql as $$ begin a := a + 1; b := b || '!'; c := 'out'; "
                       "end $$"));
}

void tst_run::init()
{
    QVERIFY(m_form.open(WindowFixture::Shown::Active));
    m_form->setDBParms(PgServer::instance().loginText());

    m_form.pages()->setCurrentIndex(0);
    countBox()->setChecked(false);
}

void tst_run::cleanup()
{
    m_form.close();
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

void tst_run::start(QToolButton *button, const QString &alias, const QString &sql)
{
    // Connected first, so that the click starts the worker at once, as on every later Run.
    if (!alias.isEmpty())
        QVERIFY(connectAndWait(*m_form, alias.toUpper()));
    m_form->setEditorText(sql);
    m_form.chooseAlias(alias);
    button->click();
}

bool tst_run::idleState() const
{
    return !m_form->CurrentThread && m_form.runButton()->isEnabled()
        && m_form.execButton()->isEnabled() && QApplication::overrideCursor() == nullptr;
}

bool tst_run::waitIdle(int timeoutMs)
{
    return m_form.waitIdle(timeoutMs) && idleState();
}

QString tst_run::selectCompletePattern() const
{
    return QStringLiteral("^Select Complete in : \\d+%1\\d{4} Seconds$")
        .arg(QRegularExpression::escape(QLocale().decimalPoint()));
}

void tst_run::select_data()
{
    QTest::addColumn<QString>("alias");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("recordCount");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QStringList>("firstRow");

    const QString small = QStringLiteral("select id, name from t order by id");
    QTest::newRow("sqlite") << "runlite" << small << false << 3 << QStringList { "1", "one" };
    QTest::newRow("sqlite counted")
        << "runlite" << small << true << 3 << QStringList { "1", "one" };
    QTest::newRow("sqlite large counted")
        << "RunLite"
        << "select n from big" << true << 20000 << QStringList { "1" };
    const QString pg =
        QStringLiteral("select n, 'row ' || n as label from generate_series(1, 2500) n");
    QTest::newRow("postgres") << "runpg" << pg << false << -1 << QStringList { "1", "row 1" };
    QTest::newRow("postgres counted")
        << "runpg" << pg << true << 2500 << QStringList { "1", "row 1" };
}

void tst_run::select()
{
    QFETCH(QString, alias);
    QFETCH(QString, sql);
    QFETCH(bool, recordCount);
    QFETCH(int, rows);
    QFETCH(QStringList, firstRow);

    m_form->setStatusText(0, QStringLiteral("earlier"));
    countBox()->setChecked(recordCount);
    start(m_form.runButton(), alias, sql);

    // Busy until the worker hands back.
    QCOMPARE(m_form->statusText(1), QStringLiteral("Running Query"));
    QVERIFY(m_form->CurrentThread);
    QVERIFY(!m_form.runButton()->isEnabled());
    QVERIFY(!m_form.execButton()->isEnabled());
    QVERIFY(m_form.closeButton()->isEnabled());
    QVERIFY(QApplication::overrideCursor());
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    // The statement went to the head of the history while the worker works.
    QVERIFY(!m_form->HistoryList.isEmpty());
    QCOMPARE(m_form->HistoryList.first().Object.FullText, sql + QStringLiteral("\r\n"));
    QVERIFY(!m_form->QueryChanged);

    QVERIFY(waitIdle());
    QVERIFY(m_form->CurrentQuery);
    QCOMPARE(m_form->CurrentQuery->databaseName(), alias.toUpper());
    QVERIFY2(QRegularExpression(selectCompletePattern()).match(m_form->statusText(1)).hasMatch(),
        qPrintable(m_form->statusText(1)));
    QCOMPARE(
        m_form->statusText(0), recordCount ? QString::number(rows) : QStringLiteral("earlier"));
    QCOMPARE(m_form.pages()->currentWidget(), child<QWidget>("TabSheet2"));
    QVERIFY(m_form.grid()->hasFocus());

    QAbstractItemModel *model = m_form.grid()->model();
    QCOMPARE(model->columnCount(), firstRow.size());
    for (int column = 0; column < firstRow.size(); ++column)
        QCOMPARE(model->index(0, column).data().toString(), firstRow.at(column));
    if (recordCount)
        QCOMPARE(model->rowCount(), rows);
    else
        QVERIFY(model->rowCount() > 0);
}

void tst_run::countTickedWhileSelectRuns()
{
    m_form->setStatusText(0, QStringLiteral("earlier"));
    start(m_form.runButton(), QStringLiteral("runlite"), QStringLiteral("select n from big"));
    countBox()->setChecked(true); // before the hand-back: the worker itself did not count
    QVERIFY(waitIdle());
    QVERIFY(m_form->CurrentQuery);
    QCOMPARE(m_form->statusText(0), QStringLiteral("20000"));
    QCOMPARE(m_form.grid()->model()->rowCount(), 20000);
}

void tst_run::exec_data()
{
    QTest::addColumn<QString>("alias");
    QTest::addColumn<QString>("statement");
    QTest::addColumn<QString>("check"); // a select that shows the statement's effect
    QTest::addColumn<QString>("effect");

    QTest::newRow("sqlite") << "runlite"
                            << "insert into log values ('from exec')"
                            << "select count(*) from log where note = 'from exec'"
                            << "1";
    QTest::newRow("postgres") << "runpg"
                              << "create table if not exists exec_made (x integer)"
                              << "select count(*) from information_schema.tables "
                                 "where table_name = 'exec_made'"
                              << "1";
}

void tst_run::exec()
{
    QFETCH(QString, alias);
    QFETCH(QString, statement);
    QFETCH(QString, check);
    QFETCH(QString, effect);

    // A result is on screen first: Exec closes it.
    start(m_form.runButton(), alias, QStringLiteral("select 1 as one"));
    QVERIFY(waitIdle());
    QVERIFY(m_form->CurrentQuery);
    m_form.pages()->setCurrentIndex(0);

    start(m_form.execButton(), alias, statement);
    QCOMPARE(m_form->statusText(1), QStringLiteral("Executing SQL"));
    QVERIFY(!m_form.runButton()->isEnabled());
    QCOMPARE(m_form.grid()->model()->columnCount(), 0);
    QVERIFY(waitIdle());
    QCOMPARE(m_form->statusText(1), QStringLiteral("Execute Complete!"));
    QCOMPARE(m_form.pages()->currentIndex(), 0);
    QVERIFY(!m_form->CurrentQuery);
    QCOMPARE(m_form.grid()->model()->rowCount(), 0);
    QCOMPARE(m_form.grid()->model()->columnCount(), 0);

    start(m_form.runButton(), alias, check);
    QVERIFY(waitIdle());
    QVERIFY(m_form->CurrentQuery);
    QCOMPARE(m_form.grid()->model()->index(0, 0).data().toString(), effect);
}

void tst_run::statementError_data()
{
    QTest::addColumn<QString>("alias");
    QTest::addColumn<bool>("isExec");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("message"); // part of the database's own text
    QTest::addColumn<QString>("panel");

    QTest::newRow("sqlite run") << "runlite" << false << "selec * from t"
                                << "syntax error"
                                << "Running Query";
    QTest::newRow("sqlite exec") << "runlite" << true << "insert into nowhere values (1)"
                                 << "no such table"
                                 << "Executing SQL";
    QTest::newRow("postgres run") << "runpg" << false << "select from from t"
                                  << "syntax error"
                                  << "Running Query";
    QTest::newRow("postgres count")
        << "runpg" << false << "select 1 / (n - 3000) from generate_series(1, 3000) n"
        << "division by zero"
        << "Running Query";
}

void tst_run::statementError()
{
    QFETCH(QString, alias);
    QFETCH(bool, isExec);
    QFETCH(QString, sql);
    QFETCH(QString, message);
    QFETCH(QString, panel);

    // The count walks the whole result, so an error in its last rows reaches the box too.
    countBox()->setChecked(true);
    BoxAnswerer answerer(m_form.form());
    start(isExec ? m_form.execButton() : m_form.runButton(), alias, sql);
    QVERIFY(waitIdle());
    QCOMPARE(answerer.answered, 1);
    QVERIFY2(answerer.text.contains(message, Qt::CaseInsensitive), qPrintable(answerer.text));
    QCOMPARE(answerer.panelWhileShown, panel);
    QVERIFY(answerer.cursorDefaultWhileShown);
    QCOMPARE(m_form->statusText(1), panel);
    QVERIFY(!m_form->CurrentQuery);
    QCOMPARE(m_form.grid()->model()->columnCount(), 0);
    QCOMPARE(m_form.pages()->currentIndex(), 0);
}

void tst_run::closeQueryDuringLongStatement()
{
    start(m_form.runButton(), QStringLiteral("runlite"), QStringLiteral("select id from t"));
    QVERIFY(waitIdle());
    m_form.pages()->setCurrentIndex(0);

    start(m_form.runButton(), QStringLiteral("runpg"), QStringLiteral("select pg_sleep(5)"));
    QPointer<QObject> worker = m_form->CurrentThread;
    QVERIFY(worker);
    QSignalSpy ended(worker.data(), &QObject::destroyed);
    QVERIFY(QApplication::overrideCursor());

    m_form.closeButton()->click();
    // At once, without waiting for the statement.
    QVERIFY(idleState());
    QVERIFY(!m_form->CurrentQuery);
    QCOMPARE(m_form.grid()->model()->columnCount(), 0);
    QVERIFY(!ended.count());

    // When the statement ends, the abandoned worker frees itself and nothing changes on screen.
    QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 30000);
    QCoreApplication::processEvents();
    QVERIFY(idleState());
    QVERIFY(!m_form->CurrentQuery);
    QCOMPARE(m_form.grid()->model()->columnCount(), 0);
    QCOMPARE(m_form->statusText(1), QStringLiteral("Running Query"));
    QCOMPARE(m_form.pages()->currentIndex(), 0);
    QVERIFY(!m_form->findChild<QMessageBox *>(QStringLiteral("QueryErrorBox")));
}

void tst_run::newRunWhileAbandonedWorkerRuns()
{
    // The old statement waits for a lock of the test's, so it runs until the checks are done.
    PgLock lock(QStringLiteral("RUNPGLOCK"), 7001);
    start(m_form.runButton(), QStringLiteral("runpg"),
        QStringLiteral("select 'old' as which from ") + PgLock::waitFor(7001));
    QPointer<QObject> abandoned = m_form->CurrentThread;
    QSignalSpy abandonedEnded(abandoned.data(), &QObject::destroyed);
    m_form.closeButton()->click();

    // The same connection: the new worker waits for the old statement on its own thread,
    // while the window keeps handling events.
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
    ticker.start(10);
    start(m_form.runButton(), QStringLiteral("runpg"), QStringLiteral("select 42 as answer"));
    // The window did not wait for it: it handles events. (Close Query also cancels the old
    // statement on the server, so when either statement ends is not known here.)
    QTRY_VERIFY(ticks >= 5);

    lock.release();
    QVERIFY(waitIdle());
    QTRY_COMPARE_WITH_TIMEOUT(abandonedEnded.count(), 1, 30000);
    QCoreApplication::processEvents();
    QVERIFY(m_form->CurrentQuery);
    QCOMPARE(m_form.grid()->model()->columnCount(), 1);
    QCOMPARE(
        m_form.grid()->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("answer"));
    QCOMPARE(m_form.grid()->model()->index(0, 0).data().toString(), QStringLiteral("42"));
    QVERIFY(QRegularExpression(selectCompletePattern()).match(m_form->statusText(1)).hasMatch());
}

void tst_run::emptyAliasClosesResultOnly()
{
    start(m_form.runButton(), QStringLiteral("runlite"), QStringLiteral("select id from t"));
    QVERIFY(waitIdle());
    const QString panel = m_form->statusText(1);
    const qsizetype history = m_form->HistoryList.size();

    start(m_form.runButton(), QString(), QStringLiteral("select name from t"));
    QCOMPARE(m_form->HistoryList.size(), history);
    QVERIFY(!m_form->CurrentThread);
    QVERIFY(!m_form->CurrentQuery);
    QCOMPARE(m_form.grid()->model()->columnCount(), 0);
    QCOMPARE(m_form->statusText(1), panel);
    QVERIFY(idleState());
}

void tst_run::windowGoesWhileStatementRuns()
{
    start(m_form.runButton(), QStringLiteral("runpg"),
        QStringLiteral("select pg_sleep(1), 1 as one"));
    QPointer<QObject> worker = m_form->CurrentThread;
    QVERIFY(worker);
    QSignalSpy ended(worker.data(), &QObject::destroyed);
    m_form.close();
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    // The worker ends on its own and hands back to nobody.
    QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 30000);
}

namespace {
struct CellInk
{
    int pixels = 0; // pixels that differ from the cell's background
    QRect box; // their bounding box, relative to the cell
    bool hasColour = false; // one of them is close to the given colour
};

CellInk inkIn(const QImage &image, const QRect &cell, QRgb background, QRgb colour)
{
    CellInk ink;
    for (int y = cell.top(); y <= cell.bottom(); ++y) {
        for (int x = cell.left(); x <= cell.right(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (pixel == background)
                continue;
            ++ink.pixels;
            ink.box |= QRect(x - cell.left(), y - cell.top(), 1, 1);
            // Text is antialiased: its strongest pixels come close to the pen's colour.
            const int distance = std::max({ std::abs(qRed(pixel) - qRed(colour)),
                std::abs(qGreen(pixel) - qGreen(colour)), std::abs(qBlue(pixel) - qBlue(colour)) });
            ink.hasColour = ink.hasColour || distance <= 64;
        }
    }
    return ink;
}
}

void tst_run::nullCellsPainted()
{
    start(m_form.runButton(), QStringLiteral("runlite"),
        QStringLiteral("select name, id from t order by id"));
    QVERIFY(waitIdle());
    QTableView *view = m_form.grid();
    QAbstractItemModel *model = view->model();
    QVERIFY(model->index(1, 0).data(DataSource::IsNullRole).toBool());

    const QPalette palette = view->palette();
    const QPalette::ColorGroup group =
        view->isActiveWindow() ? QPalette::Active : QPalette::Inactive;
    const QFontMetrics metrics = view->fontMetrics();
    const int noInsetTop = metrics.ascent() - metrics.capHeight() + 1;

    struct Case
    {
        int row;
        bool selected;
    };
    for (const Case &c : { Case { 1, false }, Case { 1, true } }) {
        view->setCurrentIndex(model->index(c.selected ? 1 : 0, 0));
        QCoreApplication::processEvents();
        const QImage image = view->viewport()->grab().toImage();
        const QRect cell = view->visualRect(model->index(c.row, 0));
        const QRgb background =
            palette.color(group, c.selected ? QPalette::Highlight : QPalette::Base).rgb();
        const QRgb text =
            palette.color(group, c.selected ? QPalette::HighlightedText : QPalette::Text).rgb();
        QCOMPARE(image.pixel(cell.right() - 1, cell.bottom() - 1), background);
        const CellInk ink = inkIn(image, cell, background, text);
        QVERIFY2(ink.pixels > 0, c.selected ? "selected" : "not selected");
        QVERIFY(ink.hasColour);
        // "<Null>" sits in the top-left corner, without the inset of ordinary text.
        QVERIFY2(ink.box.left() <= 2, qPrintable(QString::number(ink.box.left())));
        QVERIFY2(ink.box.top() <= noInsetTop, qPrintable(QString::number(ink.box.top())));
        QVERIFY(ink.box.width() >= metrics.horizontalAdvance(QStringLiteral("<Null>")) / 2);
    }

    // Not null: the grid's own painting, with its inset; an empty text shows nothing.
    view->setCurrentIndex(model->index(0, 1));
    QCoreApplication::processEvents();
    const QImage image = view->viewport()->grab().toImage();
    const QRgb base = palette.color(group, QPalette::Base).rgb();
    const QRgb text = palette.color(group, QPalette::Text).rgb();
    const CellInk ordinary = inkIn(image, view->visualRect(model->index(0, 0)), base, text);
    QVERIFY(ordinary.pixels > 0);
    QVERIFY2(ordinary.box.left() > 2, qPrintable(QString::number(ordinary.box.left())));
    QCOMPARE(inkIn(image, view->visualRect(model->index(2, 0)), base, text).pixels, 0);
}

void tst_run::displayWidthFollowsResize_data()
{
    QTest::addColumn<int>("characters");
    QTest::addColumn<double>("fraction"); // of one more average character
    QTest::addColumn<int>("expected");

    QTest::newRow("whole characters") << 20 << 0.0 << 20;
    QTest::newRow("rounded down") << 7 << 0.3 << 7;
    QTest::newRow("rounded up") << 7 << 0.7 << 8;
    QTest::newRow("narrow") << 5 << 0.45 << 5;
}

void tst_run::displayWidthFollowsResize()
{
    QFETCH(int, characters);
    QFETCH(double, fraction);
    QFETCH(int, expected);

    start(m_form.runButton(), QStringLiteral("runlite"), QStringLiteral("select id, name from t"));
    QVERIFY(waitIdle());
    QueryDataset *result = m_form->CurrentQuery.get();
    QVERIFY(result);

    // Sizing the columns from code when the result is bound leaves the widths alone.
    QueryDataset fresh;
    fresh.setConnection(QStringLiteral("RUNLITE"), sessionConnection(QStringLiteral("RUNLITE")));
    fresh.setSql(QStringLiteral("select id, name from t"));
    fresh.OpenQuery();
    QCOMPARE(result->DisplayWidth(0), fresh.DisplayWidth(0));
    QCOMPARE(result->DisplayWidth(1), fresh.DisplayWidth(1));

    // The user drags the right edge of the first column's header.
    QHeaderView *header = m_form.grid()->horizontalHeader();
    const int average = m_form.grid()->fontMetrics().averageCharWidth();
    const int target = characters * average + 3 + int(std::floor(fraction * average));
    const int edge = header->sectionViewportPosition(0) + header->sectionSize(0) - 1;
    const int y = header->height() / 2;
    auto send = [header](QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
        QMouseEvent event(
            type, at, header->mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(header->viewport(), &event);
    };
    send(QEvent::MouseButtonPress, QPoint(edge, y), Qt::LeftButton);
    const QPoint to(header->sectionViewportPosition(0) + target - 1, y);
    send(QEvent::MouseMove, to, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, to, Qt::NoButton);
    QCOMPARE(header->sectionSize(0), target);

    QCOMPARE(result->DisplayWidth(0), expected);
    // Every column takes its own width in characters, not only the dragged one.
    const int other = header->sectionSize(1);
    QCOMPARE(result->DisplayWidth(1), int(std::lround(double(other - 3) / average)));
}

void tst_run::currentRowInStep_data()
{
    QTest::addColumn<int>("gridRow");
    QTest::addColumn<int>("record");

    QTest::newRow("near the top") << 5 << 3;
    QTest::newRow("beyond the first block") << 2 << 7000;
}

void tst_run::currentRowInStep()
{
    QFETCH(int, gridRow);
    QFETCH(int, record);

    start(m_form.runButton(), QStringLiteral("runlite"), QStringLiteral("select n from big"));
    QVERIFY(waitIdle());
    QueryDataset *result = m_form->CurrentQuery.get();
    QVERIFY(result);
    QCOMPARE(result->RecNo(), 0);
    QCOMPARE(m_form.grid()->currentIndex().row(), 0);

    // The grid's current row moves the dataset.
    m_form.grid()->setCurrentIndex(m_form.grid()->model()->index(gridRow, 0));
    QCOMPARE(result->RecNo(), gridRow);
    QCOMPARE(result->FieldString(0), QString::number(gridRow + 1));

    // The dataset's current record moves the grid when it is bound again.
    m_form->UnbindGrid();
    QCOMPARE(m_form.grid()->model()->rowCount(), 0);
    result->setRecNo(record);
    m_form->BindGrid();
    QCOMPARE(m_form.grid()->currentIndex().row(), record);
    QCOMPARE(m_form.grid()->currentIndex().data().toString(), QString::number(record + 1));
    QCOMPARE(result->RecNo(), record);
}

QString tst_run::shownResult()
{
    const QAbstractItemModel *grid = m_form.grid()->model();
    ModalScript script({ [](QWidget *modal) {
        ::child<QCheckBox>(modal, "toClipboard")->setChecked(true);
        ::child<QPushButton>(modal, "BitBtn1")->click();
    } });
    child<QToolButton>("SpeedButton5")->click();
    const QString exported = script.done() ? QGuiApplication::clipboard()->text() : QString();
    return QStringList { grid->headerData(0, Qt::Horizontal).toString(),
        grid->index(0, 0).data().toString(), exported.section("\r\n", 0, 1), m_form->statusText(0) }
        .join('|');
}

QStringList tst_run::logLines()
{
    auto *log = child<QTreeWidget>("ScriptLog");
    m_form.pages()->setCurrentIndex(0);
    m_form->activateWindow(); // back from a dialog
    log->setFocus();
    if (!QTest::qWaitFor([log] { return log->hasFocus(); }))
        return { QStringLiteral("the log has no focus") };
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(log, Qt::Key_C, Qt::ControlModifier);
    QStringList lines = QGuiApplication::clipboard()->text().split('\n');
    lines.first() = lines.first().section('\t', 0, 2);
    return lines;
}

void tst_run::resultPages_data()
{
    QTest::addColumn<QString>("alias");
    QTest::addColumn<QString>("earlier"); // run first: its log stays
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QStringList>("tabs"); // none: no tab bar
    QTest::addColumn<QStringList>("pages"); // as shownResult() gives each
    QTest::addColumn<QStringList>("log"); // none: the log stays hidden

    const QString batch = "select n from generate_series(1, 3) n;\nselect 'x' as b, 2 as c";
    const QStringList log { "1\tbatch\t2 results", "\tresult\tResult 1 (3 rows)",
        "\tresult\tResult 2 (1 row)" };
    QTest::newRow("pg batch of two selects")
        << "RUNPG" << QString() << batch << QStringList { "Result 1 (3 rows)", "Result 2 (1 row)" }
        << QStringList { "n|1|\"n\"\r\n\"1\"|3", "b|x|\"b\",\"c\"\r\n\"x\",\"2\"|1" } << log;
    QTest::newRow("pg single select after it: the log stays")
        << "RUNPG" << batch << "select 5 as five" << QStringList()
        << QStringList { "five|5|\"five\"\r\n\"5\"|3" } << log;
    QTest::newRow("sqlite single select")
        << "RUNLITE" << QString() << "select 7 as n" << QStringList()
        << QStringList { "n|7|\"n\"\r\n\"7\"|" } << QStringList();
}

// Each result gets a page, switched by its tab, Ctrl+PgUp or its line in the log; the grid, the
// export and panel 0 take the page shown. One result keeps the grid alone and the log as it was.
void tst_run::resultPages()
{
    QFETCH(QString, alias);
    QFETCH(QString, earlier);
    QFETCH(QString, sql);
    QFETCH(QStringList, tabs);
    QFETCH(QStringList, pages);
    QFETCH(QStringList, log);

    m_form->setStatusText(0, QString());
    for (const QString &statement : { earlier, sql }) {
        if (!statement.isEmpty()) {
            start(m_form.runButton(), alias, statement);
            QVERIFY(waitIdle());
        }
    }
    auto *tabBar = child<QTabBar>("ResultTabs");
    QCOMPARE(tabCaptions(), tabs);
    for (int page = pages.size() - 1; page >= 0; --page) {
        if (page > 0) {
            QTest::mouseClick(tabBar, Qt::LeftButton, {}, tabBar->tabRect(page).center());
        } else if (pages.size() > 1) {
            keyInGrid(Qt::Key_PageUp, Qt::ControlModifier);
        }
        QCOMPARE(shownResult(), pages[page]);
    }
    auto *logTree = child<QTreeWidget>("ScriptLog");
    QCOMPARE(logTree->isHidden(), log.isEmpty());
    if (log.isEmpty())
        return;
    QCOMPARE(logLines(), log);
    emit logTree->itemActivated(logTree->topLevelItem(2), 0); // "Result 2", while it is shown
    QCOMPARE(tabBar->currentIndex(), tabs.isEmpty() ? 0 : 1);
}

// A procedure's INOUT and OUT values, with comments before its CALL, are listed in the log.
void tst_run::outValuesInLog()
{
    QVERIFY(connectAndWait(*m_form, QStringLiteral("RUNPG")));
    const QString sql = QStringLiteral("-- bump it\ncall bump(?, ?, ?)");
    bool ended = false;
    m_form->findChild<QueryControl *>()->startStatement(sql,
        Session::instance().FindConnection(QStringLiteral("RUNPG")), false, false,
        [&](StatementOutcome &outcome) {
            m_form->findChild<ScriptLog *>()->showStatement(
                sql, 0, {}, outcome.parameterOutputs, outcome.elapsedMs);
            ended = true;
        },
        nullptr, 0,
        { { QStringLiteral(":a"), false, QStringLiteral("41"), ParameterDirection::InOut },
            { QStringLiteral(":b"), false, QStringLiteral("hi"), ParameterDirection::InOut },
            { QStringLiteral(":c"), true, {}, ParameterDirection::Out } });
    QTRY_VERIFY_WITH_TIMEOUT(ended, 60000);
    QCOMPARE(logLines(),
        (QStringList { "2\tcall\t3 OUT values", "\tout\tOUT :a = 42", "\tout\tOUT :b = hi!",
            "\tout\tOUT :c = out" }));
}

QStringList tst_run::tabCaptions()
{
    auto *tabBar = child<QTabBar>("ResultTabs");
    QStringList captions;
    for (int i = 0; !tabBar->isHidden() && i < tabBar->count(); ++i)
        captions << tabBar->tabText(i);
    return captions;
}

void tst_run::keyInGrid(Qt::Key key, Qt::KeyboardModifiers modifiers)
{
    m_form->activateWindow(); // back from the export's dialog
    m_form.grid()->setFocus();
    QTRY_VERIFY(m_form.grid()->hasFocus());
    QTest::keyClick(m_form.grid(), key, modifiers);
}

void tst_run::pinnedResults_data()
{
    QTest::addColumn<QString>("alias");
    QTest::addColumn<QString>("first");
    QTest::addColumn<int>("pin"); // 0: none; 1: closed by its tab's button; 2: by Ctrl+W
    QTest::addColumn<QString>("second");
    QTest::addColumn<QStringList>("tabs"); // after the second
    QTest::addColumn<QString>("firstShown"); // as shownResult() gives it
    QTest::addColumn<QString>("secondShown");

    const QString lite = "select id, name from t order by id";
    const QString liteShown = "id|1|\"id\",\"name\"\r\n\"1\",\"one\"|3";
    QTest::newRow("sqlite pinned")
        << "RUNLITE" << lite << 1 << "select 7 as n"
        << QStringList { "Pinned: Result 1 (3 rows)", "Result 1 (1 row)" } << liteShown
        << "n|7|\"n\"\r\n\"7\"|1";
    QTest::newRow("sqlite without a pin: replaced")
        << "RUNLITE" << lite << 0 << "select 7 as n" << QStringList() << QString()
        << "n|7|\"n\"\r\n\"7\"|";
    // Still fetching when pinned: the rest comes first, and the next Run finds its connection.
    QTest::newRow("postgres pinned while fetching")
        << "RUNPG"
        << "select n, 'row ' || n as label from generate_series(1, 2500) n" << 2
        << "select 5 as five" << QStringList { "Pinned: Result 1 (2500 rows)", "Result 1 (1 row)" }
        << "n|1|\"n\",\"label\"\r\n\"1\",\"row 1\"|2500"
        << "five|5|\"five\"\r\n\"5\"|1";
}

// A pinned result stays on its page beside the next Run's, exported as it is shown; Close Query
// leaves it; its close frees it. Without a pin each Run replaces the result.
void tst_run::pinnedResults()
{
    QFETCH(QString, alias);
    QFETCH(QString, first);
    QFETCH(int, pin);
    QFETCH(QString, second);
    QFETCH(QStringList, tabs);
    QFETCH(QString, firstShown);
    QFETCH(QString, secondShown);

    m_form->setStatusText(0, QString());
    start(m_form.runButton(), alias, first);
    QVERIFY(waitIdle());
    if (pin) {
        keyInGrid(Qt::Key_P, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(waitIdle());
        QCOMPARE(tabCaptions(), tabs.mid(0, 1)); // a pinned page shows its tab
    }
    start(m_form.runButton(), alias, second);
    QVERIFY(waitIdle());
    QCOMPARE(tabCaptions(), tabs);
    QCOMPARE(shownResult(), secondShown);
    if (!pin)
        return;
    auto *tabBar = child<QTabBar>("ResultTabs");
    QTest::mouseClick(tabBar, Qt::LeftButton, {}, tabBar->tabRect(0).center());
    QCOMPARE(shownResult(), firstShown);
    tabBar->setCurrentIndex(1);
    m_form.closeButton()->click(); // the unpinned result goes, the pinned one shows
    QCOMPARE(tabCaptions(), tabs.mid(0, 1));
    QCOMPARE(shownResult(), firstShown);
    if (pin == 2)
        keyInGrid(Qt::Key_W, Qt::ControlModifier);
    else if (auto *close = tabBar->findChild<QToolButton *>("ResultTabClose"))
        close->click();
    QVERIFY(!m_form->CurrentQuery);
    QCOMPARE(tabCaptions(), QStringList());
}

STELVIK_TEST_MAIN(tst_run)
#include "tst_run.moc"
