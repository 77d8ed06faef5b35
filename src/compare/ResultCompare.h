#pragma once

#include "connection/ResultFeed.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class QueryDataset;
class ResultReader;

// Two results compared row by row on key columns, into one result that reads like any other: a
// first column COMPARE ("only left", "only right", "changed", or "same" when equal rows are kept),
// a column CHANGED naming the compared columns that differ, the key columns, then for each
// compared column its left and its right value side by side. Both sides are sorted on the key,
// each key followed by a hash of the row's compared values (with the sort that goes to temporary
// files beyond its bound), and the sorted keys are merge-joined from files on a thread of their
// own: results larger than memory compare, and only the rows shown are read again. The rows
// arrive through a feed, as a merged result's do. Owned by the window; UI thread only.
//
// Columns are matched by name, ignoring case; those on one side only are not compared and are
// listed in notCompared(). Values are equal when both are NULL, or when their texts are equal;
// where either side's column holds numbers, both are compared as numbers (1.0 equals 1). Keys
// match the same way, and a NULL key matches a NULL key. The rows of a key that repeats pair
// first with a row of the same values, the rest in the order of their hashes; what is left is on
// its side only. The repeats are counted.
class ResultCompare : public QObject
{
    Q_OBJECT

public:
    static QString statusColumn() { return QStringLiteral("COMPARE"); }
    static QString changedColumn() { return QStringLiteral("CHANGED"); }
    static QString onlyLeft() { return QStringLiteral("only left"); }
    static QString onlyRight() { return QStringLiteral("only right"); }
    static QString changed() { return QStringLiteral("changed"); }
    static QString same() { return QStringLiteral("same"); }

    // One side: a result fetched whole, read through its reader, with its columns; label names
    // the side in the titles of its value columns ("NAME (label)"). When filterColumn is set,
    // only the rows whose value there has the text filterText take part, and that column is not
    // compared (one alias of a merged result).
    struct Side
    {
        QString label;
        std::shared_ptr<const ResultReader> rows;
        std::vector<ResultFeed::Column> columns;
        int filterColumn = -1;
        QString filterText;
    };
    // A side from a dataset fetched whole (CountRecords first); rows is null when it is not.
    static Side sideOf(const QueryDataset &dataset, const QString &label);

    struct Counts
    {
        qint64 onlyLeft = 0;
        qint64 onlyRight = 0;
        qint64 changed = 0;
        qint64 same = 0;
        qint64 repeatedLeft = 0; // rows whose key an earlier row of the same side has
        qint64 repeatedRight = 0;
    };

    // storeBudget: the bytes the compared result may keep in memory before the rest goes to a
    // temporary file, as for any result. runBytes: the sort's bound (see RowOrder::sortKeys).
    explicit ResultCompare(std::size_t storeBudget, QObject *parent = nullptr);
    ~ResultCompare() override; // stops the compare and waits for its thread

    void setSortRunBytes(std::size_t bytes) { m_runBytes = bytes; }
    // Checks the sides and keys and starts the compare; false, with the reason in error(), when
    // they cannot be compared (a key column missing on a side, a side not fetched whole, no key).
    bool start(Side left, Side right, const QStringList &keys, bool keepSame = false);
    void stop();
    bool isRunning() const;

    // The compared result, from a successful start on (null once taken): the caller owns it.
    // Closing it stops the compare.
    std::unique_ptr<QueryDataset> takeResult();
    // From finished on: the counts, and the error that ended the compare early (empty when it
    // ran to the end; "Stopped." when stopped).
    Counts counts() const;
    QString error() const;
    // The columns of one side only, as "NAME (label)", in the order of the sides.
    QStringList notCompared() const { return m_notCompared; }
    // The counts as the line above the grid shows them.
    static QString summary(const Counts &counts);

    // The layout of the compared result: how many key columns follow COMPARE and CHANGED, and
    // the compared columns' names, each of whose left and right values follow the keys.
    int keyCount() const { return m_keyCount; }
    QStringList comparedColumns() const { return m_comparedColumns; }

signals:
    // Rows were added to the result since the last notice (one notice at a time).
    void rowsArrived();
    void finished();

private:
    struct Plan;
    void run(std::shared_ptr<Plan> plan, std::shared_ptr<ResultFeed> feed);

    std::size_t m_storeBudget;
    std::size_t m_runBytes;
    std::unique_ptr<QueryDataset> m_result;
    std::thread m_thread;
    std::atomic<bool> m_stop { false };
    std::atomic<bool> m_running { false };
    mutable std::mutex m_mutex; // guards m_counts and m_error
    Counts m_counts;
    QString m_error;
    QStringList m_notCompared;
    int m_keyCount = 0;
    QStringList m_comparedColumns;
    std::atomic<bool> m_arrivalPosted { false };
    std::shared_ptr<ResultFeed> m_feed;
};
