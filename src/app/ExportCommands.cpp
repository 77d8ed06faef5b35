#include "app/ExportCommands.h"

#include "app/FileDialogs.h"
#include "app/Guard.h"
#include "app/ResultView.h"
#include "app/ShownResult.h"
#include "connection/QueryDataset.h"
#include "results/DataSource.h"
#include "results/Exporter.h"
#include "results/LineBuilder.h"
#include "results/UCountForm.h"
#include "results/ValueText.h"
#include "widgets/Glyphs.h"

#include <QClipboard>
#include <QFileDialog>
#include <QGuiApplication>
#include <QTableView>

ExportCommands::ExportCommands(
    QWidget *window, ShownResult &shown, QTableView *grid, ResultView *view)
    : m_window(window)
    , m_shown(shown)
    , m_source(shown.source())
    , m_grid(grid)
    , m_view(view)
{
    m_saveDialog = FileDialogs::make(window, QStringLiteral("SaveDialog1"),
        { QObject::tr("Text Files (*.txt)"), QObject::tr("AnyFile (*.*)") }, QStringLiteral("txt"),
        true);
}

ExportCommands::~ExportCommands() = default;

void ExportCommands::exportResult(ExportFormat format)
{
    QueryDataset *query = m_shown.open();
    if (!query || m_exportRun)
        return;
    // The report hides the grid behind its dialogs; the comma-quote export only while it walks.
    const bool unbindBeforeDialogs = format == ExportFormat::Report;

    // Freed on every path below, at the end of the walk at the latest.
    auto dialog = std::make_shared<std::unique_ptr<TCountForm>>(std::make_unique<TCountForm>(
        m_window, glyph(QStringLiteral("ok")), glyph(QStringLiteral("cancel"))));
    TCountForm *form = dialog->get();
    CountForm = form;
    form->setExportFormat(format);
    form->setViewNote(m_view->note());
    form->setSqlTarget(ExportProfiles::dialectOfDataSource(query->databaseName()));
    // Runs whether the export ends normally, is cancelled or is ended by an error.
    auto finish = [this, dialog] {
        dialog->reset();
        CountForm = nullptr;
        m_shown.bind();
    };
    try {
        if (unbindBeforeDialogs)
            m_shown.unbind();
        if (form->exec() != QDialog::Accepted)
            return finish();
        const bool toClipboard = form->toClipboardChecked();
        const int limit = form->allRecords() ? -1 : form->amount();
        const ExportProfile profile = form->exportProfile();

        QString fileName;
        if (!toClipboard) {
            if (!m_lastExportFile.isEmpty())
                m_saveDialog->selectFile(m_lastExportFile);
            if (m_saveDialog->exec() != QDialog::Accepted)
                return finish();
            fileName = m_saveDialog->selectedFiles().value(0);
            if (fileName.isEmpty())
                return finish();
            m_lastExportFile = fileName;
        }
        // The result may have been closed while a dialog was up.
        if (m_shown.get() != query || !query->IsOpen())
            return finish();
        if (!unbindBeforeDialogs)
            m_shown.unbind();
        // The rows the grid shows, in its order (every record in fetched order when null).
        m_exportRun = std::make_unique<ExportRun>(
            *query, profile, limit, toClipboard, fileName, m_window, m_source->shownRecords());
    } catch (...) {
        finish();
        throw;
    }
    // The walk may end inside start() or later, from the event loop.
    m_exportRun->start([this, finish](bool, std::exception_ptr error) {
        m_exportRun.release()->deleteLater(); // it is still calling this
        runGuarded(m_window, [&] {
            finish();
            if (error)
                std::rethrow_exception(error);
        });
    });
}

void ExportCommands::copyTitles()
{
    const QueryDataset *current = m_shown.open();
    if (!current)
        return;
    QStringList titles;
    for (int field = 0; field < current->FieldCount(); ++field)
        titles.append(current->FieldTitle(field));
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(titles.join(QLatin1String(" ,")));
}

bool ExportCommands::recordShown() const
{
    // A record the filter hides is not copied: the grid shows no current row then.
    return m_shown.open() && !m_source->hides(m_shown.get()->RecNo());
}

void ExportCommands::copyField()
{
    if (!recordShown())
        return;
    // The grid always has a selected column; before the user picks one it is the first.
    const int field = std::max(0, m_grid->currentIndex().column());
    putTextOnClipboard(
        field < m_shown.get()->FieldCount() ? FieldText(*m_shown.get(), field) : QString());
}

void ExportCommands::copyRecord(LineFormat format)
{
    if (!recordShown())
        return;
    // The line is built before the clipboard is touched, so a conversion error leaves it as it
    // was.
    putTextOnClipboard(LineBuilder(*m_shown.get(), format).record());
}
