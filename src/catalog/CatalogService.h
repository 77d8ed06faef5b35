#pragma once

#include "catalog/Catalogs.h"

#include <QHash>
#include <QSet>
#include <QTimer>

#include <functional>
#include <memory>

class ConnectionHandle;

namespace Catalog {

// The catalogs of every alias: a snapshot per alias in memory, the cache file behind it, and
// loads from the database on connections and threads of their own. One read runs per alias at a
// time; what is asked meanwhile waits in the alias's queue. Owned by the window; lives on the UI
// thread and never waits there: its destruction abandons the reads under way.
class CatalogService : public Catalogs
{
    Q_OBJECT

public:
    // What the settings say of one alias; read by the window and handed in on demand.
    struct AliasSettings
    {
        QStringList schemas; // the include list; empty: every schema
        int maxAgeMinutes = 720; // older names are read again in the background; 0: never
        int timeoutSeconds = 30; // each catalog query's and the connect's time-out
        bool driverFunctions = false; // the driver's catalog functions, whatever the server
    };
    using SettingsOf = std::function<AliasSettings(const QString &alias)>;

    explicit CatalogService(QString cachePath, SettingsOf settings = {}, QObject *parent = nullptr);
    ~CatalogService() override;

    // The login the window connected the alias with; the catalog's own connection uses it. Without
    // one only the cache file answers.
    void setLogin(const QString &alias, const QString &user, const QString &password);
    void forgetLogins(); // Logout: the cache stays, the passwords go

    SnapshotPtr snapshot(const QString &alias) const override;
    void ensureLoaded(const QString &alias) override;
    void requestColumns(const QString &alias, const QString &schema, const QString &name) override;
    void reloadSchema(const QString &alias, const QString &schema) override;
    void reloadAlias(const QString &alias) override;
    void findObjects(const QString &alias, const QString &likePattern) override;
    QString ageText(const QString &alias) const override;

    // A read is under way or waiting for the alias.
    bool busy(const QString &alias) const;
    // Checks every alias's age now (the timer does it each minute).
    void checkAges();

    struct Work; // one read, as the loader thread runs it
    struct Outcome; // what it hands back

private:
    struct Running;
    struct AliasState
    {
        QString alias; // as first asked for
        SnapshotPtr snapshot;
        QString user, password;
        bool hasLogin = false;
        bool cacheTried = false;
        bool failureTold = false;
        std::shared_ptr<ConnectionHandle> link; // the catalog's connection between reads
        std::shared_ptr<Running> running;
        // Waiting: a whole read, schemas ("" the current one), tables' columns, name patterns.
        bool wantAll = false;
        QStringList wantSchemas;
        QVector<QPair<QString, QString>> wantColumns;
        QSet<QString> wantedKeys;
        QStringList wantFind;
    };

    AliasState &state(const QString &alias);
    const AliasState *stateOf(const QString &alias) const;
    void pump(AliasState &state);
    void start(AliasState &state, Work work);
    void finished(const QString &key, const std::shared_ptr<Running> &running, Outcome outcome);
    Work workFor(const AliasState &state) const;

    QString m_cachePath;
    SettingsOf m_settings;
    QHash<QString, AliasState> m_aliases; // by alias in upper case
    QTimer m_ageTimer;
};

} // namespace Catalog
