// The value viewer on big values, offscreen. Prints, as "name value unit" lines:
//   viewer_open_10mb_ms:        Shift+Return on a 10 MB cell of the real window (SQLite) until
//                               the viewer has painted (the cell is fetched before; the driver
//                               hands a value of 50 MB over far too slowly for a benchmark);
//   viewer_open_rss_mb:         resident memory the open viewer adds;
//   viewer_text_50mb_ms:        a 50 MB text of one line until the viewer has painted;
//   viewer_hex_50mb_ms:         a 50 MB binary value until its hex dump has painted;
//   viewer_indent_50mb_ms:      Indented ticked on a 50 MB JSON value until the layout shows;
//   viewer_indent_stall_max_ms: the longest gap of the UI thread's event loop meanwhile;
//   viewer_find_50mb_ms:        a search that finds the last characters of that value.
// Size in MB: $VIEWER_MB, else 50 (at most 10 for the cell of the window).

#include "ProcessMemory.h"
#include "StallMeter.h"
#include "app/Unit1.h"
#include "support/ModalScript.h"
#include "support/TestEnv.h"
#include "support/WindowFixture.h"
#include "widgets/ValueViewer.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace {

double msSince(const QElapsedTimer &timer)
{
    return timer.nsecsElapsed() / 1e6;
}

// Shows the viewer and returns once it has painted.
void showPainted(QWidget &viewer)
{
    viewer.show();
    if (!QTest::qWaitForWindowExposed(&viewer))
        throw std::runtime_error("viewer not shown");
    viewer.repaint();
}

// A JSON array of objects in one line, about `chars` long.
QString bigJson(qsizetype chars)
{
    QString json = QStringLiteral("[");
    json.reserve(chars + 100);
    for (int n = 0; json.size() < chars; ++n)
        json +=
            QStringLiteral("{\"id\": %1, \"name\": \"row %2\", \"v\": [1.5e3, true, null, {}]}, ")
                .arg(QString::number(n + 1) + QStringLiteral("1234567890123456789"))
                .arg(n);
    json += QStringLiteral("0]");
    return json;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const int mb =
        qEnvironmentVariableIsEmpty("VIEWER_MB") ? 50 : qEnvironmentVariableIntValue("VIEWER_MB");
    const qsizetype size = qsizetype(mb) << 20;
    const int cellMb = std::min(mb, 10);
    TestEnv::setUp();
    QApplication app(argc, argv);
    try {
        TestEnv::addSqliteDsn(QStringLiteral("VIEWLITE"),
            { QStringLiteral("create table big(v text)"),
                QStringLiteral("insert into big values (replace(hex(zeroblob(%1)), '0', 'x'))")
                    .arg((qsizetype(cellMb) << 20) / 2) });

        // From the grid, as a user opens it.
        {
            WindowFixture w;
            if (!w.open())
                throw std::runtime_error("window not shown");
            w->setDBParms(QStringLiteral("USER NAME=bench\r\nPASSWORD=bench\r\n"));
            w.start(w.runButton(), QStringLiteral("VIEWLITE"), QStringLiteral("select v from big"));
            if (!w.waitIdle(600000))
                throw std::runtime_error("the statement did not end");
            if (!QTest::qWaitFor([&] { return w.grid()->model()->rowCount() == 1; }, 60000))
                throw std::runtime_error("the big value was not fetched");
            w.grid()->setCurrentIndex(w.grid()->model()->index(0, 0));
            const double before = statusMb("VmRSS:");
            double openMs = 0, rss = 0;
            QElapsedTimer timer;
            ModalScript script({ [&](QWidget *viewer) {
                viewer->repaint();
                openMs = msSince(timer);
                rss = statusMb("VmRSS:") - before;
                static_cast<QDialog *>(viewer)->reject();
            } });
            timer.start();
            QTest::keyClick(w.grid(), Qt::Key_Return, Qt::ShiftModifier);
            if (!script.done())
                throw std::runtime_error("the viewer did not open");
            std::printf("viewer_open_%dmb_ms %.1f ms\n", cellMb, openMs);
            std::printf("viewer_open_rss_mb %.1f MB\n", rss);
        }

        {
            const QString text(size, u'x');
            QElapsedTimer timer;
            timer.start();
            ValueViewer viewer(QStringLiteral("T"), text);
            showPainted(viewer);
            std::printf("viewer_text_%dmb_ms %.1f ms\n", mb, msSince(timer));
        }

        {
            const QByteArray bytes(size, '\x5a');
            QElapsedTimer timer;
            timer.start();
            ValueViewer viewer(QStringLiteral("B"), bytes);
            showPainted(viewer);
            std::printf("viewer_hex_%dmb_ms %.1f ms\n", mb, msSince(timer));
        }

        {
            const QString json = bigJson(size);
            ValueViewer viewer(QStringLiteral("J"), json);
            showPainted(viewer);
            auto *find = viewer.findChild<QLineEdit *>(QStringLiteral("ValueFind"));
            find->setText(QStringLiteral("0]"));
            QElapsedTimer timer;
            timer.start();
            QTest::keyClick(find, Qt::Key_Return);
            viewer.repaint();
            std::printf("viewer_find_%dmb_ms %.1f ms\n", mb, msSince(timer));

            QSignalSpy ended(&viewer, &ValueViewer::indentEnded);
            StallMeter stalls;
            timer.start();
            viewer.findChild<QCheckBox *>(QStringLiteral("ValueIndented"))->setChecked(true);
            if (!ended.wait(600000) || viewer.shownText().count(u'\n') < 10)
                throw std::runtime_error("the JSON value was not indented: "
                    + viewer.findChild<QLabel *>(QStringLiteral("ValueNote"))
                          ->text()
                          .toStdString());
            viewer.repaint();
            std::printf("viewer_indent_%dmb_ms %.1f ms\n", mb, msSince(timer));
            std::printf("viewer_indent_stall_max_ms %.1f ms\n", stalls.maxGapMs);
        }
    } catch (const std::exception &error) {
        std::fprintf(stderr, "bench_viewer: %s\n", error.what());
        return 1;
    }
    return 0;
}
