// The history database under a full load of 100,000 runs, driven through the real main window
// offscreen. Prints, as "name value unit" lines:
//   history_record_ms:      the UI thread's cost of recording one run (its start and its end),
//                           the mean over 2,000 runs; history_record_p99_ms and _max_ms beside it;
//   history_write_ms:       the writer thread's time per recorded run, for comparison;
//   history_search_ms:      the longest time from one keystroke in the search field until the
//                           history list shows the matches (best of REPEATS per keystroke);
//   history_search_big_ms:  the same with a 3,000,000-character one-line statement among the
//                           matches, as the newest run (so the memo shows it whole too);
//   history_popup_big_ms:   opening the list of those matches;
//   history_memo_big_ms:    a search that brings the 3,000,000-character statement into the
//                           memo afresh (laying out its one line is most of it);
//   history_search_scan_ms: a search for a letter beyond the index's tables that no run holds,
//                           so that every run's text is read.
// The entry count is fixed at 100,000 (the default keep limit); ROWS does not apply.

#include "BenchTable.h"
#include "app/Unit1.h"
#include "history/HistoryDb.h"
#include "support/TestEnv.h"
#include "support/WindowFixture.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kEntries = 100000;
constexpr int kRecordRuns = 2000;

// Statements that look like a working day's: selects, updates and deletes over a few hundred
// tables and columns of four schemas, one to four lines each.
QList<HistoryRecord> makeRuns(int count)
{
    QRandomGenerator random(14);
    const QStringList schemas { "T301DBA", "T302DBA", "T303DBA", "P201DBA" };
    const QStringList aliases { "DB2T301", "DB2T302", "DB2T303", "DB2P201", "SAMPLE" };
    const QStringList stems { "order", "customer", "invoice", "employee", "account", "payment",
        "shipment", "product", "supplier", "ledger", "contract", "region", "branch", "claim",
        "policy", "address", "status", "history", "balance", "batch" };
    auto word = [&] {
        return stems.at(random.bounded(stems.size())) + QStringLiteral("_")
            + QString::number(random.bounded(40));
    };
    QList<HistoryRecord> runs;
    runs.reserve(count);
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (int i = 0; i < count; ++i) {
        const QString table =
            schemas.at(random.bounded(schemas.size())) + QLatin1Char('.') + word();
        QString text;
        switch (random.bounded(4)) {
        case 0:
        case 1:
            text = QStringLiteral("select %1, %2, %3\r\nfrom %4\r\nwhere %5 = %6\r\n")
                       .arg(word(), word(), word(), table, word())
                       .arg(random.bounded(100000));
            break;
        case 2:
            text = QStringLiteral("update %1 set %2 = '%3'\r\nwhere %4 = %5\r\n")
                       .arg(table, word(), word(), word())
                       .arg(random.bounded(100000));
            break;
        default:
            text = QStringLiteral("delete from %1 where %2 < %3\r\n")
                       .arg(table, word())
                       .arg(random.bounded(100000));
        }
        HistoryRecord record;
        record.text = text;
        record.alias = aliases.at(random.bounded(aliases.size()));
        record.startedMs = now - qint64(count - i) * 60000;
        record.elapsedMs = random.bounded(5000);
        record.outcome = random.bounded(20) ? RunOutcome::Completed : RunOutcome::Error;
        if (record.outcome == RunOutcome::Error)
            record.errorText = QStringLiteral("SQL0204N  \"%1\" is an undefined name.").arg(table);
        runs << record;
    }
    return runs;
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values.at(std::min(values.size() - 1, std::size_t(p * double(values.size()))));
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TestEnv::setUp();
    QApplication app(argc, argv);
    try {
        std::fprintf(stderr, "storing %d history entries...\n", kEntries);
        {
            HistoryDb db(HistoryDb::defaultPath());
            db.insertMany(makeRuns(kEntries), HistoryDb::DefaultKeep);
        }
        TForm1 form(WindowFixture::options());
        form.show();
        HistoryRecorder *recorder = form.historyDatabase();
        auto *search = form.findChild<QLineEdit *>(QStringLiteral("HistorySearch"));
        auto *list = form.findChild<QComboBox *>(QStringLiteral("ComboBox2"));
        if (!recorder || !search || !list)
            throw std::runtime_error("history database or History page controls missing");

        // Recording: what the run commands do on the UI thread for one run.
        form.setEditorText(QStringLiteral("select id, name, amount\r\nfrom T301DBA.payment_7\r\n"
                                          "where id = 42"));
        std::vector<double> costs;
        costs.reserve(kRecordRuns);
        QElapsedTimer writer;
        writer.start();
        for (int i = 0; i < kRecordRuns; ++i) {
            QElapsedTimer timer;
            timer.start();
            form.historyRunStarted(QStringLiteral("DB2T301"));
            form.historyRunAbandoned();
            costs.push_back(timer.nsecsElapsed() / 1e6);
        }
        if (!recorder->flush(600000))
            throw std::runtime_error("the writer did not finish");
        const double writeMs = writer.nsecsElapsed() / 1e6 / kRecordRuns;
        double sum = 0;
        for (double cost : costs)
            sum += cost;
        std::printf("history_record_ms %.4f ms\n", sum / kRecordRuns);
        std::printf("history_record_p99_ms %.4f ms\n", percentile(costs, 0.99));
        std::printf("history_record_max_ms %.3f ms\n", percentile(costs, 1.0));
        std::printf("history_write_ms %.3f ms\n", writeMs);
        QCoreApplication::processEvents();

        // Searching: each keystroke of typing a few searches, from an empty field.
        const QStringList searches { QStringLiteral("select cust"), QStringLiteral("o"),
            QStringLiteral("alias:db2p201 pay"), QStringLiteral("ledger_3 region") };
        // The best time of the length-th keystroke of typing `typed`, from the text before it.
        const auto keystroke = [search](const QString &typed, int length) {
            double best = 1e9;
            for (int repeat = 0; repeat < benchRepeats(); ++repeat) {
                search->setText(typed.left(length - 1));
                QCoreApplication::processEvents();
                QElapsedTimer timer;
                timer.start();
                QTest::keyClick(search, typed.at(length - 1).toLatin1());
                best = std::min(best, timer.nsecsElapsed() / 1e6);
            }
            return best;
        };
        double worst = 0;
        QString worstText;
        for (const QString &typed : searches) {
            for (int length = 1; length <= typed.size(); ++length) {
                const double best = keystroke(typed, length);
                if (search->text() != typed.left(length))
                    throw std::runtime_error("the keystroke did not reach the search field");
                if (best > worst) {
                    worst = best;
                    worstText = typed.left(length);
                }
            }
        }
        std::fprintf(
            stderr, "slowest keystroke: \"%s\", %d entries listed\n", qPrintable(worstText), [&] {
                search->setText(worstText);
                return list->count();
            }());
        std::printf("history_search_ms %.1f ms\n", worst);
        // Of which the database's part: the same search without the list.
        double query = 1e9;
        for (int repeat = 0; repeat < benchRepeats(); ++repeat) {
            QElapsedTimer timer;
            timer.start();
            recorder->search(worstText, 1000);
            query = std::min(query, timer.nsecsElapsed() / 1e6);
        }
        std::printf("history_search_query_ms %.1f ms\n", query);
        search->clear();

        // A pasted IN list of 3,000,000 characters on one line, run last.
        {
            QString in = QStringLiteral("select id from T301DBA.customer_1 where id in (0");
            for (int i = 1; in.size() < 3000000; ++i)
                in += QStringLiteral(", %1").arg(i);
            HistoryRecord big;
            big.text = in + QStringLiteral(")\r\n");
            big.alias = QStringLiteral("DB2T301");
            big.startedMs = QDateTime::currentMSecsSinceEpoch();
            big.outcome = RunOutcome::Completed;
            HistoryDb(HistoryDb::defaultPath()).insert(big, HistoryDb::DefaultKeep);
        }
        const QString typed = QStringLiteral("select cust");
        double bigWorst = 0;
        for (int length = 1; length <= typed.size(); ++length) {
            const double best = keystroke(typed, length);
            if (!list->itemText(0).endsWith(QChar(0x2026)))
                throw std::runtime_error("the 3 MB statement is not the first match");
            bigWorst = std::max(bigWorst, best);
        }
        std::printf("history_search_big_ms %.1f ms\n", bigWorst);
        double popup = 1e9;
        for (int repeat = 0; repeat < benchRepeats(); ++repeat) {
            QElapsedTimer timer;
            timer.start();
            list->showPopup();
            QCoreApplication::processEvents();
            popup = std::min(popup, timer.nsecsElapsed() / 1e6);
            list->hidePopup();
            QCoreApplication::processEvents();
        }
        std::printf("history_popup_big_ms %.1f ms\n", popup);
        double memo = 1e9;
        for (int repeat = 0; repeat < benchRepeats(); ++repeat) {
            search->setText(QStringLiteral("zebra")); // no match: the memo is emptied
            QCoreApplication::processEvents();
            QElapsedTimer timer;
            timer.start();
            search->setText(typed);
            memo = std::min(memo, timer.nsecsElapsed() / 1e6);
        }
        std::printf("history_memo_big_ms %.1f ms\n", memo);
        double scan = 1e9;
        for (int repeat = 0; repeat < benchRepeats(); ++repeat) {
            QElapsedTimer timer;
            timer.start();
            if (!recorder->search(QStringLiteral("\uA7AF"), 1000).isEmpty())
                throw std::runtime_error("a run holds the letter searched for");
            scan = std::min(scan, timer.nsecsElapsed() / 1e6);
        }
        std::printf("history_search_scan_ms %.1f ms\n", scan);
        search->clear();
    } catch (const std::exception &error) {
        std::fprintf(stderr, "bench_history: %s\n", error.what());
        return 1;
    }
    return 0;
}
