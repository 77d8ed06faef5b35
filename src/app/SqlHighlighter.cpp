#include "app/SqlHighlighter.h"

#include "sql/SqlLexer.h"
#include "sql/SqlWords.h"

#include <QEvent>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>

namespace {

// A block's highlighting state, kept in the block's user data (the block's user state belongs to
// the editor's long-line rule): what it carries out when known, and the carry-in its formats
// were made for when made.
struct HighlightData : QTextBlockUserData
{
    bool known = false;
    Sql::Carry out;
    bool coloured = false;
    Sql::Carry colouredFor;
};

HighlightData *dataOf(const QTextBlock &block)
{
    return static_cast<HighlightData *>(block.userData());
}

HighlightData *ensureData(QTextBlock block)
{
    auto *data = dataOf(block);
    if (!data) {
        data = new HighlightData; // owned by the block's document
        block.setUserData(data);
    }
    return data;
}

Sql::Carry carryOut(const QTextBlock &block)
{
    const HighlightData *data = dataOf(block);
    return data && data->known ? data->out : Sql::Carry();
}

bool colouredFor(const QTextBlock &block, const Sql::Carry &carryIn)
{
    const HighlightData *data = dataOf(block);
    return data && data->known && data->coloured && data->colouredFor == carryIn;
}

// What a line leaves open for the next one.
Sql::Carry lexCarry(const QString &text, Sql::Dialect dialect, const Sql::Carry &carryIn)
{
    Sql::Lexer lexer(text, dialect, carryIn);
    while (lexer.next().kind != Sql::TokenKind::End) { }
    return lexer.carry();
}

} // namespace

SqlHighlighter::SqlHighlighter(QPlainTextEdit *edit)
    : QObject(edit)
    , m_edit(edit)
{
    updateColours();
    connect(
        edit->document(), &QTextDocument::contentsChange, this, &SqlHighlighter::contentsChanged);
    edit->installEventFilter(this);
    m_viewport = edit->viewport();
    m_viewport->installEventFilter(this);
}

bool SqlHighlighter::eventFilter(QObject *watched, QEvent *event)
{
    // Formats are made for the blocks a paint is about to show, whatever asked for the paint:
    // an edit, a scroll, a resize, an expose.
    // Only pointers are compared here: events still come while the editor is being destroyed.
    if (watched == m_viewport && event->type() == QEvent::Paint)
        colourVisible();
    else if (watched == m_edit && event->type() == QEvent::PaletteChange)
        updateColours();
    return QObject::eventFilter(watched, event);
}

void SqlHighlighter::updateColours()
{
    const bool dark = m_edit->palette().color(QPalette::Base).lightness() < 128;
    const auto make = [](const char *light, const char *onDark, bool darkBase) {
        QTextCharFormat format;
        format.setForeground(QColor(darkBase ? onDark : light));
        return format;
    };
    m_keyword = make("#00008b", "#82aaff", dark);
    m_string = make("#a31515", "#f0a070", dark);
    m_comment = make("#607080", "#8a9aa8", dark);
    m_number = make("#09815a", "#b5cea8", dark);
    m_name = make("#795e26", "#dcdcaa", dark);
    m_parameter = make("#af00db", "#d8a0f0", dark);
    forgetColours();
}

void SqlHighlighter::forgetColours()
{
    // Formats made with the old colours or rules are made anew as they come into view.
    for (QTextBlock block = m_edit->document()->begin(); block.isValid(); block = block.next()) {
        if (HighlightData *data = dataOf(block))
            data->coloured = false;
    }
    m_edit->viewport()->update();
}

void SqlHighlighter::setDialect(Sql::Dialect dialect)
{
    if (dialect == m_dialect)
        return;
    m_dialect = dialect;
    // What each line carries changes with the rules: nothing known stays.
    for (QTextBlock block = m_edit->document()->begin(); block.isValid(); block = block.next()) {
        if (HighlightData *data = dataOf(block))
            data->known = data->coloured = false;
    }
    m_validUpTo = -1;
    m_edit->viewport()->update();
}

void SqlHighlighter::contentsChanged(int position, int removed, int added)
{
    if (m_reformatting)
        return;
    Q_UNUSED(removed);
    QTextDocument *document = m_edit->document();
    QTextBlock block = document->findBlock(position);
    m_validUpTo = std::min(m_validUpTo, block.blockNumber() - 1);
    // The edited blocks lose their formats' validity; the ones after them are judged by their
    // carry-in when they are next seen.
    const QTextBlock last = document->findBlock(position + added);
    for (; block.isValid(); block = block.next()) {
        if (HighlightData *data = dataOf(block))
            data->known = data->coloured = false;
        if (block == last)
            break;
    }
}

Sql::Carry SqlHighlighter::carryInto(const QTextBlock &target)
{
    const int number = target.blockNumber();
    if (number == 0)
        return {};
    if (m_validUpTo >= number - 1)
        return carryOut(target.previous());
    QTextBlock block = m_validUpTo < 0 ? m_edit->document()->begin()
                                       : m_edit->document()->findBlockByNumber(m_validUpTo + 1);
    Sql::Carry carry = block.blockNumber() == 0 ? Sql::Carry() : carryOut(block.previous());
    for (; block.isValid() && block.blockNumber() < number; block = block.next()) {
        carry = lexCarry(block.text(), m_dialect, carry);
        // The formats stay good only when they were made for the same carry-in as now, which
        // colouredFor compares when the block comes into view.
        HighlightData *data = ensureData(block);
        data->known = true;
        data->out = carry;
    }
    m_validUpTo = number - 1;
    return carry;
}

void SqlHighlighter::colourVisible()
{
    if (m_reformatting)
        return;
    const QRect area = m_edit->viewport()->rect();
    QTextBlock block = m_edit->cursorForPosition(area.topLeft()).block();
    const QTextBlock last = m_edit->cursorForPosition(area.bottomRight()).block();
    if (!block.isValid())
        return;
    Sql::Carry carry = carryInto(block);
    for (; block.isValid(); block = block.next()) {
        if (!colouredFor(block, carry))
            colour(block, carry);
        carry = carryOut(block);
        if (block.blockNumber() > m_validUpTo)
            m_validUpTo = block.blockNumber();
        if (block == last)
            break;
    }
}

void SqlHighlighter::colour(QTextBlock &block, const Sql::Carry &carryIn)
{
    const QString text = block.text();
    QVector<QTextLayout::FormatRange> ranges;
    Sql::Lexer lexer(text, m_dialect, carryIn);
    const bool plain = text.size() > LongestColouredLine;
    for (Sql::Token token = lexer.next(); token.kind != Sql::TokenKind::End; token = lexer.next()) {
        if (plain)
            continue;
        const QTextCharFormat *format = nullptr;
        switch (token.kind) {
        case Sql::TokenKind::Word:
            if (Sql::isKeyword(lexer.text(token)))
                format = &m_keyword;
            break;
        case Sql::TokenKind::QuotedName:
            format = &m_name;
            break;
        case Sql::TokenKind::String:
            format = &m_string;
            break;
        case Sql::TokenKind::Number:
            format = &m_number;
            break;
        case Sql::TokenKind::Parameter:
            format = &m_parameter;
            break;
        case Sql::TokenKind::LineComment:
        case Sql::TokenKind::BlockComment:
            format = &m_comment;
            break;
        default:
            break;
        }
        if (format)
            ranges.append({ token.start, token.length, *format });
    }
    HighlightData *data = ensureData(block);
    data->known = true;
    data->out = lexer.carry();
    data->coloured = true;
    data->colouredFor = carryIn;
    m_reformatting = true;
    block.layout()->setFormats(ranges);
    m_edit->document()->markContentsDirty(block.position(), block.length());
    m_reformatting = false;
}
