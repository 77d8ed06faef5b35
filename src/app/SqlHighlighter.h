#pragma once

#include "sql/SqlLexer.h"

#include <QObject>
#include <QTextCharFormat>

class QPlainTextEdit;
class QTextBlock;

// Colours the SQL of a plain-text editor: keywords, strings, comments, numbers, delimited
// identifiers and parameter markers. Only the blocks on screen get formats, when they are about
// to be seen; what a block carries into the next (an open comment, string or name) is kept in
// the block's own data and worked out lazily, so loading or typing in a huge text costs no more
// than the lines shown. Colours only, never a font change, so no line's layout moves. A child of
// its editor; UI thread only.
class SqlHighlighter : public QObject
{
    Q_OBJECT

public:
    explicit SqlHighlighter(QPlainTextEdit *edit); // parent: edit

    // Lines longer than this keep the editor's plain colours (lexing them for colour on every
    // repaint would cost what the long-line rule saves).
    static constexpr int LongestColouredLine = 20000;

    // The colours follow the palette: light text on a dark base, dark text on a light one.
    void updateColours();
    // The lexical rules of the database the text is for (the alias's); DB2's until told.
    void setDialect(Sql::Dialect dialect);
    Sql::Dialect dialect() const { return m_dialect; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override; // paints and palette changes

private:
    void contentsChanged(int position, int removed, int added);
    void colourVisible();
    // The carry-in of block, the carries of the blocks before it made good.
    Sql::Carry carryInto(const QTextBlock &block);
    void colour(QTextBlock &block, const Sql::Carry &carryIn);
    void forgetColours();

    QPlainTextEdit *m_edit; // not owned: the parent
    QObject *m_viewport = nullptr; // not owned: the editor's viewport, whose paints are watched
    int m_validUpTo = -1; // blocks 0..m_validUpTo hold their true carry-out
    bool m_reformatting = false; // our own format changes are no edits
    Sql::Dialect m_dialect = Sql::Dialect::Db2;
    QTextCharFormat m_keyword, m_string, m_comment, m_number, m_name, m_parameter;
};
