#include "history/HistoryRecorder.h"

#include <QMetaObject>
#include <QSemaphore>

namespace {

// Moves a damaged database aside and says where it went, or why it could not go.
QString movedAsideText(const QString &path)
{
    try {
        return QStringLiteral("\nThe damaged file was moved to %1.")
            .arg(HistoryDb::moveAside(path));
    } catch (const std::exception &error) {
        return QLatin1Char('\n') + QString::fromUtf8(error.what());
    }
}

} // namespace

HistoryWriter::HistoryWriter(const QString &path, int keep, int busyTimeoutMs)
    : m_path(path)
    , m_keep(keep)
    , m_busyTimeoutMs(busyTimeoutMs)
{ }

template <typename Body>
void HistoryWriter::guarded(Body &&body)
{
    if (m_dead)
        return;
    try {
        body();
    } catch (const HistoryDbError &error) {
        // Reported once; the connection goes, so that a damaged file can be moved aside.
        m_dead = true;
        m_db.reset();
        emit failed(QString::fromUtf8(error.what()), error.corrupt);
    } catch (const std::exception &error) {
        m_dead = true;
        m_db.reset();
        emit failed(QString::fromUtf8(error.what()), false);
    }
}

void HistoryWriter::open()
{
    guarded([&] { m_db = std::make_unique<HistoryDb>(m_path, m_busyTimeoutMs); });
}

void HistoryWriter::started(qint64 run, const HistoryRecord &record)
{
    guarded([&] {
        // An earlier run can no longer end or be counted once a new one has started.
        m_ids.clear();
        m_ids.insert(run, m_db->insert(record, m_keep));
        emit written();
    });
}

void HistoryWriter::ended(
    qint64 run, qint64 elapsedMs, RunOutcome outcome, const QString &errorText)
{
    guarded([&] {
        const qint64 id = m_ids.value(run);
        if (!id)
            return;
        m_db->setEnd(id, elapsedMs, outcome, errorText);
        emit written();
    });
}

void HistoryWriter::counted(qint64 run, qint64 count)
{
    guarded([&] {
        // The count comes after the end, before the next run starts.
        const qint64 id = m_ids.take(run);
        if (!id)
            return;
        m_db->setRecordCount(id, count);
        emit written();
    });
}

HistoryRecorder::HistoryRecorder(QObject *parent)
    : QObject(parent)
{
    m_thread.setObjectName(QStringLiteral("HistoryWriter"));
}

HistoryRecorder::~HistoryRecorder()
{
    flush(2000);
    close();
}

void HistoryRecorder::open(const QString &path, int keep, int busyTimeoutMs,
    const std::function<QStringList()> &importTexts)
{
    close();
    m_path = path;
    try {
        m_db = std::make_unique<HistoryDb>(path, busyTimeoutMs, importTexts);
    } catch (const HistoryDbError &error) {
        if (!error.corrupt)
            throw;
        throw HistoryDbError(QString::fromUtf8(error.what()) + movedAsideText(path), true);
    }
    auto *writer = new HistoryWriter(path, keep, busyTimeoutMs); // deleted when m_thread ends
    writer->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, writer, &QObject::deleteLater);
    connect(writer, &HistoryWriter::written, this, &HistoryRecorder::written);
    connect(writer, &HistoryWriter::failed, this, &HistoryRecorder::writerFailed);
    m_writer = writer;
    m_thread.start();
    QMetaObject::invokeMethod(
        writer, [writer] { writer->open(); }, Qt::QueuedConnection);
}

void HistoryRecorder::close()
{
    if (m_thread.isRunning()) {
        m_thread.quit();
        // The writer never waits for this thread, so this wait ends once its current write
        // does (at most the busy timeout).
        m_thread.wait();
    }
    m_writer.clear();
    m_db.reset();
}

qint64 HistoryRecorder::runStarted(const QString &text, const QString &alias, qint64 startedMs,
    const QVector<HistoryParameter> &parameters)
{
    if (!m_db || !m_writer)
        return 0;
    HistoryRecord record;
    record.text = text;
    record.alias = alias;
    record.startedMs = startedMs;
    record.outcome = RunOutcome::Running;
    record.parameters = parameters;
    const qint64 run = ++m_nextRun;
    HistoryWriter *writer = m_writer;
    QMetaObject::invokeMethod(
        writer, [writer, run, record] { writer->started(run, record); }, Qt::QueuedConnection);
    return run;
}

void HistoryRecorder::runEnded(
    qint64 run, qint64 elapsedMs, RunOutcome outcome, const QString &errorText)
{
    if (!run || !m_db || !m_writer)
        return;
    HistoryWriter *writer = m_writer;
    QMetaObject::invokeMethod(
        writer,
        [writer, run, elapsedMs, outcome, errorText] {
            writer->ended(run, elapsedMs, outcome, errorText);
        },
        Qt::QueuedConnection);
}

void HistoryRecorder::runCounted(qint64 run, qint64 count)
{
    if (!run || !m_db || !m_writer)
        return;
    HistoryWriter *writer = m_writer;
    QMetaObject::invokeMethod(
        writer, [writer, run, count] { writer->counted(run, count); }, Qt::QueuedConnection);
}

template <typename Read>
auto HistoryRecorder::read(Read &&body) const -> decltype(body())
{
    if (!m_db)
        return {};
    try {
        return body();
    } catch (const HistoryDbError &error) {
        if (!error.corrupt)
            throw;
        // Damage found by a read: as at the start, the file is moved aside.
        const_cast<HistoryRecorder *>(this)->close();
        throw HistoryDbError(QString::fromUtf8(error.what()) + movedAsideText(m_path), true);
    }
}

QList<HistoryRecord> HistoryRecorder::search(const QString &query, int limit) const
{
    return read([&] { return m_db->search(query, limit); });
}

QString HistoryRecorder::text(qint64 id) const
{
    return read([&] { return m_db->text(id); });
}

QVector<HistoryParameter> HistoryRecorder::lastValues(const QString &statement) const
{
    return read([&] { return m_db->lastValues(statement); });
}

QStringList HistoryRecorder::recentValues(const QString &name) const
{
    return read([&] { return m_db->recentValues(name); });
}

bool HistoryRecorder::flush(int timeoutMs)
{
    if (!m_writer || !m_thread.isRunning())
        return true;
    auto done = std::make_shared<QSemaphore>();
    QMetaObject::invokeMethod(
        m_writer, [done] { done->release(); }, Qt::QueuedConnection);
    return done->tryAcquire(1, timeoutMs);
}

void HistoryRecorder::writerFailed(const QString &message, bool corrupt)
{
    close();
    emit failed(corrupt ? message + movedAsideText(m_path) : message);
}
