#include "app/EditorRecovery.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QPointer>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringEncoder>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

const QByteArray kMagic = QByteArrayLiteral("STELVIK RECOVERY 2\n");

QString recoveryPath(const QString &folder, const QString &id)
{
    return folder + QLatin1Char('/') + id + QStringLiteral(".recovery");
}

QString lockPath(const QString &folder, const QString &id)
{
    return folder + QLatin1Char('/') + id + QStringLiteral(".lock");
}

// Takes the lock of a recovery file without waiting: -1 when another living process holds it.
// The operating system drops the lock when its process ends, however it ends.
int takeLock(const QString &path)
{
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
#else
    Q_UNUSED(path);
    return 0;
#endif
}

void dropLock(int fd)
{
#ifdef Q_OS_UNIX
    if (fd >= 0)
        ::close(fd);
#else
    Q_UNUSED(fd);
#endif
}

// The header (magic, the query's file, encoding, cursor and time, and how the text is stored),
// then the text itself: UTF-8, or UTF-16 as it is in memory when it holds a lone surrogate that
// UTF-8 cannot carry. Either way the text comes back character for character.
QByteArray encodeHeader(const RecoveredQuery &query, bool utf8)
{
    QByteArray bytes = kMagic;
    QDataStream out(&bytes, QIODevice::Append);
    out.setVersion(QDataStream::Qt_6_0);
    out << query.fileName << query.encoding << qint32(query.cursor)
        << query.saved.toMSecsSinceEpoch() << quint8(utf8 ? 8 : 16);
    return bytes;
}

#ifdef Q_OS_UNIX
bool writeAll(int fd, const char *data, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

// Writes the header and the text as UTF-8 a piece at a time, each piece handed to the disk as
// soon as it is encoded, so that encoding overlaps the disk's work and the sync at the end waits
// for little more than the last piece. False with errno set when a write fails; `lone` tells a
// text that UTF-8 cannot carry (nothing is then written after the header).
bool writeUtf8(int fd, const RecoveredQuery &query, bool &lone)
{
    const QByteArray header = encodeHeader(query, true);
    if (!writeAll(fd, header.constData(), header.size()))
        return false;
    constexpr qsizetype PieceChars = 1 << 19;
    // Stateless: each piece ends on a whole character, so a lone surrogate anywhere, the end
    // included, counts as an error.
    QStringEncoder encoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QByteArray piece;
    off_t offset = off_t(header.size());
    const QStringView text(query.text);
    for (qsizetype at = 0; at < text.size();) {
        qsizetype length = std::min(PieceChars, text.size() - at);
        if (at + length < text.size() && text.at(at + length - 1).isHighSurrogate())
            ++length; // the pair stays together
        piece.resize(encoder.requiredSpace(length));
        const char *end = encoder.appendToBuffer(piece.data(), text.mid(at, length));
        if (encoder.hasError()) {
            lone = true;
            return true;
        }
        const qsizetype bytes = end - piece.constData();
        if (!writeAll(fd, piece.constData(), bytes))
            return false;
#ifdef Q_OS_LINUX
        ::sync_file_range(
            fd, offset, bytes, SYNC_FILE_RANGE_WRITE); // a hint: errors are the sync's
#endif
        offset += off_t(bytes);
        at += length;
    }
    return true;
}
#endif

QByteArray encode(const RecoveredQuery &query)
{
    const bool utf8 = QStringView(query.text).isValidUtf16();
    QByteArray bytes = encodeHeader(query, utf8);
    if (utf8)
        bytes += query.text.toUtf8();
    else
        bytes.append(reinterpret_cast<const char *>(query.text.utf16()),
            query.text.size() * qsizetype(sizeof(char16_t)));
    return bytes;
}

} // namespace

// The writer thread and what the UI thread hands it; the newest request wins.
struct EditorRecovery::Writer
{
    std::mutex mutex;
    std::condition_variable changed;
    std::optional<RecoveredQuery> pending;
    bool remove = false; // remove the file once what is pending is done
    bool busy = false;
    bool stop = false;
    QString path;
    std::thread thread;
    std::function<void(const QString &)> failed; // called on the writer thread
    bool reported = false;

    void run()
    {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return stop || pending || remove; });
            if (!pending && !remove)
                return; // stop, with nothing left to do
            // save() and clear() each cancel the other's request: one of the two is pending.
            std::optional<RecoveredQuery> query = std::move(pending);
            pending.reset();
            const bool removeNow = !query;
            remove = false;
            const QString target = path;
            busy = true;
            lock.unlock();
            QString error;
            const bool ok = removeNow ? (QFile::remove(target) || !QFile::exists(target))
                                      : EditorRecovery::write(target, *query, &error);
            lock.lock();
            busy = false;
            if (!ok && !reported && failed) {
                reported = true;
                lock.unlock();
                failed(error.isEmpty() ? QStringLiteral("Cannot remove %1").arg(target) : error);
                lock.lock();
            } else if (ok) {
                reported = false;
            }
            changed.notify_all();
        }
    }
};

EditorRecovery::EditorRecovery(const QString &folder, QObject *parent)
    : QObject(parent)
    , m_writer(std::make_shared<Writer>())
    , m_folder(folder)
{
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_id = QStringLiteral("%1-%2")
               .arg(QCoreApplication::applicationPid())
               .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
    m_lock = takeLock(lockPath(folder, m_id));
    m_writer->path = recoveryPath(folder, m_id);
    // The failure reaches the window through a queued call: the writer never touches it.
    QPointer<EditorRecovery> self(this);
    m_writer->failed = [self](const QString &message) {
        QMetaObject::invokeMethod(
            qApp,
            [self, message] {
                if (self)
                    emit self->writeFailed(message);
            },
            Qt::QueuedConnection);
    };
    m_writer->thread = std::thread([writer = m_writer] { writer->run(); });
}

EditorRecovery::~EditorRecovery()
{
    {
        std::lock_guard<std::mutex> lock(m_writer->mutex);
        m_writer->stop = true;
    }
    m_writer->changed.notify_all();
    if (m_writer->thread.joinable())
        m_writer->thread.join(); // a local file write: it ends soon, and no hand-back waits on us
    dropLock(m_lock);
    for (const Held &held : std::as_const(m_held))
        dropLock(held.lock);
}

QString EditorRecovery::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)
        + QStringLiteral("/recovery");
}

QString EditorRecovery::path() const
{
    std::lock_guard<std::mutex> lock(m_writer->mutex);
    return m_writer->path;
}

QList<RecoveredQuery> EditorRecovery::orphans()
{
    // What each window left in the folder, by its id: <id>.recovery, <id>.lock and the
    // temporary files <id>.recovery.tmp-XXXXXX of a write.
    struct Left
    {
        bool recovery = false;
        QStringList temporaries;
    };
    std::map<QString, Left> left;
    const QString temporaryMark = QStringLiteral(".recovery.tmp-");
    const QStringList names = QDir(m_folder).entryList(QDir::Files | QDir::Hidden);
    for (const QString &file : names) {
        if (const qsizetype at = file.indexOf(temporaryMark); at > 0)
            left[file.left(at)].temporaries << file;
        else if (file.endsWith(QStringLiteral(".recovery")))
            left[file.chopped(int(qstrlen(".recovery")))].recovery = true;
        else if (file.endsWith(QStringLiteral(".lock")))
            left[file.chopped(int(qstrlen(".lock")))];
    }

    QList<RecoveredQuery> found;
    for (const auto &[id, window] : left) {
        const bool held = id == m_id
            || std::any_of(m_held.begin(), m_held.end(), [&](const Held &h) { return h.id == id; });
        if (held)
            continue;
        const int lock = takeLock(lockPath(m_folder, id));
        if (lock < 0)
            continue; // its window still runs
        // A write its window was killed in never finishes: its temporary file goes.
        for (const QString &temporary : window.temporaries)
            QFile::remove(m_folder + QLatin1Char('/') + temporary);
        const QString path = recoveryPath(m_folder, id);
        RecoveredQuery query;
        if (window.recovery && read(path, &query)) {
            m_held.append({ id, lock, false });
            found.append(query);
            continue;
        }
        // Nothing to recover: the lock goes too (its file first, so that no window sees a
        // recovery file without its lock). An unreadable recovery file stays where it is, for a
        // person to look at.
        if (!QFile::exists(path))
            QFile::remove(lockPath(m_folder, id));
        dropLock(lock);
    }
    std::sort(found.begin(), found.end(),
        [](const RecoveredQuery &a, const RecoveredQuery &b) { return a.saved > b.saved; });
    return found;
}

std::optional<RecoveredQuery> EditorRecovery::offerOrphans(const Ask &ask)
{
    const QList<RecoveredQuery> found = orphans();
    for (int i = 0; i < found.size(); ++i) {
        if (!ask(found[i], i, int(found.size()))) {
            keepAside(found[i]);
            continue;
        }
        adopt(found[i]);
        // One text at most goes into the editor: the others wait, untouched, for the next
        // start.
        for (int later = i + 1; later < found.size(); ++later)
            leave(found[later]);
        return found[i];
    }
    return std::nullopt;
}

namespace {

template <typename List>
auto heldOrphan(List &held, const QString &path)
{
    const QString id = QFileInfo(path).completeBaseName();
    return std::find_if(held.begin(), held.end(), [&](const auto &h) { return h.id == id; });
}

} // namespace

void EditorRecovery::adopt(const RecoveredQuery &orphan)
{
    const auto it = heldOrphan(m_held, orphan.path);
    if (it == m_held.end())
        return;
    // This window's own file is given up for the orphan's, which holds the same text now.
    std::lock_guard<std::mutex> lock(m_writer->mutex);
    QFile::remove(m_writer->path);
    QFile::remove(lockPath(m_folder, m_id));
    dropLock(m_lock);
    m_lock = it->lock;
    m_id = it->id;
    m_writer->path = recoveryPath(m_folder, m_id);
    m_held.erase(it);
}

void EditorRecovery::keepAside(const RecoveredQuery &orphan)
{
    const auto it = heldOrphan(m_held, orphan.path);
    if (it != m_held.end())
        it->declined = true; // discard() removes it
}

void EditorRecovery::leave(const RecoveredQuery &orphan)
{
    const auto it = heldOrphan(m_held, orphan.path);
    if (it == m_held.end())
        return;
    dropLock(it->lock);
    m_held.erase(it);
}

void EditorRecovery::watch(QPlainTextEdit *editor, std::function<RecoveredQuery()> snapshot)
{
    m_editor = editor;
    m_snapshot = std::move(snapshot);
    m_pause = new QTimer(this); // owned (Qt parent)
    m_pause->setSingleShot(true);
    m_pause->setInterval(2000);
    connect(m_pause, &QTimer::timeout, this, &EditorRecovery::saveNow);
    connect(editor, &QPlainTextEdit::textChanged, this, [this] {
        m_unsaved = true;
        m_pause->start();
    });
}

void EditorRecovery::fileSaved()
{
    m_unsaved = false;
    if (m_pause)
        m_pause->stop();
    clear();
}

void EditorRecovery::saveNow()
{
    if (m_pause)
        m_pause->stop();
    if (!m_unsaved || !m_snapshot || !m_editor)
        return;
    // The text is gathered a slice of blocks at a time between the window's events, so that a
    // text of many megabytes never holds the window up; an edit meanwhile starts it again.
    m_gathered.clear();
    m_gatherBlock = 0;
    m_gatherRevision = m_editor->document()->revision();
    gatherSlice();
}

void EditorRecovery::gatherSlice()
{
    QTextDocument *document = m_editor->document();
    if (document->revision() != m_gatherRevision) {
        m_gathered.clear();
        m_pause->start(); // changed while gathered: saved once typing pauses again
        return;
    }
    constexpr qsizetype sliceChars = 64 * 1024;
    const qsizetype until = m_gathered.size() + sliceChars;
    QTextBlock block = document->findBlockByNumber(m_gatherBlock);
    for (; block.isValid() && m_gathered.size() < until; block = block.next()) {
        if (block.blockNumber() > 0)
            m_gathered += QLatin1Char('\n');
        m_gathered += block.text();
    }
    if (block.isValid()) {
        m_gatherBlock = block.blockNumber();
        QTimer::singleShot(0, this, &EditorRecovery::gatherSlice);
        return;
    }
    RecoveredQuery snapshot = m_snapshot();
    snapshot.text = std::move(m_gathered);
    m_gathered.clear();
    if (snapshot.text.isEmpty())
        clear(); // nothing typed is nothing to lose
    else
        save(snapshot);
}

void EditorRecovery::save(const RecoveredQuery &snapshot)
{
    {
        std::lock_guard<std::mutex> lock(m_writer->mutex);
        m_writer->pending = snapshot;
        m_writer->pending->saved = QDateTime::currentDateTimeUtc();
        m_writer->remove = false;
    }
    m_writer->changed.notify_all();
}

void EditorRecovery::clear()
{
    {
        std::lock_guard<std::mutex> lock(m_writer->mutex);
        m_writer->pending.reset();
        m_writer->remove = true;
    }
    m_writer->changed.notify_all();
}

void EditorRecovery::flush()
{
    std::unique_lock<std::mutex> lock(m_writer->mutex);
    m_writer->changed.wait(
        lock, [this] { return !m_writer->pending && !m_writer->remove && !m_writer->busy; });
}

void EditorRecovery::discard()
{
    {
        std::lock_guard<std::mutex> lock(m_writer->mutex);
        m_writer->stop = true;
        m_writer->pending.reset();
        m_writer->remove = false;
    }
    m_writer->changed.notify_all();
    if (m_writer->thread.joinable())
        m_writer->thread.join();
    // The files go before their locks, so no other window sees a file without a lock holder.
    QFile::remove(recoveryPath(m_folder, m_id));
    QFile::remove(lockPath(m_folder, m_id));
    dropLock(m_lock);
    m_lock = -1;
    // Of the orphans, only those the user declined go; any other stays for the next start.
    for (const Held &held : std::as_const(m_held)) {
        if (held.declined) {
            QFile::remove(recoveryPath(m_folder, held.id));
            QFile::remove(lockPath(m_folder, held.id));
        }
        dropLock(held.lock);
    }
    m_held.clear();
}

bool EditorRecovery::write(const QString &path, const RecoveredQuery &query, QString *error)
{
#ifdef Q_OS_UNIX
    // A temporary file created owner-only, written whole and synced, then renamed over the old
    // one: the recovery file is always either the last complete text or the one before it.
    const QByteArray target = QFile::encodeName(path);
    QByteArray temporary = target + ".tmp-XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC); // mode 0600
    const auto fail = [&](const char *what) {
        *error = QStringLiteral("Cannot write the recovery file %1: %2 (%3)")
                     .arg(path, QString::fromLocal8Bit(std::strerror(errno)), QLatin1String(what));
        return false;
    };
    const auto failAndRemove = [&](const char *what, bool open) {
        const int saved = errno;
        if (open)
            ::close(fd);
        ::unlink(temporary.constData());
        errno = saved;
        return fail(what);
    };
    if (fd < 0)
        return fail("create");
    bool lone = false;
    if (!writeUtf8(fd, query, lone))
        return failAndRemove("write", true);
    if (lone) {
        // Rare: the text as it is in memory, written over what the UTF-8 attempt left.
        const QByteArray bytes = encode(query);
        if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0
            || !writeAll(fd, bytes.constData(), bytes.size()))
            return failAndRemove("write", true);
    }
    if (::fsync(fd) != 0)
        return failAndRemove("sync", true);
    if (::close(fd) != 0)
        return failAndRemove("sync", false);
    if (::rename(temporary.constData(), target.constData()) != 0)
        return failAndRemove("rename", false);
    return true;
#else
    const QByteArray bytes = encode(query);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        *error =
            QStringLiteral("Cannot write the recovery file %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
#endif
}

bool EditorRecovery::read(const QString &path, RecoveredQuery *query)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    if (!bytes.startsWith(kMagic))
        return false;
    QBuffer header;
    header.setData(bytes);
    header.open(QIODevice::ReadOnly);
    header.seek(kMagic.size());
    QDataStream in(&header);
    in.setVersion(QDataStream::Qt_6_0);
    qint32 cursor = 0;
    qint64 saved = 0;
    quint8 form = 0;
    in >> query->fileName >> query->encoding >> cursor >> saved >> form;
    if (in.status() != QDataStream::Ok || (form != 8 && form != 16))
        return false;
    const QByteArray body = bytes.mid(header.pos());
    if (form == 8) {
        query->text = QString::fromUtf8(body);
    } else {
        if (body.size() % 2 != 0)
            return false;
        query->text = QString(reinterpret_cast<const QChar *>(body.constData()), body.size() / 2);
    }
    query->cursor = cursor;
    query->saved = QDateTime::fromMSecsSinceEpoch(saved, Qt::UTC);
    query->path = path;
    return true;
}
