#include "catalog/DidYouMean.h"

#include "catalog/Completion.h"

#include <QRegularExpression>

#include <algorithm>
#include <climits>
#include <vector>

namespace Catalog {

namespace {

// The message patterns, each with the kind of name it reports; the name is the first capture.
struct Pattern
{
    UndefinedName::Kind kind;
    const char *sqlStatePrefix; // the record's SQLSTATE when it has one; empty: any
    QRegularExpression expression;
};

const std::vector<Pattern> &patterns()
{
    using Kind = UndefinedName::Kind;
    const auto re = [](const char *pattern) {
        return QRegularExpression(
            QLatin1String(pattern), QRegularExpression::CaseInsensitiveOption);
    };
    static const std::vector<Pattern> all = {
        { Kind::Table, "", re(R"re(SQL0204N\s+"([^"]+)")re") },
        { Kind::Column, "", re(R"re(SQL0206N\s+"([^"]+)")re") },
        { Kind::Table, "42P01", re(R"re(relation "([^"]+)" does not exist)re") },
        { Kind::Column, "42703",
            re(R"re(column "?([^"\s]+)"? (?:of relation "[^"]+" )?does not exist)re") },
        { Kind::Table, "", re(R"re(no such table: ([^\s()]+))re") },
        { Kind::Column, "", re(R"re(no such column: ([^\s()]+))re") },
    };
    return all;
}

UndefinedName parse(const QString &sqlState, const QString &message)
{
    for (const Pattern &pattern : patterns()) {
        if (!sqlState.isEmpty() && *pattern.sqlStatePrefix
            && sqlState != QLatin1String(pattern.sqlStatePrefix))
            continue;
        const QRegularExpressionMatch match = pattern.expression.match(message);
        if (!match.hasMatch())
            continue;
        UndefinedName name;
        name.kind = pattern.kind;
        const QString full = match.captured(1);
        const int dot = int(full.lastIndexOf(QLatin1Char('.')));
        name.name = full.mid(dot + 1);
        name.qualifier = dot > 0 ? full.left(dot) : QString();
        return name;
    }
    return {};
}

QString fold(QStringView text)
{
    return Sql::asciiUpper(text.toString());
}

bool sameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Names within this distance are offered: one slip in four letters, at least one, at most three.
int allowedDistance(const QString &name)
{
    return std::clamp(int(name.size()) / 4 + 1, 1, 3);
}

struct Near
{
    int distance;
    QString text;
};

} // namespace

UndefinedName undefinedName(const QString &message, const QVector<QPair<QString, QString>> &records)
{
    for (const auto &[sqlState, text] : records) {
        const UndefinedName name = parse(sqlState, text);
        if (name.kind != UndefinedName::Kind::None)
            return name;
    }
    return parse(QString(), message);
}

int editDistance(QStringView a, QStringView b)
{
    const QString x = fold(a);
    const QString y = fold(b);
    const int n = int(x.size());
    const int m = int(y.size());
    // Three rows of the optimal string alignment table.
    std::vector<int> before(m + 1), previous(m + 1), current(m + 1);
    for (int j = 0; j <= m; ++j)
        previous[j] = j;
    for (int i = 1; i <= n; ++i) {
        current[0] = i;
        for (int j = 1; j <= m; ++j) {
            const int cost = x[i - 1] == y[j - 1] ? 0 : 1;
            current[j] = std::min({ previous[j] + 1, current[j - 1] + 1, previous[j - 1] + cost });
            if (i > 1 && j > 1 && x[i - 1] == y[j - 2] && x[i - 2] == y[j - 1])
                current[j] = std::min(current[j], before[j - 2] + 1);
        }
        std::swap(before, previous);
        std::swap(previous, current);
    }
    return previous[m];
}

QString Suggestions::text(const UndefinedName &name) const
{
    QStringList parts;
    if (!nearest.isEmpty()) {
        QString names = nearest.first();
        if (nearest.size() > 1)
            names = QStringList(nearest.mid(0, nearest.size() - 1)).join(QStringLiteral(", "))
                + QStringLiteral(" or ") + nearest.last();
        parts << QStringLiteral("Did you mean %1?").arg(names);
    }
    if (!aliases.isEmpty())
        parts << QStringLiteral("%1 is in %2.").arg(name.name, aliases.join(QStringLiteral(", ")));
    return parts.join(QLatin1Char(' '));
}

Suggestions suggest(const UndefinedName &name, const QString &statement, const Snapshot *snapshot,
    Sql::Dialect dialect, const QVector<SnapshotPtr> &others, int limit)
{
    Suggestions found;
    if (name.kind == UndefinedName::Kind::None || name.name.isEmpty())
        return found;
    const int allowed = allowedDistance(name.name);
    std::vector<Near> near;
    const auto consider = [&](const QString &candidate, const QString &text, int bonus) {
        const int distance = editDistance(candidate, name.name);
        // The same name counts when it is spelled or placed otherwise (another schema, a case).
        if (distance <= allowed && text != name.name
            && !(distance == 0 && sameName(text, name.qualifier + QLatin1Char('.') + name.name)))
            near.push_back({ distance * 2 - bonus, text });
    };
    const QVector<TableRef> tables = statementTables(statement, dialect);

    if (snapshot && name.kind == UndefinedName::Kind::Table) {
        for (const Object *object : snapshot->objects(QString(), QString(), INT_MAX)) {
            if (object->kind == Kind::Routine
                || std::abs(int(object->name.size()) - int(name.name.size())) > allowed)
                continue;
            const bool sameSchema =
                !name.qualifier.isEmpty() && sameName(object->schema, name.qualifier);
            // Unqualified as the statement wrote it when the name alone finds this table.
            const bool alone = name.qualifier.isEmpty()
                && resolveTable(*snapshot, { QString(), object->name, QString() }, dialect)
                    == object;
            const QString text =
                alone ? quoteName(object->name, dialect) : qualifiedName(*object, dialect);
            consider(object->name, text, sameSchema ? 1 : 0);
        }
    } else if (snapshot && name.kind == UndefinedName::Kind::Column) {
        for (const TableRef &ref : tables) {
            if (!name.qualifier.isEmpty() && !sameName(ref.correlation, name.qualifier)
                && !sameName(ref.name, name.qualifier))
                continue;
            const Object *object = resolveTable(*snapshot, ref, dialect);
            const QVector<Column> *columns =
                object ? snapshot->columns(object->schema, object->name) : nullptr;
            if (!columns)
                continue;
            for (const Column &column : *columns)
                consider(column.name, quoteName(column.name, dialect), 0);
        }
    }
    std::stable_sort(near.begin(), near.end(), [](const Near &a, const Near &b) {
        return a.distance != b.distance ? a.distance < b.distance : a.text < b.text;
    });
    for (const Near &candidate : near) {
        if (found.nearest.size() == limit)
            break;
        if (!found.nearest.contains(candidate.text))
            found.nearest << candidate.text;
    }

    // Other aliases where the name stands as written.
    for (const SnapshotPtr &other : others) {
        if (!other || (snapshot && other->alias() == snapshot->alias()))
            continue;
        bool holds = false;
        if (name.kind == UndefinedName::Kind::Table) {
            holds = name.qualifier.isEmpty() ? !other->named(name.name).isEmpty()
                                             : other->find(name.qualifier, name.name) != nullptr;
        } else {
            for (const TableRef &ref : tables) {
                const Object *object = resolveTable(*other, ref, dialect);
                const QVector<Column> *columns =
                    object ? other->columns(object->schema, object->name) : nullptr;
                if (columns
                    && std::any_of(columns->cbegin(), columns->cend(),
                        [&](const Column &c) { return sameName(c.name, name.name); }))
                    holds = true;
            }
        }
        if (holds && !found.aliases.contains(other->alias()))
            found.aliases << other->alias();
    }
    return found;
}

} // namespace Catalog
