#include "fanout/FanOutRun.h"

#include "connection/ConnectionHandle.h"
#include "connection/DatabaseError.h"
#include "connection/QueryDataset.h"
#include "connection/ResultFeed.h"
#include "connection/StatementCancel.h"
#include "query/Reaper.h"
#include "sql/SqlLexer.h"
#include "valuetext/FieldTypes.h"

#include <QElapsedTimer>
#include <QThread>

#include <atomic>
#include <cstring>
#include <mutex>
#include <stdexcept>

using ValueText::StoredKind;

// What the workers and the run share; the workers hold it alive after the run is gone.
struct FanOutRun::Shared
{
    std::mutex mutex; // guards columns, feed and cancels
    std::vector<ResultFeed::Column> columns; // merged, ALIAS first; empty until one answered
    std::shared_ptr<ResultFeed> feed;
    std::vector<std::shared_ptr<StatementCancel>> cancels; // of the statements started
    std::atomic<bool> stopped { false };
    std::atomic<bool> arrivalPosted { false }; // one notice of new rows at a time
    std::unique_ptr<std::atomic<qint64>[]> rows; // merged rows per target
    int aliasWidth = 8; // the ALIAS column's display width
};

namespace {

// The source of each alias keeps little in memory: its rows are read once, while they are new.
constexpr std::size_t SourceBudget = std::size_t(4) * 1024 * 1024;
constexpr int BlockRows = 1000;

struct StoppedRun
{
};

// With auto-commit off on the alias's connection, the read began a transaction of its own (the
// window passes over an alias where work of the user's is open): it is rolled back once the
// statement let go of the connection, so that no lock of it stays behind. A read changes nothing.
struct ReadTransactionEnd
{
    std::shared_ptr<ConnectionHandle> connection;
    ~ReadTransactionEnd()
    {
        if (!connection || !connection->isAlive())
            return;
        connection->acquire();
        try {
            if (!connection->autoCommit())
                connection->endTransaction(false);
        } catch (...) {
            // The connection failed: the server has dropped the transaction with it.
        }
        connection->release();
    }
};

// How a value of an alias's column joins a merged column of another kind.
enum class Convert { Copy, Text, ToDouble, ToDecimal, ToInt64, None };

Convert conversion(StoredKind from, StoredKind to)
{
    if (from == to)
        return Convert::Copy;
    if (to == StoredKind::Text)
        return Convert::Text;
    // Text may hold numbers (SQLite gives an expression no type): each value is read as one.
    const bool numeric = from == StoredKind::Int64 || from == StoredKind::Double
        || from == StoredKind::Decimal || from == StoredKind::Bit || from == StoredKind::Text;
    if (to == StoredKind::Double && numeric)
        return Convert::ToDouble;
    if (to == StoredKind::Decimal && numeric && from != StoredKind::Bit)
        return Convert::ToDecimal;
    if (to == StoredKind::Int64 && numeric && from != StoredKind::Double)
        return Convert::ToInt64;
    return Convert::None;
}

[[noreturn]] void notANumber(const QString &title, const char *data, std::size_t length)
{
    throw std::runtime_error(QStringLiteral("A value of its column %1 (%2) is not a number of the "
                                            "merged result's kind.")
                                 .arg(title, QString::fromUtf8(data, qsizetype(length)))
                                 .toStdString());
}

QString kindName(StoredKind kind)
{
    static const char *const names[] = { "whole numbers", "floating-point numbers", "dates",
        "times", "timestamps", "booleans", "decimals", "text", "bytes" };
    return QLatin1String(names[int(kind)]);
}

QString titles(const std::vector<ResultFeed::Column> &columns, std::size_t from)
{
    QStringList names;
    for (std::size_t i = from; i < columns.size(); ++i)
        names << columns[i].title;
    return names.join(QStringLiteral(", "));
}

// Why an alias's columns cannot join the merged ones (empty when they can), and how each does.
QString compare(const std::vector<ResultFeed::Column> &merged,
    const std::vector<ResultFeed::Column> &mine, std::vector<Convert> &converts)
{
    bool same = merged.size() == mine.size() + 1;
    for (std::size_t i = 0; same && i < mine.size(); ++i)
        same = Sql::asciiUpper(mine[i].title) == Sql::asciiUpper(merged[i + 1].title);
    if (!same)
        return QStringLiteral("Its columns (%1) differ from the merged result's (%2): not merged.")
            .arg(titles(mine, 0), titles(merged, 1));
    converts.clear();
    for (std::size_t i = 0; i < mine.size(); ++i) {
        converts.push_back(conversion(mine[i].kind, merged[i + 1].kind));
        if (converts.back() == Convert::None)
            return QStringLiteral("Its column %1 holds %2 where the merged result holds %3: not "
                                  "merged.")
                .arg(mine[i].title, kindName(mine[i].kind), kindName(merged[i + 1].kind));
    }
    return QString();
}

void addConverted(ResultStore::Block &block, int column, Convert convert, StoredKind from,
    const char *data, std::size_t length, const QString &title)
{
    switch (convert) {
    case Convert::Copy:
    case Convert::None:
        block.addValue(column, data, length);
        return;
    case Convert::Text: {
        QString text;
        ValueText::appendStoredText(text, from, data, length);
        const QByteArray utf8 = text.toUtf8();
        block.addValue(column, utf8.constData(), std::size_t(utf8.size()));
        return;
    }
    case Convert::ToDouble: {
        double value = 0;
        bool ok = true;
        if (from == StoredKind::Int64) {
            qint64 whole;
            std::memcpy(&whole, data, sizeof whole);
            value = double(whole);
        } else if (from == StoredKind::Bit) {
            value = *data ? 1 : 0;
        } else {
            value = QByteArray(data, qsizetype(length)).trimmed().toDouble(&ok);
        }
        if (!ok)
            notANumber(title, data, length);
        block.addValue(column, reinterpret_cast<const char *>(&value), sizeof value);
        return;
    }
    case Convert::ToDecimal: {
        QByteArray text;
        if (from == StoredKind::Int64) {
            qint64 whole;
            std::memcpy(&whole, data, sizeof whole);
            text = QByteArray::number(whole);
        } else if (from == StoredKind::Double) {
            double value;
            std::memcpy(&value, data, sizeof value);
            text = QByteArray::number(value, 'g', 17);
        } else {
            bool ok = false;
            text = QByteArray(data, qsizetype(length)).trimmed();
            text.toDouble(&ok);
            if (!ok)
                notANumber(title, data, length);
        }
        block.addValue(column, text.constData(), std::size_t(text.size()));
        return;
    }
    case Convert::ToInt64: {
        bool ok = true;
        const qint64 whole = from == StoredKind::Bit
            ? qint64(*data ? 1 : 0)
            : QByteArray(data, qsizetype(length)).trimmed().toLongLong(&ok);
        if (!ok)
            notANumber(title, data, length);
        block.addValue(column, reinterpret_cast<const char *>(&whole), sizeof whole);
        return;
    }
    }
}

} // namespace

// One alias's statement: opens it on the alias's connection and copies its rows, block by block,
// into the merged result's feed. Frees itself once ended (the run connects that).
class FanOutWorker : public QThread
{
    Q_OBJECT

public:
    FanOutWorker(std::shared_ptr<FanOutRun::Shared> shared, int index, FanOutRun::Target target)
        : m_shared(std::move(shared))
        , m_index(index)
        , m_target(std::move(target))
    { }

signals:
    void opened(); // this alias answered first: the merged columns are its own
    void arrived(); // rows were merged
    void ended(int index, int state, qint64 elapsedMs, const QString &error);

protected:
    void run() override
    {
        QElapsedTimer clock;
        clock.start();
        FanOutRun::State state = FanOutRun::State::Done;
        QString error;
        try {
            work();
        } catch (const StoppedRun &) {
            state = FanOutRun::State::Stopped;
        } catch (const std::exception &failure) {
            state = m_shared->stopped ? FanOutRun::State::Stopped : FanOutRun::State::Failed;
            error = errorText(failure);
        } catch (...) {
            state = FanOutRun::State::Failed;
            error = QStringLiteral("Unknown error");
        }
        emit ended(m_index, int(state), clock.elapsed(), error);
    }

private:
    void work()
    {
        const ReadTransactionEnd end { m_target.connection }; // after the statement below
        QueryDataset source(SourceBudget);
        source.setConnection(m_target.alias, m_target.connection);
        source.setSql(m_target.sql);
        {
            std::lock_guard<std::mutex> lock(m_shared->mutex);
            if (m_shared->stopped)
                throw StoppedRun();
            m_shared->cancels.push_back(source.cancelPoint());
        }
        source.OpenQuery();

        std::vector<ResultFeed::Column> mine;
        for (int f = 0; f < source.FieldCount(); ++f)
            mine.push_back({ source.FieldTitle(f), source.FieldType(f), source.DisplayWidth(f),
                source.fieldKind(f) });
        std::vector<Convert> converts(mine.size(), Convert::Copy);
        std::shared_ptr<ResultFeed> feed;
        bool first = false;
        {
            std::lock_guard<std::mutex> lock(m_shared->mutex);
            if (m_shared->columns.empty()) {
                m_shared->columns.push_back({ FanOutRun::aliasColumn(), FieldTypes::String,
                    m_shared->aliasWidth, StoredKind::Text });
                m_shared->columns.insert(m_shared->columns.end(), mine.begin(), mine.end());
                m_shared->feed = std::make_shared<ResultFeed>(m_shared->columns);
                first = true;
            } else {
                const QString why = compare(m_shared->columns, mine, converts);
                if (!why.isEmpty())
                    throw std::runtime_error(why.toStdString());
            }
            feed = m_shared->feed;
        }
        if (first)
            emit opened();

        const QByteArray alias = m_target.alias.toUtf8();
        QueryDataset::ReadAhead ahead(source);
        int copied = 0;
        for (;;) {
            const int fetched = source.fetchedCount();
            while (copied < fetched) {
                ResultStore::Block block = feed->newBlock(std::min(BlockRows, fetched - copied));
                for (; copied < fetched && block.rows() < BlockRows; ++copied) {
                    source.setRecNo(copied);
                    block.addValue(0, alias.constData(), std::size_t(alias.size()));
                    for (int f = 0; f < int(mine.size()); ++f) {
                        StoredKind kind;
                        const char *data = nullptr;
                        std::size_t length = 0;
                        if (!source.fieldStored(f, kind, data, length))
                            block.addNull(f + 1);
                        else
                            addConverted(block, f + 1, converts[std::size_t(f)], kind, data, length,
                                mine[std::size_t(f)].title);
                    }
                    block.endRow();
                }
                const int rows = block.rows();
                if (!feed->push(std::move(block)))
                    throw StoppedRun(); // the merged result was closed
                m_shared->rows[std::size_t(m_index)] += rows;
                if (!m_shared->arrivalPosted.exchange(true))
                    emit arrived();
            }
            if (source.allFetched())
                break;
            if (m_shared->stopped)
                throw StoppedRun();
            source.fetchMore();
        }
        ahead.finish();
    }

    std::shared_ptr<FanOutRun::Shared> m_shared;
    int m_index;
    FanOutRun::Target m_target;
};

FanOutRun::FanOutRun(std::size_t storeBudget, QObject *parent)
    : QObject(parent)
    , m_storeBudget(storeBudget)
{ }

FanOutRun::~FanOutRun()
{
    if (m_shared && !m_ended) {
        m_ended = true; // nothing is told any more
        stopWorkers();
    }
}

void FanOutRun::stopWorkers()
{
    m_shared->stopped = true;
    std::lock_guard<std::mutex> lock(m_shared->mutex);
    // The cancel may wait on the server: never on this thread.
    for (const std::shared_ptr<StatementCancel> &cancel : m_shared->cancels)
        Reaper::post([cancel] { cancel->cancel(); });
    if (m_shared->feed)
        m_shared->feed->stopProducers(); // a worker waiting for room in the queue goes too
}

void FanOutRun::start(QVector<Target> targets)
{
    m_shared = std::make_shared<Shared>();
    m_shared->rows = std::make_unique<std::atomic<qint64>[]>(std::size_t(targets.size()));
    for (int i = 0; i < targets.size(); ++i) {
        m_shared->rows[std::size_t(i)] = 0;
        m_shared->aliasWidth = std::max(m_shared->aliasWidth, int(targets[i].alias.size()));
    }
    m_targets = std::move(targets);
    m_statuses.clear();
    for (const Target &target : m_targets) {
        Status status;
        status.alias = target.alias;
        status.sql = target.sql;
        if (!target.skipped.isEmpty()) {
            status.state = State::Skipped;
            status.error = target.skipped;
        }
        m_statuses.append(status);
    }
    m_next = 0;
    m_running = 0;
    m_ended = false;
    launchNext();
}

void FanOutRun::launchNext()
{
    while (m_running < MaxAtOnce && m_next < m_targets.size() && !m_shared->stopped) {
        const int index = m_next++;
        if (m_statuses[index].state == State::Skipped)
            continue;
        auto *worker = new FanOutWorker(m_shared, index, m_targets[index]); // frees itself
        connect(worker, &QThread::finished, worker, &QObject::deleteLater);
        connect(worker, &FanOutWorker::opened, this, &FanOutRun::workerOpened);
        connect(worker, &FanOutWorker::arrived, this, &FanOutRun::arrived);
        connect(worker, &FanOutWorker::ended, this, &FanOutRun::workerEnded);
        ++m_running;
        m_statuses[index].state = State::Running;
        worker->start();
        emit statusChanged(index);
    }
    if (!m_ended && m_running == 0 && (m_next >= m_targets.size() || m_shared->stopped)) {
        m_ended = true;
        std::shared_ptr<ResultFeed> feed;
        {
            std::lock_guard<std::mutex> lock(m_shared->mutex);
            feed = m_shared->feed;
        }
        if (feed)
            feed->finish();
        emit finished();
    }
}

void FanOutRun::stop()
{
    if (!m_shared || m_shared->stopped || m_ended)
        return;
    stopWorkers();
    for (int i = m_next; i < m_targets.size(); ++i) {
        if (m_statuses[i].state == State::Waiting) {
            m_statuses[i].state = State::Stopped;
            emit statusChanged(i);
        }
    }
    m_next = int(m_targets.size());
    if (m_running == 0)
        launchNext(); // ends the run
}

bool FanOutRun::isRunning() const
{
    return m_running > 0;
}

const QVector<FanOutRun::Status> &FanOutRun::statuses() const
{
    return m_statuses;
}

std::unique_ptr<QueryDataset> FanOutRun::takeResult()
{
    return std::move(m_result);
}

void FanOutRun::workerOpened()
{
    if (m_resultMade)
        return;
    std::shared_ptr<ResultFeed> feed;
    {
        std::lock_guard<std::mutex> lock(m_shared->mutex);
        feed = m_shared->feed;
    }
    m_result = std::make_unique<QueryDataset>(m_storeBudget);
    m_result->openFeed(std::move(feed));
    m_resultMade = true;
    emit resultReady();
}

void FanOutRun::arrived()
{
    m_shared->arrivalPosted = false;
    for (int i = 0; i < m_statuses.size(); ++i)
        m_statuses[i].rows = m_shared->rows[std::size_t(i)];
    emit rowsArrived();
}

void FanOutRun::workerEnded(int index, int state, qint64 elapsedMs, const QString &error)
{
    --m_running;
    Status &status = m_statuses[index];
    status.state = State(state);
    status.elapsedMs = elapsedMs;
    status.error = error;
    status.rows = m_shared->rows[std::size_t(index)];
    emit statusChanged(index);
    launchNext();
}

#include "FanOutRun.moc"
