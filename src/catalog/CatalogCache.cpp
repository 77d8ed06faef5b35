#include "catalog/CatalogCache.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <memory>
#include <sqlite3.h>
#include <stdexcept>

using namespace Catalog;

namespace {

constexpr int kLayout = 2; // PRAGMA user_version of this layout; a file of another is made anew
constexpr int kBusyTimeoutMs = 3000;

struct StatementFree
{
    void operator()(sqlite3_stmt *statement) const noexcept { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFree>;

void bindText(sqlite3_stmt *statement, int index, const QString &text)
{
    if (text.isNull()) {
        sqlite3_bind_null(statement, index);
        return;
    }
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text(statement, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

QString columnText(sqlite3_stmt *statement, int column)
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
    return text ? QString::fromUtf8(text, sqlite3_column_bytes(statement, column)) : QString();
}

QString folded(const QString &schema)
{
    return Snapshot::key(schema, {}).chopped(1);
}

// The names of a database are the user's business alone, as the history is: the folder and file
// are made for their owner only before SQLite opens them (its -wal and -shm files take the
// database file's mode).
void prepareOwnerOnly(const QString &path)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!QFileInfo(folder).isDir()) {
        QDir().mkpath(QFileInfo(folder).absolutePath());
        QDir().mkdir(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QFile file(path);
    if (!file.exists()
        && file.open(
            QIODevice::WriteOnly | QIODevice::NewOnly, QFile::ReadOwner | QFile::WriteOwner))
        file.close();
}

} // namespace

CatalogCache::CatalogCache(const QString &path)
{
    prepareOwnerOnly(path);
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db,
            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr)
        != SQLITE_OK) {
        const QString message = QString::fromUtf8(m_db ? sqlite3_errmsg(m_db) : "out of memory");
        sqlite3_close(m_db);
        m_db = nullptr;
        throw std::runtime_error(("The catalog cache cannot be opened: " + message).toStdString());
    }
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    try {
        Statement version;
        sqlite3_stmt *raw = nullptr;
        if (sqlite3_prepare_v2(m_db, "PRAGMA user_version", -1, &raw, nullptr) != SQLITE_OK)
            fail("read");
        version.reset(raw);
        if (sqlite3_step(raw) != SQLITE_ROW)
            fail("read");
        const int layout = sqlite3_column_int(raw, 0);
        version.reset();
        if (layout != 0 && layout != kLayout)
            throw std::runtime_error("The catalog cache is of another layout.");
        exec("PRAGMA journal_mode=WAL");
        exec("PRAGMA synchronous=NORMAL");
        if (layout == 0) {
            exec("BEGIN IMMEDIATE");
            exec("CREATE TABLE IF NOT EXISTS aliases(alias TEXT PRIMARY KEY, loaded INTEGER,"
                 " names BLOB)");
            exec("CREATE TABLE IF NOT EXISTS columns(alias TEXT, key TEXT, folded TEXT,"
                 " seq INTEGER, name TEXT, type TEXT, length INTEGER, scale INTEGER,"
                 " nullable INTEGER, keyseq INTEGER, remarks TEXT,"
                 " PRIMARY KEY(alias, key, seq)) WITHOUT ROWID");
            exec("CREATE TABLE IF NOT EXISTS indexes(alias TEXT, key TEXT, folded TEXT,"
                 " seq INTEGER, name TEXT, uniq INTEGER, columns TEXT,"
                 " PRIMARY KEY(alias, key, seq)) WITHOUT ROWID");
            exec("PRAGMA user_version=2");
            exec("COMMIT");
        }
    } catch (...) {
        sqlite3_close(m_db);
        m_db = nullptr;
        throw;
    }
}

CatalogCache::~CatalogCache()
{
    sqlite3_close(m_db);
}

std::unique_ptr<CatalogCache> CatalogCache::open(const QString &path)
{
    try {
        return std::make_unique<CatalogCache>(path);
    } catch (const std::exception &) {
        remove(path);
        return std::make_unique<CatalogCache>(path);
    }
}

void CatalogCache::remove(const QString &path)
{
    // A connection elsewhere keeps the file it opened; it writes into a file nobody reads.
    for (const char *suffix : { "", "-wal", "-shm" })
        QFile::remove(path + QLatin1String(suffix));
}

QString CatalogCache::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)
        + QStringLiteral("/catalog.db");
}

void CatalogCache::exec(const char *sql)
{
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        fail("write");
}

void CatalogCache::fail(const char *what)
{
    throw std::runtime_error(QStringLiteral("The catalog cache cannot be %1: %2")
                                 .arg(QLatin1String(what), QString::fromUtf8(sqlite3_errmsg(m_db)))
                                 .toStdString());
}

namespace {

// A statement prepared on the cache, finalized at the end of its scope.
Statement prepare(sqlite3 *db, const char *sql)
{
    sqlite3_stmt *raw = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK)
        throw std::runtime_error(
            std::string("The catalog cache cannot be read: ") + sqlite3_errmsg(db));
    return Statement(raw);
}

// Steps a statement that returns no rows, then resets it for the next bindings.
bool stepDone(sqlite3_stmt *statement)
{
    const int rc = sqlite3_step(statement);
    sqlite3_reset(statement);
    return rc == SQLITE_DONE;
}

} // namespace

namespace {

// An alias's names as one value: its schemas once, then per object the schema's number, the
// name, the kind and the remarks. UTF-16 in the machine's order, so that reading is a copy per
// string: 50,000 names open in a few dozen milliseconds.
QByteArray packNames(const QVector<Object> &objects)
{
    QByteArray blob;
    QDataStream out(&blob, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    QHash<QString, quint32> numbers;
    QStringList schemas;
    for (const Object &object : objects)
        if (!numbers.contains(object.schema)) {
            numbers.insert(object.schema, quint32(schemas.size()));
            schemas << object.schema;
        }
    out << quint32(schemas.size());
    for (const QString &schema : schemas)
        out << schema;
    out << quint32(objects.size());
    for (const Object &object : objects)
        out << numbers.value(object.schema) << object.name << quint8(object.kind) << object.remarks;
    return blob;
}

QVector<Object> unpackNames(const QByteArray &blob)
{
    QDataStream in(blob);
    in.setByteOrder(QDataStream::LittleEndian);
    quint32 count = 0;
    in >> count;
    QStringList schemas;
    for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
        QString schema;
        in >> schema;
        schemas << schema;
    }
    in >> count;
    QVector<Object> objects;
    objects.reserve(int(std::min<quint32>(count, quint32(blob.size() / 8))));
    for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
        quint32 schema = 0;
        quint8 kind = 0;
        Object object;
        in >> schema >> object.name >> kind >> object.remarks;
        if (schema >= quint32(schemas.size()) || kind > quint8(Kind::Other))
            throw std::runtime_error("The catalog cache holds names it cannot read.");
        object.schema = schemas.at(int(schema));
        object.kind = Kind(kind);
        objects.append(std::move(object));
    }
    if (in.status() != QDataStream::Ok)
        throw std::runtime_error("The catalog cache holds names it cannot read.");
    return objects;
}

} // namespace

std::optional<CatalogCache::Names> CatalogCache::readNames(const QString &alias)
{
    Statement read = prepare(m_db, "SELECT loaded, names FROM aliases WHERE alias = ?1");
    bindText(read.get(), 1, alias);
    const int rc = sqlite3_step(read.get());
    if (rc == SQLITE_DONE)
        return std::nullopt;
    if (rc != SQLITE_ROW)
        fail("read");
    Names names;
    names.loadedAt = QDateTime::fromMSecsSinceEpoch(sqlite3_column_int64(read.get(), 0));
    const auto *data = static_cast<const char *>(sqlite3_column_blob(read.get(), 1));
    names.objects = unpackNames(QByteArray::fromRawData(data, sqlite3_column_bytes(read.get(), 1)));
    return names;
}

void CatalogCache::writeNames(const QString &alias, const QDateTime &loadedAt,
    const QVector<Object> &objects, const QStringList &schemas)
{
    const QByteArray blob = packNames(objects);
    exec("BEGIN IMMEDIATE");
    try {
        Statement stamp = prepare(m_db, "INSERT OR REPLACE INTO aliases VALUES (?1, ?2, ?3)");
        bindText(stamp.get(), 1, alias);
        sqlite3_bind_int64(stamp.get(), 2, loadedAt.toMSecsSinceEpoch());
        sqlite3_bind_blob(stamp.get(), 3, blob.constData(), int(blob.size()), SQLITE_STATIC);
        if (!stepDone(stamp.get()))
            fail("written");
        if (schemas.isEmpty()) {
            for (const char *sql : { "DELETE FROM columns WHERE alias = ?1",
                     "DELETE FROM indexes WHERE alias = ?1" }) {
                Statement drop = prepare(m_db, sql);
                bindText(drop.get(), 1, alias);
                if (!stepDone(drop.get()))
                    fail("written");
            }
        } else {
            for (const char *sql : { "DELETE FROM columns WHERE alias = ?1 AND folded = ?2",
                     "DELETE FROM indexes WHERE alias = ?1 AND folded = ?2" }) {
                Statement drop = prepare(m_db, sql);
                for (const QString &schema : schemas) {
                    bindText(drop.get(), 1, alias);
                    bindText(drop.get(), 2, folded(schema));
                    if (!stepDone(drop.get()))
                        fail("written");
                }
            }
        }
        exec("COMMIT");
    } catch (...) {
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

void CatalogCache::readColumns(const QString &alias, const QStringList &keys,
    QHash<QString, QVector<Column>> &columns, QHash<QString, QVector<Index>> &indexes)
{
    Statement readColumns = prepare(m_db,
        "SELECT name, type, length, scale, nullable, keyseq, remarks FROM columns"
        " WHERE alias = ?1 AND key = ?2 ORDER BY seq");
    Statement readIndexes = prepare(
        m_db, "SELECT name, uniq, columns FROM indexes WHERE alias = ?1 AND key = ?2 ORDER BY seq");
    for (const QString &key : keys) {
        QVector<Column> found;
        bindText(readColumns.get(), 1, alias);
        bindText(readColumns.get(), 2, key);
        sqlite3_stmt *c = readColumns.get();
        while (sqlite3_step(c) == SQLITE_ROW)
            found.append({ columnText(c, 0), columnText(c, 1), sqlite3_column_int(c, 2),
                sqlite3_column_int(c, 3), sqlite3_column_int(c, 4) != 0, sqlite3_column_int(c, 5),
                columnText(c, 6) });
        sqlite3_reset(c);
        if (found.isEmpty())
            continue; // never read: the database is asked
        columns.insert(key, found);
        QVector<Index> list;
        sqlite3_stmt *i = readIndexes.get();
        bindText(i, 1, alias);
        bindText(i, 2, key);
        while (sqlite3_step(i) == SQLITE_ROW)
            list.append({ columnText(i, 0), sqlite3_column_int(i, 1) != 0,
                columnText(i, 2).split(QChar(0x1f), Qt::SkipEmptyParts) });
        sqlite3_reset(i);
        indexes.insert(key, list);
    }
}

void CatalogCache::writeColumns(const QString &alias,
    const QHash<QString, QVector<Column>> &columns, const QHash<QString, QVector<Index>> &indexes)
{
    exec("BEGIN IMMEDIATE");
    try {
        Statement insertColumn = prepare(m_db,
            "INSERT OR REPLACE INTO columns VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)");
        Statement insertIndex =
            prepare(m_db, "INSERT OR REPLACE INTO indexes VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
        for (auto at = columns.cbegin(); at != columns.cend(); ++at) {
            const QString schema = at.key().section(QChar(0x1f), 0, 0);
            sqlite3_stmt *c = insertColumn.get();
            for (int seq = 0; seq < at.value().size(); ++seq) {
                const Column &column = at.value()[seq];
                bindText(c, 1, alias);
                bindText(c, 2, at.key());
                bindText(c, 3, schema);
                sqlite3_bind_int(c, 4, seq);
                bindText(c, 5, column.name);
                bindText(c, 6, column.type);
                sqlite3_bind_int(c, 7, column.length);
                sqlite3_bind_int(c, 8, column.scale);
                sqlite3_bind_int(c, 9, column.nullable ? 1 : 0);
                sqlite3_bind_int(c, 10, column.keySeq);
                bindText(c, 11, column.remarks);
                if (!stepDone(c))
                    fail("written");
            }
            const QVector<Index> list = indexes.value(at.key());
            sqlite3_stmt *i = insertIndex.get();
            for (int seq = 0; seq < list.size(); ++seq) {
                bindText(i, 1, alias);
                bindText(i, 2, at.key());
                bindText(i, 3, schema);
                sqlite3_bind_int(i, 4, seq);
                bindText(i, 5, list[seq].name);
                sqlite3_bind_int(i, 6, list[seq].unique ? 1 : 0);
                bindText(i, 7, list[seq].columns.join(QChar(0x1f)));
                if (!stepDone(i))
                    fail("written");
            }
        }
        exec("COMMIT");
    } catch (...) {
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}
