#include "app/FileDialogs.h"
#include "app/ResultView.h"
#include "app/Unit1.h"
#include "connection/QueryDataset.h"
#include "results/DataSource.h"
#include "results/Exporter.h"
#include "results/LineBuilder.h"
#include "results/UCountForm.h"
#include "results/ValueText.h"
#include "ui_Unit1.h"
#include "widgets/Glyphs.h"

#include <QAction>
#include <QClipboard>
#include <QFileDialog>
#include <QGuiApplication>
#include <QTableView>

void TForm1::setupExport()
{
    SaveDialog1 = FileDialogs::make(this, QStringLiteral("SaveDialog1"),
        { tr("Text Files (*.txt)"), tr("AnyFile (*.*)") }, QStringLiteral("txt"), true);
}

void TForm1::runExport(ExportFormat format)
{
    if (!CurrentQuery || !CurrentQuery->IsOpen() || m_exportRun)
        return;
    QueryDataset *query = CurrentQuery.get();
    // The report hides the grid behind its dialogs; the comma-quote export only while it walks.
    const bool unbindBeforeDialogs = format == ExportFormat::Report;

    // Freed on every path below, at the end of the walk at the latest.
    auto dialog = std::make_shared<std::unique_ptr<TCountForm>>(std::make_unique<TCountForm>(
        this, glyph(QStringLiteral("ok")), glyph(QStringLiteral("cancel"))));
    TCountForm *form = dialog->get();
    CountForm = form;
    form->setExportFormat(format);
    form->setViewNote(m_resultView->note());
    // Runs whether the export ends normally, is cancelled or is ended by an error.
    auto finish = [this, dialog] {
        dialog->reset();
        CountForm = nullptr;
        BindGrid();
    };
    try {
        if (unbindBeforeDialogs)
            UnbindGrid();
        if (form->exec() != QDialog::Accepted)
            return finish();
        const bool toClipboard = form->toClipboardChecked();
        const int limit = form->allRecords() ? -1 : form->amount();
        const ExportProfile profile = form->exportProfile();

        QString fileName;
        if (!toClipboard) {
            if (!m_lastExportFile.isEmpty())
                SaveDialog1->selectFile(m_lastExportFile);
            if (SaveDialog1->exec() != QDialog::Accepted)
                return finish();
            fileName = SaveDialog1->selectedFiles().value(0);
            if (fileName.isEmpty())
                return finish();
            m_lastExportFile = fileName;
        }
        // The result may have been closed while a dialog was up.
        if (CurrentQuery.get() != query || !query->IsOpen())
            return finish();
        if (!unbindBeforeDialogs)
            UnbindGrid();
        // The rows the grid shows, in its order (every record in fetched order when null).
        m_exportRun = std::make_unique<ExportRun>(
            *query, profile, limit, toClipboard, fileName, this, DataSource1->shownRecords());
    } catch (...) {
        finish();
        throw;
    }
    // The walk may end inside start() or later, from the event loop.
    m_exportRun->start([this, finish](bool, std::exception_ptr error) {
        m_exportRun.release()->deleteLater(); // it is still calling this
        runGuarded(this, [&] {
            finish();
            if (error)
                std::rethrow_exception(error);
        });
    });
}

void TForm1::Button5Click(QObject *)
{
    runExport(ExportFormat::CommaQuote);
}

void TForm1::Button6Click(QObject *)
{
    runExport(ExportFormat::Report);
}

void TForm1::Button4Click(QObject *)
{
    if (!CurrentQuery || !CurrentQuery->IsOpen())
        return;
    QStringList titles;
    for (int field = 0; field < CurrentQuery->FieldCount(); ++field)
        titles.append(CurrentQuery->FieldTitle(field));
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(titles.join(QLatin1String(" ,")));
}

void TForm1::PopupMenu2Popup(QObject *)
{
    const bool open = CurrentQuery && CurrentQuery->IsOpen();
    ui->CopyFieldtoClipboard1->setEnabled(open);
    ui->CopyEntireRowtoclipboard1->setEnabled(open);
    ui->CopyEntireRowCommaQuote1->setEnabled(open);
}

void TForm1::CopyFieldtoClipboard1Click(QObject *)
{
    // A record the filter hides is not copied: the grid shows no current row then.
    if (!CurrentQuery || !CurrentQuery->IsOpen() || DataSource1->hides(CurrentQuery->RecNo()))
        return;
    // The grid always has a selected column; before the user picks one it is the first.
    const int field = std::max(0, ui->DBGrid1->currentIndex().column());
    putTextOnClipboard(
        field < CurrentQuery->FieldCount() ? FieldText(*CurrentQuery, field) : QString());
}

void TForm1::CopyEntireRowtoclipboard1Click(QObject *)
{
    // A record the filter hides is not copied: the grid shows no current row then.
    if (!CurrentQuery || !CurrentQuery->IsOpen() || DataSource1->hides(CurrentQuery->RecNo()))
        return;
    // The line is built before the clipboard is touched, so a conversion error leaves it as it
    // was.
    putTextOnClipboard(LineBuilder(*CurrentQuery, LineFormat::RowCopy).record());
}

void TForm1::CopyEntireRowCommaQuote1Click(QObject *)
{
    // A record the filter hides is not copied: the grid shows no current row then.
    if (!CurrentQuery || !CurrentQuery->IsOpen() || DataSource1->hides(CurrentQuery->RecNo()))
        return;
    putTextOnClipboard(LineBuilder(*CurrentQuery, LineFormat::CommaQuote).record());
}
