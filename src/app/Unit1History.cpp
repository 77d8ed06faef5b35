#include "app/Unit1.h"
#include "connection/ParmStore.h"
#include "history/HistoryStore.h"
#include "ui_Unit1.h"

#include <QPrinter>
#include <QSettings>

#include <memory>
#include <stdexcept>

void TForm1::setupHistory() { }

void TForm1::LoadHistory()
{
    QStringList skipped;
    {
        const std::unique_ptr<QSettings> settings = openUserSettings();
        // Settings that cannot be read are not loaded, and then never replaced by a save.
        m_historyLoaded = settings->status() == QSettings::NoError;
        if (m_historyLoaded)
            skipped = HistoryStore::load(*settings, HistoryList);
    }
    fillHistoryBox();
    // The values that could not be read stay stored; one message names them all.
    if (!skipped.isEmpty()) {
        QStringList messages;
        for (const QString &name : std::as_const(skipped))
            messages << QStringLiteral("Invalid data type for '%1'").arg(name);
        throw std::runtime_error(messages.join(QLatin1Char('\n')).toStdString());
    }
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
    // A history that was never read is never written over: values not loaded are not deleted.
    if (!m_historyLoaded)
        return;
    const std::unique_ptr<QSettings> settings = openUserSettings();
    HistoryStore::save(*settings, HistoryList);
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
