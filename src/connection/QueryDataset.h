#pragma once

#include "connection/StatementParameters.h"
#include "valuetext/FieldTypes.h"
#include "valuetext/StoredValue.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class ConnectionHandle;
class ResultFeed;
class ResultReader;
class StatementCancel;

// One statement and its result: a forward-only ODBC cursor (OdbcCursor) fetched in blocks into a
// result store (in memory up to the budget its maker hands in, beyond it in a temporary file),
// lazily. Owned by one thread at a time: the worker while it opens and counts, then the UI thread
// after the hand-over. Records are numbered from 0 in fetch order. From OpenQuery or ExecQuery
// until its cursor reached the end of the data (or Close), the dataset holds its connection's turn:
// another statement on that connection waits for it. So a second statement on the same connection
// must not be opened on the thread that holds a partly fetched result; CountRecords or Close it
// first.
class QueryDataset
{
public:
    // storeBudget: the bytes the fetched rows may take in memory before the oldest go to a
    // temporary file (the window hands in the user's setting).
    explicit QueryDataset(std::size_t storeBudget = DefaultStoreBudget);
    ~QueryDataset(); // closes the statement and lets go of the connection; never throws
    QueryDataset(const QueryDataset &) = delete;
    QueryDataset &operator=(const QueryDataset &) = delete;

    static constexpr std::size_t DefaultStoreBudget = std::size_t(256) * 1024 * 1024;

    // The connection handed in by whoever runs the statement, and the alias it belongs to; the
    // statement later runs on whatever thread calls OpenQuery.
    void setConnection(const QString &name, std::shared_ptr<ConnectionHandle> connection);
    std::shared_ptr<ConnectionHandle> connection() const;
    QString databaseName() const;
    // Cancels the running statement from another thread (see StatementCancel).
    std::shared_ptr<StatementCancel> cancelPoint() const;
    void setSql(const QString &sql);
    QString sql() const;
    // Several results (a batch, a procedure's result sets): with wanted set before OpenQuery,
    // the end of each result's data moves the statement on to its next result, which
    // takeNextResult hands out as a dataset of its own, open on its first block, holding the
    // connection's turn as this one did (null when there is none). A result not taken ends
    // with Close. Off by default: the statement ends with its first result.
    void setWantsMoreResults(bool wanted);
    bool hasNextResult() const;
    // What the statement's OUT and INOUT parameters hold once it ran (ExecQuery) or its results
    // were read.
    QVector<ParameterOutput> parameterOutputs() const;
    std::unique_ptr<QueryDataset> takeNextResult();
    // What the driver says the statement's markers take, from a prepare that does not run it;
    // an empty list when the driver cannot say. Takes the connection's turn for the prepare
    // only. Raises DatabaseError when the statement cannot be prepared.
    QVector<ParameterType> describeParameters();
    // Values for the statement's markers, bound in order when it runs; none by default.
    void setParameters(std::vector<ParameterValue> values);

    // Runs the statement and fetches the first block only. Raises DatabaseError; raises when the
    // statement returns no result set or the connection is not open.
    void OpenQuery();
    // A result whose rows others produce (several statements merged into one): the fields are
    // the feed's, the rows arrive through it and are kept in this dataset's store as a
    // statement's would be. Open at once, holding no connection; all fetched once the feed has
    // finished and every row was taken. Close closes the feed: its producers stop. A fetch that
    // needs a row waits for it; fetchMore on the UI thread takes only what has arrived.
    void openFeed(std::shared_ptr<ResultFeed> feed);
    // Runs a statement without a result set. Raises DatabaseError.
    void ExecQuery();
    // The rows the last ExecQuery changed, as the driver counts them; -1 when it does not say.
    qint64 rowsAffected() const;
    // Fetches the rest of the result into the store and returns the number of records.
    int CountRecords();
    bool IsOpen() const;
    // Frees the statement and the store; IsOpen becomes false.
    void Close();

    // Navigation over the store; GoNext fetches the next block when needed. A lost connection
    // in the middle of a fetch raises DatabaseError, never a silently short result.
    void GoFirst();
    void GoNext();
    bool AtEof() const;
    int RecNo() const; // the current record, -1 when the result is empty
    void setRecNo(int record); // moves to a fetched record (fetching up to it when needed)

    // A walk over many records: while one lives, the next blocks are fetched on a thread of
    // their own, so that the walk's work on each record overlaps the fetching. Navigation and
    // values behave as without it, and only the owner's thread may use the dataset meanwhile.
    // finish() stops the fetching ahead and stores every row fetched so far (raising what
    // storing raises); the end of its life does the same and swallows such an error, for a walk
    // that is ending on an error of its own, so call finish() on every other way out. An error
    // met ahead is raised when the rows it stopped are asked for, as a plain fetch would.
    // wantedRecords: the records the walk needs, all when negative; none is fetched ahead of
    // those, so a short walk never waits for rows it does not need.
    class ReadAhead
    {
    public:
        explicit ReadAhead(QueryDataset &query, int wantedRecords = -1);
        ~ReadAhead();
        ReadAhead(const ReadAhead &) = delete;
        ReadAhead &operator=(const ReadAhead &) = delete;
        void finish();

    private:
        QueryDataset &m_query;
    };

    // Lazy access for the grid.
    int fetchedCount() const; // records in the store so far
    bool allFetched() const; // the cursor reached the end of the data
    void fetchMore(); // fetches one more block (no-op when all fetched)

    // Fields of the result, in column order.
    int FieldCount() const;
    QString FieldTitle(int field) const;
    int FieldType(int field) const;
    int DisplayWidth(int field) const;
    ValueText::StoredKind fieldKind(int field) const; // how the store keeps its values
    void setDisplayWidth(int field, int width);
    // Values of the current record.
    bool FieldIsNull(int field) const;
    QString FieldString(int field) const;
    // Appends FieldString to out and returns true; returns false and appends nothing for NULL.
    // For walks over many records: no text of its own per value.
    bool appendFieldString(int field, QString &out) const;
    // Values of any fetched record, without moving the current record.
    bool isNull(int record, int field) const;
    QString text(int record, int field) const;
    bool appendText(int record, int field, QString &out) const; // as appendFieldString
    // The text of a fetched value cut to at most maxChars characters, with "…" in place of the
    // rest, at a cost that does not grow with the value: for a grid cell. Empty for NULL.
    QString displayText(int record, int field, int maxChars) const;

    // The current record's float or currency value as fetched; false for a null value and for
    // the other kinds.
    bool fieldNumber(int field, double &value) const;
    // The current record's value as the store keeps it (valuetext/StoredValue.h): its kind and
    // bytes, valid until the record pointer moves; false for a null value.
    bool fieldStored(
        int field, ValueText::StoredKind &kind, const char *&data, std::size_t &length) const;

    // A reader of the rows for another thread, once the result is fetched whole (null before,
    // and when not open); the rows stay readable through it after Close.
    std::unique_ptr<ResultReader> reader() const;
    // A number of its own for each result opened in this process: tells two results apart
    // where one may be freed and another made at the same address.
    std::uint64_t serial() const;

    // Bytes the store holds in memory (for the benchmarks).
    std::size_t storeBytes() const;
    // Bytes of the bind buffers of the open statement: all of them together stay within a budget
    // of about 8 MB, whatever the width of a row.
    std::size_t boundBytes() const;
    // The buffers of the largest rowset a walk's read-ahead fetched into for this statement.
    std::size_t readAheadBytes() const;
    // Rows per fetch for bind buffers of rowBytes bytes a row (indicators included): as many as
    // the budget holds, at least one and at most one block of the store (1000).
    static std::size_t rowsetRows(std::size_t rowBytes);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
