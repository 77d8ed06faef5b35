#include "history/HistoryDb.h"

#include "history/HistoryStore.h"
#include "sql/SqlLexer.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include <algorithm>
#include <memory>
#include <sqlite3.h>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

// A prepared statement, finalized when it goes out of scope.
struct StatementFree
{
    void operator()(sqlite3_stmt *statement) const noexcept { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFree>;

bool isCorruptCode(int code)
{
    const int primary = code & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

void bindText(sqlite3_stmt *statement, int index, const QString &text)
{
    if (text.isNull()) {
        sqlite3_bind_null(statement, index);
        return;
    }
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text(statement, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

void bindNumber(sqlite3_stmt *statement, int index, qint64 value)
{
    if (value < 0)
        sqlite3_bind_null(statement, index);
    else
        sqlite3_bind_int64(statement, index, value);
}

QString columnText(sqlite3_stmt *statement, int column)
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
    return text ? QString::fromUtf8(text, sqlite3_column_bytes(statement, column)) : QString();
}

qint64 columnNumber(sqlite3_stmt *statement, int column)
{
    return sqlite3_column_type(statement, column) == SQLITE_NULL
        ? -1
        : sqlite3_column_int64(statement, column);
}

// A search text taken apart: the full-text query of its words, the words the index cannot find,
// and the alias asked for.
struct Query
{
    QString match; // FTS5 query, empty when there are no words for the index
    QStringList substrings; // words to find anywhere in the text, in any case
    QString alias; // empty when no alias is asked for
};

// `indexed` tells whether the index sees every letter and digit of a word.
template <typename Indexed>
Query parseQuery(const QString &text, Indexed &&indexed)
{
    Query query;
    const QStringList words =
        text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    for (const QString &word : words) {
        if (word.startsWith(QLatin1String("alias:"), Qt::CaseInsensitive)) {
            query.alias = Sql::asciiUpper(word.mid(6));
            continue;
        }
        // A word without a letter or digit holds no token of the index: it narrows nothing.
        if (std::none_of(word.begin(), word.end(), [](QChar c) { return c.isLetterOrNumber(); }))
            continue;
        // A word with letters beyond the index's tables is looked for as it is typed, anywhere
        // in the text, in any case.
        if (!indexed(word)) {
            query.substrings << word;
            continue;
        }
        // Each word is a phrase whose last token may be a prefix: "t301dba.emp" matches the
        // tokens "t301dba" "emp..." next to each other, as the index splits the text.
        QString phrase = word;
        phrase.replace(QLatin1Char('"'), QLatin1String("\"\""));
        if (!query.match.isEmpty())
            query.match += QLatin1Char(' ');
        query.match += QLatin1Char('"') + phrase + QLatin1String("\"*");
    }
    return query;
}

// SQL function history_contains(text, word): whether `word` occurs in `text`, in any case.
void containsFunction(sqlite3_context *context, int, sqlite3_value **values)
{
    const auto text = [&](int i) {
        return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_value_text(values[i])),
            sqlite3_value_bytes(values[i]));
    };
    sqlite3_result_int(context, text(0).contains(text(1), Qt::CaseInsensitive) ? 1 : 0);
}

#ifndef _WIN32
// Takes the group's and others' bits off an existing file or folder of ours. Best effort: a file
// of another owner keeps its mode, and using it reports what is wrong.
void dropOthersAccess(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat info;
    if (::stat(native.constData(), &info) == 0 && (info.st_mode & 077) != 0)
        ::chmod(native.constData(), info.st_mode & 0700);
}
#endif

// The history holds every statement ever run, literals and passwords included: its folder and
// files are for their owner alone, from the moment they exist. The database file is created here,
// empty (an empty file is an empty database), with mode 0600; SQLite creates the -wal and -shm
// files with the mode of the database file, so they are 0600 too. Returns false when the folder
// cannot be created.
bool prepareOwnerOnly(const QString &path)
{
    const QString folder = QFileInfo(path).absolutePath();
#ifdef _WIN32
    return QDir().mkpath(folder);
#else
    const QFile::Permissions ownerOnlyFolder =
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    if (!QFileInfo(folder).isDir()) {
        // The folders above are common ones and get the usual mode; ours is made 0700 at once.
        QDir().mkpath(QFileInfo(folder).absolutePath());
        QDir().mkdir(folder, ownerOnlyFolder);
        if (!QFileInfo(folder).isDir())
            return false;
    }
    dropOthersAccess(folder);
    QFile file(path);
    if (!file.exists()
        && file.open(
            QIODevice::WriteOnly | QIODevice::NewOnly, QFile::ReadOwner | QFile::WriteOwner))
        file.close();
    for (const char *suffix : { "", "-wal", "-shm" })
        dropOthersAccess(path + QLatin1String(suffix));
    return true;
#endif
}

// A search's rows carry the beginning of each statement only: one character more than a list
// entry shows tells whether its first line is cut. The whole text is read when a row is picked.
const char *const kColumns = "e.id, substr(e.text, 1, 1001), e.alias, e.started, e.elapsed,"
                             " e.records, e.outcome, e.error";
static_assert(HistoryStore::MaxShownChars == 1000, "the head read by kColumns");

} // namespace

// The index's tokenizer as the table declares it, asked whether it can find a word as the search
// rules say. Its tables of case and marks are those of Unicode 6.1, after which it is named (a
// newer capital is not matched by its small letter, nor the other way round), and a few letters
// of Qt's tables are no letters to it at all.
class HistoryDb::Tokenizer
{
public:
    explicit Tokenizer(sqlite3 *db)
    {
        fts5_api *api = nullptr;
        sqlite3_stmt *raw = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT fts5(?1)", -1, &raw, nullptr) == SQLITE_OK) {
            sqlite3_bind_pointer(raw, 1, &api, "fts5_api_ptr", nullptr);
            sqlite3_step(raw);
        }
        sqlite3_finalize(raw);
        void *context = nullptr;
        const char *arguments[] = { "tokenchars", "_" }; // as the table is created
        if (!api || api->xFindTokenizer(api, "unicode61", &context, &m_api) != SQLITE_OK
            || m_api.xCreate(context, arguments, 2, &m_tokenizer) != SQLITE_OK)
            m_tokenizer = nullptr;
    }
    ~Tokenizer()
    {
        if (m_tokenizer)
            m_api.xDelete(m_tokenizer);
    }
    Tokenizer(const Tokenizer &) = delete;
    Tokenizer &operator=(const Tokenizer &) = delete;

    // True when every letter and digit of `word`, and its other case, is of its tables and
    // inside one of its tokens.
    bool finds(const QString &word) const
    {
        const QByteArray utf8 = word.toUtf8();
        std::vector<std::pair<int, int>> tokens; // byte ranges
        const auto collect = [](void *out, int, const char *, int, int start, int end) {
            static_cast<std::vector<std::pair<int, int>> *>(out)->emplace_back(start, end);
            return SQLITE_OK;
        };
        if (m_tokenizer)
            m_api.xTokenize(m_tokenizer, &tokens, FTS5_TOKENIZE_QUERY, utf8.constData(),
                int(utf8.size()), collect);
        int byte = 0;
        for (qsizetype i = 0; i < word.size(); ++i) {
            char32_t c = word.at(i).unicode();
            if (word.at(i).isHighSurrogate() && i + 1 < word.size()
                && word.at(i + 1).isLowSurrogate()) {
                c = QChar::surrogateToUcs4(word.at(i), word.at(i + 1));
                ++i;
            }
            // Without its tokenizer the index is asked, as always.
            const bool kept = !m_tokenizer
                || std::any_of(tokens.begin(), tokens.end(), [byte](const std::pair<int, int> &t) {
                       return byte >= t.first && byte < t.second;
                   });
            const auto known = [](char32_t letter) {
                return QChar::unicodeVersion(letter) <= QChar::Unicode_6_1;
            };
            if (QChar::isLetterOrNumber(c)
                && (!kept || !known(c) || !known(QChar::toUpper(c)) || !known(QChar::toLower(c))))
                return false;
            byte += c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
        }
        return true;
    }

private:
    fts5_tokenizer m_api {};
    Fts5Tokenizer *m_tokenizer = nullptr;
};

HistoryDb::HistoryDb(
    const QString &path, int busyTimeoutMs, const std::function<QStringList()> &importTexts)
    : m_path(path)
{
    if (!prepareOwnerOnly(path))
        throw HistoryDbError(
            QStringLiteral("Cannot create the folder %1").arg(QFileInfo(path).absolutePath()),
            false);
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db,
        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const QString message =
            m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("out of memory");
        sqlite3_close(m_db);
        m_db = nullptr;
        throw HistoryDbError(QStringLiteral("%1: %2").arg(path, message), isCorruptCode(rc));
    }
    try {
        sqlite3_extended_result_codes(m_db, 1);
        if (sqlite3_create_function_v2(m_db, "history_contains", 2,
                SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_DIRECTONLY, nullptr, containsFunction,
                nullptr, nullptr, nullptr)
            != SQLITE_OK)
            fail(QStringLiteral("opening"));
        sqlite3_busy_timeout(m_db, busyTimeoutMs);
        // A file that may not be written is of no use to a history that records.
        if (sqlite3_db_readonly(m_db, "main") == 1)
            throw HistoryDbError(QStringLiteral("%1: the file is read-only").arg(path), false);
        exec("PRAGMA journal_mode=WAL");
        // In WAL mode NORMAL loses at most the last commits on a power cut, never the file.
        exec("PRAGMA synchronous=NORMAL");
        const auto userVersion = [this] {
            return scalar("PRAGMA user_version", QStringLiteral("reading the version"));
        };
        // A new file gets its schema and the settings history in one write transaction, so that
        // of two processes starting on a new file only one imports. An existing one is only
        // read here, so that opening never waits for another process's write.
        // An older file gets what later versions added in the same way, once.
        const qint64 seen = userVersion();
        const bool isNew = seen < SchemaVersion;
        if (isNew)
            exec("BEGIN IMMEDIATE");
        const qint64 schema = isNew ? userVersion() : seen;
        if (schema == 0) {
            exec("CREATE TABLE entries(id INTEGER PRIMARY KEY, text TEXT NOT NULL,"
                 " alias TEXT COLLATE NOCASE, started INTEGER, elapsed INTEGER, records INTEGER,"
                 " outcome INTEGER NOT NULL, error TEXT)");
            exec("CREATE INDEX entries_alias ON entries(alias, id)");
            // An identifier with underscores is one word, as SQL reads it; prefixes of one to
            // three characters have their own index, so that the first keystrokes are quick.
            exec("CREATE VIRTUAL TABLE entries_text USING fts5(text, content='entries',"
                 " content_rowid='id', prefix='1 2 3', tokenize=\"unicode61 tokenchars '_'\")");
            exec("CREATE TRIGGER entries_ai AFTER INSERT ON entries BEGIN"
                 " INSERT INTO entries_text(rowid, text) VALUES (new.id, new.text); END");
            exec("CREATE TRIGGER entries_ad AFTER DELETE ON entries BEGIN"
                 " INSERT INTO entries_text(entries_text, rowid, text)"
                 " VALUES ('delete', old.id, old.text); END");
            exec("PRAGMA user_version=1");
            if (importTexts) {
                QList<HistoryRecord> records;
                for (const QString &text : importTexts()) {
                    HistoryRecord record;
                    record.text = text;
                    records << record;
                }
                for (const HistoryRecord &record : std::as_const(records))
                    insertRow(record);
                m_imported = true;
            }
        }
        if (schema < 2) {
            // The values a run's markers were bound to, in the markers' order; a NULL value is
            // SQL's NULL. key is the statement's text as statementKey gives it.
            exec("CREATE TABLE parameters(entry INTEGER NOT NULL, position INTEGER NOT NULL,"
                 " key TEXT NOT NULL, name TEXT NOT NULL, value TEXT,"
                 " PRIMARY KEY(entry, position)) WITHOUT ROWID");
            exec("CREATE INDEX parameters_key ON parameters(key, entry)");
            exec("CREATE INDEX parameters_name ON parameters(name, entry)");
            exec("CREATE TRIGGER entries_parameters_ad AFTER DELETE ON entries BEGIN"
                 " DELETE FROM parameters WHERE entry = old.id; END");
            exec("PRAGMA user_version=2");
        }
        if (isNew)
            exec("COMMIT");
    } catch (...) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        throw;
    }
}

HistoryDb::~HistoryDb()
{
    m_tokenizer.reset(); // before the connection whose module made it
    // Closing only fails while statements are open; none outlives the call that prepared it.
    sqlite3_close_v2(m_db);
}

void HistoryDb::fail(const QString &what) const
{
    const int code = sqlite3_extended_errcode(m_db);
    throw HistoryDbError(
        QStringLiteral("%1: %2 (%3)").arg(m_path, QString::fromUtf8(sqlite3_errmsg(m_db)), what),
        isCorruptCode(code));
}

void HistoryDb::exec(const char *sql) const
{
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        fail(QString::fromLatin1(sql).section(QLatin1Char(' '), 0, 1).toLower());
}

qint64 HistoryDb::insert(const HistoryRecord &record, int keep)
{
    // The run and the trim are one transaction: one commit, and no reader sees more than keep.
    const bool own = sqlite3_get_autocommit(m_db) != 0;
    if (own)
        exec("BEGIN IMMEDIATE");
    try {
        const qint64 id = insertRow(record);
        if (keep > 0)
            trim(keep);
        if (own)
            exec("COMMIT");
        return id;
    } catch (...) {
        if (own)
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

qint64 HistoryDb::insertRow(const HistoryRecord &record)
{
    sqlite3_stmt *raw = nullptr;
    if (sqlite3_prepare_v2(m_db,
            "INSERT INTO entries(text, alias, started, elapsed, records, outcome, error)"
            " VALUES (?, ?, ?, ?, ?, ?, ?)",
            -1, &raw, nullptr)
        != SQLITE_OK)
        fail(QStringLiteral("recording a run"));
    Statement statement(raw);
    bindText(raw, 1, record.text.isNull() ? QStringLiteral("") : record.text);
    bindText(raw, 2, record.alias.isEmpty() ? QString() : Sql::asciiUpper(record.alias));
    bindNumber(raw, 3, record.startedMs);
    bindNumber(raw, 4, record.elapsedMs);
    bindNumber(raw, 5, record.recordCount);
    sqlite3_bind_int(raw, 6, int(record.outcome));
    bindText(raw, 7, record.errorText.isEmpty() ? QString() : record.errorText);
    if (sqlite3_step(raw) != SQLITE_DONE)
        fail(QStringLiteral("recording a run"));
    const qint64 id = sqlite3_last_insert_rowid(m_db);
    if (record.parameters.isEmpty())
        return id;
    if (sqlite3_prepare_v2(m_db,
            "INSERT INTO parameters(entry, position, key, name, value) VALUES (?, ?, ?, ?, ?)", -1,
            &raw, nullptr)
        != SQLITE_OK)
        fail(QStringLiteral("recording a run's values"));
    Statement values(raw);
    const QString key = HistoryRecord::statementKey(record.text);
    for (int i = 0; i < record.parameters.size(); ++i) {
        const HistoryParameter &parameter = record.parameters.at(i);
        sqlite3_reset(raw);
        sqlite3_bind_int64(raw, 1, id);
        sqlite3_bind_int(raw, 2, i);
        bindText(raw, 3, key);
        bindText(raw, 4, parameter.name);
        if (parameter.isNull)
            sqlite3_bind_null(raw, 5);
        else
            bindText(raw, 5, parameter.value.isNull() ? QStringLiteral("") : parameter.value);
        if (sqlite3_step(raw) != SQLITE_DONE)
            fail(QStringLiteral("recording a run's values"));
    }
    return id;
}

QVector<HistoryParameter> HistoryDb::parametersOf(qint64 entry) const
{
    sqlite3_stmt *raw = nullptr;
    if (sqlite3_prepare_v2(m_db,
            "SELECT name, value, value IS NULL FROM parameters WHERE entry = ? ORDER BY position",
            -1, &raw, nullptr)
        != SQLITE_OK)
        fail(QStringLiteral("reading a run's values"));
    Statement statement(raw);
    sqlite3_bind_int64(raw, 1, entry);
    QVector<HistoryParameter> parameters;
    int rc;
    while ((rc = sqlite3_step(raw)) == SQLITE_ROW)
        parameters.append(
            { columnText(raw, 0), sqlite3_column_int(raw, 2) != 0, columnText(raw, 1) });
    if (rc != SQLITE_DONE)
        fail(QStringLiteral("reading a run's values"));
    return parameters;
}

QVector<HistoryParameter> HistoryDb::lastValues(const QString &statement) const
{
    sqlite3_stmt *raw = nullptr;
    if (sqlite3_prepare_v2(
            m_db, "SELECT max(entry) FROM parameters WHERE key = ?", -1, &raw, nullptr)
        != SQLITE_OK)
        fail(QStringLiteral("reading the last values"));
    Statement newest(raw);
    bindText(raw, 1, HistoryRecord::statementKey(statement));
    if (sqlite3_step(raw) != SQLITE_ROW)
        fail(QStringLiteral("reading the last values"));
    if (sqlite3_column_type(raw, 0) == SQLITE_NULL)
        return {};
    return parametersOf(sqlite3_column_int64(raw, 0));
}

QStringList HistoryDb::recentValues(const QString &name, int limit) const
{
    sqlite3_stmt *raw = nullptr;
    if (sqlite3_prepare_v2(m_db,
            "SELECT value FROM parameters WHERE name = ? AND value IS NOT NULL"
            " GROUP BY value ORDER BY max(entry) DESC LIMIT ?",
            -1, &raw, nullptr)
        != SQLITE_OK)
        fail(QStringLiteral("reading the values used before"));
    Statement statement(raw);
    bindText(raw, 1, name);
    sqlite3_bind_int(raw, 2, limit);
    QStringList values;
    int rc;
    while ((rc = sqlite3_step(raw)) == SQLITE_ROW)
        values << columnText(raw, 0);
    if (rc != SQLITE_DONE)
        fail(QStringLiteral("reading the values used before"));
    return values;
}

qint64 HistoryDb::insertMany(const QList<HistoryRecord> &records, int keep)
{
    exec("BEGIN IMMEDIATE");
    try {
        qint64 id = 0;
        for (const HistoryRecord &record : records)
            id = insertRow(record);
        if (keep > 0)
            trim(keep);
        exec("COMMIT");
        return id;
    } catch (...) {
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

void HistoryDb::trim(int keep)
{
    // Ids are given as the greatest plus one and only the oldest runs are ever deleted, so the
    // ids of the stored runs have no gaps: the runs beyond `keep` are those at or below the
    // greatest id less `keep`. Both ends are read from the key alone, whatever the count.
    sqlite3_stmt *raw = nullptr;
    if (sqlite3_prepare_v2(m_db,
            "DELETE FROM entries WHERE id <= (SELECT max(id) FROM entries) - ?", -1, &raw, nullptr)
        != SQLITE_OK)
        fail(QStringLiteral("keeping the limit"));
    Statement remove(raw);
    sqlite3_bind_int(raw, 1, keep);
    if (sqlite3_step(raw) != SQLITE_DONE)
        fail(QStringLiteral("keeping the limit"));
}

void HistoryDb::setEnd(qint64 id, qint64 elapsedMs, RunOutcome outcome, const QString &errorText)
{
    sqlite3_stmt *raw = nullptr;
    if (sqlite3_prepare_v2(m_db,
            "UPDATE entries SET elapsed = ?, outcome = ?, error = ? WHERE id = ?", -1, &raw,
            nullptr)
        != SQLITE_OK)
        fail(QStringLiteral("recording the end of a run"));
    Statement statement(raw);
    bindNumber(raw, 1, elapsedMs);
    sqlite3_bind_int(raw, 2, int(outcome));
    bindText(raw, 3, errorText.isEmpty() ? QString() : errorText);
    sqlite3_bind_int64(raw, 4, id);
    if (sqlite3_step(raw) != SQLITE_DONE)
        fail(QStringLiteral("recording the end of a run"));
}

void HistoryDb::setRecordCount(qint64 id, qint64 count)
{
    sqlite3_stmt *raw = nullptr;
    if (sqlite3_prepare_v2(m_db, "UPDATE entries SET records = ? WHERE id = ?", -1, &raw, nullptr)
        != SQLITE_OK)
        fail(QStringLiteral("recording a record count"));
    Statement statement(raw);
    bindNumber(raw, 1, count);
    sqlite3_bind_int64(raw, 2, id);
    if (sqlite3_step(raw) != SQLITE_DONE)
        fail(QStringLiteral("recording a record count"));
}

QList<HistoryRecord> HistoryDb::search(const QString &text, int limit) const
{
    if (!m_tokenizer)
        m_tokenizer = std::make_unique<Tokenizer>(m_db);
    const Query query =
        parseQuery(text, [this](const QString &word) { return m_tokenizer->finds(word); });
    QByteArray sql = "SELECT ";
    sql += kColumns;
    QByteArray where;
    if (!query.alias.isEmpty())
        where += " AND e.alias = ?2";
    // Words the index cannot find are looked for in the runs it gives, or, without other words,
    // in every run from the newest down; either way the walk stops at the limit.
    for (int i = 0; i < query.substrings.size(); ++i)
        where += " AND history_contains(e.text, ?" + QByteArray::number(4 + i) + ')';
    if (!query.match.isEmpty()) {
        // The index is walked from its newest row down and the walk stops at the limit.
        sql += " FROM entries_text CROSS JOIN entries e ON e.id = entries_text.rowid"
               " WHERE entries_text MATCH ?1";
        sql += where;
        sql += " ORDER BY entries_text.rowid DESC LIMIT ?3";
    } else {
        sql += " FROM entries e";
        if (!where.isEmpty())
            sql += " WHERE" + where.mid(4);
        sql += " ORDER BY e.id DESC LIMIT ?3";
    }
    sqlite3_stmt *raw = nullptr;
    if (sqlite3_prepare_v2(m_db, sql.constData(), int(sql.size()), &raw, nullptr) != SQLITE_OK)
        fail(QStringLiteral("searching"));
    Statement statement(raw);
    if (!query.match.isEmpty())
        bindText(raw, 1, query.match);
    if (!query.alias.isEmpty())
        bindText(raw, 2, query.alias);
    sqlite3_bind_int(raw, 3, limit);
    for (int i = 0; i < query.substrings.size(); ++i)
        bindText(raw, 4 + i, query.substrings.at(i));
    QList<HistoryRecord> records;
    int rc;
    while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
        HistoryRecord record;
        record.id = sqlite3_column_int64(raw, 0);
        record.text = columnText(raw, 1);
        record.textCut = record.text.size() > HistoryStore::MaxShownChars;
        record.alias = columnText(raw, 2);
        record.startedMs = columnNumber(raw, 3);
        record.elapsedMs = columnNumber(raw, 4);
        record.recordCount = columnNumber(raw, 5);
        const int outcome = sqlite3_column_int(raw, 6);
        record.outcome = outcome >= 0 && outcome <= int(RunOutcome::Cancelled)
            ? RunOutcome(outcome)
            : RunOutcome::Unknown;
        record.errorText = columnText(raw, 7);
        records << record;
    }
    if (rc != SQLITE_DONE)
        fail(QStringLiteral("searching"));
    for (HistoryRecord &record : records)
        record.parameters = parametersOf(record.id);
    return records;
}

QString HistoryDb::text(qint64 id) const
{
    sqlite3_stmt *raw = nullptr;
    if (sqlite3_prepare_v2(m_db, "SELECT text FROM entries WHERE id = ?", -1, &raw, nullptr)
        != SQLITE_OK)
        fail(QStringLiteral("reading a statement"));
    Statement statement(raw);
    sqlite3_bind_int64(raw, 1, id);
    const int rc = sqlite3_step(raw);
    if (rc == SQLITE_DONE)
        return QString();
    if (rc != SQLITE_ROW)
        fail(QStringLiteral("reading a statement"));
    return columnText(raw, 0);
}

qint64 HistoryDb::count() const
{
    return scalar("SELECT count(*) FROM entries", QStringLiteral("counting"));
}

qint64 HistoryDb::scalar(const char *sql, const QString &what) const
{
    sqlite3_stmt *raw = nullptr;
    if (sqlite3_prepare_v2(m_db, sql, -1, &raw, nullptr) != SQLITE_OK)
        fail(what);
    Statement statement(raw);
    if (sqlite3_step(raw) != SQLITE_ROW)
        fail(what);
    return sqlite3_column_int64(raw, 0);
}

QString HistoryDb::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)
        + QStringLiteral("/history.db");
}

QString HistoryDb::moveAside(const QString &path)
{
    const QString stamp =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target;
    for (int n = 0;; ++n) {
        target = path + QStringLiteral(".damaged-") + stamp
            + (n ? QStringLiteral("-%1").arg(n) : QString());
        if (!QFile::exists(target))
            break;
    }
    if (!QFile::rename(path, target))
        throw HistoryDbError(QStringLiteral("Cannot move %1 aside to %2").arg(path, target), false);
    // The journal files belong to the damaged file: they go with it, so that a new database
    // under the old name does not replay them.
    for (const char *suffix : { "-wal", "-shm" }) {
        const QString companion = path + QLatin1String(suffix);
        if (QFile::exists(companion))
            QFile::rename(companion, target + QLatin1String(suffix));
    }
#ifndef _WIN32
    // What can still be read of it is as private as the history itself.
    for (const char *suffix : { "", "-wal", "-shm" })
        dropOthersAccess(target + QLatin1String(suffix));
#endif
    return target;
}
