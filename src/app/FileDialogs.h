#pragma once

#include <QString>
#include <QStringList>

class QFileDialog;
class QWidget;

namespace FileDialogs {

// A file dialog of the window, named for the tests and scripts that find it: Qt's own dialog,
// the name filters with the first one chosen, and the suffix a typed name gets. Owned by `parent`.
QFileDialog *make(QWidget *parent, const QString &name, const QStringList &filters,
    const QString &suffix, bool save);

// The file chosen in the dialog; empty when it was cancelled.
QString choose(QFileDialog *dialog);

} // namespace FileDialogs
