#pragma once

#include "catalog/CatalogSnapshot.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

struct sqlite3;

// The catalog cache file: every alias's names, and the columns and indexes of the tables read so
// far, in one SQLite file per user beside the history (owner-only). It holds names, never data
// values. One object is one connection, used by the thread that opened it; several may use the
// file at once. Failures throw std::runtime_error; open() rebuilds a file it cannot use.
class CatalogCache
{
public:
    explicit CatalogCache(const QString &path); // throws when the file cannot be used
    ~CatalogCache();
    CatalogCache(const CatalogCache &) = delete;
    CatalogCache &operator=(const CatalogCache &) = delete;

    // The cache at path; a file that is damaged, locked past the wait or of another layout is
    // removed and made anew (it holds nothing that cannot be read again).
    static std::unique_ptr<CatalogCache> open(const QString &path);
    static void remove(const QString &path);
    // catalog.db in the application's local data folder, beside history.db.
    static QString defaultPath();

    struct Names
    {
        QDateTime loadedAt;
        QVector<Catalog::Object> objects;
    };
    std::optional<Names> readNames(const QString &alias);
    // Replaces the alias's names with objects (all of them) and drops the columns of those
    // schemas (of every schema when none is given).
    void writeNames(const QString &alias, const QDateTime &loadedAt,
        const QVector<Catalog::Object> &objects, const QStringList &schemas = {});

    // The columns and indexes of those tables (keys as Snapshot::key) that the file holds.
    void readColumns(const QString &alias, const QStringList &keys,
        QHash<QString, QVector<Catalog::Column>> &columns,
        QHash<QString, QVector<Catalog::Index>> &indexes);
    void writeColumns(const QString &alias, const QHash<QString, QVector<Catalog::Column>> &columns,
        const QHash<QString, QVector<Catalog::Index>> &indexes);

private:
    void exec(const char *sql);
    [[noreturn]] void fail(const char *what);

    sqlite3 *m_db = nullptr;
};
