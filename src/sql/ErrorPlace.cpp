#include "sql/ErrorPlace.h"

#include "sql/SqlLexer.h"
#include "sql/SqlMarkers.h"

#include <QRegularExpression>

namespace Sql {

namespace {

// The first token at or after `from` whose text is `token` (words compared without case).
// When count is given, every occurrence is counted and the first one returned.
int findToken(
    QStringView statement, QStringView token, int from, Dialect dialect, int *count = nullptr)
{
    Lexer lexer(statement, dialect);
    int found = -1;
    for (Token t = lexer.next(); t.kind != TokenKind::End; t = lexer.next()) {
        if (t.start < from || t.kind == TokenKind::LineComment || t.kind == TokenKind::BlockComment)
            continue;
        const QStringView text = lexer.text(t);
        const Qt::CaseSensitivity cs =
            t.kind == TokenKind::Word ? Qt::CaseInsensitive : Qt::CaseSensitive;
        if (text.compare(token, cs) == 0) {
            if (found < 0)
                found = t.start;
            if (!count)
                return found;
            ++*count;
        }
    }
    return found;
}

// The end of the statement's last token: where "at end of input" points.
int endOfInput(QStringView statement, Dialect dialect)
{
    Lexer lexer(statement, dialect);
    int end = 0;
    for (Token t = lexer.next(); t.kind != TokenKind::End; t = lexer.next()) {
        if (t.kind != TokenKind::LineComment && t.kind != TokenKind::BlockComment)
            end = t.end();
    }
    return end;
}

} // namespace

int errorPlace(QStringView statement, QStringView message, Dialect dialect, bool *ambiguous)
{
    if (ambiguous)
        *ambiguous = false;
    const QString text = message.toString();
    static const QRegularExpression position(QStringLiteral("(?:Position: |at character )(\\d+)"));
    if (const auto match = position.match(text); match.hasMatch()) {
        // The driver counted in the text it was sent, where each marker was a "?".
        int at = match.captured(1).toInt() - 1;
        if (at < 0)
            return -1;
        int shift = 0; // how much longer the statement is than the driver's text so far
        for (const Marker &marker : parameterMarkers(statement, dialect).occurrences) {
            const int sentAt = marker.start - shift;
            if (at < sentAt)
                break;
            if (at == sentAt) {
                shift = marker.start - at;
                break;
            }
            shift += marker.length - 1;
        }
        at += shift;
        return at <= statement.size() ? at : -1;
    }
    static const QRegularExpression db2(
        QStringLiteral("unexpected token \"(.*?)\" was found following \"(.*?)\""));
    if (const auto match = db2.match(text); match.hasMatch()) {
        // DB2 names the text just before the token; the token is looked for after it.
        const QString before = match.captured(2);
        const int after = before.isEmpty() ? 0 : int(statement.indexOf(before));
        const int from = after < 0 ? 0 : after + int(before.size());
        const int found = findToken(statement, match.captured(1), from, dialect);
        return found >= 0 ? found : findToken(statement, match.captured(1), 0, dialect);
    }
    if (text.contains(QStringLiteral("at end of input")))
        return endOfInput(statement, dialect);
    static const QRegularExpression near(QStringLiteral("near \"(.*?)\""));
    if (const auto match = near.match(text); match.hasMatch()) {
        // The message names the token but not which one: only a token that occurs once is sure.
        int count = 0;
        const int found = findToken(statement, match.captured(1), 0, dialect, &count);
        if (count > 1) {
            if (ambiguous)
                *ambiguous = true;
            return -1;
        }
        return found;
    }
    return -1;
}

} // namespace Sql
