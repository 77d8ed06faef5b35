// Drives the real main window offscreen and prints, as "name value unit" lines:
//   cancel_release_ms:             from Close Query during `select pg_sleep(600)` until the
//                                  server shows that backend no longer active;
//   rerun_after_close_<driver>_ms: from Close Query during a long statement to a new Run's
//                                  first rows (SQLite: a recursive count to 10^9);
//   rerun_after_close_postgres_stalled_ms: from Close Query on a partly fetched result whose
//                                  server stopped answering (its backend stopped with SIGSTOP)
//                                  to a new Run's first rows on the same alias;
//   grid_paint_big_cell_ms:        one repaint of the grid with a 5 MB value in view;
//   ui_stall_<case>_ms:            the longest gap of the UI thread's event loop during a
//                                  connect to a silent server, a late count and Ctrl+End over
//                                  the whole result.
// Rows: first argument, else $ROWS, else 1000000.

#include "StallMeter.h"
#include "app/Unit1.h"
#include "connection/Connection.h"
#include "connection/QueryDataset.h"
#include "support/PgServer.h"
#include "support/ProcessPause.h"
#include "support/SilentServer.h"
#include "support/TestEnv.h"
#include "support/WindowFixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QSettings>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <stdexcept>

namespace {

void spinUntil(const std::function<bool()> &done)
{
    while (!done())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
}

void spinFor(int ms)
{
    QElapsedTimer timer;
    timer.start();
    spinUntil([&] { return timer.elapsed() >= ms; });
}

struct Window
{
    TForm1 form { WindowFixture::options() }; // closing it does not end the process
    QTableView *grid = nullptr;
    QComboBox *alias = nullptr;
    QToolButton *run = nullptr;
    QToolButton *close = nullptr;
    QCheckBox *count = nullptr;

    Window()
    {
        grid = form.findChild<QTableView *>(QStringLiteral("DBGrid1"));
        alias = form.findChild<QComboBox *>(QStringLiteral("ComboBox1"));
        run = form.findChild<QToolButton *>(QStringLiteral("SpeedButton1"));
        close = form.findChild<QToolButton *>(QStringLiteral("SpeedButton4"));
        count = form.findChild<QCheckBox *>(QStringLiteral("CheckBox1"));
        if (!grid || !alias || !run || !close || !count)
            throw std::runtime_error("main window controls missing");
    }
    void start(const QString &dsn, const QString &sql)
    {
        form.setEditorText(sql);
        alias->setEditText(dsn);
        run->click();
    }
    void waitIdle()
    {
        spinUntil([&] { return windowIdle(form); });
    }
};

// Backends of the server running the statement, read on a connection of its own.
int activeBackends(Connection &watch, const QString &sql)
{
    QueryDataset query;
    query.setConnection(QStringLiteral("WATCHPG"), watch.handle());
    query.setSql(QStringLiteral("select count(*) from pg_stat_activity where state = 'active' "
                                "and pid <> pg_backend_pid() and position('%1' in query) > 0")
                     .arg(sql));
    query.OpenQuery();
    return query.FieldString(0).toInt();
}

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
        TestEnv::addSqliteDsn(QStringLiteral("RESPLITE"),
            { QStringLiteral("create table t as with recursive s(n) as (select 1 union all "
                             "select n + 1 from s where n < %1) select n, 'row ' || n as label "
                             "from s")
                    .arg(rows),
                QStringLiteral("create table huge(v text)"),
                QStringLiteral(
                    "insert into huge values (replace(hex(zeroblob(2500000)), '00', 'xy'))") });
        PgServer &server = PgServer::instance();
        server.addDsn(QStringLiteral("RESPPG"));
        server.addDsn(QStringLiteral("WATCHPG"));
        SilentServer silent;
        TestEnv::writeUserDsn(QStringLiteral("SILENT"), QStringLiteral("PostgreSQL Unicode"),
            { { QStringLiteral("Servername"), QStringLiteral("127.0.0.1") },
                { QStringLiteral("Port"), QString::number(silent.port()) },
                { QStringLiteral("Database"), QStringLiteral("nothing") } });
        const QString login = server.loginText();
        Connection watch(TestEnv::session(), QStringLiteral("WATCHPG"));
        watch.Params = login.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        watch.OpenConnection();

        Window w;
        w.form.setDBParms(login);
        w.form.show();
        QCoreApplication::processEvents();

        // Close Query until the server lets go of the statement.
        const QString sleep = QStringLiteral("select pg_sleep(600)");
        w.start(QStringLiteral("RESPPG"), sleep);
        spinUntil([&] { return activeBackends(watch, sleep) == 1; });
        QElapsedTimer timer;
        timer.start();
        w.close->click();
        spinUntil([&] { return activeBackends(watch, sleep) == 0; });
        std::printf("cancel_release_ms %.1f ms\n", timer.nsecsElapsed() / 1e6);

        // Close Query during a long statement, then a new Run on the same alias.
        const struct
        {
            const char *name;
            QString dsn;
            QString longSql;
        } reruns[] = {
            { "sqlite", QStringLiteral("RESPLITE"),
                QStringLiteral("with recursive c(n) as (select 1 union all select n + 1 from c "
                               "where n < 1000000000) select count(*) from c") },
            { "postgres", QStringLiteral("RESPPG"), sleep },
        };
        double worstRerun = 0;
        for (const auto &rerun : reruns) {
            w.start(rerun.dsn, rerun.longSql);
            spinFor(300); // the statement is well under way
            timer.start();
            w.close->click();
            w.start(rerun.dsn, QStringLiteral("select 1 as one"));
            w.waitIdle();
            const double ms = timer.nsecsElapsed() / 1e6;
            if (!w.form.CurrentQuery)
                throw std::runtime_error("the new Run gave no result");
            worstRerun = std::max(worstRerun, ms);
            std::printf("rerun_after_close_%s_ms %.1f ms\n", rerun.name, ms);
        }
        // Close Query on a partly fetched result whose backend stopped answering, then a Run on
        // the same alias.
        {
            w.start(QStringLiteral("RESPPG"),
                QStringLiteral("select n from generate_series(1, 1000000) n"));
            w.waitIdle();
            if (!w.form.CurrentQuery || w.form.CurrentQuery->allFetched())
                throw std::runtime_error("no partly fetched result");
            QueryDataset pidQuery;
            pidQuery.setConnection(QStringLiteral("WATCHPG"), watch.handle());
            pidQuery.setSql(QStringLiteral("select pid from pg_stat_activity where state = "
                                           "'idle in transaction' and pid <> pg_backend_pid()"));
            pidQuery.OpenQuery();
            const pid_t backend = pid_t(pidQuery.FieldString(0).toLongLong());
            pidQuery.Close();
            const ProcessPause stalled(backend);
            timer.start();
            w.close->click();
            w.start(QStringLiteral("RESPPG"), QStringLiteral("select 1 as one"));
            w.waitIdle();
            const double ms = timer.nsecsElapsed() / 1e6;
            if (!w.form.CurrentQuery)
                throw std::runtime_error("the new Run gave no result");
            worstRerun = std::max(worstRerun, ms);
            std::printf("rerun_after_close_postgres_stalled_ms %.1f ms\n", ms);
        }
        std::printf("rerun_after_close_ms %.1f ms\n", worstRerun);

        // One repaint with a 5 MB value in view, best of five.
        w.start(QStringLiteral("RESPLITE"), QStringLiteral("select v, 1 as one from huge"));
        w.waitIdle();
        QCoreApplication::processEvents();
        double bestPaint = 1e9;
        for (int round = 0; round < 5; ++round) {
            timer.start();
            w.grid->viewport()->repaint();
            bestPaint = std::min(bestPaint, timer.nsecsElapsed() / 1e6);
        }
        std::printf("grid_paint_big_cell_ms %.1f ms\n", bestPaint);

        // A connect to a server that never answers, abandoned after two seconds.
        double connectStall = 0;
        {
            StallMeter meter;
            QTimer::singleShot(2000, w.close, &QToolButton::click);
            w.start(QStringLiteral("SILENT"), QStringLiteral("select 1"));
            w.waitIdle(); // the connect is asynchronous: measured until Close Query ends it
            connectStall = meter.maxGapMs;
        }
        std::printf("ui_stall_connect_ms %.1f ms\n", connectStall);

        // Record Count ticked while the select runs: the count of the whole result.
        double countStall = 0;
        {
            w.count->setChecked(false);
            StallMeter meter;
            w.start(QStringLiteral("RESPLITE"), QStringLiteral("select n, label from t"));
            w.count->setChecked(true);
            w.waitIdle();
            countStall = meter.maxGapMs;
            w.count->setChecked(false);
            std::printf("late_count_rows %s rows\n", qPrintable(w.form.statusText(0)));
        }
        std::printf("ui_stall_late_count_ms %.1f ms\n", countStall);

        // Ctrl+End over the whole result.
        double endStall = 0;
        {
            w.start(QStringLiteral("RESPLITE"), QStringLiteral("select n, label from t"));
            w.waitIdle();
            StallMeter meter;
            QTest::keyClick(w.grid, Qt::Key_End, Qt::ControlModifier);
            w.waitIdle();
            endStall = meter.maxGapMs;
            std::printf("fetch_to_end_rows %d rows\n", w.grid->currentIndex().row() + 1);
        }
        std::printf("ui_stall_fetch_to_end_ms %.1f ms\n", endStall);
        std::printf("ui_stall_responsive_max_ms %.1f ms\n",
            std::max({ connectStall, countStall, endStall }));
    } catch (const std::exception &error) {
        std::fprintf(stderr, "bench_responsive: %s\n", error.what());
        return 1;
    }
    return 0;
}
