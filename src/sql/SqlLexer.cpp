#include "sql/SqlLexer.h"

#include <QChar>

#include <algorithm>
#include <utility>

namespace Sql {

namespace {

// Character classes of the ASCII range; anything above it is classed by Unicode's tables.
enum : unsigned char {
    Space = 1,
    WordStart = 2,
    WordPart = 4,
    Digit = 8,
};

struct AsciiTable
{
    unsigned char bits[128] = {};
    constexpr explicit AsciiTable(Dialect dialect)
    {
        for (int c : { ' ', '\t', '\r', '\n', '\f', '\v' })
            bits[c] = Space;
        for (int c = 'A'; c <= 'Z'; ++c)
            bits[c] = WordStart | WordPart;
        for (int c = 'a'; c <= 'z'; ++c)
            bits[c] = WordStart | WordPart;
        bits[int('_')] = WordStart | WordPart;
        for (int c = '0'; c <= '9'; ++c)
            bits[c] = Digit | WordPart;
        if (dialect == Dialect::Db2) {
            for (int c : { '@', '#', '$' }) // DB2 allows these in ordinary identifiers
                bits[c] = WordStart | WordPart;
        } else {
            bits[int('$')] = WordPart; // inside a name, never at its start
        }
    }
};

constexpr AsciiTable ansiTable(Dialect::Ansi);
constexpr AsciiTable db2Table(Dialect::Db2);
constexpr AsciiTable otherTable(Dialect::PostgreSql);

const unsigned char *classesOf(Dialect dialect)
{
    return dialect == Dialect::Db2 ? db2Table.bits
        : dialect == Dialect::Ansi ? ansiTable.bits
                                   : otherTable.bits;
}

// The code point at i (a surrogate pair read whole) and how many UTF-16 units it takes.
inline char32_t codePoint(QStringView text, int i, int *units)
{
    const char16_t c = text[i].unicode();
    if (QChar::isHighSurrogate(c) && i + 1 < text.size()
        && QChar::isLowSurrogate(text[i + 1].unicode())) {
        *units = 2;
        return QChar::surrogateToUcs4(c, text[i + 1].unicode());
    }
    *units = 1;
    return c;
}

// Letters and digits of every script continue a word; letters of every script start one.
inline int wordCharUnits(const unsigned char *classes, QStringView text, int i, bool start)
{
    const char16_t c = text[i].unicode();
    if (c < 128)
        return (classes[c] & (start ? WordStart : WordPart)) ? 1 : 0;
    int units = 1;
    const char32_t u = codePoint(text, i, &units);
    const bool ok = start ? QChar::isLetter(u) : QChar::isLetterOrNumber(u) || QChar::isMark(u);
    return ok ? units : 0;
}

inline bool isDigit(char16_t c)
{
    return c >= '0' && c <= '9';
}

inline char16_t upper(char16_t c)
{
    return c >= 'a' && c <= 'z' ? char16_t(c - 'a' + 'A') : c;
}

} // namespace

Dialect dialectOfDriver(QStringView driver)
{
    // Data sources name a driver by its section in the driver list ("PostgreSQL Unicode",
    // "SQLite3", "IBM DB2 ODBC DRIVER") or by its library ("psqlodbcw.so", "libdb2o.so").
    if (driver.contains(u"db2", Qt::CaseInsensitive)
        || driver.contains(u"ibm", Qt::CaseInsensitive))
        return Dialect::Db2;
    if (driver.contains(u"postgres", Qt::CaseInsensitive)
        || driver.contains(u"psqlodbc", Qt::CaseInsensitive))
        return Dialect::PostgreSql;
    if (driver.contains(u"sqlite", Qt::CaseInsensitive))
        return Dialect::Sqlite;
    return Dialect::Ansi;
}

QString carryName(const Carry &carry)
{
    switch (carry.kind) {
    case Carry::BlockComment:
        return QStringLiteral("a block comment");
    case Carry::String:
    case Carry::EscapeString:
        return QStringLiteral("a string");
    case Carry::DollarString:
        return QStringLiteral("a dollar-quoted string (%1)").arg(carry.tag);
    case Carry::QuotedName:
    case Carry::BracketName:
    case Carry::BacktickName:
        return QStringLiteral("a quoted name");
    case Carry::None:
        break;
    }
    return QString();
}

Lexer::Lexer(QStringView text, Dialect dialect, Carry carry)
    : m_text(text)
    , m_classes(classesOf(dialect))
    , m_dialect(dialect)
    , m_carry(std::move(carry))
{ }

bool Lexer::terminatorAt(int at) const
{
    // The first character decides almost always; the rest is compared only when it matches.
    const int n = int(m_terminator.size());
    if (n == 0 || m_text[at] != m_terminator[0])
        return false;
    return n == 1 || (m_text.size() - at >= n && m_text.mid(at, n) == m_terminator);
}

int Lexer::wordEnd(int from) const
{
    int i = from;
    const int size = int(m_text.size());
    const char16_t *data = m_text.utf16();
    const char16_t stop = m_terminator.isEmpty() ? u'\0' : m_terminator[0].unicode();
    // ASCII first, without calls: nearly every word is ASCII only.
    while (i < size && data[i] < 128 && (m_classes[data[i]] & WordPart) && data[i] != stop)
        ++i;
    while (i < size) {
        if (terminatorAt(i))
            break;
        const int units = wordCharUnits(m_classes, m_text, i, false);
        if (units == 0)
            break;
        i += units;
    }
    return i;
}

int Lexer::numberEnd(int from) const
{
    const int size = int(m_text.size());
    int i = from;
    while (i < size && isDigit(m_text[i].unicode()))
        ++i;
    if (i < size && m_text[i] == u'.') {
        ++i;
        while (i < size && isDigit(m_text[i].unicode()))
            ++i;
    }
    if (i < size && (m_text[i] == u'e' || m_text[i] == u'E')) {
        int j = i + 1;
        if (j < size && (m_text[j] == u'+' || m_text[j] == u'-'))
            ++j;
        if (j < size && isDigit(m_text[j].unicode())) {
            while (j < size && isDigit(m_text[j].unicode()))
                ++j;
            i = j;
        }
    }
    return i;
}

int Lexer::dollarTagEnd(int from) const
{
    const int size = int(m_text.size());
    int i = from + 1;
    if (i < size && m_text[i] == u'$')
        return i + 1;
    if (i >= size || !wordCharUnits(m_classes, m_text, i, true))
        return -1;
    while (i < size && m_text[i] != u'$') {
        const int units = wordCharUnits(m_classes, m_text, i, false);
        if (units == 0)
            return -1;
        i += units;
    }
    return i < size ? i + 1 : -1;
}

bool Lexer::isStringPrefix(QStringView word) const
{
    const char16_t a = upper(word[0].unicode());
    if (word.size() == 1) {
        switch (m_dialect) {
        case Dialect::Db2:
            return a == 'X' || a == 'G' || a == 'N';
        case Dialect::PostgreSql:
            return a == 'X' || a == 'B' || a == 'N';
        case Dialect::Sqlite:
            return a == 'X';
        case Dialect::Ansi:
            return a == 'X' || a == 'B' || a == 'N';
        }
    }
    if (word.size() == 2 && m_dialect == Dialect::Db2)
        return (a == 'G' || a == 'U' || a == 'B') && upper(word[1].unicode()) == 'X';
    return false;
}

// A quoted construct from start (at its opening quote, or at the start of the text when it was
// left open by the previous text); a doubled quote stands for one.
Token Lexer::quoted(int start, char16_t quote, TokenKind kind, Carry::Kind open)
{
    const int size = int(m_text.size());
    const char16_t *data = m_text.utf16();
    int i = m_pos;
    while (i < size) {
        if (data[i] == quote) {
            if (i + 1 < size && data[i + 1] == quote) {
                i += 2;
                continue;
            }
            m_pos = i + 1;
            return { kind, start, m_pos - start };
        }
        ++i;
    }
    m_pos = size;
    m_carry.kind = open;
    return { kind, start, m_pos - start };
}

Token Lexer::bracketName(int start)
{
    const int at = int(m_text.indexOf(u']', m_pos));
    if (at < 0) {
        m_pos = int(m_text.size());
        m_carry.kind = Carry::BracketName;
    } else {
        m_pos = at + 1;
    }
    return { TokenKind::QuotedName, start, m_pos - start };
}

// E'...': a backslash takes the next character whatever it is; '' stands for one quote too.
Token Lexer::escapeString(int start)
{
    const int size = int(m_text.size());
    const char16_t *data = m_text.utf16();
    int i = m_pos;
    while (i < size) {
        if (data[i] == u'\\') {
            i += 2;
            continue;
        }
        if (data[i] == u'\'') {
            if (i + 1 < size && data[i + 1] == u'\'') {
                i += 2;
                continue;
            }
            m_pos = i + 1;
            return { TokenKind::String, start, m_pos - start };
        }
        ++i;
    }
    m_pos = size;
    m_carry.kind = Carry::EscapeString;
    return { TokenKind::String, start, m_pos - start };
}

// $tag$...$tag$: nothing inside counts until the same delimiter comes again.
Token Lexer::dollarString(int start, int bodyFrom)
{
    const int at = int(m_text.indexOf(m_carry.tag, bodyFrom));
    if (at < 0) {
        m_pos = int(m_text.size());
        m_carry.kind = Carry::DollarString; // the tag stays with the carry
    } else {
        m_pos = at + int(m_carry.tag.size());
        m_carry = Carry();
    }
    return { TokenKind::String, start, m_pos - start };
}

Token Lexer::blockComment(int start)
{
    const int size = int(m_text.size());
    const char16_t *data = m_text.utf16();
    const bool nests = m_dialect == Dialect::PostgreSql;
    int depth = std::max(1, m_carry.depth);
    int i = m_pos;
    while (i + 1 < size) {
        if (data[i] == u'*' && data[i + 1] == u'/') {
            i += 2;
            if (--depth == 0) {
                m_pos = i;
                m_carry = Carry();
                return { TokenKind::BlockComment, start, m_pos - start };
            }
            continue;
        }
        if (nests && data[i] == u'/' && data[i + 1] == u'*') {
            ++depth;
            i += 2;
            continue;
        }
        ++i;
    }
    m_pos = size;
    m_carry.kind = Carry::BlockComment;
    m_carry.depth = depth;
    return { TokenKind::BlockComment, start, m_pos - start };
}

void Lexer::read(Token &token)
{
    const int size = int(m_text.size());
    if (m_carry.isOpen()) {
        if (m_pos >= size) {
            token = { TokenKind::End, size, 0 }; // the construct stays open
            return;
        }
        const Carry::Kind open = m_carry.kind;
        m_carry.kind = Carry::None;
        switch (open) {
        case Carry::BlockComment:
            token = blockComment(m_pos);
            return;
        case Carry::String:
            token = quoted(m_pos, u'\'', TokenKind::String, Carry::String);
            return;
        case Carry::QuotedName:
            token = quoted(m_pos, u'"', TokenKind::QuotedName, Carry::QuotedName);
            return;
        case Carry::EscapeString:
            token = escapeString(m_pos);
            return;
        case Carry::DollarString:
            token = dollarString(m_pos, m_pos);
            return;
        case Carry::BracketName:
            token = bracketName(m_pos);
            return;
        case Carry::BacktickName:
            token = quoted(m_pos, u'`', TokenKind::QuotedName, Carry::BacktickName);
            return;
        case Carry::None:
            break;
        }
    }
    const char16_t *data = m_text.utf16();
    while (m_pos < size
        && (data[m_pos] < 128 ? (db2Table.bits[data[m_pos]] & Space) != 0
                              : QChar::isSpace(data[m_pos])))
        ++m_pos;
    if (m_pos >= size) {
        token = { TokenKind::End, size, 0 };
        return;
    }

    const int start = m_pos;
    const char16_t c = data[start];
    const char16_t d = start + 1 < size ? data[start + 1] : u'\0';

    if (c == '-' && d == '-') {
        int i = start + 2;
        while (i < size && m_text[i] != u'\n' && m_text[i] != u'\r')
            ++i;
        m_pos = i;
        const Token comment { TokenKind::LineComment, start, i - start };
        if (i - start > 5 && m_text[start + 2] == u'#') {
            const QString directive = terminatorDirective(text(comment));
            if (!directive.isEmpty())
                m_terminator = directive;
        }
        token = comment;
        return;
    }
    if (c == '/' && d == '*') {
        m_pos = start + 2;
        m_carry.depth = 1;
        token = blockComment(start);
        return;
    }
    if (terminatorAt(start)) {
        m_pos = start + int(m_terminator.size());
        token = { TokenKind::Terminator, start, m_pos - start };
        return;
    }
    // Words next: they are most of any text.
    if (const int units = wordCharUnits(m_classes, m_text, start, true)) {
        const int end = wordEnd(start + units);
        if (end < size && m_text[end] == u'\'' && end - start <= 2) {
            if (m_dialect == Dialect::PostgreSql && end - start == 1 && upper(c) == 'E') {
                m_pos = end + 1;
                token = escapeString(start);
                return;
            }
            if (isStringPrefix(m_text.mid(start, end - start))) {
                m_pos = end + 1;
                token = quoted(start, u'\'', TokenKind::String, Carry::String);
                return;
            }
        }
        m_pos = end;
        token = { TokenKind::Word, start, end - start };
        return;
    }
    if (isDigit(c) || (c == '.' && isDigit(d))) {
        m_pos = numberEnd(start);
        token = { TokenKind::Number, start, m_pos - start };
        return;
    }
    switch (c) {
    case '\'':
        m_pos = start + 1;
        token = quoted(start, u'\'', TokenKind::String, Carry::String);
        return;
    case '"':
        m_pos = start + 1;
        token = quoted(start, u'"', TokenKind::QuotedName, Carry::QuotedName);
        return;
    default:
        break;
    }
    switch (m_dialect) {
    case Dialect::PostgreSql:
        if (c == '$') {
            if (isDigit(d)) {
                int i = start + 1;
                while (i < size && isDigit(m_text[i].unicode()))
                    ++i;
                m_pos = i;
                token = { TokenKind::Parameter, start, i - start };
                return;
            }
            const int tagEnd = dollarTagEnd(start);
            if (tagEnd > 0) {
                m_carry.tag = m_text.mid(start, tagEnd - start).toString();
                token = dollarString(start, tagEnd);
                return;
            }
        }
        break;
    case Dialect::Sqlite:
        if (c == '[') {
            m_pos = start + 1;
            token = bracketName(start);
            return;
        }
        if (c == '`') {
            m_pos = start + 1;
            token = quoted(start, u'`', TokenKind::QuotedName, Carry::BacktickName);
            return;
        }
        if ((c == '$' || c == '@') && start + 1 < size
            && wordCharUnits(m_classes, m_text, start + 1, true)) {
            m_pos = wordEnd(start + 1);
            token = { TokenKind::Parameter, start, m_pos - start };
            return;
        }
        if (c == '?' && isDigit(d)) {
            int i = start + 1;
            while (i < size && isDigit(m_text[i].unicode()))
                ++i;
            m_pos = i;
            token = { TokenKind::Parameter, start, i - start };
            return;
        }
        break;
    case Dialect::Db2:
    case Dialect::Ansi:
        break;
    }
    if (c == '?') {
        m_pos = start + 1;
        token = { TokenKind::Parameter, start, 1 };
        return;
    }
    if (c == ':' && start + 1 < size && wordCharUnits(m_classes, m_text, start + 1, true)) {
        m_pos = wordEnd(start + 1);
        token = { TokenKind::Parameter, start, m_pos - start };
        return;
    }
    bool pair = false;
    switch (c) {
    case '<':
        pair = d == '>' || d == '=';
        break;
    case '>':
    case '!':
    case '^':
    case '~':
        pair = d == '=';
        break;
    case '|':
        pair = d == '|';
        break;
    case ':':
        pair = d == ':' || d == '=';
        break;
    case '=':
        pair = d == '>';
        break;
    default:
        break;
    }
    if (pair && !terminatorAt(start + 1)) {
        m_pos = start + 2;
        token = { TokenKind::Operator, start, 2 };
        return;
    }
    if (c < 128 && c > ' ' && c != 0x7f) {
        m_pos = start + 1;
        token = { TokenKind::Operator, start, 1 };
        return;
    }
    int units = 1;
    codePoint(m_text, start, &units);
    m_pos = start + units;
    token = { TokenKind::Unknown, start, units };
    return;
}

QString asciiUpper(QString text)
{
    for (QChar &c : text) {
        if (c >= u'a' && c <= u'z')
            c = QChar(c.unicode() - 'a' + 'A');
    }
    return text;
}

QString Lexer::terminatorDirective(QStringView comment)
{
    // "--#SET TERMINATOR x": blanks between the words, the terminator is the next word of the
    // line (one or two characters, as the command-line processor takes it).
    static const QString head = QStringLiteral("--#SET");
    if (!comment.startsWith(head, Qt::CaseInsensitive))
        return {};
    QStringView rest = comment.mid(head.size());
    if (rest.isEmpty() || !rest[0].isSpace())
        return {};
    rest = rest.trimmed();
    static const QString keyword = QStringLiteral("TERMINATOR");
    if (!rest.startsWith(keyword, Qt::CaseInsensitive))
        return {};
    rest = rest.mid(keyword.size());
    if (rest.isEmpty() || !rest[0].isSpace())
        return {};
    rest = rest.trimmed();
    int n = 0;
    while (n < rest.size() && !rest[n].isSpace())
        ++n;
    if (n == 0 || n > 2)
        return {};
    return rest.left(n).toString();
}

} // namespace Sql
