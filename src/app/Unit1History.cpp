#include "app/Unit1.h"
#include "history/HistoryStore.h"
#include "ui_Unit1.h"

#include <QPrinter>
#include <QSettings>

void TForm1::setupHistory() { }

void TForm1::LoadHistory()
{
    {
        QSettings settings(QStringLiteral("Varnholt"), QStringLiteral("Stelvik"));
        // A value that cannot be read ends the load here: the list is not shown until the next
        // addition.
        HistoryStore::load(settings, HistoryList);
    }
    fillHistoryBox();
}

void TForm1::AddToHistory(const QStringList &lines)
{
    if (!HistoryStore::addEntry(HistoryList, lines))
        return; // no statement: QueryChanged keeps its value
    QueryChanged = false;
    SaveHistory();
    fillHistoryBox();
}

void TForm1::SaveHistory()
{
    QSettings settings(QStringLiteral("Varnholt"), QStringLiteral("Stelvik"));
    HistoryStore::save(settings, HistoryList);
}

void TForm1::fillHistoryBox()
{
    QStringList displays;
    for (const HistoryItem &item : std::as_const(HistoryList))
        displays << item.Display;
    ui->ComboBox2->clear();
    ui->ComboBox2->addItems(displays);
    ui->ComboBox2->setCurrentIndex(displays.isEmpty() ? -1 : 0);
    ComboBox2Change(ui->ComboBox2);
}

void TForm1::ComboBox2Change(QObject *)
{
    const int index = ui->ComboBox2->currentIndex();
    if (index < 0 || index >= HistoryList.size())
        return;
    ui->HistFullSQL->setPlainText(
        controlText(HistoryStore::splitLines(HistoryList.at(index).Object.FullText)));
}

void TForm1::SpeedButton11Click(QObject *)
{
    const QStringList lines = controlLines(ui->HistFullSQL);
    if (lines.isEmpty())
        return;
    // At once on the default printer, without a dialog and with no document title.
    QPrinter defaultPrinter;
    printText(PrinterOverride ? PrinterOverride : &defaultPrinter, lines, QString());
}

void TForm1::SpeedButton10Click(QObject *)
{
    const QStringList lines = controlLines(ui->HistFullSQL);
    if (lines.isEmpty())
        return;
    if (!offerToSaveQuery())
        return; // the save dialog was cancelled: everything stays as it was
    setWindowTitle(titleText());
    setEditorText(HistoryStore::joinLines(lines));
    ui->PageControl1->setCurrentWidget(ui->TabSheet1);
}
