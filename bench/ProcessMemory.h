#pragma once

#include <QByteArray>
#include <QFile>

// A line of /proc/self/status in MB ("VmRSS:", "VmHWM:"); 0 where the system has none.
inline double statusMb(const char *key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(int(qstrlen(key))).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0;
}
