#pragma once

#include <QFile>

#include <csignal>
#include <stdexcept>
#include <sys/types.h>

// Stops a process (SIGSTOP) for as long as the object lives, as a server that hangs would, and
// lets it go on afterwards. Header-only.
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
    ProcessPause(const ProcessPause &) = delete;
    ProcessPause &operator=(const ProcessPause &) = delete;

    // The parent of a process, from /proc; 0 when unknown.
    static pid_t parentOf(pid_t pid)
    {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            return 0;
        // "pid (name) state ppid ...": the name may hold blanks, so count from its end.
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        return fields.size() > 1 ? pid_t(fields[1].toLongLong()) : 0;
    }

private:
    pid_t m_pid;
};
