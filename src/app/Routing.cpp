#include "app/Routing.h"

#include "sql/SqlLexer.h"
#include "sql/SqlStatements.h"

#include <algorithm>
#include <array>
#include <vector>

namespace {

struct SchemaGroup
{
    std::array<const char *, 8> schemas; // unused slots are null
    const char *alias;
};

// In the order of testing: the first group that matches wins.
const SchemaGroup schemaGroups[] = {
    { { "T301DBA", "T311DBA", "T321DBA", "T331DBA", "T341DBA", "T351DBA", "T361DBA", "T371DBA" },
        "DB2T301" },
    { { "T302DBA", "T312DBA", "T322DBA", "T332DBA" }, "DB2T302" },
    { { "T303DBA", "T313DBA", "T323DBA", "T333DBA" }, "DB2T303" },
    { { "P201DBA", "P221DBA" }, "DB2P201" },
    { { "P401DBA", "P421DBA" }, "DB2P401" },
};

struct Mention
{
    int offset;
    int group;
    const char *schema;
    bool inSql = false; // outside comments and string literals
};

} // namespace

namespace Routing {

Choice route(const QString &text)
{
    const QString upper = Sql::asciiUpper(text);
    std::vector<Mention> mentions;
    int chosen = -1;
    for (int g = 0; g < int(std::size(schemaGroups)); ++g) {
        for (const char *schema : schemaGroups[g].schemas) {
            if (!schema)
                continue;
            const QLatin1String name(schema);
            for (qsizetype at = upper.indexOf(name); at >= 0; at = upper.indexOf(name, at + 1))
                mentions.push_back({ int(at), g, schema });
        }
        if (chosen < 0 && !mentions.empty())
            chosen = g;
    }
    Choice choice;
    if (chosen < 0)
        return choice;
    choice.alias = QLatin1String(schemaGroups[chosen].alias);

    // One pass of the lexer tells which mentions stand in the statement itself.
    std::sort(mentions.begin(), mentions.end(),
        [](const Mention &a, const Mention &b) { return a.offset < b.offset; });
    Sql::Lexer lexer(text);
    auto next = mentions.begin();
    for (Sql::Token token = lexer.next();
         token.kind != Sql::TokenKind::End && next != mentions.end(); token = lexer.next()) {
        while (next != mentions.end() && next->offset < token.start)
            ++next; // between tokens: cannot be, a name has no blanks
        const bool sql = token.kind != Sql::TokenKind::LineComment
            && token.kind != Sql::TokenKind::BlockComment && token.kind != Sql::TokenKind::String;
        for (; next != mentions.end() && next->offset < token.end(); ++next)
            next->inSql = sql;
    }

    const Mention *shown = nullptr;
    std::array<bool, std::size(schemaGroups)> used {};
    for (const Mention &mention : mentions) {
        if (mention.group == chosen && (!shown || (mention.inSql && !shown->inSql)))
            shown = &mention;
        if (mention.inSql)
            used[mention.group] = true;
    }
    for (int g = 0; g < int(used.size()); ++g) {
        if (used[g] && g != chosen)
            choice.otherAliases << QLatin1String(schemaGroups[g].alias);
    }
    choice.schema = QLatin1String(shown->schema);
    choice.name = choice.schema;
    if (shown->inSql) {
        // The object too, when the schema name stands as the first part of a qualified name.
        const int end = int(std::min<qsizetype>(text.size(), shown->offset + 300));
        for (const Sql::QualifiedName &name : Sql::qualifiedNames(text, shown->offset, end)) {
            if (name.offset == shown->offset && name.schema == choice.schema) {
                choice.name = name.schema + QLatin1Char('.') + name.object;
                break;
            }
        }
    }
    choice.offset = shown->offset;
    choice.line = 1 + int(QStringView(text).left(shown->offset).count(u'\n'));
    choice.onlyInCommentOrString = !shown->inSql;
    return choice;
}

QString aliasOfSchema(const QString &schema)
{
    const QString upper = Sql::asciiUpper(schema.trimmed());
    for (const SchemaGroup &group : schemaGroups) {
        for (const char *name : group.schemas) {
            if (name && upper == QLatin1String(name))
                return QLatin1String(group.alias);
        }
    }
    return QString();
}

QStringList firstSchemas()
{
    QStringList names;
    for (const SchemaGroup &group : schemaGroups)
        names << QLatin1String(group.schemas.front());
    return names;
}

} // namespace Routing
