#pragma once

#include <QFile>

#include <csignal>
#include <stdexcept>

// Stops a process (SIGSTOP) while the object lives, as a hung server would; then lets it go on.
class ProcessPause
{
public:
    explicit ProcessPause(pid_t pid)
        : m_pid(pid)
    {
        if (pid <= 1 || ::kill(pid, SIGSTOP) != 0)
            throw std::runtime_error("cannot stop process " + std::to_string(pid));
    }
    ~ProcessPause() { ::kill(m_pid, SIGCONT); }

    // A process's parent, from /proc ("pid (name) state ppid ..."; the name may hold blanks).
    static pid_t parentOf(pid_t pid)
    {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        const QByteArray text = stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
        return pid_t(text.mid(text.lastIndexOf(')') + 4).split(' ').value(0).toLongLong());
    }

private:
    pid_t m_pid;
};
