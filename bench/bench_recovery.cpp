// The editor's recovery file with a 10 MB text. Prints, as "name value unit" lines:
//   recovery_write_ms:    the writer thread's atomic, synced write of the recovery file (best of
//                         five);
//   ui_stall_recovery_ms: the longest gap of the UI thread's event loop while the real window
//                         keeps a 10 MB unsaved text: the snapshot taken when typing pauses and
//                         the write it hands to the writer thread.
// ROWS does not apply.

#include "StallMeter.h"
#include "app/EditorRecovery.h"
#include "app/Unit1.h"
#include "support/TestEnv.h"
#include "support/WindowFixture.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cstdio>

int main(int argc, char **argv)
{
    TestEnv::setUp();
    QApplication app(argc, argv);

    QString text;
    const QString line =
        QStringLiteral("select o.id, o.amount from T301DBA.ORDERS o where o.id = 42;\n");
    while (text.size() < 10 * 1000 * 1000)
        text += line;

    QTemporaryDir dir;
    double best = 1e9;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer timer;
        timer.start();
        QString error;
        EditorRecovery::write(dir.filePath(QStringLiteral("bench.recovery")),
            { text, QString(), QByteArray("UTF-8"), 0, {}, {} }, &error);
        best = std::min(best, timer.nsecsElapsed() / 1e6);
    }
    std::printf("recovery_write_ms %.1f ms\n", best);

    TForm1 form(WindowFixture::options());
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return 1;
    auto *editor = form.findChild<QPlainTextEdit *>(QStringLiteral("RE1"));
    editor->setPlainText(text);
    QCoreApplication::processEvents();
    const QDir folder(EditorRecovery::defaultFolder());
    const auto written = [&] {
        return !folder.entryList({ QStringLiteral("*.recovery") }, QDir::Files).isEmpty();
    };
    StallMeter meter;
    QTest::keyClick(editor, Qt::Key_X); // one keystroke; the recovery file follows the pause
    meter.maxGapMs = 0; // the keystroke itself is the editor's figure, not this one
    while (!written())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    QTest::qWait(200); // the writer's end, for the gaps after it
    std::printf("ui_stall_recovery_ms %.1f ms\n", meter.maxGapMs);
    return 0;
}
