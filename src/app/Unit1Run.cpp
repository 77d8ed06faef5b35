#include "app/Unit1.h"
#include "connection/DatabaseError.h"
#include "connection/QueryDataset.h"
#include "query/QThread.h"
#include "results/DataSource.h"
#include "results/GridDelegate.h"
#include "ui_Unit1.h"

#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMessageBox>
#include <QPointer>

#include <algorithm>
#include <exception>

namespace {
// Upper case of ASCII letters only, as alias names are compared.
QString asciiUpper(const QString &text)
{
    QString upper = text;
    for (QChar &c : upper) {
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            c = QChar(c.unicode() - 'a' + 'A');
    }
    return upper;
}

// A column is never sized wider than this many characters from code; the user may widen it.
constexpr int maxInitialColumnChars = 60;
}

TForm1::RunCleanup::~RunCleanup()
{
    if (!form)
        return;
    if (form->CurrentThread) {
        form->CurrentThread->OnTerminate = nullptr;
        form->CurrentThread = nullptr;
    }
    form->DataSource1->setDataSet(nullptr);
    form->setWaitCursor(false);
}

void TForm1::setupGrid()
{
    DataSource1 = new DataSource(this); // owned by the window (Qt parent)
    m_runCleanup.form = this;
    QTableView *grid = ui->DBGrid1;
    grid->setModel(DataSource1);
    grid->setItemDelegate(new GridDelegate(grid)); // owned by the grid (Qt parent)
    grid->setSelectionBehavior(QAbstractItemView::SelectItems);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    // Compact rows, one line of text each, so that a screen shows as many records as it can.
    grid->verticalHeader()->setDefaultSectionSize(grid->fontMetrics().height() + 4);
    grid->verticalHeader()->setMinimumSectionSize(grid->fontMetrics().height() + 4);

    connect(grid->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
        [this](const QModelIndex &current) { gridCurrentRowChanged(current.row()); });
    connect(grid->horizontalHeader(), &QHeaderView::sectionResized, this,
        [this] { gridColumnsResized(); });
    // A failed block fetch happens inside the view's event handling: report it afterwards.
    connect(
        DataSource1, &DataSource::fetchFailed, this,
        [this](const QString &message) { showError(this, message); }, Qt::QueuedConnection);
}

void TForm1::gridCurrentRowChanged(int row)
{
    // The grid's current row is the dataset's current record.
    if (m_bindingGrid || row < 0 || !CurrentQuery || DataSource1->dataSet() != CurrentQuery.get())
        return;
    runGuarded(this, [&] { CurrentQuery->setRecNo(row); });
}

void TForm1::gridColumnsResized()
{
    // A user's resize: every field takes its column's width in average characters, which the
    // report layout then follows.
    QueryDataset *dataSet = DataSource1->dataSet();
    if (m_bindingGrid || !dataSet)
        return;
    const QHeaderView *header = ui->DBGrid1->horizontalHeader();
    const QFontMetrics metrics = ui->DBGrid1->fontMetrics();
    const int columns = std::min(header->count(), dataSet->FieldCount());
    for (int column = 0; column < columns; ++column)
        dataSet->setDisplayWidth(
            column, displayWidthFromPixels(header->sectionSize(column), metrics));
}

void TForm1::BindGrid()
{
    if (!CurrentQuery || !CurrentQuery->IsOpen()) {
        UnbindGrid();
        return;
    }
    QTableView *grid = ui->DBGrid1;
    const bool wasBinding = m_bindingGrid;
    m_bindingGrid = true;
    DataSource1->setDataSet(CurrentQuery.get());
    const QFontMetrics metrics = grid->fontMetrics();
    const int maxPixels = pixelsForDisplayWidth(maxInitialColumnChars, QString(), metrics);
    for (int field = 0; field < CurrentQuery->FieldCount(); ++field) {
        const int pixels = pixelsForDisplayWidth(
            CurrentQuery->DisplayWidth(field), CurrentQuery->FieldTitle(field), metrics);
        grid->horizontalHeader()->resizeSection(field, std::min(pixels, maxPixels));
    }
    const int record = CurrentQuery->RecNo();
    if (record >= 0) {
        DataSource1->syncRows();
        const int column = std::max(0, grid->currentIndex().column());
        grid->setCurrentIndex(DataSource1->index(record, column));
    }
    m_bindingGrid = wasBinding;
}

void TForm1::UnbindGrid()
{
    DataSource1->setDataSet(nullptr);
}

void TForm1::setWaitCursor(bool on)
{
    // One override cursor per window at most, so that every path that ends the busy state
    // leaves the application's cursor stack as it found it.
    if (on && !m_waitCursor)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else if (!on && m_waitCursor)
        QApplication::restoreOverrideCursor();
    m_waitCursor = on;
}

void TForm1::Button1Click(QObject *)
{
    startStatement(false);
}

void TForm1::Button3Click(QObject *)
{
    startStatement(true);
}

void TForm1::Button2Click(QObject *)
{
    CloseCurrentQuery();
}

void TForm1::startStatement(bool isExec)
{
    refuseNulCharacter(); // before anything is closed, run or added to the history
    CloseCurrentQuery();
    SelectDatabaseFromSQL();
    if (ui->ComboBox1->currentText().isEmpty())
        return;
    const QString alias = asciiUpper(ui->ComboBox1->currentText());
    if (!ConnectDatabase(alias))
        return;

    setStatusText(1, isExec ? QStringLiteral("Executing SQL") : QStringLiteral("Running Query"));
    ui->SpeedButton1->setEnabled(false);
    ui->SpeedButton2->setEnabled(false);
    setWaitCursor(true);

    auto *worker = new TQthread(EditorText(), alias, isExec); // frees itself (FreeOnTerminate)
    CurrentThread = worker;
    // The window may be gone when a worker ends (the tests close windows and run on).
    QPointer<TForm1> window(this);
    worker->OnTerminate = [window](TQthread *finished) {
        if (window)
            runGuarded(window, [&] { window->QueryFinished(finished); });
    };
    worker->FreeOnTerminate = true;
    worker->WantCount = !isExec && ui->CheckBox1->isChecked();
    worker->start();
    historyRunStarted(alias);

    AddToHistory(EditorLines()); // while the worker works
}

void TForm1::CloseCurrentQuery()
{
    if (CurrentThread) {
        historyRunAbandoned();
        // Abandoned: it runs its statement to the end, calls nothing and frees itself.
        CurrentThread->OnTerminate = nullptr;
        CurrentThread->requestInterruption();
        CurrentThread = nullptr;
    }
    if (CurrentQuery) {
        UnbindGrid(); // before the dataset goes, so that the grid never reads a freed one
        CurrentQuery.reset();
    }
    setWaitCursor(false);
    ui->SpeedButton1->setEnabled(true);
    ui->SpeedButton2->setEnabled(true);
}

void TForm1::QueryFinished(TQthread *worker)
{
    historyRunEnded(worker);
    setWaitCursor(false);
    if (!worker->ErrorText.isEmpty()) {
        QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), worker->ErrorText,
            QMessageBox::Ok, this);
        box.setObjectName(QStringLiteral("QueryErrorBox"));
        box.exec();
    } else if (worker->IsExec) {
        setStatusText(1, QStringLiteral("Execute Complete!"));
    } else {
        ui->PageControl1->setCurrentWidget(ui->TabSheet2);
        ui->DBGrid1->setFocus();
        CurrentQuery = std::move(worker->Query);
        BindGrid();
        if (ui->CheckBox1->isChecked()) {
            // Read again here: the box may have been ticked while the select ran. A failure of
            // the count is shown, and the window still leaves the busy state below.
            try {
                const int count = CurrentQuery->CountRecords();
                historyRunCounted(count);
                DataSource1->syncRows();
                setStatusText(0, QString::number(count));
            } catch (const std::exception &error) {
                showError(this, errorText(error));
            }
        }
        setStatusText(1, QStringLiteral("Select Complete in : ") + worker->ElapsedText());
    }
    if (CurrentThread == worker)
        CurrentThread = nullptr;
    ui->SpeedButton1->setEnabled(true);
    ui->SpeedButton2->setEnabled(true);
}
