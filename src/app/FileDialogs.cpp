#include "app/FileDialogs.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QFileDialog>

namespace FileDialogs {

QFileDialog *make(QWidget *parent, const QString &name, const QStringList &filters,
    const QString &suffix, bool save)
{
    auto *dialog = new QFileDialog(parent); // owned by the window
    dialog->setObjectName(name);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    // Neither save dialog asks about an existing file: the commands that use them decide.
    dialog->setOption(QFileDialog::DontConfirmOverwrite);
    dialog->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // A typed name that does not exist is handed to the command, which reports it.
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setNameFilters(filters);
    dialog->selectNameFilter(filters.first());
    dialog->setDefaultSuffix(suffix);
    // A name typed in full and confirmed at once closes the dialog while its completion list is
    // still up; the list would stay over the window and take the user's next click. So every
    // completion list goes with the dialog, and the completion it was waiting for (a folder
    // still being read) is dropped, so that it cannot open the list afterwards.
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog] {
        for (QCompleter *completer : dialog->findChildren<QCompleter *>()) {
            completer->popup()->hide();
            completer->setCompletionPrefix(QString());
        }
    });
    return dialog;
}

QString choose(QFileDialog *dialog)
{
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return QString();
    return dialog->selectedFiles().constFirst();
}

} // namespace FileDialogs
