#include "connection/QueryDataset.h"

#include "connection/QueryDatasetImpl.h"
#include "connection/ResultReader.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <utility>

QueryDataset::QueryDataset(std::size_t storeBudget)
    : d(std::make_unique<Impl>())
{
    d->storeBudget = storeBudget;
}

QueryDataset::~QueryDataset()
{
    Close(); // never throws: it only frees handles
}

void QueryDataset::setConnection(const QString &name, std::shared_ptr<ConnectionHandle> connection)
{
    d->databaseName = name;
    d->connection = std::move(connection);
}

std::shared_ptr<ConnectionHandle> QueryDataset::connection() const
{
    return d->connection;
}

std::shared_ptr<StatementCancel> QueryDataset::cancelPoint() const
{
    return d->cancel;
}

QString QueryDataset::databaseName() const
{
    return d->databaseName;
}

void QueryDataset::setSql(const QString &sql)
{
    d->sql = sql;
}

QString QueryDataset::sql() const
{
    return d->sql;
}

void QueryDataset::setParameters(std::vector<ParameterValue> values)
{
    d->parameters = std::move(values);
}

void QueryDataset::OpenQuery()
{
    Close();
    d->acquire();
    try {
        d->cursor.execute(d->connection->get(), d->sql, d->parameters);
        d->openResult();
    } catch (const DatabaseError &error) {
        d->fail(error);
    }
    d->recNo = d->fetched > 0 ? 0 : -1;
    d->eof = d->fetched == 0;
}

void QueryDataset::openFeed(std::shared_ptr<ResultFeed> feed)
{
    Close();
    std::vector<int> fixed;
    for (const ResultFeed::Column &column : feed->columns()) {
        d->fields.push_back({ column.title, column.type, column.width, column.kind });
        fixed.push_back(ValueText::storedFixedBytes(column.kind));
    }
    d->store = std::make_shared<ResultStore>(std::move(fixed), d->storeBudget);
    static std::atomic<std::uint64_t> fed { 0 };
    d->serial = (std::uint64_t(1) << 63) | ++fed; // apart from the statements' numbers
    d->feed = std::move(feed);
    d->allFetched = false;
    d->open = true;
    d->feedBlock(false);
    d->recNo = d->fetched > 0 ? 0 : -1;
    d->eof = d->fetched == 0;
}

void QueryDataset::ExecQuery()
{
    Close();
    d->affected = -1;
    d->acquire();
    try {
        d->cursor.execute(d->connection->get(), d->sql, d->parameters);
    } catch (const DatabaseError &error) {
        d->fail(error);
    }
    SQLLEN rows = -1;
    if (SQL_SUCCEEDED(SQLRowCount(d->cursor.statement(), &rows)))
        d->affected = rows;
    d->finishStatement();
}

qint64 QueryDataset::rowsAffected() const
{
    return d->affected;
}

int QueryDataset::CountRecords()
{
    while (!d->allFetched)
        d->fetchBlock();
    return d->fetched;
}

bool QueryDataset::IsOpen() const
{
    return d->open;
}

void QueryDataset::setWantsMoreResults(bool wanted)
{
    d->wantsMoreResults = wanted;
}

QVector<ParameterType> QueryDataset::describeParameters()
{
    Close();
    d->acquire();
    QVector<ParameterType> types;
    try {
        OdbcHandle statement(SQL_HANDLE_STMT, d->connection->get());
        Odbc::check(SQLPrepareW(statement.get(), const_cast<SQLWCHAR *>(Odbc::wide(d->sql)),
                        d->sql.isEmpty() ? SQL_NTS : SQLINTEGER(d->sql.size())),
            statement);
        types = ::describeParameters(statement.get());
    } catch (const DatabaseError &error) {
        d->fail(error);
    }
    d->finishStatement();
    return types;
}

QVector<ParameterOutput> QueryDataset::parameterOutputs() const
{
    return d->cursor.parameterOutputs();
}

bool QueryDataset::hasNextResult() const
{
    return bool(d->nextResult);
}

std::unique_ptr<QueryDataset> QueryDataset::takeNextResult()
{
    if (!d->nextResult)
        return nullptr;
    auto next = std::make_unique<QueryDataset>(d->storeBudget);
    Impl &n = *next->d;
    n.databaseName = d->databaseName;
    n.connection = d->connection;
    n.sql = d->sql;
    n.wantsMoreResults = true;
    d->nextResult->handOver(n.cursor);
    d->nextResult.reset();
    // The connection's turn goes with the statement.
    n.holdsTicket = std::exchange(d->holdsTicket, false);
    try {
        n.openResult();
    } catch (const DatabaseError &error) {
        n.fail(error);
    }
    n.recNo = n.fetched > 0 ? 0 : -1;
    n.eof = n.fetched == 0;
    return next;
}

void QueryDataset::Close()
{
    d->nextResult.reset(); // a result nobody took ends with this one
    d->ahead.reset(); // what it fetched goes with the rest
    d->pendingError = nullptr;
    if (d->feed) {
        d->feed->close(); // its producers stop
        d->feed.reset();
    }
    d->finishStatement();
    d->open = false;
    d->fields.clear();
    d->cursor.releaseBuffers();
    d->store.reset();
    d->fetched = 0;
    d->recNo = -1;
    d->eof = true;
}

void QueryDataset::GoFirst()
{
    d->recNo = d->fetched > 0 ? 0 : -1;
    d->eof = d->fetched == 0;
}

void QueryDataset::GoNext()
{
    if (d->eof)
        return;
    if (d->recNo + 1 >= d->fetched)
        d->fetchBlock();
    if (d->recNo + 1 < d->fetched)
        ++d->recNo;
    else
        d->eof = true;
}

bool QueryDataset::AtEof() const
{
    return d->eof;
}

int QueryDataset::RecNo() const
{
    return d->recNo;
}

void QueryDataset::setRecNo(int record)
{
    while (record >= d->fetched && !d->allFetched)
        d->fetchBlock();
    if (d->fetched == 0)
        return;
    d->recNo = std::clamp(record, 0, d->fetched - 1);
    d->eof = false;
}

int QueryDataset::fetchedCount() const
{
    return d->fetched;
}

bool QueryDataset::allFetched() const
{
    return d->allFetched;
}

void QueryDataset::fetchMore()
{
    if (d->feed)
        d->feedBlock(false);
    else
        d->fetchBlock();
}

int QueryDataset::FieldCount() const
{
    return int(d->fields.size());
}

QString QueryDataset::FieldTitle(int field) const
{
    return field >= 0 && field < FieldCount() ? d->fields[std::size_t(field)].title : QString();
}

int QueryDataset::FieldType(int field) const
{
    return field >= 0 && field < FieldCount() ? d->fields[std::size_t(field)].type
                                              : int(FieldTypes::Unknown);
}

int QueryDataset::DisplayWidth(int field) const
{
    return field >= 0 && field < FieldCount() ? d->fields[std::size_t(field)].width : 0;
}

void QueryDataset::setDisplayWidth(int field, int width)
{
    if (field >= 0 && field < FieldCount())
        d->fields[std::size_t(field)].width = width;
}

ValueText::StoredKind QueryDataset::fieldKind(int field) const
{
    return field >= 0 && field < FieldCount() ? d->fields[std::size_t(field)].kind
                                              : ValueText::StoredKind::Text;
}

bool QueryDataset::FieldIsNull(int field) const
{
    return isNull(d->recNo, field);
}

QString QueryDataset::FieldString(int field) const
{
    return text(d->recNo, field);
}

bool QueryDataset::appendFieldString(int field, QString &out) const
{
    return appendText(d->recNo, field, out);
}

bool QueryDataset::isNull(int record, int field) const
{
    return !d->store || d->store->isNull(record, field);
}

QString QueryDataset::text(int record, int field) const
{
    QString result;
    if (appendText(record, field, result) && result.isNull())
        result = QString::fromUtf8("", 0); // an empty value, not a NULL one
    return result;
}

bool QueryDataset::appendText(int record, int field, QString &out) const
{
    const char *value = nullptr;
    std::size_t length = 0;
    if (!d->store || !d->store->value(record, field, value, length))
        return false;
    ValueText::appendStoredText(out, d->fields[std::size_t(field)].kind, value, length);
    return true;
}

QString QueryDataset::displayText(int record, int field, int maxChars) const
{
    const char *value = nullptr;
    std::size_t length = 0;
    if (!d->store || !d->store->value(record, field, value, length))
        return QString();
    const ValueText::StoredKind kind = d->fields[std::size_t(field)].kind;
    if (kind != ValueText::StoredKind::Text && kind != ValueText::StoredKind::Binary)
        return text(record, field);
    return ValueText::storedDisplayText(kind, value, length, maxChars);
}

bool QueryDataset::fieldNumber(int field, double &value) const
{
    const char *data = nullptr;
    std::size_t length = 0;
    if (field < 0 || field >= FieldCount()
        || d->fields[std::size_t(field)].kind != ValueText::StoredKind::Double || !d->store
        || !d->store->value(d->recNo, field, data, length))
        return false;
    std::memcpy(&value, data, sizeof value);
    return true;
}

bool QueryDataset::fieldStored(
    int field, ValueText::StoredKind &kind, const char *&data, std::size_t &length) const
{
    if (field < 0 || field >= FieldCount() || !d->store
        || !d->store->value(d->recNo, field, data, length))
        return false;
    kind = d->fields[std::size_t(field)].kind;
    return true;
}

std::size_t QueryDataset::rowsetRows(std::size_t rowBytes)
{
    return OdbcCursor::rowsetRows(rowBytes);
}

std::size_t QueryDataset::boundBytes() const
{
    return d->cursor.boundBytes();
}

std::size_t QueryDataset::readAheadBytes() const
{
    return d->cursor.largestRowsetBytes();
}

std::size_t QueryDataset::storeBytes() const
{
    return d->store ? d->store->memoryBytes() : 0;
}

std::unique_ptr<ResultReader> QueryDataset::reader() const
{
    if (!d->open || !d->allFetched || !d->store)
        return nullptr;
    std::vector<ValueText::StoredKind> kinds;
    for (const Impl::Field &field : d->fields)
        kinds.push_back(field.kind);
    return std::make_unique<ResultReader>(d->store, std::move(kinds));
}

std::uint64_t QueryDataset::serial() const
{
    return d->serial;
}
