#pragma once

#include "catalog/Catalogs.h"

#include <QHash>
#include <QStringList>
#include <QTimer>

// Catalogs that hold snapshots a test or benchmark built, for the editor's completion: no
// database behind them. Columns asked for are added from `columnsOnRequest` in the next turn
// of the event loop, as a loader's answer would come. Every request is noted in `calls`.
// Header-only; UI thread.
class SnapshotCatalogs : public Catalog::Catalogs
{
public:
    using Catalogs::Catalogs;

    QHash<QString, Catalog::SnapshotPtr> snapshots; // by alias
    QHash<QString, QVector<Catalog::Column>> columnsOnRequest; // by Snapshot::key
    QStringList calls;

    Catalog::SnapshotPtr snapshot(const QString &alias) const override
    {
        return snapshots.value(alias);
    }
    void ensureLoaded(const QString &alias) override { calls << QStringLiteral("load ") + alias; }
    void requestColumns(const QString &alias, const QString &schema, const QString &name) override
    {
        calls << QStringLiteral("columns %1 %2.%3").arg(alias, schema, name);
        const QString key = Catalog::Snapshot::key(schema, name);
        if (!columnsOnRequest.contains(key) || !snapshots.value(alias))
            return;
        QTimer::singleShot(0, this, [this, alias, key] {
            snapshots[alias] = snapshots[alias]->withColumns({ { key, columnsOnRequest[key] } });
            emit snapshotChanged(alias);
        });
    }
    void reloadSchema(const QString &alias, const QString &schema) override
    {
        calls << QStringLiteral("reload %1 %2").arg(alias, schema);
    }
    void reloadAlias(const QString &alias) override { calls << QStringLiteral("reload ") + alias; }
    void findObjects(const QString &alias, const QString &likePattern) override
    {
        calls << QStringLiteral("find %1 %2").arg(alias, likePattern);
    }
    QString ageText(const QString &) const override { return QString(); }
};
