#include "catalog/CatalogService.h"

#include "catalog/CatalogCache.h"
#include "catalog/CatalogReader.h"
#include "connection/ConnectionHandle.h"
#include "connection/StatementCancel.h"
#include "sql/SqlLexer.h"

#include <QCoreApplication>
#include <QPointer>
#include <QRegularExpression>

#include <algorithm>
#include <atomic>
#include <optional>
#include <stdexcept>
#include <thread>

namespace Catalog {

namespace {

// A schema with at most this many tables has its columns read with its names, in one query.
constexpr int kBulkTables = 50;
constexpr int kBulkSchemas = 100; // at most so many in one query; the rest on first use
// What findObjects answers at most from a snapshot when no login allows asking the database.
constexpr int kFoundLimit = 500;

QString upper(const QString &text)
{
    return Sql::asciiUpper(text.trimmed());
}

// Lets go of a connection off the UI thread: the disconnect talks to the server.
void letGoElsewhere(std::shared_ptr<ConnectionHandle> link)
{
    if (link)
        std::thread([link = std::move(link)]() mutable { link.reset(); }).detach();
}

} // namespace

struct CatalogService::Work
{
    enum class Kind { Cache, Names, Schemas, Columns, Find } kind = Kind::Cache;
    QString alias, user, password;
    bool canConnect = false;
    QString cachePath;
    AliasSettings settings;
    QStringList schemas; // Schemas: "" is the connection's current schema
    QVector<QPair<QString, QString>> tables; // Columns: schema and name as the snapshot spells them
    QString like; // Find
    SnapshotPtr base; // the snapshot when the read began; one read runs per alias at a time
};

struct CatalogService::Outcome
{
    Work::Kind kind = Work::Kind::Cache;
    SnapshotPtr snapshot; // null: unchanged
    QString error;
    std::shared_ptr<ConnectionHandle> link;
    bool stale = false; // the cache's names are past the age limit
    bool fromDatabase = false;
    bool early = false; // names handed on before the cache file is written; the read goes on
    QString like;
    QVector<Object> found;
};

// A read under way: its cancel point, and whether its outcome is still wanted.
struct CatalogService::Running
{
    std::shared_ptr<StatementCancel> cancel = std::make_shared<StatementCancel>();
    std::atomic<bool> abandoned { false };
};

namespace {

using Work = CatalogService::Work;
using Outcome = CatalogService::Outcome;
using Post = std::function<void(Outcome)>;

// The cache as a loader uses it: a file that fails is made anew once, and a cache that cannot be
// written at all only costs the next start its warmth.
class CacheAccess
{
public:
    explicit CacheAccess(QString path)
        : m_path(std::move(path))
    { }
    template <typename Body>
    void use(Body &&body)
    {
        for (int attempt = 0; attempt < 2; ++attempt) {
            try {
                if (!m_cache)
                    m_cache = CatalogCache::open(m_path);
                body(*m_cache);
                return;
            } catch (const std::exception &) {
                m_cache.reset();
                CatalogCache::remove(m_path);
            }
        }
    }

private:
    QString m_path;
    std::unique_ptr<CatalogCache> m_cache;
};

QString folded(const QString &schema)
{
    return Snapshot::key(schema, {}).chopped(1);
}

void readNames(
    Work &work, Outcome &outcome, CatalogReader &reader, CacheAccess &cache, const Post &post)
{
    const QVector<Object> objects = reader.objects(Scope { work.settings.schemas, {}, {} });
    QHash<QString, int> tables;
    QHash<QString, QString> spelled;
    for (const Object &object : objects)
        if (object.kind != Kind::Routine) {
            ++tables[folded(object.schema)];
            spelled.insert(folded(object.schema), object.schema);
        }
    QStringList small;
    for (auto at = tables.cbegin(); at != tables.cend(); ++at)
        if (at.value() <= kBulkTables && small.size() < kBulkSchemas)
            small << spelled.value(at.key());
    QHash<QString, QVector<Column>> columns;
    QHash<QString, QVector<Index>> indexes;
    if (!small.isEmpty() && reader.source() != Source::Odbc)
        reader.columns(Scope { small, {}, {} }, columns, indexes);
    const QDateTime now = QDateTime::currentDateTime();
    // The editor gets the names first; the file follows on this thread.
    Outcome early;
    early.kind = outcome.kind;
    early.early = true;
    early.fromDatabase = true;
    early.snapshot = std::make_shared<Snapshot>(work.alias, now, objects, columns, indexes);
    post(std::move(early));
    cache.use([&](CatalogCache &file) {
        file.writeNames(work.alias, now, objects);
        file.writeColumns(work.alias, columns, indexes);
    });
    outcome.fromDatabase = true;
}

void readSchemas(
    Work &work, Outcome &outcome, CatalogReader &reader, CacheAccess &cache, const Post &post)
{
    QStringList schemas;
    for (const QString &schema : work.schemas) {
        const QString name = schema.isEmpty() ? reader.currentSchema() : schema;
        if (name.isEmpty() || !work.base)
            return readNames(work, outcome, reader, cache, post); // no telling which: all
        // Outside the include list nothing is kept, so nothing is read again.
        const bool included = work.settings.schemas.isEmpty()
            || std::any_of(work.settings.schemas.cbegin(), work.settings.schemas.cend(),
                [&](const QString &kept) { return folded(kept) == folded(name); });
        if (included && !schemas.contains(name))
            schemas << name;
    }
    if (schemas.isEmpty())
        return;
    QSet<QString> replaced;
    for (const QString &schema : schemas)
        replaced.insert(folded(schema));
    const QVector<Object> read = reader.objects(Scope { schemas, {}, {} });
    QVector<Object> merged;
    const QVector<const Object *> before = work.base->objects({}, {}, work.base->objectCount());
    for (const Object *object : before)
        if (!replaced.contains(folded(object->schema)))
            merged.append(*object);
    merged += read;
    cache.use([&](CatalogCache &file) {
        file.writeNames(work.alias, work.base->loadedAt(), merged, schemas);
    });
    outcome.snapshot = std::make_shared<Snapshot>(work.alias, work.base->loadedAt(), merged);
    outcome.fromDatabase = true;
}

void readColumns(Work &work, Outcome &outcome, const std::function<CatalogReader &()> &connect,
    CacheAccess &cache)
{
    QStringList keys;
    for (const auto &table : work.tables)
        keys << Snapshot::key(table.first, table.second);
    QHash<QString, QVector<Column>> columns;
    QHash<QString, QVector<Index>> indexes;
    cache.use([&](CatalogCache &file) { file.readColumns(work.alias, keys, columns, indexes); });
    QHash<QString, QVector<Column>> readColumns;
    QHash<QString, QVector<Index>> readIndexes;
    for (const auto &table : work.tables) {
        const QString key = Snapshot::key(table.first, table.second);
        if (columns.contains(key) || !work.canConnect)
            continue;
        connect().columns(Scope { { table.first }, table.second, {} }, readColumns, readIndexes);
        outcome.fromDatabase = true;
        if (!readColumns.contains(key))
            columns.insert(key, {}); // no such table (any more): asked once
    }
    if (!readColumns.isEmpty())
        cache.use(
            [&](CatalogCache &file) { file.writeColumns(work.alias, readColumns, readIndexes); });
    for (auto at = readColumns.cbegin(); at != readColumns.cend(); ++at)
        columns.insert(at.key(), at.value());
    for (auto at = readIndexes.cbegin(); at != readIndexes.cend(); ++at)
        indexes.insert(at.key(), at.value());
    if (!columns.isEmpty())
        outcome.snapshot = work.base->withColumns(columns, indexes);
}

// One read, on the loader thread. The connection comes in from the alias (or is opened here)
// and goes back with the outcome; after a failure it is let go of here.
Outcome perform(Work &work, std::shared_ptr<ConnectionHandle> &link,
    const std::shared_ptr<StatementCancel> &cancel, const Post &post)
{
    Outcome outcome;
    outcome.kind = work.kind;
    outcome.like = work.like;
    CacheAccess cache(work.cachePath);
    std::optional<CatalogReader> reader;
    const std::function<CatalogReader &()> connect = [&]() -> CatalogReader & {
        if (!reader) {
            // A read its owner gave up on (the window closed) opens no connection: the process
            // may be ending, and the driver's libraries with it.
            if (cancel && cancel->isCancelled())
                throw std::runtime_error("The catalog read was called off");
            if (!link)
                link = std::make_shared<ConnectionHandle>(
                    work.alias, work.user, work.password, work.settings.timeoutSeconds);
            reader.emplace(link, work.settings.timeoutSeconds, cancel);
            if (work.settings.driverFunctions)
                reader->useDriverFunctions();
        }
        return *reader;
    };
    try {
        switch (work.kind) {
        case Work::Kind::Cache: {
            std::optional<CatalogCache::Names> names;
            cache.use([&](CatalogCache &file) { names = file.readNames(work.alias); });
            if (names) {
                const int limit = work.settings.maxAgeMinutes;
                outcome.stale = limit > 0
                    && names->loadedAt.secsTo(QDateTime::currentDateTime()) > qint64(limit) * 60;
                outcome.snapshot = std::make_shared<Snapshot>(
                    work.alias, names->loadedAt, std::move(names->objects));
            } else if (work.canConnect) {
                readNames(work, outcome, connect(), cache, post);
            }
            break;
        }
        case Work::Kind::Names:
            readNames(work, outcome, connect(), cache, post);
            break;
        case Work::Kind::Schemas:
            readSchemas(work, outcome, connect(), cache, post);
            break;
        case Work::Kind::Columns:
            readColumns(work, outcome, connect, cache);
            break;
        case Work::Kind::Find:
            outcome.found = connect().objects(Scope { work.settings.schemas, {}, work.like });
            outcome.fromDatabase = true;
            break;
        }
    } catch (const std::exception &failure) {
        outcome.error = errorText(failure);
        outcome.snapshot.reset();
        reader.reset();
        link.reset(); // a connection that failed once is opened anew next time, here freed
    }
    return outcome;
}

} // namespace

CatalogService::CatalogService(QString cachePath, SettingsOf settings, QObject *parent)
    : Catalogs(parent)
    , m_cachePath(std::move(cachePath))
    , m_settings(std::move(settings))
{
    connect(&m_ageTimer, &QTimer::timeout, this, &CatalogService::checkAges);
    m_ageTimer.start(60 * 1000);
}

CatalogService::~CatalogService()
{
    // Nothing waits: each read is told it is no longer wanted and cancelled from a thread of its
    // own (a cancel may talk to the server); it frees its connection on its own thread.
    for (AliasState &state : m_aliases) {
        if (state.running) {
            state.running->abandoned.store(true);
            std::thread([cancel = state.running->cancel] { cancel->cancel(); }).detach();
        }
        letGoElsewhere(std::move(state.link));
    }
}

CatalogService::AliasState &CatalogService::state(const QString &alias)
{
    AliasState &state = m_aliases[upper(alias)];
    if (state.alias.isEmpty())
        state.alias = alias.trimmed();
    return state;
}

const CatalogService::AliasState *CatalogService::stateOf(const QString &alias) const
{
    const auto at = m_aliases.constFind(upper(alias));
    return at == m_aliases.cend() ? nullptr : &*at;
}

void CatalogService::setLogin(const QString &alias, const QString &user, const QString &password)
{
    AliasState &alias_ = state(alias);
    if (alias_.hasLogin && (alias_.user != user || alias_.password != password))
        letGoElsewhere(std::move(alias_.link)); // opened with the login before
    alias_.user = user;
    alias_.password = password;
    alias_.hasLogin = true;
    if (!alias_.snapshot && alias_.cacheTried && !alias_.running)
        alias_.wantAll = true;
    pump(alias_);
}

void CatalogService::forgetLogins()
{
    for (AliasState &state : m_aliases) {
        state.user.clear();
        state.password.clear();
        state.hasLogin = false;
        letGoElsewhere(std::move(state.link));
    }
}

SnapshotPtr CatalogService::snapshot(const QString &alias) const
{
    const AliasState *state = stateOf(alias);
    return state ? state->snapshot : nullptr;
}

bool CatalogService::busy(const QString &alias) const
{
    const AliasState *state = stateOf(alias);
    return state
        && (state->running || !state->cacheTried
            || (state->hasLogin
                && (state->wantAll || !state->wantSchemas.isEmpty() || !state->wantFind.isEmpty()))
            || (state->snapshot && !state->wantColumns.isEmpty()));
}

void CatalogService::ensureLoaded(const QString &alias)
{
    if (alias.trimmed().isEmpty())
        return;
    AliasState &alias_ = state(alias);
    if (!alias_.snapshot && alias_.cacheTried && alias_.hasLogin && !alias_.running)
        alias_.wantAll = true;
    pump(alias_);
}

void CatalogService::requestColumns(
    const QString &alias, const QString &schema, const QString &name)
{
    AliasState &alias_ = state(alias);
    QString spelledSchema = schema, spelledName = name;
    if (alias_.snapshot) {
        if (alias_.snapshot->columns(schema, name))
            return;
        if (const Object *object = alias_.snapshot->find(schema, name)) {
            spelledSchema = object->schema;
            spelledName = object->name;
        }
    }
    const QString key = Snapshot::key(schema, name);
    if (alias_.wantedKeys.contains(key))
        return;
    alias_.wantedKeys.insert(key);
    alias_.wantColumns.append({ spelledSchema, spelledName });
    pump(alias_);
}

void CatalogService::reloadSchema(const QString &alias, const QString &schema)
{
    AliasState &alias_ = state(alias);
    if (!alias_.wantSchemas.contains(schema))
        alias_.wantSchemas << schema;
    pump(alias_);
}

void CatalogService::reloadAlias(const QString &alias)
{
    AliasState &alias_ = state(alias);
    alias_.wantAll = true;
    alias_.wantSchemas.clear();
    pump(alias_);
}

void CatalogService::findObjects(const QString &alias, const QString &likePattern)
{
    AliasState &alias_ = state(alias);
    if (alias_.hasLogin) {
        alias_.wantFind << likePattern;
        pump(alias_);
        return;
    }
    // No login to ask with: what the snapshot has, by the pattern's fixed beginning.
    QVector<Object> found;
    if (alias_.snapshot) {
        const QString prefix =
            likePattern.left(likePattern.indexOf(QRegularExpression(QStringLiteral("[%_]"))));
        for (const Object *object : alias_.snapshot->objects({}, prefix, kFoundLimit))
            found.append(*object);
    }
    const QString name = alias_.alias;
    QMetaObject::invokeMethod(
        this, [this, name, likePattern, found] { emit objectsFound(name, likePattern, found); },
        Qt::QueuedConnection);
}

QString CatalogService::ageText(const QString &alias) const
{
    const SnapshotPtr snapshot = this->snapshot(alias);
    if (!snapshot || !snapshot->loadedAt().isValid())
        return QString();
    const QDateTime at = snapshot->loadedAt().toLocalTime();
    const QString when = at.date() == QDate::currentDate()
        ? at.toString(QStringLiteral("HH:mm"))
        : at.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    return QStringLiteral("catalog of %1 as of %2").arg(snapshot->alias(), when);
}

void CatalogService::checkAges()
{
    const QDateTime now = QDateTime::currentDateTime();
    for (auto at = m_aliases.begin(); at != m_aliases.end(); ++at) {
        AliasState &state = *at;
        const int limit =
            m_settings ? m_settings(state.alias).maxAgeMinutes : AliasSettings().maxAgeMinutes;
        if (state.snapshot && state.hasLogin && limit > 0 && !state.running
            && state.snapshot->loadedAt().secsTo(now) > qint64(limit) * 60) {
            state.wantAll = true;
            pump(state);
        }
    }
}

CatalogService::Work CatalogService::workFor(const AliasState &state) const
{
    Work work;
    work.alias = state.alias;
    work.user = state.user;
    work.password = state.password;
    work.canConnect = state.hasLogin;
    work.cachePath = m_cachePath;
    work.settings = m_settings ? m_settings(state.alias) : AliasSettings();
    work.base = state.snapshot;
    return work;
}

void CatalogService::pump(AliasState &state)
{
    if (state.running)
        return;
    Work work = workFor(state);
    if (!state.cacheTried) {
        state.cacheTried = true;
        work.kind = Work::Kind::Cache;
    } else if (state.hasLogin
        && (state.wantAll || (!state.wantSchemas.isEmpty() && !state.snapshot))) {
        state.wantAll = false;
        state.wantSchemas.clear();
        work.kind = Work::Kind::Names;
    } else if (state.hasLogin && !state.wantSchemas.isEmpty()) {
        work.kind = Work::Kind::Schemas;
        work.schemas = std::exchange(state.wantSchemas, {});
    } else if (state.snapshot && !state.wantColumns.isEmpty()) {
        work.kind = Work::Kind::Columns;
        work.tables = std::exchange(state.wantColumns, {});
        state.wantedKeys.clear();
    } else if (state.hasLogin && !state.wantFind.isEmpty()) {
        work.kind = Work::Kind::Find;
        work.like = state.wantFind.takeFirst();
    } else {
        return;
    }
    start(state, std::move(work));
}

void CatalogService::start(AliasState &state, Work work)
{
    auto running = std::make_shared<Running>();
    state.running = running;
    const QString key = upper(state.alias);
    QPointer<CatalogService> self(this);
    std::thread([self, key, running, work = std::move(work),
                    link = std::move(state.link)]() mutable {
        const Post post = [self, key, running](Outcome outcome) {
            if (running->abandoned.load())
                return; // what it holds is freed here, on the loader thread
            QMetaObject::invokeMethod(
                qApp,
                [self, key, running, outcome = std::move(outcome)]() mutable {
                    if (self)
                        self->finished(key, running, std::move(outcome));
                    else
                        letGoElsewhere(std::move(outcome.link));
                },
                Qt::QueuedConnection);
        };
        Outcome outcome = perform(work, link, running->cancel, post);
        outcome.link = std::move(link);
        work = Work(); // the snapshot it held goes here
        post(std::move(outcome));
    }).detach();
}

void CatalogService::finished(
    const QString &key, const std::shared_ptr<Running> &running, Outcome outcome)
{
    const auto at = m_aliases.find(key);
    if (at == m_aliases.end() || at->running != running) {
        letGoElsewhere(std::move(outcome.link));
        return;
    }
    AliasState &state = *at;
    if (outcome.early) {
        state.snapshot = outcome.snapshot;
        state.failureTold = false;
        const QString alias = state.alias;
        emit snapshotChanged(alias);
        return;
    }
    state.running.reset();
    const QString alias = state.alias;
    // A connection opened with a login that changed meanwhile (or before Logout) is not kept.
    if (outcome.link && state.hasLogin && outcome.link->user() == state.user
        && outcome.link->password() == state.password)
        state.link = std::move(outcome.link);
    else
        letGoElsewhere(std::move(outcome.link));
    bool tell = false;
    if (!outcome.error.isEmpty()) {
        tell = !state.failureTold;
        state.failureTold = true;
    } else if (outcome.fromDatabase) {
        state.failureTold = false;
    }
    if (outcome.snapshot)
        state.snapshot = outcome.snapshot;
    if (outcome.stale)
        state.wantAll = true; // shown warm now, read again in the background
    // The cache knew nothing, and a login came while it was read.
    if (outcome.kind == Work::Kind::Cache && outcome.error.isEmpty() && !state.snapshot
        && state.hasLogin)
        state.wantAll = true;
    pump(state);
    // Signals last: a listener may ask for more, which may add aliases to the table.
    if (tell)
        emit loadFailed(alias, outcome.error);
    if (outcome.snapshot)
        emit snapshotChanged(alias);
    if (outcome.kind == Work::Kind::Find) // a failed search finds nothing
        emit objectsFound(alias, outcome.like, outcome.found);
}

} // namespace Catalog
