// Sort and filter of the grid's rows through the real main window, offscreen, and the memory of
// a sort of a result far beyond the memory budget. Prints "name value unit" lines:
//   sort_1m_ms / filter_1m_ms:           from the header click (the typed letter) to the grid
//                                        showing the sorted (filtered) rows, the result fetched
//                                        whole (Record Count ticked); a text column;
//   ui_stall_sort_ms / ui_stall_filter_ms: the longest gap of the UI thread meanwhile;
//   big_sort_peak_rss_mb:                 with 10,000,000 rows or more (or BIG=1): the peak
//                                        resident size while a result of that many rows, kept
//                                        within a 64 MB budget, is fetched and sorted by text.
// Usage: bench_sortfilter [ROWS]   (or ROWS in the environment; default 1000000).

#include "BenchTable.h"
#include "ProcessMemory.h"
#include "StallMeter.h"
#include "app/ResultView.h"
#include "app/Unit1.h"
#include "connection/Connection.h"
#include "connection/QueryDataset.h"
#include "connection/ResultReader.h"
#include "results/RowOrder.h"
#include "support/SessionConnection.h"
#include "support/SettingsFile.h"
#include "support/TestEnv.h"
#include "support/WindowFixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QSettings>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include <cstdio>
#include <functional>
#include <malloc.h>

namespace {

void figure(const char *name, double value, const char *unit)
{
    std::printf("%s %.3f %s\n", name, value, unit);
    std::fflush(stdout);
}

void spinUntil(const std::function<bool()> &done)
{
    while (!done())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
}

// The table "t": a number, a text in no order, a note that is NULL on every seventh row.
void createTable(const QString &dsn, long rows)
{
    std::fprintf(stderr, "creating %ld rows in SQLite...\n", rows);
    TestEnv::addSqliteDsn(dsn,
        { QStringLiteral("create table t as with recursive s(n) as (select 1 union all select "
                         "n + 1 from s where n < %1) select n, 'Name ' || ((n * 7919) % %1) || "
                         "' ' || substr('ÄäBbÖöCcZz', 1 + n % 10, 1) as name, case when n % 7 = 0 "
                         "then null else 'note ' || (n % 977) end as note from s")
                .arg(rows) });
}

struct Window
{
    TForm1 form { WindowFixture::options() };
    QTableView *grid = form.findChild<QTableView *>(QStringLiteral("DBGrid1"));
    QLineEdit *filter = form.findChild<QLineEdit *>(QStringLiteral("FilterEdit"));
    ResultView *view = form.findChild<ResultView *>();
};

// Milliseconds from `act` to the view's settling, and the longest stall of the UI thread.
std::pair<double, double> timeView(ResultView *view, const std::function<void()> &act)
{
    bool settled = false;
    const auto connection =
        QObject::connect(view, &ResultView::settled, [&settled] { settled = true; });
    StallMeter meter;
    QElapsedTimer timer;
    timer.start();
    act();
    spinUntil([&] { return settled; });
    const double ms = timer.nsecsElapsed() / 1e6;
    QObject::disconnect(connection);
    return { ms, meter.maxGapMs };
}

void bigSort(long rows)
{
    const QString dsn = QStringLiteral("SORTBIG");
    createTable(dsn, rows);
    SettingsFile settings;
    settings.setValue(QStringLiteral("ResultMemoryMB"), 64);
    settings.sync();
    Connection connection(TestEnv::session(), dsn);
    connection.OpenConnection();
    malloc_trim(0);
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
    clear.close();
    QueryDataset query(UserSettings::resultMemoryBytes());
    query.setConnection(dsn, sessionConnection(dsn));
    query.setSql(QStringLiteral("select n, name, note from t"));
    query.OpenQuery();
    query.CountRecords();
    const std::unique_ptr<ResultReader> reader = query.reader();
    std::atomic<bool> stop { false };
    std::vector<int> order;
    QElapsedTimer timer;
    timer.start();
    RowOrder::sorted(*reader, 1, Qt::AscendingOrder, QLocale(), stop, order);
    figure("big_sort_ms", timer.nsecsElapsed() / 1e6, "ms");
    figure("big_sort_peak_rss_mb", statusMb("VmHWM:"), "MB");
    settings.remove(QStringLiteral("ResultMemoryMB"));
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const long rows = benchRows(argc, argv);
    TestEnv::setUp();
    QApplication app(argc, argv);

    const QString dsn = QStringLiteral("SORTLITE");
    createTable(dsn, std::min(rows, 1000000L));
    Window w;
    w.form.setDBParms(QStringLiteral("USER NAME=bench\r\nPASSWORD=bench\r\n"));
    w.form.show();
    w.form.findChild<QCheckBox *>(QStringLiteral("CheckBox1"))->setChecked(true);
    w.form.setEditorText(QStringLiteral("select n, name, note from t"));
    w.form.findChild<QComboBox *>(QStringLiteral("ComboBox1"))->setEditText(dsn);
    w.form.findChild<QToolButton *>(QStringLiteral("SpeedButton1"))->click();
    spinUntil([&] { return !w.form.CurrentThread && w.form.CurrentQuery; });

    QHeaderView *header = w.grid->horizontalHeader();
    const auto click = [&] {
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
            QPoint(header->sectionViewportPosition(1) + header->sectionSize(1) / 2,
                header->height() / 2));
    };
    double best = 1e18;
    double stall = 0;
    for (int i = 0; i < benchRepeats(); ++i) {
        const auto [ms, gap] = timeView(w.view, click); // ascending
        best = std::min(best, ms);
        stall = std::max(stall, gap);
        timeView(w.view, click); // descending: sorted again
        timeView(w.view, click); // the fetched order
    }
    figure("sort_1m_ms", best, "ms");
    figure("ui_stall_sort_ms", stall, "ms");

    best = 1e18;
    stall = 0;
    QTest::keyClick(w.grid, Qt::Key_F, Qt::ControlModifier); // the field shows on Ctrl+F
    for (int i = 0; i < benchRepeats(); ++i) {
        w.filter->setFocus();
        const auto [ms, gap] = timeView(w.view, [&] { QTest::keyClick(w.filter, Qt::Key_7); });
        best = std::min(best, ms);
        stall = std::max(stall, gap);
        timeView(w.view, [&] { QTest::keyClick(w.filter, Qt::Key_Escape); });
    }
    figure("filter_1m_ms", best, "ms");
    figure("ui_stall_filter_ms", stall, "ms");

    if (rows >= 10000000 || qEnvironmentVariableIntValue("BIG") == 1)
        bigSort(std::max(rows, 10000000L));
    return 0;
}
