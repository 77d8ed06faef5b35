// A script of 1,000 trivial INSERTs on SQLite, run by the real window's Run Script (the script
// runner, its log and its history records) against the same statements run by unixODBC's isql
// on the same data source. Prints, as a "name value unit" line:
//   script_overhead_ms_per_statement: (the window's time - isql's time) / 1,000, best of REPEATS;
//   isql's time is its run over the statements less its run over none (start-up and connect).
// Without isql, the same statements executed directly through our ODBC layer on one connection
// stand in for it, and the output says so. ROWS does not apply.

#include "BenchTable.h"
#include "app/Unit1.h"
#include "connection/QueryDataset.h"
#include "support/TestEnv.h"
#include "support/WindowFixture.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kStatements = 1000;
const QString kDsn = QStringLiteral("SCRIPTBENCH");

// Milliseconds isql takes for the statements, one a line; -1 when it fails.
double isqlMs(const QStringList &statements)
{
    QProcess isql;
    QElapsedTimer timer;
    timer.start();
    isql.start(QStringLiteral("isql"), { QStringLiteral("-b"), kDsn });
    if (!isql.waitForStarted(30000))
        return -1;
    isql.write(statements.join(QLatin1Char('\n')).toUtf8() + '\n');
    isql.closeWriteChannel();
    if (!isql.waitForFinished(600000) || isql.exitCode() != 0)
        return -1;
    return timer.nsecsElapsed() / 1e6;
}

// Milliseconds the statements take executed one after another through our ODBC layer.
double directMs(Connection &connection, const QStringList &statements)
{
    QElapsedTimer timer;
    timer.start();
    for (const QString &sql : statements) {
        QueryDataset query;
        query.setConnection(kDsn, connection.handle());
        query.setSql(sql);
        query.ExecQuery();
    }
    return timer.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    // Each autocommitted insert syncs the database file: in memory when the machine has a tmpfs,
    // so that the figure measures the program rather than the disk.
    if (QDir(QStringLiteral("/dev/shm")).exists())
        qputenv("TMPDIR", "/dev/shm");
    TestEnv::setUp();
    QApplication app(argc, argv);
    TestEnv::addSqliteDsn(kDsn, { QStringLiteral("create table t(id integer, note varchar(20))") });

    QStringList statements;
    for (int i = 0; i < kStatements; ++i)
        statements << QStringLiteral("insert into t values (%1, 'row %1');").arg(i);

    TForm1 form(WindowFixture::options());
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return 1;
    form.setDBParms(QStringLiteral("USER NAME=bench\r\nPASSWORD=bench\r\n")); // no login dialog
    form.findChild<QComboBox *>(QStringLiteral("ComboBox1"))->setEditText(kDsn);
    form.setEditorText(statements.join(QLatin1Char('\n')));
    auto *runScript = form.findChild<QAction *>(QStringLiteral("RunScript1"));
    const QString complete = QStringLiteral("Script Complete: %1 statements").arg(kStatements);
    const auto windowMs = [&] {
        form.setStatusText(1, QString());
        QElapsedTimer timer;
        timer.start();
        runScript->trigger();
        // Woken by each event rather than polled, so that the wait adds no sleeps of its own.
        while (form.statusText(1) != complete) {
            if (timer.elapsed() > 600000)
                return -1.0;
            QCoreApplication::processEvents(
                QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 100);
        }
        return timer.nsecsElapsed() / 1e6;
    };
    windowMs(); // the connect, and a warm database file

    const bool haveIsql = !QStandardPaths::findExecutable(QStringLiteral("isql")).isEmpty();
    std::unique_ptr<Connection> direct;
    if (!haveIsql) {
        direct = TestEnv::connection(kDsn);
        direct->OpenConnection();
    }
    double best = 1e9;
    for (int run = 0; run < benchRepeats(); ++run) {
        const double window = windowMs();
        const double reference =
            haveIsql ? isqlMs(statements) - isqlMs({}) : directMs(*direct, statements);
        if (window < 0 || reference < 0) {
            std::fprintf(stderr, "a run failed\n");
            return 1;
        }
        std::fprintf(stderr, "window %.1f ms, %s %.1f ms\n", window,
            haveIsql ? "isql" : "direct ODBC", reference);
        best = std::min(best, (window - reference) / kStatements);
    }
    std::printf("script_overhead_ms_per_statement %.3f ms (vs %s)\n", best,
        haveIsql ? "isql" : "our ODBC layer directly, isql not found");
    return 0;
}
