// Drives the real main window offscreen and prints, as "name value unit" lines:
//   first_rows_extra_ms: time from Run to the first rows painted in the grid, less the time a
//                        plain ODBC open and first block of the same statement take;
//   ui_stall_max_ms:     the longest gap of the UI thread's event loop while a 5-second
//                        statement runs and while the grid scrolls to the end of the result.
// Rows: first argument, else $ROWS, else 1000000.

#include "StallMeter.h"
#include "app/Unit1.h"
#include "connection/QueryDataset.h"
#include "support/PgServer.h"
#include "support/TestEnv.h"
#include "support/WindowFixture.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QTableView>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <sql.h>
#include <sqlext.h>
#include <stdexcept>
#include <vector>

namespace {

const char *const kSelect = "select * from wide";

void spinUntil(const std::function<bool()> &done)
{
    while (!done())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
}

// A plain ODBC open of the statement and one bound block fetch of `rows` rows, in ms.
double plainOpenAndFirstBlock(const char *dsn, int rows, int columns)
{
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    if (!SQL_SUCCEEDED(SQLConnect(dbc, (SQLCHAR *)dsn, SQL_NTS, nullptr, 0, nullptr, 0)))
        throw std::runtime_error("plain connect failed");
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);

    constexpr int width = 64;
    std::vector<char> buffers(std::size_t(rows) * columns * width);
    std::vector<SQLLEN> lengths(std::size_t(rows) * columns);
    SQLULEN fetched = 0;
    SQLSetStmtAttr(stmt, SQL_ATTR_ROW_BIND_TYPE, SQL_BIND_BY_COLUMN, 0);
    SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(SQLULEN(rows)), 0);
    SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);

    QElapsedTimer timer;
    timer.start();
    if (!SQL_SUCCEEDED(SQLExecDirect(stmt, (SQLCHAR *)kSelect, SQL_NTS)))
        throw std::runtime_error("plain open failed");
    for (int c = 0; c < columns; ++c)
        SQLBindCol(stmt, SQLUSMALLINT(c + 1), SQL_C_CHAR, &buffers[std::size_t(c) * rows * width],
            width, &lengths[std::size_t(c) * rows]);
    SQLFetch(stmt);
    const double ms = timer.nsecsElapsed() / 1e6;

    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return ms;
}

// Notes the moment the grid has painted rows, after the paint itself.
class PaintWatch : public QObject
{
public:
    explicit PaintWatch(QTableView *grid)
        : m_grid(grid)
    {
        grid->viewport()->installEventFilter(this);
    }
    qint64 paintedAtNs = -1;
    QElapsedTimer clock;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::Paint || paintedAtNs >= 0 || !m_grid->model()
            || m_grid->model()->rowCount() == 0)
            return false;
        m_grid->viewport()->removeEventFilter(this);
        QCoreApplication::sendEvent(watched, event);
        paintedAtNs = clock.nsecsElapsed();
        return true;
    }

private:
    QTableView *m_grid;
};

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    long rows = 1000000;
    if (argc > 1)
        rows = std::atol(argv[1]);
    else if (!qEnvironmentVariableIsEmpty("ROWS"))
        rows = qEnvironmentVariableIntValue("ROWS");
    TestEnv::setUp();
    QApplication app(argc, argv);

    try {
        TestEnv::addSqliteDsn(QStringLiteral("BENCHUI"),
            { QStringLiteral(
                "create table wide as with recursive s(n) as (select 1 union all select n + 1 "
                "from s where n < %1) select n as id, n * 7 % 1000 as qty, "
                "cast(n % 10000 as decimal(10,2)) / 100 as price, n * 0.125 as ratio, "
                "'name ' || n as name, case when n % 10 = 0 then null else 'x' || n end as note, "
                "date('2001-01-01', '+' || (n % 3650) || ' days') as day, "
                "datetime('2001-01-01 00:00:00', '+' || n || ' seconds') as stamp from s")
                    .arg(rows) });
        PgServer &server = PgServer::instance();
        server.addDsn(QStringLiteral("BENCHPG"));

        TForm1 form(WindowFixture::options());
        form.setDBParms(server.loginText());
        form.show();
        auto *grid = form.findChild<QTableView *>(QStringLiteral("DBGrid1"));
        auto *alias = form.findChild<QComboBox *>(QStringLiteral("ComboBox1"));
        auto *run = form.findChild<QToolButton *>(QStringLiteral("SpeedButton1"));
        if (!grid || !alias || !run)
            throw std::runtime_error("main window controls missing");
        QCoreApplication::processEvents();

        // Run to first rows, against the plain open and first block, best of five each.
        double bestUi = 1e9, bestPlain = 1e9;
        for (int round = 0; round < 5; ++round) {
            form.setEditorText(QString::fromLatin1(kSelect));
            alias->setEditText(QStringLiteral("BENCHUI"));
            PaintWatch watch(grid);
            watch.clock.start();
            run->click();
            spinUntil([&] { return watch.paintedAtNs >= 0; });
            bestUi = std::min(bestUi, watch.paintedAtNs / 1e6);
            spinUntil([&] { return windowIdle(form); });
            const int block = form.CurrentQuery ? form.CurrentQuery->fetchedCount() : 1;
            const int columns = form.CurrentQuery ? form.CurrentQuery->FieldCount() : 8;
            bestPlain = std::min(bestPlain, plainOpenAndFirstBlock("BENCHUI", block, columns));
        }
        std::printf("first_rows_ms %.1f ms\n", bestUi);
        std::printf("plain_first_block_ms %.1f ms\n", bestPlain);
        std::printf("first_rows_extra_ms %.1f ms\n", std::max(0.0, bestUi - bestPlain));

        // A 5-second statement on the server: the window must keep turning its event loop.
        double statementStall = 0;
        {
            form.setEditorText(QStringLiteral("select pg_sleep(5)"));
            alias->setEditText(QStringLiteral("BENCHPG"));
            StallMeter meter;
            run->click();
            spinUntil([&] { return windowIdle(form); });
            statementStall = meter.maxGapMs;
        }

        // Scrolling the grid to the end of the whole result, one block per turn.
        double scrollStall = 0;
        {
            form.setEditorText(QString::fromLatin1(kSelect));
            alias->setEditText(QStringLiteral("BENCHUI"));
            run->click();
            spinUntil([&] { return windowIdle(form); });
            QAbstractItemModel *model = grid->model();
            StallMeter meter;
            QTimer scroller;
            QObject::connect(&scroller, &QTimer::timeout, [&] { grid->scrollToBottom(); });
            scroller.start(0);
            spinUntil([&] { return !model->canFetchMore(QModelIndex()); });
            scroller.stop();
            scrollStall = meter.maxGapMs;
            std::printf("scrolled_rows %d rows\n", model->rowCount());
        }
        std::printf("ui_stall_statement_ms %.1f ms\n", statementStall);
        std::printf("ui_stall_scroll_ms %.1f ms\n", scrollStall);
        std::printf("ui_stall_max_ms %.1f ms\n", std::max(statementStall, scrollStall));
    } catch (const std::exception &error) {
        std::fprintf(stderr, "bench_ui: %s\n", error.what());
        return 1;
    }
    return 0;
}
