#include "app/HistoryPage.h"
#include "app/RunValues.h"
#include "app/Unit1.h"
#include "ui_Unit1.h"

void TForm1::setupHistory()
{
    m_historyPage = new HistoryPage(this, HistoryList, editorAccess(), ui->HistorySearch,
        ui->ComboBox2, ui->HistFullSQL, m_queryFiles); // owned by the window (Qt parent)
    m_historyPage->open();
    m_runValues = new RunValues(this, [this] { return historyDatabase(); }); // owned (Qt parent)
}

void TForm1::LoadHistory()
{
    m_historyPage->load();
}

void TForm1::AddToHistory(const QStringList &lines)
{
    m_historyPage->add(lines);
}

void TForm1::SaveHistory()
{
    m_historyPage->save();
}

HistoryRecorder *TForm1::historyDatabase() const
{
    return m_historyPage->database();
}

void TForm1::historyRunStarted(const QString &alias, const QString &text)
{
    m_historyPage->runStarted(alias, text);
}

void TForm1::historyRunEnded(const StatementOutcome &outcome)
{
    m_historyPage->runEnded(outcome);
}

void TForm1::historyRunCounted(int count)
{
    m_historyPage->runCounted(count);
}

void TForm1::historyRunAbandoned()
{
    m_historyPage->runAbandoned();
}

void TForm1::historyClosing()
{
    m_historyPage->closing(CurrentThread != nullptr);
}

void TForm1::ComboBox2Change(QObject *)
{
    m_historyPage->showSelected();
}

void TForm1::SpeedButton11Click(QObject *)
{
    m_historyPage->print(m_options.printer);
}

void TForm1::SpeedButton10Click(QObject *)
{
    // A run made current brings its values along: the prompt of its next Run proposes them, and
    // Ctrl+F5 runs with them unasked.
    const QVector<HistoryParameter> values = m_historyPage->shownValues();
    if (!m_historyPage->makeCurrent())
        return;
    m_runValues->remember(EditorText(), values);
    ui->PageControl1->setCurrentWidget(ui->TabSheet1);
}
