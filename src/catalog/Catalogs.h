#pragma once

#include "catalog/CatalogSnapshot.h"

#include <QObject>
#include <QString>

// The catalogs of every alias as the editor sees them: a snapshot to read now, requests that
// load more in the background, and signals when a new snapshot is in. Lives on the UI thread;
// nothing here waits for a database.
namespace Catalog {

class Catalogs : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // What is known of the alias now (from memory or the cache file), or null when nothing is.
    virtual SnapshotPtr snapshot(const QString &alias) const = 0;

    // Names of the alias: from the cache file when there is one, else read from the database.
    virtual void ensureLoaded(const QString &alias) = 0;
    // The columns and indexes of one table, read on first use.
    virtual void requestColumns(
        const QString &alias, const QString &schema, const QString &name) = 0;
    // Read again: one schema (after a definition Stelvik ran), or the whole alias.
    virtual void reloadSchema(const QString &alias, const QString &schema) = 0;
    virtual void reloadAlias(const QString &alias) = 0;
    // Objects whose name is LIKE the pattern, read from the database while the cache is cold;
    // answered by objectsFound.
    virtual void findObjects(const QString &alias, const QString &likePattern) = 0;

    // "catalog of DB2P201 as of 09:12", or an empty text when nothing is known.
    virtual QString ageText(const QString &alias) const = 0;

signals:
    void snapshotChanged(const QString &alias);
    void objectsFound(
        const QString &alias, const QString &likePattern, const QVector<Catalog::Object> &objects);
    // A read that failed or timed out; what the cache has stays in use.
    void loadFailed(const QString &alias, const QString &message);
};

} // namespace Catalog
