#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QSaveFile>
#include <QString>

#include <memory>

// The file a command writes as a whole (an export, a query file), looked at before any work is
// done: a folder is refused at once; a FIFO or a device is written directly and never replaced;
// any other file is written aside and takes the target's place only once complete, or, when its
// folder takes nothing aside but the file itself may be written, is held in memory and written
// over the file at commit(). Either way a failure before commit() leaves a file as it was. One
// write, one thread.
class TargetFile
{
public:
    // Throws "<path> is a folder, not a file. Nothing was written." for a folder.
    explicit TargetFile(const QString &path);

    // False when the file cannot be created; errorString() says why.
    bool open();
    QIODevice &device() { return *m_device; } // after open()
    // Puts what was written in its place; false, with errorString(), when writing failed.
    bool commit();
    QString errorString() const { return m_error; }

private:
    bool openDirect();

    QString m_path;
    QIODevice *m_device = nullptr; // one of the three below
    std::unique_ptr<QSaveFile> m_aside;
    std::unique_ptr<QFile> m_direct;
    QByteArray m_held;
    QBuffer m_heldDevice { &m_held };
    QString m_error;
};
