#include "results/TargetFile.h"

#include <QDir>
#include <QFileInfo>

#include <stdexcept>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

TargetFile::TargetFile(const QString &path)
    : m_path(path)
{
    if (QFileInfo(path).isDir())
        throw std::runtime_error(QStringLiteral("%1 is a folder, not a file. Nothing was written.")
                                     .arg(QDir::toNativeSeparators(path))
                                     .toStdString());
}

bool TargetFile::open()
{
    const QFileInfo target(m_path);
    // A FIFO or a device is the destination itself: a file put in its place would take the text
    // from the program reading it, or stand where the device was.
    if (target.exists() && !target.isFile())
        return openDirect();
    m_aside = std::make_unique<QSaveFile>(m_path);
    if (m_aside->open(QIODevice::WriteOnly)) {
        m_device = m_aside.get();
        return true;
    }
    m_error = m_aside->errorString();
    m_aside.reset();
    // A folder that takes nothing aside, holding a file the user may write: the file is written
    // in place, only once the whole text is known.
    if (!target.isFile() || !target.isWritable())
        return false;
    m_heldDevice.open(QIODevice::WriteOnly);
    m_device = &m_heldDevice;
    return true;
}

bool TargetFile::openDirect()
{
    m_direct = std::make_unique<QFile>();
#ifdef Q_OS_UNIX
    // Opened without waiting: a FIFO that no program reads fails at once (ENXIO) instead of
    // holding the window until a reader comes. The writes then wait as usual.
    const int fd = ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        m_error = qt_error_string(errno);
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    // A reader that goes away must fail the write (EPIPE), not end the program.
    std::signal(SIGPIPE, SIG_IGN);
    if (!m_direct->open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
#else
    m_direct->setFileName(m_path);
    if (!m_direct->open(QIODevice::WriteOnly)) {
#endif
        m_error = m_direct->errorString();
        return false;
    }
    m_device = m_direct.get();
    return true;
}

bool TargetFile::commit()
{
    // The explicit flushes report a short write of the buffered tail (a full disk) that closing
    // or commit() alone would let through, putting a cut file in place.
    if (m_aside) {
        const bool written = m_aside->flush() && m_aside->commit();
        m_error = m_aside->errorString();
        return written;
    }
    if (m_direct) {
        const bool written = m_direct->flush() && m_direct->error() == QFileDevice::NoError;
        m_error = m_direct->errorString();
        m_direct->close();
        return written;
    }
    QFile file(m_path);
    const bool written =
        file.open(QIODevice::WriteOnly) && file.write(m_held) == m_held.size() && file.flush();
    m_error = file.errorString();
    return written;
}
