#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>

// What Stelvik knows of one database's names: schemas, tables and their kin, routines, and the
// columns of the tables read so far. A snapshot never changes once built; a reload builds a new
// one and swaps it in, so the editor reads it on the UI thread while a loader fills the next.
namespace Catalog {

enum class Kind : unsigned char {
    Table,
    View,
    Alias,
    Nickname,
    MaterializedQuery,
    Routine,
    Other,
};

// "table", "view", "alias", ... as lists and the browser show them.
QString kindName(Kind kind);

struct Object
{
    QString schema; // as the catalog spells it
    QString name;
    Kind kind = Kind::Table;
    QString remarks;
};

struct Column
{
    QString name;
    QString type; // the type's name ("VARCHAR", "integer")
    int length = 0; // characters or precision; 0 when the type has none
    int scale = 0;
    bool nullable = true;
    int keySeq = 0; // place in the primary key from 1, 0 when not part of it
    QString remarks;
};

struct Index
{
    QString name;
    bool unique = false;
    QStringList columns;
};

class Snapshot
{
public:
    // Columns and indexes are keyed by key(schema, name).
    Snapshot(QString alias, QDateTime loadedAt, QVector<Object> objects,
        QHash<QString, QVector<Column>> columns = {}, QHash<QString, QVector<Index>> indexes = {});

    const QString &alias() const { return m_alias; }
    const QDateTime &loadedAt() const { return m_loadedAt; }
    int objectCount() const { return int(m_objects.size()); }

    // Every schema that holds an object, sorted without case.
    const QStringList &schemas() const { return m_schemas; }

    // Objects whose name begins with prefix (a to z without case), of one schema or, when schema
    // is empty, of all; sorted by name, at most limit. Pointers live as long as the snapshot.
    QVector<const Object *> objects(QStringView schema, QStringView prefix, int limit) const;

    // The object of that name (a to z without case), or null.
    const Object *find(QStringView schema, QStringView name) const;
    // Objects of that name in any schema: what "did you mean" and an unqualified name look up.
    QVector<const Object *> named(QStringView name) const;

    // The columns read for a table, or null when they have not been read yet.
    const QVector<Column> *columns(QStringView schema, QStringView name) const;
    const QVector<Index> *indexes(QStringView schema, QStringView name) const;

    // A copy with the columns (and indexes) of more tables added: how columns read on first use
    // join the names.
    std::shared_ptr<const Snapshot> withColumns(const QHash<QString, QVector<Column>> &columns,
        const QHash<QString, QVector<Index>> &indexes = {}) const;

    static QString key(QStringView schema, QStringView name);

private:
    QString m_alias;
    QDateTime m_loadedAt;
    QVector<Object> m_objects; // sorted by folded name, then folded schema
    QVector<QString> m_folded; // m_objects' names folded, for the binary search
    QHash<QString, QVector<int>> m_bySchema; // folded schema -> indexes into m_objects, by name
    QStringList m_schemas;
    QHash<QString, QVector<Column>> m_columns;
    QHash<QString, QVector<Index>> m_indexes;
};

using SnapshotPtr = std::shared_ptr<const Snapshot>;

} // namespace Catalog
