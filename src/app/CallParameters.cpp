#include "app/CallParameters.h"

#include "catalog/RoutineParameters.h"
#include "connection/ConnectionHandle.h"

namespace CallParameters {

namespace {

// A name part as the catalog keeps it: a delimited name as written, an ordinary one folded.
QString catalogName(QStringView part, Sql::TokenKind kind, Sql::Dialect dialect)
{
    if (kind == Sql::TokenKind::QuotedName) {
        const QChar close = part.back();
        QString inner = part.mid(1, part.size() - 2).toString();
        if (close == QLatin1Char('"') || close == QLatin1Char('`'))
            inner.replace(QString(2, close), QString(close));
        return inner;
    }
    switch (dialect) {
    case Sql::Dialect::PostgreSql:
        return part.toString().toLower();
    case Sql::Dialect::Db2:
        return Sql::asciiUpper(part.toString());
    default:
        return part.toString();
    }
}

bool isComment(const Sql::Token &token)
{
    return token.kind == Sql::TokenKind::LineComment || token.kind == Sql::TokenKind::BlockComment;
}

} // namespace

Target target(QStringView text, const Sql::Markers &markers, Sql::Dialect dialect)
{
    Sql::Lexer lexer(text, dialect);
    const auto next = [&lexer] {
        Sql::Token token = lexer.next();
        while (isComment(token))
            token = lexer.next();
        return token;
    };
    Sql::Token token = next();
    if (lexer.text(token) == u"{")
        token = next();
    if (token.kind != Sql::TokenKind::Word
        || lexer.text(token).compare(u"call", Qt::CaseInsensitive) != 0)
        return {};
    QStringList parts;
    for (token = next();; token = next()) {
        if (token.kind != Sql::TokenKind::Word && token.kind != Sql::TokenKind::QuotedName)
            return {};
        parts << catalogName(lexer.text(token), token.kind, dialect);
        token = next();
        if (lexer.text(token) != u".")
            break;
    }
    Target target;
    target.name = parts.takeLast();
    target.schema = parts.isEmpty() ? QString() : parts.takeLast();
    target.arguments.fill(-1, markers.occurrences.size());
    if (lexer.text(token) != u"(")
        return target; // no arguments: no marker is one
    int depth = 1;
    int argument = 0;
    int tokensInArgument = 0;
    int loneMarker = -1; // the occurrence that is the argument's first token, if a marker
    const auto endArgument = [&] {
        if (tokensInArgument == 1 && loneMarker >= 0)
            target.arguments[loneMarker] = argument;
        ++argument;
        tokensInArgument = 0;
        loneMarker = -1;
    };
    for (token = next(); token.kind != Sql::TokenKind::End; token = next()) {
        const QStringView word = lexer.text(token);
        if (depth == 1 && (word == u"," || word == u")")) {
            if (word == u")" && argument == 0 && tokensInArgument == 0)
                break; // "proc()": no argument
            endArgument();
            if (word == u")")
                break;
            continue;
        }
        if (word == u"(")
            ++depth;
        else if (word == u")")
            --depth;
        if (depth == 1 && tokensInArgument == 0)
            for (int i = 0; i < markers.occurrences.size(); ++i)
                if (markers.occurrences.at(i).start == token.start)
                    loneMarker = i;
        ++tokensInArgument;
    }
    target.argumentCount = argument;
    return target;
}

QVector<ParameterDirection> directions(
    const Target &target, const Sql::Markers &markers, const QVector<ProcedureParameter> &declared)
{
    QVector<ParameterDirection> directions(markers.names.size(), ParameterDirection::In);
    QVector<bool> seen(markers.names.size(), false);
    for (int i = 0; i < markers.occurrences.size(); ++i) {
        const int value = markers.occurrences.at(i).value;
        if (seen[value])
            continue;
        seen[value] = true;
        const int argument = target.arguments.value(i, -1);
        if (argument >= 0 && argument < declared.size())
            directions[value] = declared.at(argument).direction;
    }
    return directions;
}

} // namespace CallParameters

QVector<ProcedureParameter> callParameters(ConnectionHandle &connection, const QString &driver,
    const QString &schema, const QString &name, int argumentCount)
{
    connection.acquire();
    QVector<ProcedureParameter> parameters;
    try {
        parameters = Catalog::callParameters(connection, driver, schema, name, argumentCount);
    } catch (...) {
        connection.release();
        throw;
    }
    connection.release();
    return parameters;
}
