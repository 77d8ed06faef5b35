#include "sql/SqlMarkers.h"

namespace Sql {

QStringList Markers::bindingOrder() const
{
    QStringList order;
    order.reserve(occurrences.size());
    for (const Marker &marker : occurrences)
        order.append(names.at(marker.value));
    return order;
}

namespace {

bool isMarker(QStringView text, Dialect dialect)
{
    if (text == u"?" || (text.size() > 1 && text.front() == u':'))
        return true;
    return dialect == Dialect::PostgreSql && text.size() > 1 && text.front() == u'$';
}

// Tokens that end right where a ":name" begins make it part of something else: a label
// ("L1:BEGIN") or the second bound of a slice ("a[lo:hi]", "a[1:n]").
bool joinsPrevious(TokenKind kind, QStringView text)
{
    return kind == TokenKind::Word || kind == TokenKind::QuotedName || kind == TokenKind::Number
        || text == u"]";
}

} // namespace

Markers parameterMarkers(QStringView text, Dialect dialect)
{
    Markers markers;
    Lexer lexer(text, dialect);
    Token previous;
    QStringView previousText;
    int brackets = 0; // PostgreSQL array subscripts: a ":name" there is a slice bound
    QString driverText;
    int copied = 0;
    int positional = 0;
    int lastMarker = -1;
    bool markerAfterInParen = false; // the last token was a marker right after "IN ("
    bool beforeParenIsIn = false; // the last "(" followed IN
    for (Token token = lexer.next(); token.kind != TokenKind::End; token = lexer.next()) {
        const QStringView word = lexer.text(token);
        if (token.kind == TokenKind::Operator && dialect == Dialect::PostgreSql) {
            if (word == u"[")
                ++brackets;
            else if (word == u"]" && brackets > 0)
                --brackets;
        }
        const bool marker = token.kind == TokenKind::Parameter && isMarker(word, dialect)
            && !(word.front() == u':'
                && (brackets > 0
                    || (previous.end() == token.start && previous.length > 0
                        && joinsPrevious(previous.kind, previousText))));
        if (marker) {
            QString name = word == u"?" ? QStringLiteral("?%1").arg(++positional) : word.toString();
            int value = word == u"?" ? -1 : int(markers.names.indexOf(name));
            if (value < 0) {
                value = int(markers.names.size());
                markers.names.append(name);
            }
            markers.occurrences.append({ token.start, token.length, value, false });
            lastMarker = int(markers.occurrences.size()) - 1;
            markerAfterInParen = previousText == u"(" && beforeParenIsIn;
            driverText += text.mid(copied, token.start - copied);
            driverText += u'?';
            copied = token.end();
        }
        if (!marker && lastMarker >= 0 && markerAfterInParen) {
            // "IN (:ids)": the marker is the list's only item when ")" follows at once.
            markers.occurrences[lastMarker].inList = word == u")";
            markerAfterInParen = false;
        } else if (!marker) {
            markerAfterInParen = false;
        }
        if (word == u"(")
            beforeParenIsIn = token.kind == TokenKind::Operator && previous.kind == TokenKind::Word
                && previousText.compare(u"IN", Qt::CaseInsensitive) == 0;
        previous = token;
        previousText = word;
    }
    driverText += text.mid(copied);
    markers.driverText = std::move(driverText);
    return markers;
}

QString expandedText(
    QStringView text, const Markers &markers, const QVector<int> &items, QVector<Binding> *bindings)
{
    QString out;
    out.reserve(text.size());
    int copied = 0;
    bindings->clear();
    for (const Marker &marker : markers.occurrences) {
        out += text.mid(copied, marker.start - copied);
        const int count =
            marker.inList && marker.value < items.size() ? qMax(1, items[marker.value]) : 1;
        for (int item = 0; item < count; ++item) {
            out += item == 0 ? QStringLiteral("?") : QStringLiteral(", ?");
            bindings->append({ marker.value, item });
        }
        copied = marker.start + marker.length;
    }
    out += text.mid(copied);
    return out;
}

} // namespace Sql
