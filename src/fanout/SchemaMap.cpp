#include "fanout/SchemaMap.h"

#include <QRegularExpression>

#include <vector>

namespace {

bool isComment(Sql::TokenKind kind)
{
    return kind == Sql::TokenKind::LineComment || kind == Sql::TokenKind::BlockComment;
}

// A name token as the database reads it: an ordinary identifier folded to upper case, a
// delimited one without its quotes, exactly. Empty for a token that is no name.
QString nameOf(const Sql::Lexer &lexer, const Sql::Token &token, bool &delimited)
{
    const QStringView text = lexer.text(token);
    delimited = token.kind == Sql::TokenKind::QuotedName;
    if (token.kind == Sql::TokenKind::Word)
        return Sql::asciiUpper(text.toString());
    if (delimited && text.size() >= 2) {
        const QChar close = text.back();
        return text.mid(1, text.size() - 2).toString().replace(QString(2, close), QString(close));
    }
    return QString();
}

} // namespace

SchemaMap::SchemaMap(QList<QStringList> rows, AliasOf aliasOf)
    : m_aliasOf(std::move(aliasOf))
{
    for (QStringList &row : rows) {
        for (QString &name : row)
            name = Sql::asciiUpper(name.trimmed());
        row.removeAll(QString());
        if (!row.isEmpty())
            m_rows.append(row);
    }
}

QList<QStringList> SchemaMap::parseRows(const QStringList &stored)
{
    QList<QStringList> rows;
    for (const QString &entry : stored) {
        for (const QString &row : entry.split(QRegularExpression(QStringLiteral("[;\\r\\n]+")))) {
            const QStringList names =
                row.split(QRegularExpression(QStringLiteral("[,\\s]+")), Qt::SkipEmptyParts);
            if (!names.isEmpty())
                rows.append(names);
        }
    }
    return rows;
}

int SchemaMap::rowOf(const QString &upperName) const
{
    for (int r = 0; r < m_rows.size(); ++r) {
        if (m_rows[r].contains(upperName))
            return r;
    }
    return -1;
}

SchemaMap::Rewrite SchemaMap::forAlias(
    const QString &text, const QString &alias, Sql::Dialect dialect) const
{
    const QString target = Sql::asciiUpper(alias.trimmed());
    struct Change
    {
        int start;
        int length;
        QString name;
    };
    std::vector<Change> changes;
    Rewrite result;

    Sql::Lexer lexer(text, dialect);
    Sql::Token previous; // the last token that is no comment
    Sql::Token beforePrevious;
    for (Sql::Token token = lexer.next(); token.kind != Sql::TokenKind::End; token = lexer.next()) {
        if (isComment(token.kind))
            continue;
        // NAME . <name>: NAME qualifies something. A name before it (A.NAME.X) makes NAME a
        // schema of a catalog, which is qualified too and handled the same way.
        const bool dotBefore =
            previous.kind == Sql::TokenKind::Operator && lexer.text(previous) == u".";
        if (dotBefore
            && (token.kind == Sql::TokenKind::Word || token.kind == Sql::TokenKind::QuotedName)) {
            bool delimited = false;
            const QString schema = nameOf(lexer, beforePrevious, delimited);
            if (!schema.isEmpty()) {
                const int row = rowOf(schema);
                const QString owner = m_aliasOf ? Sql::asciiUpper(m_aliasOf(schema)) : QString();
                QString wanted = schema;
                if (row >= 0) {
                    wanted.clear();
                    for (const QString &name : m_rows[row]) {
                        if (name == schema && owner == target) {
                            wanted = name;
                            break;
                        }
                        if (m_aliasOf && Sql::asciiUpper(m_aliasOf(name)) == target)
                            wanted = name;
                    }
                } else if (!owner.isEmpty() && owner != target) {
                    wanted.clear(); // a schema of another database with no row to follow
                }
                if (wanted.isEmpty()) {
                    result.skipped = QStringLiteral("%1 has no equivalent on %2 in the schema map")
                                         .arg(schema, target);
                    return result;
                }
                if (wanted != schema) {
                    changes.push_back({ beforePrevious.start, beforePrevious.length,
                        delimited ? QLatin1Char('"') + wanted + QLatin1Char('"') : wanted });
                }
            }
        }
        beforePrevious = previous;
        previous = token;
    }
    result.text = text;
    for (auto change = changes.rbegin(); change != changes.rend(); ++change)
        result.text.replace(change->start, change->length, change->name);
    return result;
}
