#include "catalog/Completion.h"

#include "sql/SqlStatements.h"
#include "sql/SqlWords.h"

#include <QSet>

#include <algorithm>

namespace Catalog {

namespace {

using Sql::Token;
using Sql::TokenKind;

bool isName(TokenKind kind)
{
    return kind == TokenKind::Word || kind == TokenKind::QuotedName;
}

bool isOperator(QStringView text, const Token &token, char16_t c)
{
    return token.kind == TokenKind::Operator && token.length == 1 && text[token.start] == c;
}

// A name as written: a quoted one without its quotes (and with doubled quotes single), an
// ordinary one as typed, since the snapshot compares without case.
QString nameText(QStringView raw)
{
    if (raw.isEmpty())
        return QString();
    const char16_t open = raw[0].unicode();
    const char16_t close = open == u'[' ? u']' : open;
    if (open != u'"' && open != u'`' && open != u'[')
        return raw.toString();
    QStringView body = raw.mid(1);
    if (!body.isEmpty() && body.back() == close)
        body.chop(1);
    QString name = body.toString();
    if (open != u'[')
        name.replace(QString(2, QChar(close)), QString(QChar(close)));
    return name;
}

bool sameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

enum class Clause : unsigned char {
    None,
    Select, // the select list
    From, // FROM, JOIN, UPDATE, INTO, TABLE, USING: table names and their correlation names
    Columns, // WHERE, ON, HAVING, GROUP BY, ORDER BY, SET, WHEN: expressions over columns
    IntoColumns, // the column list of INSERT INTO t (...)
    Other, // VALUES, LIMIT, a definition's body, ...
};

// What one word does to the clause a level of parentheses is in.
struct Level
{
    Clause clause = Clause::None;
    bool expectTable = false; // a table name comes next
};

bool keywordIs(QStringView word, const char *keyword)
{
    return word.compare(QLatin1String(keyword), Qt::CaseInsensitive) == 0;
}

// Words that end a table reference: what follows a table name when no correlation name does.
bool endsTableReference(QStringView word)
{
    static const QSet<QString> words = [] {
        QSet<QString> set;
        for (const char *w :
            { "WHERE", "JOIN", "INNER", "LEFT", "RIGHT", "FULL", "CROSS", "NATURAL", "ON", "USING",
                "GROUP", "ORDER", "HAVING", "UNION", "EXCEPT", "INTERSECT", "MINUS", "SET",
                "VALUES", "LIMIT", "FETCH", "OFFSET", "FOR", "WITH", "SELECT", "WINDOW",
                "RETURNING", "DEFAULT", "OUTER", "LATERAL", "OPTIMIZE", "WHEN", "THEN", "DO",
                "INTO", "FROM", "AS", "AND", "OR", "NOT", "IN", "LIKE", "IS", "BETWEEN" })
            set.insert(QLatin1String(w));
        return set;
    }();
    return words.contains(Sql::asciiUpper(word.toString()));
}

// Feeds one word to the level; true when the word was a keyword that set the clause.
bool applyKeyword(Level &level, QStringView word)
{
    const auto set = [&](Clause clause, bool table) {
        level.clause = clause;
        level.expectTable = table;
        return true;
    };
    if (keywordIs(word, "SELECT"))
        return set(Clause::Select, false);
    for (const char *table : { "FROM", "JOIN", "INTO", "UPDATE", "TABLE", "USING" })
        if (keywordIs(word, table))
            return set(Clause::From, true);
    for (const char *columns : { "WHERE", "ON", "HAVING", "BY", "SET", "WHEN" })
        if (keywordIs(word, columns))
            return set(Clause::Columns, false);
    for (const char *other : { "VALUES", "LIMIT", "FETCH", "OFFSET", "GROUP", "ORDER" })
        if (keywordIs(word, other))
            return set(Clause::Other, false);
    return false;
}

const QStringList &keywordList(Sql::Dialect dialect)
{
    return Sql::completionKeywords(dialect);
}

bool isKeyword(QStringView word, Sql::Dialect dialect)
{
    const QStringList &list = keywordList(dialect);
    const QString upper = Sql::asciiUpper(word.toString());
    return std::binary_search(list.cbegin(), list.cend(), upper);
}

QString defaultSchema(Sql::Dialect dialect)
{
    switch (dialect) {
    case Sql::Dialect::PostgreSql:
        return QStringLiteral("public");
    case Sql::Dialect::Sqlite:
        return QStringLiteral("main");
    default:
        return QString(); // DB2: the user's own, which the routing needs spelled out
    }
}

// The significant tokens of text[from, to) (comments left out), at their offsets in text.
QVector<Token> tokensOf(QStringView text, int from, int to, Sql::Dialect dialect,
    Sql::Carry *carry = nullptr, Token *last = nullptr)
{
    QVector<Token> tokens;
    const QStringView piece = text.mid(from, to - from);
    Sql::Lexer lexer(piece, dialect);
    for (Token token = lexer.next(); token.kind != TokenKind::End; token = lexer.next()) {
        token.start += from;
        if (last)
            *last = token;
        if (token.kind != TokenKind::LineComment && token.kind != TokenKind::BlockComment)
            tokens.append(token);
    }
    if (carry)
        *carry = lexer.carry();
    return tokens;
}

// The table references of a statement's tokens (the word at skipAt left out: it is being typed).
QVector<TableRef> tableRefs(QStringView text, const QVector<Token> &tokens, int skipAt)
{
    QVector<TableRef> refs;
    QVector<Level> levels(1);
    const auto raw = [&](int i) { return text.mid(tokens[i].start, tokens[i].length); };
    for (int i = 0; i < tokens.size(); ++i) {
        const Token &token = tokens[i];
        Level &level = levels.back();
        if (token.kind == TokenKind::Terminator) {
            levels = QVector<Level>(1);
        } else if (isOperator(text, token, u'(')) {
            Level inner;
            inner.clause = level.clause == Clause::From ? Clause::None : level.clause;
            levels.append(inner);
        } else if (isOperator(text, token, u')')) {
            if (levels.size() > 1)
                levels.removeLast();
        } else if (isOperator(text, token, u',')) {
            level.expectTable = level.clause == Clause::From;
        } else if (token.kind == TokenKind::Word && applyKeyword(level, raw(i))) {
        } else if (isName(token.kind) && level.expectTable) {
            level.expectTable = false;
            QStringList parts { nameText(raw(i)) };
            bool typed = token.start == skipAt;
            while (i + 2 < tokens.size() && isOperator(text, tokens[i + 1], u'.')
                && isName(tokens[i + 2].kind)) {
                i += 2;
                parts << nameText(raw(i));
                typed = typed || tokens[i].start == skipAt;
            }
            TableRef ref;
            ref.name = parts.last();
            if (parts.size() > 1)
                ref.schema = parts[parts.size() - 2];
            int next = i + 1;
            if (next < tokens.size() && tokens[next].kind == TokenKind::Word
                && keywordIs(raw(next), "AS"))
                ++next;
            if (next < tokens.size() && isName(tokens[next].kind) && tokens[next].start != skipAt
                && !(tokens[next].kind == TokenKind::Word && endsTableReference(raw(next)))) {
                ref.correlation = nameText(raw(next));
                i = next;
            }
            if (!typed)
                refs.append(ref);
        }
    }
    return refs;
}

QString caseLike(const QString &word, const QString &typed)
{
    // A keyword follows the case of what was typed of it.
    for (QChar c : typed)
        if (c.isUpper())
            return word;
    return typed.isEmpty() ? word : word.toLower();
}

QString forcedQuote(const QString &name);

// A correlation or table name as the statement wrote it: quoted only when it must be.
QString asWritten(const QString &name)
{
    return quoteName(name, Sql::Dialect::Sqlite);
}

QString forcedQuote(const QString &name)
{
    QString body = name;
    body.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + body + QLatin1Char('"');
}

class Builder
{
public:
    Builder(
        const CompletionContext &context, const Snapshot *snapshot, Sql::Dialect dialect, int limit)
        : m_context(context)
        , m_snapshot(snapshot)
        , m_dialect(dialect)
        , m_limit(limit)
    { }

    Completion result;

    bool matches(const QString &name) const
    {
        return name.startsWith(m_context.prefix, Qt::CaseInsensitive);
    }
    QString quoted(const QString &name) const
    {
        return m_context.quoted ? forcedQuote(name) : quoteName(name, m_dialect);
    }

    void schemas(const QVector<SchemaEntry> &entries)
    {
        int count = 0;
        for (const SchemaEntry &entry : entries) {
            if (!matches(entry.name) || entry.name.isEmpty())
                continue;
            const QString detail = entry.routesTo.isEmpty()
                ? QStringLiteral("schema")
                : QStringLiteral("schema, %1").arg(entry.routesTo);
            add(Candidate::Kind::Schema, entry.name, detail, quoted(entry.name) + QLatin1Char('.'));
            if (++count == m_limit)
                break;
        }
    }

    void objects(const QString &schema)
    {
        if (!m_snapshot)
            return;
        const QString home = defaultSchema(m_dialect);
        for (const Object *object : m_snapshot->objects(schema, m_context.prefix, m_limit)) {
            if (object->kind == Kind::Routine)
                continue;
            QString insert = quoted(object->name);
            // Unqualified after FROM: the schema goes in unless the dialect finds it alone.
            if (schema.isEmpty() && !object->schema.isEmpty()
                && (home.isEmpty() || !sameName(object->schema, home)
                    || m_snapshot->named(object->name).size() > 1))
                insert = quoteName(object->schema, m_dialect) + QLatin1Char('.') + insert;
            const QString detail = schema.isEmpty()
                ? QStringLiteral("%1 in %2").arg(kindName(object->kind), object->schema)
                : kindName(object->kind);
            add(Candidate::Kind::Object, object->name, detail, insert);
        }
    }

    // The columns of the tables, each qualified by its table when another table has one of
    // that name too.
    void columns(const QVector<TableRef> &refs, bool qualifyAlways = false)
    {
        if (!m_snapshot)
            return;
        QVector<QPair<const TableRef *, const QVector<Column> *>> found;
        QHash<QString, int> seen;
        for (const TableRef &ref : refs) {
            const Object *object = resolveTable(*m_snapshot, ref, m_dialect);
            if (!object)
                continue;
            const QVector<Column> *columns = m_snapshot->columns(object->schema, object->name);
            if (!columns) {
                if (!result.missingColumns.contains(object))
                    result.missingColumns.append(object);
                continue;
            }
            found.append({ &ref, columns });
            for (const Column &column : *columns)
                ++seen[Sql::asciiUpper(column.name)];
        }
        int count = 0;
        for (const auto &[ref, columns] : found) {
            const QString owner = ref->correlation.isEmpty() ? ref->name : ref->correlation;
            for (const Column &column : *columns) {
                if (!matches(column.name))
                    continue;
                QString insert = quoted(column.name);
                if (qualifyAlways
                    || (found.size() > 1 && seen.value(Sql::asciiUpper(column.name)) > 1))
                    insert = asWritten(owner) + QLatin1Char('.') + insert;
                QString detail = typeText(column);
                if (column.keySeq > 0)
                    detail += QStringLiteral(", key");
                if (found.size() > 1)
                    detail += QStringLiteral(", ") + owner;
                add(Candidate::Kind::Column, column.name, detail, insert);
                if (++count == m_limit)
                    return;
            }
        }
    }

    void correlations(const QVector<TableRef> &refs)
    {
        for (const TableRef &ref : refs) {
            if (!ref.correlation.isEmpty() && matches(ref.correlation))
                add(Candidate::Kind::Correlation, ref.correlation, ref.name,
                    asWritten(ref.correlation) + QLatin1Char('.'));
        }
    }

    void keywords()
    {
        if (m_context.quoted)
            return;
        const QStringList &list = keywordList(m_dialect);
        auto at = std::lower_bound(list.cbegin(), list.cend(), Sql::asciiUpper(m_context.prefix));
        for (; at != list.cend() && matches(*at); ++at)
            add(Candidate::Kind::Keyword, *at, QStringLiteral("keyword"),
                caseLike(*at, m_context.prefix));
    }

    void starColumns(const QVector<TableRef> &refs, bool qualified)
    {
        if (!m_snapshot)
            return;
        const CompletionContext everything = [&] {
            CompletionContext all = m_context;
            all.prefix.clear();
            all.quoted = false;
            return all;
        }();
        Builder inner(everything, m_snapshot, m_dialect, 1 << 30);
        inner.columns(refs, qualified || refs.size() > 1);
        result.missingColumns = inner.result.missingColumns;
        if (!result.missingColumns.isEmpty() || inner.result.candidates.isEmpty())
            return;
        QStringList names;
        for (const Candidate &column : inner.result.candidates)
            names << column.insert;
        add(Candidate::Kind::ColumnList, QStringLiteral("%1 columns").arg(names.size()),
            QStringLiteral("in place of *"), names.join(QStringLiteral(", ")));
    }

private:
    void add(
        Candidate::Kind kind, const QString &label, const QString &detail, const QString &insert)
    {
        result.candidates.append({ kind, label, detail, insert });
    }

    const CompletionContext &m_context;
    const Snapshot *m_snapshot;
    Sql::Dialect m_dialect;
    int m_limit;
};

// The statement's reference the qualifier names: its correlation name, else its table name.
const TableRef *refNamed(const CompletionContext &context)
{
    for (const TableRef &ref : context.tables)
        if (!ref.correlation.isEmpty() && sameName(ref.correlation, context.qualifier))
            return &ref;
    for (const TableRef &ref : context.tables)
        if (sameName(ref.name, context.qualifier)
            && (context.qualifierSchema.isEmpty() || sameName(ref.schema, context.qualifierSchema)))
            return &ref;
    return nullptr;
}

bool hasSchema(const Snapshot *snapshot, const QString &schema)
{
    if (!snapshot)
        return false;
    const QStringList &schemas = snapshot->schemas();
    return std::any_of(
        schemas.cbegin(), schemas.cend(), [&](const QString &s) { return sameName(s, schema); });
}

} // namespace

CompletionContext completionContext(QStringView text, int cursor, Sql::Dialect dialect)
{
    CompletionContext context;
    cursor = std::clamp(cursor, 0, int(text.size()));
    context.from = context.to = cursor;
    const QVector<Sql::Statement> statements = Sql::splitStatements(text, dialect);
    const int index = Sql::statementAt(text, statements, cursor);
    context.statementFrom = index < 0 ? 0 : statements[index].from;
    context.statementTo = index < 0 ? int(text.size()) : std::max(statements[index].to, cursor);
    if (index >= 0 && cursor > statements[index].to)
        context.statementFrom = statements[index].to; // after the last statement's terminator

    // What stands before the cursor, and whether the cursor is inside a string or comment.
    Sql::Carry carry;
    Token last;
    QVector<Token> before = tokensOf(text, context.statementFrom, cursor, dialect, &carry, &last);
    if (last.kind == TokenKind::LineComment && last.end() == cursor && cursor > last.start)
        return context;
    const bool openName = carry.kind == Sql::Carry::QuotedName
        || carry.kind == Sql::Carry::BracketName || carry.kind == Sql::Carry::BacktickName;
    if (carry.isOpen() && !openName)
        return context;

    int wordAt = -1;
    if (!before.isEmpty() && before.back().end() == cursor
        && (before.back().kind == TokenKind::Word || openName)) {
        const Token word = before.takeLast();
        wordAt = word.start;
        context.from = word.start;
        context.quoted = openName;
        context.prefix = nameText(text.mid(word.start, word.length));
    }
    const QVector<Token> all = tokensOf(text, context.statementFrom, context.statementTo, dialect);
    for (const Token &token : all) {
        if (token.start < cursor && token.end() > cursor && token.kind == TokenKind::Word
            && wordAt >= 0)
            context.to = token.end(); // the rest of the word goes too
    }
    context.tables = tableRefs(text, all, wordAt);

    const auto raw = [&](const Token &token) { return text.mid(token.start, token.length); };
    const auto adjacent = [](const Token &a, const Token &b) { return a.end() == b.start; };
    // "q." or "s.q." right before the word.
    int end = int(before.size());
    const int wordStart = context.from;
    if (end >= 2 && isOperator(text, before[end - 1], u'.') && before[end - 1].end() == wordStart
        && isName(before[end - 2].kind) && adjacent(before[end - 2], before[end - 1])) {
        context.qualifier = nameText(raw(before[end - 2]));
        end -= 2;
        if (end >= 2 && isOperator(text, before[end - 1], u'.')
            && adjacent(before[end - 1], before[end]) && isName(before[end - 2].kind)) {
            context.qualifierSchema = nameText(raw(before[end - 2]));
            end -= 2;
        }
    }
    // "*" or "q.*" right before the cursor.
    if (context.prefix.isEmpty() && !context.quoted && end >= 1 && context.qualifier.isEmpty()
        && isOperator(text, before[end - 1], u'*') && before[end - 1].end() == cursor) {
        const int star = end - 1;
        if (star >= 2 && isOperator(text, before[star - 1], u'.')
            && isName(before[star - 2].kind)) {
            context.qualifier = nameText(raw(before[star - 2]));
            context.from = before[star - 2].start;
        } else {
            context.from = before[star].start;
        }
        const Token *previous = star >= 1 ? &before[star - 1] : nullptr;
        if (!context.qualifier.isEmpty() || !previous || isOperator(text, *previous, u',')
            || (previous->kind == TokenKind::Word
                && (keywordIs(raw(*previous), "SELECT") || keywordIs(raw(*previous), "DISTINCT")
                    || keywordIs(raw(*previous), "ALL")))) {
            context.want = CompletionContext::Want::StarColumns;
            return context;
        }
        context.from = cursor;
        context.qualifier.clear();
    }

    // The clause at the cursor's level of parentheses.
    QVector<Level> levels(1);
    const Token *previous = nullptr;
    for (int i = 0; i < end; ++i) {
        const Token &token = before[i];
        Level &level = levels.back();
        if (token.kind == TokenKind::Terminator) {
            levels = QVector<Level>(1);
            previous = nullptr;
            continue;
        }
        if (isOperator(text, token, u'(')) {
            Level inner;
            if (level.clause == Clause::From && previous && isName(previous->kind))
                inner.clause = Clause::IntoColumns; // INSERT INTO t (a, b)
            else if (level.clause != Clause::From)
                inner.clause = level.clause;
            levels.append(inner);
        } else if (isOperator(text, token, u')')) {
            if (levels.size() > 1)
                levels.removeLast();
        } else if (isOperator(text, token, u',')) {
            level.expectTable = level.clause == Clause::From;
        } else if (token.kind == TokenKind::Word && applyKeyword(level, raw(token))) {
        } else if (isName(token.kind)) {
            level.expectTable = false;
        }
        previous = &token;
    }
    const Level &level = levels.back();
    using Want = CompletionContext::Want;
    if (!context.qualifier.isEmpty()) {
        context.want = level.expectTable ? Want::Objects : Want::Columns;
    } else if (level.expectTable) {
        context.want = Want::Objects;
    } else if (level.clause == Clause::Select || level.clause == Clause::Columns
        || level.clause == Clause::IntoColumns) {
        // After an operand comes a keyword or an operator; after a keyword or operator, a column.
        const bool operand = previous
            && ((isName(previous->kind)
                    && !(previous->kind == TokenKind::Word && isKeyword(raw(*previous), dialect)))
                || previous->kind == TokenKind::Number || previous->kind == TokenKind::String
                || isOperator(text, *previous, u')'));
        context.want = operand ? Want::Keywords : Want::Columns;
    } else {
        context.want = Want::Keywords;
    }
    return context;
}

QVector<TableRef> statementTables(QStringView text, Sql::Dialect dialect)
{
    return tableRefs(text, tokensOf(text, 0, int(text.size()), dialect), -1);
}

const Object *resolveTable(const Snapshot &snapshot, const TableRef &table, Sql::Dialect dialect)
{
    if (!table.schema.isEmpty())
        return snapshot.find(table.schema, table.name);
    const QVector<const Object *> named = snapshot.named(table.name);
    if (named.isEmpty())
        return nullptr;
    const QString home = defaultSchema(dialect);
    for (const Object *object : named)
        if (object->schema.isEmpty() || (!home.isEmpty() && sameName(object->schema, home)))
            return object;
    return named.first();
}

Completion complete(const CompletionContext &context, const Snapshot *snapshot,
    Sql::Dialect dialect, const QVector<SchemaEntry> &schemas, int limit)
{
    using Want = CompletionContext::Want;
    Builder builder(context, snapshot, dialect, limit);
    const auto ownSchemas = [&] {
        if (!schemas.isEmpty() || !snapshot)
            return schemas;
        QVector<SchemaEntry> entries;
        for (const QString &schema : snapshot->schemas())
            entries.append({ schema, QString() });
        return entries;
    };
    switch (context.want) {
    case Want::Nothing:
        break;
    case Want::Keywords:
        builder.keywords();
        break;
    case Want::StarColumns:
        if (context.qualifier.isEmpty()) {
            builder.starColumns(context.tables, false);
        } else if (const TableRef *ref = refNamed(context)) {
            builder.starColumns({ *ref }, true);
        }
        break;
    case Want::Objects:
    case Want::Columns:
        if (context.qualifier.isEmpty()) {
            if (context.want == Want::Objects) {
                builder.schemas(ownSchemas());
                builder.objects(QString());
            } else {
                builder.columns(context.tables);
                builder.correlations(context.tables);
                builder.keywords();
            }
            break;
        }
        // A schema in a table's place; a correlation or table name anywhere else, a schema
        // when no table of the statement has that name.
        const bool schema =
            context.qualifierSchema.isEmpty() && hasSchema(snapshot, context.qualifier);
        const TableRef *ref = context.want == Want::Objects && schema ? nullptr : refNamed(context);
        if (ref) {
            builder.columns({ *ref });
        } else if (schema) {
            builder.objects(context.qualifier);
        } else if (snapshot) {
            builder.columns({ { context.qualifierSchema, context.qualifier, QString() } });
        }
        break;
    }
    return builder.result;
}

const Object *tableAt(QStringView text, int cursor, Sql::Dialect dialect, const Snapshot &snapshot,
    bool *columnsMissing)
{
    if (columnsMissing)
        *columnsMissing = false;
    const CompletionContext context = completionContext(text, cursor, dialect);
    if (context.want == CompletionContext::Want::Nothing)
        return nullptr;
    // The dotted name the cursor stands in.
    const QVector<Token> tokens =
        tokensOf(text, context.statementFrom, context.statementTo, dialect);
    int at = -1;
    for (int i = 0; i < tokens.size() && at < 0; ++i)
        if (isName(tokens[i].kind) && tokens[i].start <= cursor && cursor <= tokens[i].end())
            at = i;
    if (at < 0)
        return nullptr;
    int first = at;
    while (
        first >= 2 && isOperator(text, tokens[first - 1], u'.') && isName(tokens[first - 2].kind))
        first -= 2;
    int last = at;
    while (last + 2 < tokens.size() && isOperator(text, tokens[last + 1], u'.')
        && isName(tokens[last + 2].kind))
        last += 2;
    QStringList parts;
    for (int i = first; i <= last; i += 2)
        parts << nameText(text.mid(tokens[i].start, tokens[i].length));

    if (parts.size() >= 2) {
        if (const Object *object = snapshot.find(parts[0], parts[1]))
            return object;
    }
    for (const TableRef &ref : context.tables) {
        if ((!ref.correlation.isEmpty() && sameName(ref.correlation, parts[0]))
            || (parts.size() == 1 && sameName(ref.name, parts[0])))
            return resolveTable(snapshot, ref, dialect);
    }
    if (parts.size() == 1) {
        if (const Object *object =
                resolveTable(snapshot, { QString(), parts[0], QString() }, dialect))
            return object;
        // A column of one of the statement's tables.
        for (const TableRef &ref : context.tables) {
            const Object *object = resolveTable(snapshot, ref, dialect);
            if (!object)
                continue;
            const QVector<Column> *columns = snapshot.columns(object->schema, object->name);
            if (!columns) {
                if (columnsMissing)
                    *columnsMissing = true;
                continue;
            }
            for (const Column &column : *columns)
                if (sameName(column.name, parts[0]))
                    return object;
        }
    }
    return nullptr;
}

QString quoteName(const QString &name, Sql::Dialect dialect)
{
    bool plain = !name.isEmpty();
    bool lower = false;
    bool upper = false;
    for (int i = 0; i < name.size() && plain; ++i) {
        const char16_t c = name[i].unicode();
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'
            || (dialect == Sql::Dialect::Db2 && (c == '@' || c == '#' || c == '$'));
        lower = lower || (c >= 'a' && c <= 'z');
        upper = upper || (c >= 'A' && c <= 'Z');
        plain = letter || (i > 0 && ((c >= '0' && c <= '9') || c == '$'));
    }
    switch (dialect) {
    case Sql::Dialect::PostgreSql:
        plain = plain && !upper;
        break;
    case Sql::Dialect::Sqlite:
        break;
    default:
        plain = plain && !lower;
        break;
    }
    return plain ? name : forcedQuote(name);
}

QString qualifiedName(const Object &object, Sql::Dialect dialect)
{
    const QString name = quoteName(object.name, dialect);
    return object.schema.isEmpty() ? name
                                   : quoteName(object.schema, dialect) + QLatin1Char('.') + name;
}

QString typeText(const Column &column)
{
    const QString upper = column.type.toUpper();
    const bool sized = upper.contains(QLatin1String("CHAR"))
        || upper.contains(QLatin1String("BINARY")) || upper.contains(QLatin1String("GRAPHIC"))
        || upper.contains(QLatin1String("BIT"));
    const bool decimal =
        upper.startsWith(QLatin1String("DEC")) || upper.startsWith(QLatin1String("NUMERIC"));
    if (column.length <= 0 || !(sized || decimal))
        return column.type;
    if (decimal)
        return QStringLiteral("%1(%2,%3)").arg(column.type).arg(column.length).arg(column.scale);
    return QStringLiteral("%1(%2)").arg(column.type).arg(column.length);
}

const QStringList &keywords(Sql::Dialect dialect)
{
    return keywordList(dialect);
}

} // namespace Catalog
