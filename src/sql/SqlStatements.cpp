#include "sql/SqlStatements.h"

#include "sql/SqlLexer.h"

#include <algorithm>

namespace Sql {

namespace {

bool isWord(QStringView word, QStringView keyword)
{
    return word.compare(keyword, Qt::CaseInsensitive) == 0;
}

StatementKind kindOf(QStringView keyword)
{
    struct Entry
    {
        const char16_t *word;
        StatementKind kind;
    };
    static const Entry table[] = {
        { u"SELECT", StatementKind::Query },
        { u"WITH", StatementKind::Query },
        { u"VALUES", StatementKind::Query },
        { u"INSERT", StatementKind::Change },
        { u"UPDATE", StatementKind::Change },
        { u"DELETE", StatementKind::Change },
        { u"MERGE", StatementKind::Change },
        { u"TRUNCATE", StatementKind::Change },
        { u"CREATE", StatementKind::Definition },
        { u"ALTER", StatementKind::Definition },
        { u"DROP", StatementKind::Definition },
        { u"RENAME", StatementKind::Definition },
        { u"COMMENT", StatementKind::Definition },
        { u"GRANT", StatementKind::Definition },
        { u"REVOKE", StatementKind::Definition },
        { u"CALL", StatementKind::Call },
    };
    for (const Entry &entry : table) {
        if (isWord(keyword, QStringView(entry.word)))
            return entry.kind;
    }
    return StatementKind::Other;
}

bool isSignificant(TokenKind kind)
{
    return kind != TokenKind::LineComment && kind != TokenKind::BlockComment;
}

// What the splitter learns of one statement while its tokens go by.
struct Builder
{
    Statement statement;
    bool started = false;
    bool kindKnown = false;
    bool filterable = false; // an UPDATE or a DELETE: a WHERE at depth 0 matters
    bool filtered = false;
    int depth = 0;

    void take(const Token &token, QStringView text)
    {
        if (!started) {
            started = true;
            statement.begin = token.start;
        }
        statement.end = token.end();
        if (token.kind == TokenKind::Operator && token.length == 1) {
            if (text[token.start] == u'(')
                ++depth;
            else if (text[token.start] == u')' && depth > 0)
                --depth;
            return;
        }
        if (token.kind != TokenKind::Word)
            return;
        const QStringView word = text.mid(token.start, token.length);
        if (!kindKnown) {
            kindKnown = true;
            statement.kind = kindOf(word);
            filterable = isWord(word, u"UPDATE") || isWord(word, u"DELETE");
        } else if (filterable && depth == 0 && isWord(word, u"WHERE")) {
            filtered = true;
        }
    }
};

} // namespace

QVector<Statement> splitStatements(QStringView text)
{
    QVector<Statement> statements;
    Lexer lexer(text);
    Builder current;
    int from = 0;
    int line = 1;
    int counted = 0; // the offset up to which newlines are counted into line

    const auto lineAt = [&](int offset) {
        line += int(std::count(text.begin() + counted, text.begin() + offset, u'\n'));
        counted = offset;
        return line;
    };
    const auto close = [&](int to) {
        if (current.started) {
            Statement statement = current.statement;
            statement.from = from;
            statement.to = to;
            statement.unfiltered = current.filterable && !current.filtered;
            statement.line = lineAt(statement.begin);
            statements.append(statement);
        } else if (!statements.isEmpty()) {
            statements.last().to = to; // an empty piece belongs to the statement before it
        } else {
            return; // an empty piece at the start belongs to the first statement
        }
        from = to;
        current = Builder();
    };

    for (Token token = lexer.next(); token.kind != TokenKind::End; token = lexer.next()) {
        if (token.kind == TokenKind::Terminator)
            close(token.end());
        else if (isSignificant(token.kind))
            current.take(token, text);
    }
    close(int(text.size()));
    return statements;
}

int statementAt(QStringView text, const QVector<Statement> &statements, int offset)
{
    for (int i = 0; i < statements.size(); ++i) {
        const Statement &statement = statements[i];
        if (offset >= statement.to && i + 1 < statements.size())
            continue;
        if (offset < statement.from || offset > statement.to)
            return -1;
        // A cursor just after a terminator, on the line where that statement ends, means the
        // statement before it (as after typing "select 1;").
        if (i > 0 && offset < statement.begin) {
            const int previousEnd = statements[i - 1].end;
            if (!text.mid(previousEnd, offset - previousEnd).contains(u'\n'))
                return i - 1;
        }
        return i;
    }
    return -1;
}

namespace {

QString identifier(QStringView text, const Token &token)
{
    const QStringView raw = text.mid(token.start, token.length);
    if (token.kind == TokenKind::QuotedName) {
        QString name =
            raw.mid(1, raw.size() >= 2 && raw.endsWith(u'"') ? raw.size() - 2 : -1).toString();
        return name.replace(QStringLiteral("\"\""), QStringLiteral("\""));
    }
    return asciiUpper(raw.toString());
}

bool isName(TokenKind kind)
{
    return kind == TokenKind::Word || kind == TokenKind::QuotedName;
}

} // namespace

QVector<QualifiedName> qualifiedNames(QStringView text, int from, int to)
{
    if (to < 0 || to > text.size())
        to = int(text.size());
    QVector<QualifiedName> names;
    // The lexer starts at the beginning so that a terminator set earlier in the text is known.
    Lexer lexer(text);
    Token previous[2]; // the two significant tokens before the current one
    for (Token token = lexer.next(); token.kind != TokenKind::End && token.start < to;
         token = lexer.next()) {
        if (!isSignificant(token.kind))
            continue;
        const Token &dot = previous[1];
        const Token &schema = previous[0];
        if (isName(token.kind) && dot.kind == TokenKind::Operator && dot.length == 1
            && text[dot.start] == u'.' && isName(schema.kind) && schema.start >= from) {
            names.append({ identifier(text, schema), identifier(text, token), schema.start });
        }
        previous[0] = previous[1];
        previous[1] = token;
    }
    return names;
}

QString kindName(StatementKind kind)
{
    switch (kind) {
    case StatementKind::Query:
        return QStringLiteral("query");
    case StatementKind::Change:
        return QStringLiteral("change");
    case StatementKind::Definition:
        return QStringLiteral("definition");
    case StatementKind::Call:
        return QStringLiteral("call");
    case StatementKind::Other:
        break;
    }
    return QStringLiteral("other");
}

} // namespace Sql
