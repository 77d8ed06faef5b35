// The SQL editor of the real main window, offscreen, with its highlighting. Prints, as
// "name value unit" lines:
//   editor_keystroke_ms:     typing one character in a 100,000-line script until the editor has
//                            repainted, worst of 200 keystrokes spread over the text;
//   editor_keystroke_pg_ms:  the same in PostgreSQL's rules over a script of DO blocks, dollar
//                            strings over lines and nested comments;
//   highlight_load_vs_plain: putting a 10 MB script into the editor and painting it, with
//                            highlighting against the same without (best of three each).
// ROWS does not apply.

#include "app/SqlHighlighter.h"
#include "app/Unit1.h"
#include "support/TestEnv.h"
#include "support/WindowFixture.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>

#include <algorithm>
#include <cstdio>

namespace {

QString makeScript(int lines, bool postgres = false)
{
    const QStringList db2 = {
        QStringLiteral("select o.id, o.amount, c.\"Name\" from T301DBA.ORDERS o"),
        QStringLiteral("  join T301DBA.CUSTOMER c on c.id = o.customer_id -- the owner"),
        QStringLiteral("  where o.amount > 1250.75 and c.city = 'Saint-Jean d''Arc';"),
        QStringLiteral("/* nightly fix, ticket 4711: do not rerun */"),
        QStringLiteral("update P201DBA.ACCOUNT set status = 'X' where id = ?;"),
    };
    const QStringList pg = {
        QStringLiteral("do $body$ begin"),
        QStringLiteral("  update account set status = E'it\\'s' where id = $1;"),
        QStringLiteral("end $body$; /* outer /* nested */"),
        QStringLiteral("   still a comment */ select o.id::text from orders o"),
        QStringLiteral("  where o.city = 'Saint-Jean d''Arc';"),
    };
    const QStringList &pieces = postgres ? pg : db2;
    QString text;
    for (int i = 0; i < lines; ++i)
        text += pieces[i % pieces.size()] + QLatin1Char('\n');
    return text;
}

double loadAndPaint(QPlainTextEdit *edit, const QString &text)
{
    edit->clear();
    QCoreApplication::processEvents();
    QElapsedTimer timer;
    timer.start();
    edit->setPlainText(text);
    edit->viewport()->repaint();
    return timer.nsecsElapsed() / 1e6;
}

// Keystrokes at 200 places from the top to the bottom of a 100,000-line text; the worst time
// from the key to the repainted editor.
double worstKeystroke(QPlainTextEdit *editor, bool postgres = false)
{
    editor->setPlainText(makeScript(100000, postgres));
    double worst = 0;
    const int blocks = editor->document()->blockCount();
    for (int i = 0; i < 200; ++i) {
        QTextCursor cursor(editor->document()->findBlockByNumber(i * (blocks - 1) / 199));
        cursor.movePosition(QTextCursor::EndOfBlock);
        editor->setTextCursor(cursor);
        editor->ensureCursorVisible();
        QCoreApplication::processEvents();
        QElapsedTimer timer;
        timer.start();
        QTest::keyClick(editor, Qt::Key_X);
        editor->viewport()->repaint();
        worst = std::max(worst, timer.nsecsElapsed() / 1e6);
    }
    return worst;
}

} // namespace

int main(int argc, char **argv)
{
    TestEnv::setUp();
    QApplication app(argc, argv);
    TForm1 form(WindowFixture::options());
    form.resize(1000, 700);
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return 1;
    auto *editor = form.findChild<QPlainTextEdit *>(QStringLiteral("RE1"));
    editor->setFocus();

    std::printf("editor_keystroke_ms %.2f ms\n", worstKeystroke(editor));
    editor->findChild<SqlHighlighter *>()->setDialect(Sql::Dialect::PostgreSql);
    std::printf("editor_keystroke_pg_ms %.2f ms\n", worstKeystroke(editor, true));

    // The same font and size for both editors; the plain one has no highlighter.
    const QString big = makeScript(10 * 1000 * 1000 / 60);
    QPlainTextEdit plain;
    plain.setFont(editor->font());
    plain.resize(editor->size());
    plain.show();
    QPlainTextEdit coloured;
    coloured.setFont(editor->font());
    coloured.resize(editor->size());
    new SqlHighlighter(&coloured);
    coloured.show();
    if (!QTest::qWaitForWindowExposed(&coloured))
        return 1;
    double plainMs = 1e9, colouredMs = 1e9;
    for (int run = 0; run < 3; ++run) {
        plainMs = std::min(plainMs, loadAndPaint(&plain, big));
        colouredMs = std::min(colouredMs, loadAndPaint(&coloured, big));
    }
    std::fprintf(stderr, "keystroke without highlighting: %.2f ms\n", worstKeystroke(&plain));
    std::fprintf(stderr, "10 MB load: %.0f ms plain, %.0f ms highlighted\n", plainMs, colouredMs);
    std::printf("highlight_load_vs_plain %.2f ratio\n", colouredMs / plainMs);
    return 0;
}
