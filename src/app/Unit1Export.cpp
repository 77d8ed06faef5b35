#include "app/ExportCommands.h"
#include "app/Unit1.h"
#include "connection/QueryDataset.h"
#include "results/Exporter.h"
#include "results/LineBuilder.h"
#include "ui_Unit1.h"

#include <QAction>

void TForm1::setupExport()
{
    m_export = std::make_unique<ExportCommands>(this, m_shown, ui->DBGrid1, m_resultView);
}

void TForm1::Button5Click(QObject *)
{
    m_export->exportResult(ExportFormat::CommaQuote);
}

void TForm1::Button6Click(QObject *)
{
    m_export->exportResult(ExportFormat::Report);
}

void TForm1::Button4Click(QObject *)
{
    m_export->copyTitles();
}

void TForm1::PopupMenu2Popup(QObject *)
{
    const bool open = m_shown.open();
    ui->CopyFieldtoClipboard1->setEnabled(open);
    ui->CopyEntireRowtoclipboard1->setEnabled(open);
    ui->CopyEntireRowCommaQuote1->setEnabled(open);
}

void TForm1::CopyFieldtoClipboard1Click(QObject *)
{
    m_export->copyField();
}

void TForm1::CopyEntireRowtoclipboard1Click(QObject *)
{
    m_export->copyRecord(LineFormat::RowCopy);
}

void TForm1::CopyEntireRowCommaQuote1Click(QObject *)
{
    m_export->copyRecord(LineFormat::CommaQuote);
}
