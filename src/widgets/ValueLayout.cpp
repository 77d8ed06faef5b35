#include "widgets/ValueLayout.h"

#include <QXmlStreamReader>

#include <algorithm>
#include <vector>

namespace ValueLayout {

namespace {

constexpr int kStep = 4; // blanks per level

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

// Polls a cancel flag now and then, so that the check costs nothing per token.
class CancelPoll
{
public:
    explicit CancelPoll(const std::atomic_bool *flag)
        : m_flag(flag)
    { }
    bool operator()()
    {
        return m_flag && (++m_count & 0xfff) == 0 && m_flag->load(std::memory_order_relaxed);
    }

private:
    const std::atomic_bool *m_flag;
    unsigned m_count = 0;
};

void newLine(QString &out, std::size_t depth)
{
    out += u'\n';
    out.resize(out.size() + qsizetype(depth) * kStep, u' ');
}

// Copies each token as written and puts line breaks and indentation between them; checks the
// grammar on the way, so that only a well-formed text is laid out.
class JsonIndenter
{
public:
    JsonIndenter(QStringView in, const std::atomic_bool *cancel)
        : m_in(in)
        , m_cancel(cancel)
    { }

    Indented run()
    {
        m_out.reserve(m_in.size() + m_in.size() / 2);
        if (!layOut())
            return { QString(), m_error };
        m_out += u'\n';
        return { m_out, QString() };
    }

private:
    bool layOut()
    {
        skipBlanks();
        if (!at(u'{') && !at(u'['))
            return fail("'{' or '[' expected");
        for (;;) {
            if (m_cancel())
                return fail("cancelled");
            skipBlanks();
            if (at(u'{') || at(u'[')) {
                const QChar open = m_in[m_pos++];
                m_out += open;
                skipBlanks();
                if (at(closing(open))) {
                    m_out += m_in[m_pos++]; // an empty one stays on its line
                } else {
                    m_open.push_back(open);
                    newLine(m_out, m_open.size());
                    if (open == u'{' && !key())
                        return false;
                    continue;
                }
            } else if (!scalar()) {
                return false;
            }
            // After a value: a comma, the end of its container, or the end of the text.
            for (;;) {
                skipBlanks();
                if (m_open.empty())
                    return m_pos == m_in.size() || fail("text after the value");
                if (at(u',')) {
                    ++m_pos;
                    m_out += u',';
                    newLine(m_out, m_open.size());
                    if (m_open.back() == u'{' && !key())
                        return false;
                    break;
                }
                if (!at(closing(m_open.back())))
                    return fail(
                        m_open.back() == u'{' ? "',' or '}' expected" : "',' or ']' expected");
                m_open.pop_back();
                newLine(m_out, m_open.size());
                m_out += m_in[m_pos++];
            }
        }
    }

    static QChar closing(QChar open) { return open == u'{' ? u'}' : u']'; }
    bool at(QChar c) const { return m_pos < m_in.size() && m_in[m_pos] == c; }
    void skipBlanks()
    {
        while (m_pos < m_in.size() && isBlank(m_in[m_pos]))
            ++m_pos;
    }
    bool fail(const char *what)
    {
        if (m_pos >= m_in.size())
            m_error = QStringLiteral("the text ends early");
        else
            m_error = QStringLiteral("%1 at character %2").arg(QLatin1String(what)).arg(m_pos + 1);
        return false;
    }

    bool key()
    {
        skipBlanks();
        if (!at(u'"'))
            return fail("a key expected");
        if (!string())
            return false;
        skipBlanks();
        if (!at(u':'))
            return fail("':' expected");
        ++m_pos;
        m_out += QLatin1String(": ");
        return true;
    }

    bool scalar()
    {
        if (at(u'"'))
            return string();
        if (at(u'-') || (m_pos < m_in.size() && m_in[m_pos].isDigit()))
            return number();
        for (const QLatin1String word :
            { QLatin1String("true"), QLatin1String("false"), QLatin1String("null") }) {
            if (m_in.mid(m_pos).startsWith(word)) {
                m_out += word;
                m_pos += word.size();
                return true;
            }
        }
        return fail("a value expected");
    }

    bool string()
    {
        const qsizetype start = m_pos++;
        while (m_pos < m_in.size()) {
            const QChar c = m_in[m_pos];
            if (c == u'"') {
                ++m_pos;
                m_out += m_in.mid(start, m_pos - start);
                return true;
            }
            if (c.unicode() < 0x20)
                return fail("a control character in a string");
            if (c != u'\\') {
                ++m_pos;
                continue;
            }
            if (++m_pos >= m_in.size())
                break;
            const QChar escaped = m_in[m_pos];
            if (escaped == u'u') {
                for (int i = 1; i <= 4; ++i)
                    if (m_pos + i >= m_in.size() || !isHex(m_in[m_pos + i]))
                        return fail("four hexadecimal digits expected");
                m_pos += 5;
            } else if (QStringView(u"\"\\/bfnrt").contains(escaped)) {
                ++m_pos;
            } else {
                return fail("an unknown escape");
            }
        }
        return fail("an unended string");
    }

    static bool isHex(QChar c)
    {
        return c.isDigit() || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
    }
    bool digits()
    {
        const qsizetype start = m_pos;
        while (m_pos < m_in.size() && m_in[m_pos] >= u'0' && m_in[m_pos] <= u'9')
            ++m_pos;
        return m_pos > start;
    }

    // As written, whatever its size or precision: no machine number holds every one.
    bool number()
    {
        const qsizetype start = m_pos;
        if (at(u'-'))
            ++m_pos;
        if (at(u'0'))
            ++m_pos;
        else if (!digits())
            return fail("a digit expected");
        if (at(u'.')) {
            ++m_pos;
            if (!digits())
                return fail("a digit expected");
        }
        if (at(u'e') || at(u'E')) {
            ++m_pos;
            if (at(u'+') || at(u'-'))
                ++m_pos;
            if (!digits())
                return fail("a digit expected");
        }
        m_out += m_in.mid(start, m_pos - start);
        return true;
    }

    QStringView m_in;
    CancelPoll m_cancel;
    qsizetype m_pos = 0;
    QString m_out;
    QString m_error;
    std::vector<QChar> m_open; // the containers around the current place
};

// Markup is cut into tokens as written; the document was checked well-formed before.
struct XmlToken
{
    enum Kind { Text, CData, Start, End, Empty, Other } kind;
    qsizetype begin, end;
};

qsizetype endOf(QStringView in, qsizetype from, QStringView mark)
{
    const qsizetype at = in.indexOf(mark, from);
    return at < 0 ? in.size() : at + mark.size();
}

// The end of a tag or a declaration: the first '>' outside quotes and outside a bracketed part.
qsizetype endOfTag(QStringView in, qsizetype from)
{
    QChar quote;
    int brackets = 0;
    for (qsizetype i = from; i < in.size(); ++i) {
        const QChar c = in[i];
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
        } else if (c == u'"' || c == u'\'') {
            quote = c;
        } else if (c == u'[') {
            ++brackets;
        } else if (c == u']') {
            --brackets;
        } else if (c == u'>' && brackets <= 0) {
            return i + 1;
        }
    }
    return in.size();
}

std::vector<XmlToken> xmlTokens(QStringView in)
{
    std::vector<XmlToken> tokens;
    qsizetype pos = 0;
    while (pos < in.size()) {
        XmlToken token { XmlToken::Other, pos, 0 };
        const QStringView rest = in.mid(pos);
        if (!rest.startsWith(u'<')) {
            const qsizetype next = in.indexOf(u'<', pos);
            token = { XmlToken::Text, pos, next < 0 ? in.size() : next };
        } else if (rest.startsWith(u"<!--")) {
            token.end = endOf(in, pos + 4, u"-->");
        } else if (rest.startsWith(u"<![CDATA[")) {
            token = { XmlToken::CData, pos, endOf(in, pos + 9, u"]]>") };
        } else if (rest.startsWith(u"<?")) {
            token.end = endOf(in, pos + 2, u"?>");
        } else if (rest.startsWith(u"<!")) {
            token.end = endOfTag(in, pos + 2);
        } else {
            token.end = endOfTag(in, pos + 1);
            token.kind = rest.startsWith(u"</") ? XmlToken::End
                : in[token.end - 2] == u'/'     ? XmlToken::Empty
                                                : XmlToken::Start;
        }
        tokens.push_back(token);
        pos = token.end;
    }
    return tokens;
}

Indented indentXml(const QString &text, const std::atomic_bool *cancel)
{
    CancelPoll cancelled(cancel);
    QXmlStreamReader reader(text);
    while (!reader.atEnd()) {
        reader.readNext();
        if (cancelled())
            return {};
    }
    if (reader.hasError())
        return { QString(),
            QStringLiteral("%1 at line %2, column %3")
                .arg(reader.errorString())
                .arg(reader.lineNumber())
                .arg(reader.columnNumber()) };

    const QStringView in(text);
    const std::vector<XmlToken> tokens = xmlTokens(in);
    const auto blank = [&](const XmlToken &token) {
        for (qsizetype i = token.begin; i < token.end; ++i)
            if (!isBlank(in[i]))
                return false;
        return true;
    };
    // An element stays on one line, as written, when it holds text of its own (its blanks are
    // then part of the value) or nothing but text.
    std::vector<std::size_t> match(tokens.size(), 0);
    std::vector<char> hasText(tokens.size(), 0), hasMarkup(tokens.size(), 0);
    std::vector<std::size_t> open;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const XmlToken &token = tokens[i];
        if (token.kind == XmlToken::End) {
            if (open.empty())
                return { QString(), QStringLiteral("an unexpected end tag") };
            match[open.back()] = i;
            open.pop_back();
            continue;
        }
        if (!open.empty()) {
            if (token.kind == XmlToken::CData || (token.kind == XmlToken::Text && !blank(token)))
                hasText[open.back()] = 1;
            else if (token.kind != XmlToken::Text)
                hasMarkup[open.back()] = 1;
        }
        if (token.kind == XmlToken::Start)
            open.push_back(i);
    }

    QString out;
    out.reserve(text.size() + text.size() / 2);
    std::size_t depth = 0;
    const auto line = [&](qsizetype begin, qsizetype end) {
        out.resize(out.size() + qsizetype(depth) * kStep, u' ');
        out += in.mid(begin, end - begin);
        out += u'\n';
    };
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const XmlToken &token = tokens[i];
        if (token.kind == XmlToken::Text && blank(token))
            continue; // the layout's own blanks take their place
        if (token.kind == XmlToken::Start && (hasText[i] || !hasMarkup[i])) {
            line(token.begin, tokens[match[i]].end);
            i = match[i];
        } else if (token.kind == XmlToken::Start) {
            line(token.begin, token.end);
            ++depth;
        } else if (token.kind == XmlToken::End) {
            --depth;
            line(token.begin, token.end);
        } else {
            line(token.begin, token.end);
        }
    }
    return { out, QString() };
}

} // namespace

Kind guess(QStringView text)
{
    for (const QChar c : text) {
        if (isBlank(c))
            continue;
        return c == u'{' || c == u'[' ? Kind::Json : c == u'<' ? Kind::Xml : Kind::None;
    }
    return Kind::None;
}

Indented indent(const QString &text, const std::atomic_bool *cancel)
{
    switch (guess(text)) {
    case Kind::Json: {
        Indented result = JsonIndenter(text, cancel).run();
        if (!result.error.isEmpty())
            result.error = QStringLiteral("Not well-formed JSON: ") + result.error + u'.';
        return result;
    }
    case Kind::Xml: {
        Indented result = indentXml(text, cancel);
        if (!result.error.isEmpty())
            result.error = QStringLiteral("Not well-formed XML: ") + result.error + u'.';
        return result;
    }
    case Kind::None:
        break;
    }
    return { QString(), QStringLiteral("The value is neither JSON nor XML.") };
}

QString hexRows(QByteArrayView bytes, qint64 offset)
{
    static const char digits[] = "0123456789abcdef";
    QString out;
    out.reserve((bytes.size() / 16 + 1) * 78);
    for (qsizetype at = 0; at < bytes.size(); at += 16) {
        out += QString::number(offset + at, 16).rightJustified(8, u'0');
        out += QLatin1String("  ");
        const qsizetype count = std::min<qsizetype>(16, bytes.size() - at);
        for (qsizetype i = 0; i < 16; ++i) {
            if (i < count) {
                const auto byte = static_cast<unsigned char>(bytes[at + i]);
                out += QLatin1Char(digits[byte >> 4]);
                out += QLatin1Char(digits[byte & 15]);
                out += u' ';
            } else {
                out += QLatin1String("   ");
            }
            if (i == 7)
                out += u' ';
        }
        out += u' ';
        for (qsizetype i = 0; i < count; ++i) {
            const auto byte = static_cast<unsigned char>(bytes[at + i]);
            out += byte >= 0x20 && byte < 0x7f ? QLatin1Char(char(byte)) : QLatin1Char('.');
        }
        out += u'\n';
    }
    return out;
}

} // namespace ValueLayout
