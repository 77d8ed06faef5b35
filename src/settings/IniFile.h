#pragma once

#include <QList>
#include <QPair>
#include <QString>

// Writes KEY=VALUE lines into one section of an ini file (the DB2 client's db2cli.ini, the
// driver manager's user data sources) the way a person would edit it: every line the write does
// not touch stays exactly as it was, byte for byte. Stateless; any thread.

// Sets each key=value in [section], keeping every other line; creates the file, the section and
// the keys when missing. Section and key names compare ignoring case. The file is replaced in one
// step (a temporary file renamed over it), or written in place where its folder allows no new
// file. Raises "Unable to write to <path>" on failure.
void WriteIniStrings(
    const QString &path, const QString &section, const QList<QPair<QString, QString>> &entries);

// One key of WriteIniStrings.
void WriteIniString(
    const QString &path, const QString &section, const QString &key, const QString &value);
