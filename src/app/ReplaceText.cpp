#include "app/ReplaceText.h"

#include <algorithm>
#include <optional>

namespace ReplaceText {

namespace {

inline char16_t fold(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'a' && u <= u'z') ? char16_t(u - (u'a' - u'A')) : u;
}

// The text of a running Replace All as a gap buffer: the characters before the cursor in
// `left`, those from the cursor on in `right`, reversed, so that a replacement at the cursor
// and a move of the cursor by a few characters cost only that many characters.
class GapText
{
public:
    explicit GapText(const QString &text)
    {
        m_right.resize(text.size());
        std::reverse_copy(text.cbegin(), text.cend(), m_right.begin());
    }

    qsizetype size() const { return m_left.size() + m_right.size(); }
    qsizetype cursor() const { return m_left.size(); }

    QChar at(qsizetype i) const
    {
        const qsizetype l = m_left.size();
        return i < l ? m_left.at(i) : m_right.at(m_right.size() - 1 - (i - l));
    }

    void moveCursor(qsizetype pos)
    {
        while (m_left.size() > pos) {
            m_right.append(m_left.back());
            m_left.chop(1);
        }
        while (m_left.size() < pos) {
            m_left.append(m_right.back());
            m_right.chop(1);
        }
    }

    bool matchesAtCursor(const QString &search) const
    {
        const qsizetype m = search.size();
        if (m_right.size() < m)
            return false;
        const qsizetype top = m_right.size() - 1;
        for (qsizetype t = 0; t < m; ++t)
            if (fold(m_right.at(top - t)) != fold(search.at(t)))
                return false;
        return true;
    }

    // Moves the cursor to the first match at or after `from`; false when there is none.
    bool findFrom(qsizetype from, const QString &search)
    {
        moveCursor(from);
        while (m_right.size() >= search.size()) {
            if (matchesAtCursor(search))
                return true;
            m_left.append(m_right.back());
            m_right.chop(1);
        }
        return false;
    }

    // Replaces `length` characters at the cursor; the cursor ends behind the inserted text.
    void replaceAtCursor(qsizetype length, const QString &replacement)
    {
        m_right.chop(length);
        m_left.append(replacement);
    }

    QString toString() const
    {
        QString text = m_left;
        text.reserve(size());
        for (auto it = m_right.crbegin(); it != m_right.crend(); ++it)
            text.append(*it);
        return text;
    }

private:
    QString m_left;
    QString m_right;
};

// Guards against chains that the recognition below misses: far beyond any edit of a statement.
constexpr qsizetype kStepLimit = qsizetype(1) << 25;
constexpr qsizetype kLengthLimit = qsizetype(1) << 25;

// The stretch [a, b) of the text as it was at some moment that the replacements since then have
// touched, with its content of that moment. Text left of `a` is unchanged since then, and text
// right of `b` is unchanged but shifted by `delta`, so the content is kept only for the stretch.
struct TouchedStretch
{
    TouchedStretch(const GapText &text, qsizetype p, qsizetype length)
        : a(p)
        , b(p + length)
    {
        for (qsizetype i = a; i < b; ++i)
            content.append(text.at(i));
    }

    // Called before a replacement of `length` characters at `p` (in today's text).
    void touch(const GapText &text, qsizetype p, qsizetype length)
    {
        if (p < a) {
            QString more;
            for (qsizetype i = p; i < a; ++i)
                more.append(text.at(i));
            content.prepend(more);
            a = p;
        }
        for (qsizetype i = b + delta; i < p + length; ++i, ++b)
            content.append(text.at(i));
    }

    // The character at `i` of the text of that moment, for i in [0, b + the rest).
    QChar then(const GapText &text, qsizetype i) const
    {
        if (i < a)
            return text.at(i);
        if (i < b)
            return content.at(i - a);
        return text.at(i + delta);
    }

    qsizetype a;
    qsizetype b;
    qsizetype delta = 0; // growth of the text since that moment
    QString content;
};

// Recognises a chain that never ends. A snapshot is taken at steps 1, 2, 4, 8, ... of a chain
// (Brent's cycle search); from then on its stretch is what the later matches have touched. A
// match depends only on that stretch and on m-1 characters on either side (nothing to its left
// matches, and it lies left of anything further right). So when the same stretch with the same
// sides turns up again, inside what the stretch has become and with the match at the same place
// in it, the same steps repeat there for ever.
class LoopWatch
{
public:
    LoopWatch(qsizetype floor, qsizetype searchLength)
        : m_floor(floor)
        , m_side(searchLength - 1)
        , m_length(searchLength)
    { }

    // Called before the replacement of every step, the match at the cursor; true when the
    // chain is known never to end.
    bool step(const GapText &text)
    {
        const qsizetype p = text.cursor();
        ++m_steps;
        if (m_snapshot) {
            if (repeats(text, p))
                return true;
            m_snapshot->touch(text, p, m_length);
        }
        if ((m_steps & (m_steps - 1)) == 0) {
            m_snapshot.emplace(text, p, m_length);
            m_snapP = p;
            m_snapSize = text.size();
        }
        return false;
    }

    void replaced(qsizetype growth)
    {
        if (m_snapshot)
            m_snapshot->delta += growth;
    }

private:
    bool repeats(const GapText &text, qsizetype p) const
    {
        const TouchedStretch &s = *m_snapshot;
        const qsizetype a2 = p - (m_snapP - s.a);
        if (a2 < s.a || a2 - s.a > s.delta)
            return false; // the stretch cannot lie inside what it has become
        const qsizetype width = s.b - s.a;
        const qsizetype b2 = a2 + width;
        const qsizetype leftK = s.a - std::max(m_floor, s.a - m_side);
        const qsizetype leftJ = a2 - std::max(m_floor, a2 - m_side);
        const qsizetype rightK = std::min(m_snapSize, s.b + m_side) - s.b;
        const qsizetype rightJ = std::min(text.size(), b2 + m_side) - b2;
        if (leftK != leftJ || rightK != rightJ)
            return false;
        const qsizetype from = s.a - leftK;
        const qsizetype from2 = a2 - leftJ;
        const qsizetype count = leftK + width + rightK;
        for (qsizetype t = 0; t < count; ++t)
            if (fold(s.then(text, from + t)) != fold(text.at(from2 + t)))
                return false;
        return true;
    }

    const qsizetype m_floor;
    const qsizetype m_side;
    const qsizetype m_length;
    qsizetype m_steps = 0;
    std::optional<TouchedStretch> m_snapshot;
    qsizetype m_snapP = 0;
    qsizetype m_snapSize = 0; // the text's length at the snapshot
};

bool containsIgnoringCase(const QString &text, const QString &search)
{
    return findMatch(text, search) >= 0;
}

} // namespace

qsizetype findMatch(const QString &text, const QString &search, qsizetype from)
{
    const qsizetype m = search.size();
    if (m == 0)
        return -1;
    for (qsizetype i = std::max<qsizetype>(from, 0); i + m <= text.size(); ++i) {
        qsizetype t = 0;
        while (t < m && fold(text.at(i + t)) == fold(search.at(t)))
            ++t;
        if (t == m)
            return i;
    }
    return -1;
}

QString replaceFirst(const QString &text, const QString &search, const QString &replacement)
{
    const qsizetype p = findMatch(text, search);
    if (p < 0)
        return text;
    QString result = text;
    result.replace(p, search.size(), replacement);
    return result;
}

QString replaceAll(const QString &text, const QString &search, const QString &replacement)
{
    const qsizetype m = search.size();
    const qsizetype r = replacement.size();
    if (m == 0)
        return text;

    GapText work(text);
    if (containsIgnoringCase(replacement, search)) {
        // Every chain is endless: each match is replaced once, left to right.
        qsizetype from = 0;
        while (work.findFrom(from, search)) {
            work.replaceAtCursor(m, replacement);
            from = work.cursor();
        }
        return work.toString();
    }

    // Matches left of `floor` are no longer searched: they belong to an endless chain that has
    // been cut there.
    qsizetype floor = 0;
    while (work.findFrom(floor, search)) {
        const qsizetype first = work.cursor();
        TouchedStretch chain(work, first, m); // to undo the chain if it does not end
        LoopWatch watch(floor, m);
        bool endless = false;
        qsizetype steps = 0;
        qsizetype p = first;
        do {
            p = work.cursor();
            if (watch.step(work) || ++steps > kStepLimit || work.size() > kLengthLimit) {
                endless = true;
                break;
            }
            chain.touch(work, p, m);
            work.replaceAtCursor(m, replacement);
            chain.delta += r - m;
            watch.replaced(r - m);
            // Nothing left of p matched before, so a new match starts at p-m+1 at the earliest.
        } while (work.findFrom(std::max(floor, p - m + 1), search));
        if (!endless)
            break;
        // Cut the chain: its first replacement stays and the search goes on behind it.
        work.moveCursor(chain.a);
        work.replaceAtCursor(chain.b + chain.delta - chain.a, chain.content);
        work.moveCursor(first);
        work.replaceAtCursor(m, replacement);
        floor = first + r;
    }
    return work.toString();
}

} // namespace ReplaceText
