#include "catalog/CatalogSnapshot.h"

#include "sql/SqlLexer.h"

#include <algorithm>

namespace Catalog {

QString kindName(Kind kind)
{
    switch (kind) {
    case Kind::Table:
        return QStringLiteral("table");
    case Kind::View:
        return QStringLiteral("view");
    case Kind::Alias:
        return QStringLiteral("alias");
    case Kind::Nickname:
        return QStringLiteral("nickname");
    case Kind::MaterializedQuery:
        return QStringLiteral("materialized query table");
    case Kind::Routine:
        return QStringLiteral("routine");
    case Kind::Other:
        break;
    }
    return QStringLiteral("object");
}

namespace {

QString fold(QStringView text)
{
    return Sql::asciiUpper(text.toString());
}

} // namespace

QString Snapshot::key(QStringView schema, QStringView name)
{
    return fold(schema) + QChar(0x1f) + fold(name);
}

Snapshot::Snapshot(QString alias, QDateTime loadedAt, QVector<Object> objects,
    QHash<QString, QVector<Column>> columns, QHash<QString, QVector<Index>> indexes)
    : m_alias(std::move(alias))
    , m_loadedAt(std::move(loadedAt))
    , m_columns(std::move(columns))
    , m_indexes(std::move(indexes))
{
    // Fold once, sort an index vector, then lay the objects out in that order.
    const int count = int(objects.size());
    QVector<QString> names(count), schemas(count);
    for (int i = 0; i < count; ++i) {
        names[i] = fold(objects[i].name);
        schemas[i] = fold(objects[i].schema);
    }
    QVector<int> order(count);
    for (int i = 0; i < count; ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&](int a, int b) {
        const int byName = names[a].compare(names[b]);
        return byName != 0 ? byName < 0 : schemas[a] < schemas[b];
    });
    m_objects.reserve(count);
    m_folded.reserve(count);
    QHash<QString, QString> schemaSpelling;
    for (int i : order) {
        const int at = int(m_objects.size());
        m_bySchema[schemas[i]].append(at);
        schemaSpelling.insert(schemas[i], objects[i].schema);
        m_objects.append(std::move(objects[i]));
        m_folded.append(std::move(names[i]));
    }
    m_schemas = schemaSpelling.values();
    std::sort(m_schemas.begin(), m_schemas.end(),
        [](const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
}

QVector<const Object *> Snapshot::objects(QStringView schema, QStringView prefix, int limit) const
{
    QVector<const Object *> found;
    if (limit <= 0)
        return found;
    const QString wanted = fold(prefix);
    const auto startsWith = [&](int at) { return m_folded[at].startsWith(wanted); };
    if (schema.isEmpty()) {
        auto at = std::lower_bound(m_folded.cbegin(), m_folded.cend(), wanted);
        for (int i = int(at - m_folded.cbegin()); i < m_folded.size() && startsWith(i); ++i) {
            found.append(&m_objects[i]);
            if (found.size() == limit)
                break;
        }
        return found;
    }
    const auto list = m_bySchema.constFind(fold(schema));
    if (list == m_bySchema.cend())
        return found;
    const QVector<int> &indexes = *list;
    auto at = std::lower_bound(indexes.cbegin(), indexes.cend(), wanted,
        [&](int index, const QString &value) { return m_folded[index] < value; });
    for (; at != indexes.cend() && startsWith(*at); ++at) {
        found.append(&m_objects[*at]);
        if (found.size() == limit)
            break;
    }
    return found;
}

const Object *Snapshot::find(QStringView schema, QStringView name) const
{
    const QString wantedSchema = fold(schema);
    for (const Object *object : named(name))
        if (fold(object->schema) == wantedSchema)
            return object;
    return nullptr;
}

QVector<const Object *> Snapshot::named(QStringView name) const
{
    QVector<const Object *> found;
    const QString wanted = fold(name);
    auto at = std::lower_bound(m_folded.cbegin(), m_folded.cend(), wanted);
    for (int i = int(at - m_folded.cbegin()); i < m_folded.size() && m_folded[i] == wanted; ++i)
        found.append(&m_objects[i]);
    return found;
}

const QVector<Column> *Snapshot::columns(QStringView schema, QStringView name) const
{
    const auto at = m_columns.constFind(key(schema, name));
    return at == m_columns.cend() ? nullptr : &*at;
}

const QVector<Index> *Snapshot::indexes(QStringView schema, QStringView name) const
{
    const auto at = m_indexes.constFind(key(schema, name));
    return at == m_indexes.cend() ? nullptr : &*at;
}

SnapshotPtr Snapshot::withColumns(const QHash<QString, QVector<Column>> &columns,
    const QHash<QString, QVector<Index>> &indexes) const
{
    auto copy = std::make_shared<Snapshot>(*this);
    for (auto at = columns.cbegin(); at != columns.cend(); ++at)
        copy->m_columns.insert(at.key(), at.value());
    for (auto at = indexes.cbegin(); at != indexes.cend(); ++at)
        copy->m_indexes.insert(at.key(), at.value());
    return copy;
}

} // namespace Catalog
