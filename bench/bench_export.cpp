// Export speed and memory: the comma-quote and report exports and the CSV and JSON Lines profiles,
// through the code the export buttons use, against the plain fetch loop and unixODBC's isql (its
// batch table, and delimited text), on SQLite and on the private PostgreSQL server. Prints "name
// value unit" lines on stdout. Usage: bench_export [ROWS]   (or ROWS in the environment; default
// 1000000). export_xlsx_vs_cq: the Excel workbook against the comma-quote export of the same
// result, with the workbook's peak resident size above the comma-quote export's (the slower and
// larger of the two drivers). With 10,000,000 rows or more (or BIG=1) it also runs the
// bounded-memory export of a result beyond a 64 MB budget and checks its files against a run
// without that budget. export_window_vs_walk: the comma-quote export started through the window's
// own dialogs (offscreen), from Return in the file dialog to the grid showing the result again,
// against the walk alone (exportResult) over a result opened the same way; the slower of the two
// drivers. ONLY=xlsx runs the comma-quote export and the workbook alone (for profiling the latter).

#include "BenchFloor.h"
#include "BenchTable.h"
#include "ProcessMemory.h"
#include "app/Unit1.h"
#include "connection/Connection.h"
#include "connection/QueryDataset.h"
#include "results/DataSource.h"
#include "results/Exporter.h"
#include "support/ModalScript.h"
#include "support/PgServer.h"
#include "support/SessionConnection.h"
#include "support/SettingsFile.h"
#include "support/TestEnv.h"
#include "support/WindowFixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QToolButton>

#include <cstdio>
#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void figure(const QByteArray &name, double value, const char *unit)
{
    std::printf("%s %.3f %s\n", name.constData(), value, unit);
    std::fflush(stdout);
}

// Resets the peak resident size to the present one (Linux: VmHWM, through clear_refs), after
// memory freed by earlier runs went back to the system, and returns the present size in MB.
double resetPeak()
{
    malloc_trim(0);
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
    return statusMb("VmRSS:");
}

struct Export
{
    double seconds = 0;
    long rows = 0;
    double extraMb = 0; // peak resident size above the size before the result was opened
    double budgetMb = 0; // the dataset's store plus the output's size
    double exportExtraMb = 0; // peak resident size the export added to the opened result
    double storeMb = 0; // the store after the export
};

// A freshly opened result (first block only), then the export from the click on: the walk,
// the text and the complete file.
Export exportRun(const QString &dsn, const char *sql, ExportFormat format, const QString &path)
{
    const double before = resetPeak();
    QueryDataset query;
    query.setConnection(dsn, sessionConnection(dsn));
    query.setSql(QString::fromLatin1(sql));
    query.OpenQuery();
    const double opened = statusMb("VmRSS:");
    const double openedPeak = statusMb("VmHWM:");
    QElapsedTimer timer;
    timer.start();
    exportResult(query, format, -1, false, path);
    Export run;
    run.seconds = timer.nsecsElapsed() / 1e9;
    run.rows = query.fetchedCount();
    const double peak = statusMb("VmHWM:");
    run.extraMb = peak - before;
    run.exportExtraMb = peak > openedPeak ? peak - opened : 0;
    run.storeMb = double(query.storeBytes()) / (1024.0 * 1024);
    run.budgetMb = run.storeMb + double(QFileInfo(path).size()) / (1024.0 * 1024);
    return run;
}

void spinUntil(const std::function<bool()> &done)
{
    while (!done())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
}

// The comma-quote export as a user starts it in the window: the statement run (not timed), the
// button, OK in the extract dialog, the file's name typed and Return in the file dialog; seconds
// from that Return until the export has ended and the grid shows the result again.
double windowExport(TForm1 &form, const QString &dsn, const char *sql, const QString &path)
{
    form.setEditorText(QString::fromLatin1(sql));
    form.findChild<QComboBox *>(QStringLiteral("ComboBox1"))->setEditText(dsn);
    form.findChild<QToolButton *>(QStringLiteral("SpeedButton1"))->click();
    spinUntil([&] { return !form.CurrentThread && form.CurrentQuery; });
    QElapsedTimer timer;
    bool ended = false;
    const auto connection = QObject::connect(form.DataSource1, &QAbstractItemModel::modelReset,
        [&] { ended = timer.isValid() && form.DataSource1->dataSet(); });
    ModalScript script({ [](QWidget *dialog) {
                            dialog->findChild<QPushButton *>(QStringLiteral("BitBtn1"))->click();
                        },
        [&](QWidget *dialog) {
            auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            name->setText(path);
            timer.start();
            QTest::keyClick(name, Qt::Key_Return);
        } });
    script.setFallback([](QWidget *) {}); // the progress dialog is left to the export
    form.findChild<QToolButton *>(QStringLiteral("SpeedButton5"))->click();
    spinUntil([&] { return ended; });
    const double seconds = timer.nsecsElapsed() / 1e9;
    QObject::disconnect(connection);
    if (!script.done() || QFileInfo(path).size() == 0)
        throw std::runtime_error("the export's dialogs did not go as scripted");
    return seconds;
}

// The walk alone, as the window's export runs it once its dialogs are answered: a result opened
// as the window opens it (first block only), then exportResult, timed; nothing measured beside.
double walkAlone(const QString &dsn, const char *sql, const QString &path)
{
    QueryDataset query;
    query.setConnection(dsn, sessionConnection(dsn));
    query.setSql(QString::fromLatin1(sql));
    query.OpenQuery();
    QElapsedTimer timer;
    timer.start();
    exportResult(query, ExportFormat::CommaQuote, -1, false, path);
    return timer.nsecsElapsed() / 1e9;
}

// Files of the same bytes, read in pieces.
bool sameBytes(const QString &a, const QString &b)
{
    QFile first(a), second(b);
    if (!first.open(QIODevice::ReadOnly) || !second.open(QIODevice::ReadOnly)
        || first.size() != second.size())
        return false;
    while (!first.atEnd())
        if (first.read(1 << 20) != second.read(1 << 20))
            return false;
    return true;
}

// A result far larger than the memory budget: count it, scroll to its end, then both exports to
// files; the peak resident size of the process while it does so. Then the same without a budget
// (the user's default), whose files must have the same bytes.
void bigRun(const QString &dsn, const char *sql, const QString &folder)
{
    auto run = [&](const QString &suffix) {
        QueryDataset query(UserSettings::resultMemoryBytes());
        query.setConnection(dsn, sessionConnection(dsn));
        query.setSql(QString::fromLatin1(sql));
        query.OpenQuery();
        const int count = query.CountRecords();
        query.setRecNo(count - 1);
        for (const ExportFormat format : { ExportFormat::CommaQuote, ExportFormat::Report })
            exportResult(query, format, -1, false,
                QDir(folder).filePath(
                    (format == ExportFormat::Report ? "big-report" : "big-cq") + suffix));
    };
    SettingsFile settings;
    settings.setValue(QStringLiteral("ResultMemoryMB"), 64);
    settings.sync();
    resetPeak();
    run(QStringLiteral(".budget"));
    figure("big_peak_rss_mb", statusMb("VmHWM:"), "MB");
    settings.remove(QStringLiteral("ResultMemoryMB"));
    settings.sync();
    run(QStringLiteral(".plain"));
    bool same = true;
    for (const char *name : { "big-cq", "big-report" }) {
        const QString base = QDir(folder).filePath(QLatin1String(name));
        same = same && sameBytes(base + ".budget", base + ".plain");
        QFile::remove(base + ".budget");
        QFile::remove(base + ".plain");
    }
    figure("big_files_equal", same ? 1 : 0, "bool");
}

// isql -b with the statement on stdin and its output into a file: its batch table, or with
// `delimited` comma-delimited text without the table's padding (-d, -q).
double isqlSeconds(const QString &dsn, const QString &user, const QString &password,
    const char *sql, const QString &path, bool delimited)
{
    int input[2];
    if (pipe(input) != 0)
        return 0;
    QElapsedTimer timer;
    timer.start();
    const pid_t child = fork();
    if (child == 0) {
        dup2(input[0], 0);
        close(input[1]);
        const int out =
            open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, 1);
        const QByteArray d = dsn.toUtf8(), u = user.toUtf8(), p = password.toUtf8();
        const char *first = delimited ? "-d," : "-b";
        const char *second = delimited ? "-q" : "-b";
        if (user.isEmpty())
            execlp("isql", "isql", "-b", first, second, d.constData(), nullptr);
        else
            execlp("isql", "isql", "-b", first, second, d.constData(), u.constData(), p.constData(),
                nullptr);
        _exit(127);
    }
    close(input[0]);
    const std::string line = std::string(sql) + "\n";
    if (write(input[1], line.data(), line.size()) < 0)
        std::perror("isql input");
    close(input[1]);
    int status = 0;
    waitpid(child, &status, 0);
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        std::fprintf(stderr, "isql %s ended with status %d\n", qPrintable(dsn), status);
    return seconds;
}

} // namespace

int main(int argc, char **argv)
{
    TestEnv::setUp();
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv); // the export may show its progress dialog
    const long rows = benchRows(argc, argv);
    const char *sql = "select * from bench";
    const QString folder = TestEnv::root();

    try {
        createBenchTables(rows);
        PgServer &server = PgServer::instance();

        BenchConnections connections;
        TForm1 window(WindowFixture::options());
        window.show();
        double windowVsWalk = 0;

        // The machine may be busy with other work: the runs alternate and the best of each counts.
        const int repeats = benchRepeats();
        const bool xlsxOnly = qEnvironmentVariable("ONLY") == QLatin1String("xlsx");
        const QString out = QDir(folder).filePath(QStringLiteral("export.txt"));
        double reportVsCq = 0;
        double csvVsCq = 0;
        double jsonlVsCq = 0;
        double xlsxVsCq = 0;
        double xlsxPeakOverCq = 0; // MB
        double fileVsStore = 0;
        auto measure = [&](const QByteArray &prefix, const QString &dsn, const QString &user,
                           const QString &password) {
            Export cq, rp, csv, jsonl, xlsx;
            double isql = 0;
            double isqlDelimited = 0;
            double floor = 0;
            // One export that is not measured: the first one of a process pays once for what
            // every later one shares (code, the driver's caches, the fetch thread's heap).
            exportRun(dsn, sql, ExportFormat::CommaQuote, out);
            for (int i = 0; i < repeats; ++i) {
                if (!xlsxOnly)
                    floor = std::max(floor, floorFetch(dsn, user, password, sql).rowsPerSecond);
                const Export c = exportRun(dsn, sql, ExportFormat::CommaQuote, out);
                if (cq.seconds == 0 || c.seconds < cq.seconds)
                    cq = c;
                if (xlsxOnly) {
                    const Export x = exportRun(dsn, sql, ExportFormat::Xlsx, out);
                    if (xlsx.seconds == 0 || x.seconds < xlsx.seconds)
                        xlsx = x;
                    xlsxPeakOverCq = std::max(xlsxPeakOverCq, x.extraMb - c.extraMb);
                    std::fprintf(stderr,
                        "%s run %d: cq %.3f s, xlsx %.3f s, peak over cq %.1f MB\n",
                        prefix.constData(), i + 1, c.seconds, x.seconds, x.extraMb - c.extraMb);
                    continue;
                }
                const Export r = exportRun(dsn, sql, ExportFormat::Report, out);
                if (rp.seconds == 0 || r.seconds < rp.seconds)
                    rp = r;
                // The profiles: RFC 4180 CSV and JSON Lines of the same result.
                const Export v = exportRun(dsn, sql, ExportFormat::Csv, out);
                if (csv.seconds == 0 || v.seconds < csv.seconds)
                    csv = v;
                const Export j = exportRun(dsn, sql, ExportFormat::JsonLines, out);
                if (jsonl.seconds == 0 || j.seconds < jsonl.seconds)
                    jsonl = j;
                const Export x = exportRun(dsn, sql, ExportFormat::Xlsx, out);
                if (xlsx.seconds == 0 || x.seconds < xlsx.seconds)
                    xlsx = x;
                xlsxPeakOverCq = std::max(xlsxPeakOverCq, x.extraMb - c.extraMb);
                const double s = isqlSeconds(dsn, user, password, sql, out, false);
                if (isql == 0 || s < isql)
                    isql = s;
                const double sd = isqlSeconds(dsn, user, password, sql, out, true);
                if (isqlDelimited == 0 || sd < isqlDelimited)
                    isqlDelimited = sd;
                fileVsStore = std::max(
                    { fileVsStore, c.exportExtraMb / c.storeMb, r.exportExtraMb / r.storeMb });
                std::fprintf(stderr,
                    "%s run %d: store %.1f MB; export added %.1f MB (cq), %.1f MB (report)\n",
                    prefix.constData(), i + 1, c.storeMb, c.exportExtraMb, r.exportExtraMb);
            }
            if (xlsxOnly) {
                figure(prefix + "_xlsx_vs_cq", xlsx.seconds / cq.seconds, "x");
                xlsxVsCq = std::max(xlsxVsCq, xlsx.seconds / cq.seconds);
                return;
            }
            const QByteArray driver = prefix.mid(7);
            figure(prefix + "_cq_rows_per_s", cq.rows / cq.seconds, "rows/s");
            figure(prefix + "_report_rows_per_s", rp.rows / rp.seconds, "rows/s");
            figure(prefix + "_isql_rows_per_s", cq.rows / isql, "rows/s");
            figure(prefix + "_isql_delimited_rows_per_s", cq.rows / isqlDelimited, "rows/s");
            figure(prefix + "_floor_rows_per_s", floor, "rows/s");
            figure(prefix + "_cq_mem_vs_budget", cq.extraMb / cq.budgetMb, "x");
            figure(prefix + "_report_mem_vs_budget", rp.extraMb / rp.budgetMb, "x");
            figure("export_cq_vs_isql_" + driver, isql / cq.seconds, "x");
            figure("export_cq_vs_isql_delimited_" + driver, isqlDelimited / cq.seconds, "x");
            figure("export_cq_vs_floor_" + driver, cq.rows / cq.seconds / floor, "x");
            reportVsCq = std::max(reportVsCq, rp.seconds / cq.seconds);
            figure(prefix + "_csv_vs_cq", csv.seconds / cq.seconds, "x");
            figure(prefix + "_jsonl_vs_cq", jsonl.seconds / cq.seconds, "x");
            figure(prefix + "_xlsx_vs_cq", xlsx.seconds / cq.seconds, "x");
            xlsxVsCq = std::max(xlsxVsCq, xlsx.seconds / cq.seconds);
            // The same export through the window, alternating with the walk alone.
            window.setDBParms(user.isEmpty()
                    ? QStringLiteral("USER NAME=bench\r\nPASSWORD=bench\r\n")
                    : QStringLiteral("USER NAME=%1\r\nPASSWORD=%2\r\n").arg(user, password));
            double windowBest = 0;
            double walkBest = 0;
            windowExport(window, dsn, sql, out); // the first pays for the dialogs' creation
            for (int i = 0; i < repeats; ++i) {
                const double w = windowExport(window, dsn, sql, out);
                if (windowBest == 0 || w < windowBest)
                    windowBest = w;
                const double walk = walkAlone(dsn, sql, out);
                if (walkBest == 0 || walk < walkBest)
                    walkBest = walk;
            }
            figure(prefix + "_window_vs_walk", windowBest / walkBest, "x");
            windowVsWalk = std::max(windowVsWalk, windowBest / walkBest);
            csvVsCq = std::max(csvVsCq, csv.seconds / cq.seconds);
            jsonlVsCq = std::max(jsonlVsCq, jsonl.seconds / cq.seconds);
        };
        measure("export_sqlite", QStringLiteral("BENCHLITE"), {}, {});
        measure("export_pg", QStringLiteral("BENCHPG"), server.user(), server.password());
        if (xlsxOnly) {
            figure("export_xlsx_vs_cq", xlsxVsCq, "x");
            figure("export_xlsx_peak_over_cq_mb", xlsxPeakOverCq, "MB");
            QFile::remove(out);
            return 0;
        }
        figure("export_report_vs_cq", reportVsCq, "x");
        figure("export_csv_vs_cq", csvVsCq, "x"); // the slower of the two drivers
        figure("export_jsonl_vs_cq", jsonlVsCq, "x");
        figure("export_xlsx_vs_cq", xlsxVsCq, "x");
        figure("export_xlsx_peak_over_cq_mb", xlsxPeakOverCq, "MB");
        figure("export_file_peak_vs_store", fileVsStore, "x");
        figure("export_window_vs_walk", windowVsWalk, "x");
        QFile::remove(out);
        // Ten million rows and more, or BIG=1: the bounded-memory run (it takes minutes).
        if (rows >= 10000000 || qEnvironmentVariableIntValue("BIG") == 1)
            bigRun(QStringLiteral("BENCHLITE"), sql, folder);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "bench_export: %s\n", error.what());
        return 1;
    }
    return 0;
}
