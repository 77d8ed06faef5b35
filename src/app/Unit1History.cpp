#include "app/QueryFiles.h"
#include "app/Unit1.h"
#include "history/HistoryStore.h"
#include "query/QThread.h"
#include "settings/ParmStore.h"
#include "ui_Unit1.h"

#include <QDateTime>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardItemModel>
#include <QTextDocument>

#include <memory>
#include <stdexcept>

namespace {

// The most matches the search lists; more would only slow the list down.
constexpr int kSearchLimit = 1000;

// The statements of the settings history, oldest first, read as the history load reads them;
// values that are no text are left out here (the load itself reports them).
QStringList settingsHistoryTexts()
{
    const std::unique_ptr<QSettings> opened = openUserSettings();
    const QSettings &settings = *opened;
    QStringList texts;
    for (int n = HistoryStore::ValueCount - 1; n >= 0; --n) {
        const QVariant value = settings.value(HistoryStore::valueName(n));
        if (!value.isValid() || value.typeId() != QMetaType::QString)
            continue;
        QString text = value.toString();
        const qsizetype nul = text.indexOf(QChar(0));
        if (nul >= 0)
            text.truncate(nul);
        if (!text.isEmpty())
            texts << HistoryStore::joinLines(HistoryStore::splitLines(text));
    }
    return texts;
}

// The search over the settings history alone, when the database cannot be used: every word must
// begin a word of the statement; an alias matches nothing, as no entry there knows its alias.
QList<HistoryRecord> searchSettingsHistory(const HistoryItems &items, const QString &query)
{
    QList<QRegularExpression> words;
    for (const QString &word :
        query.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts)) {
        if (word.startsWith(QLatin1String("alias:"), Qt::CaseInsensitive))
            return {};
        words << QRegularExpression(QStringLiteral("(?<![\\w])") + QRegularExpression::escape(word),
            QRegularExpression::CaseInsensitiveOption
                | QRegularExpression::UseUnicodePropertiesOption);
    }
    QList<HistoryRecord> found;
    for (const HistoryItem &item : items) {
        const QString &text = item.Object.FullText;
        if (std::all_of(words.begin(), words.end(),
                [&](const QRegularExpression &word) { return text.contains(word); })) {
            HistoryRecord record;
            record.text = text;
            found << record;
        }
    }
    return found;
}

// Sets the memo's text unless it holds that text already: laying out a statement of millions of
// characters on one line takes seconds, and a search that keeps listing it first must not pay
// that at every keystroke.
void showInMemo(QPlainTextEdit *memo, const QString &text)
{
    // Compared raw: the plain text turns non-breaking spaces into blanks.
    QString raw = text;
    raw.replace(QLatin1Char('\n'), QChar::ParagraphSeparator);
    if (memo->document()->characterCount() - 1 != raw.size()
        || memo->document()->toRawText() != raw)
        memo->setPlainText(text);
}

} // namespace

void TForm1::setupHistory()
{
    connect(ui->HistorySearch, &QLineEdit::textChanged, this,
        [this] { runGuarded(this, [this] { historySearchChanged(); }); });
    openHistoryDatabase();
}

void TForm1::openHistoryDatabase()
{
    const std::unique_ptr<QSettings> opened = openUserSettings();
    const QSettings &settings = *opened;
    int keep = HistoryDb::DefaultKeep;
    const QVariant keepValue = settings.value(QStringLiteral("HistoryKeep"));
    if (keepValue.isValid()) {
        bool ok = false;
        const int value = keepValue.toString().trimmed().toInt(&ok);
        if (ok && value > 0)
            keep = value;
        else
            showError(this,
                QStringLiteral("The setting HistoryKeep is not a whole number above 0: \"%1\". "
                               "The history keeps %2 entries.")
                    .arg(keepValue.toString())
                    .arg(keep));
    }
    m_history = std::make_unique<HistoryRecorder>();
    connect(m_history.get(), &HistoryRecorder::failed, this,
        [this](const QString &message) { historyDatabaseFailed(message); });
    connect(m_history.get(), &HistoryRecorder::written, this, [this] {
        if (ui->HistorySearch->text().isEmpty())
            return;
        const int index = ui->ComboBox2->currentIndex();
        const bool valid = index >= 0 && index < m_searchResults.size();
        runGuarded(this,
            [&] { showSearchResults(valid && index > 0 ? m_searchResults.at(index).id : 0); });
    });
    try {
        m_history->open(
            HistoryDb::defaultPath(), keep, HistoryDb::DefaultBusyTimeoutMs, settingsHistoryTexts);
    } catch (const std::exception &error) {
        historyDatabaseFailed(errorText(error));
    }
}

void TForm1::historyDatabaseFailed(const QString &message)
{
    if (!m_history)
        return; // told once
    // Deleted later: this may run inside one of its own signals.
    m_history.release()->deleteLater();
    showError(this,
        QStringLiteral("The history database cannot be used; the history goes on with its last "
                       "%1 statements only.\n%2")
            .arg(HistoryStore::MaxEntries)
            .arg(message));
}

void TForm1::historyRunStarted(const QString &alias)
{
    m_historyClock.start();
    m_historyRun = m_history
        ? m_history->runStarted(EditorText(), alias, QDateTime::currentMSecsSinceEpoch())
        : 0;
}

void TForm1::historyRunEnded(const TQthread *worker)
{
    if (!m_history || !m_historyRun || worker != CurrentThread)
        return;
    m_history->runEnded(m_historyRun, worker->ElapsedMs,
        worker->ErrorText.isEmpty() ? RunOutcome::Completed : RunOutcome::Error, worker->ErrorText);
    m_historyLastRun = m_historyRun;
    m_historyRun = 0;
}

void TForm1::historyRunCounted(int count)
{
    if (m_history && m_historyLastRun)
        m_history->runCounted(m_historyLastRun, count);
}

void TForm1::historyRunAbandoned()
{
    if (m_history && m_historyRun)
        m_history->runEnded(m_historyRun, m_historyClock.elapsed(), RunOutcome::Abandoned);
    m_historyRun = 0;
}

void TForm1::historyClosing()
{
    if (!m_history)
        return;
    if (m_historyRun && CurrentThread)
        m_history->runEnded(m_historyRun, m_historyClock.elapsed(), RunOutcome::Cancelled);
    m_historyRun = 0;
    // The process may end right after this: what is queued is written first, briefly.
    m_history->flush(1000);
}

void TForm1::historySearchChanged()
{
    if (ui->HistorySearch->text().isEmpty()) {
        m_searchResults.clear();
        fillHistoryBox(); // the list of the settings history, as always
        return;
    }
    showSearchResults(0);
}

void TForm1::showSearchResults(qint64 keepId)
{
    const QString query = ui->HistorySearch->text();
    QList<HistoryRecord> results;
    if (m_history) {
        try {
            results = m_history->search(query, kSearchLimit);
        } catch (const std::exception &error) {
            historyDatabaseFailed(errorText(error));
        }
    }
    if (!m_history)
        results = searchSettingsHistory(HistoryList, query);
    m_searchResults = results;

    // The items are made whole and put into the list's model in one insertion: item by item, the
    // list would update itself for every one.
    QList<QStandardItem *> items;
    items.reserve(results.size());
    int index = results.isEmpty() ? -1 : 0;
    for (int i = 0; i < results.size(); ++i) {
        const HistoryRecord &record = results.at(i);
        auto *item = new QStandardItem(record.displayLine()); // owned by the list's model below
        item->setToolTip(record.details());
        items << item;
        if (keepId && record.id == keepId)
            index = i;
    }
    ui->ComboBox2->clear();
    auto *model = qobject_cast<QStandardItemModel *>(ui->ComboBox2->model());
    model->invisibleRootItem()->appendRows(items);
    ui->ComboBox2->setCurrentIndex(index);
    if (index < 0) {
        ui->HistFullSQL->clear(); // nothing matches: nothing to make current or print
        m_memoRun = 0;
    } else
        ComboBox2Change(ui->ComboBox2);
}

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
    if (!ui->HistorySearch->text().isEmpty()) {
        showSearchResults(0); // a search is typed: the list shows its matches
        return;
    }
    QStringList displays;
    for (const HistoryItem &item : std::as_const(HistoryList))
        displays << HistoryStore::shownLine(item.Display);
    ui->ComboBox2->clear();
    ui->ComboBox2->addItems(displays);
    ui->ComboBox2->setCurrentIndex(displays.isEmpty() ? -1 : 0);
    ComboBox2Change(ui->ComboBox2);
}

void TForm1::ComboBox2Change(QObject *)
{
    const int index = ui->ComboBox2->currentIndex();
    if (!ui->HistorySearch->text().isEmpty()) {
        if (index < 0 || index >= m_searchResults.size())
            return;
        HistoryRecord &record = m_searchResults[index];
        if (record.id && record.id == m_memoRun)
            return; // shown already: a run's text never changes
        if (record.textCut && m_history) {
            // The list holds the beginning of a long statement; the memo shows all of it.
            try {
                const QString whole = m_history->text(record.id);
                if (!whole.isNull()) {
                    record.text = whole;
                    record.textCut = false;
                }
            } catch (const std::exception &error) {
                historyDatabaseFailed(errorText(error));
            }
        }
        if (record.textCut) {
            // Never a part for the whole: Make current and Print would take it as the statement.
            ui->HistFullSQL->clear();
            m_memoRun = 0;
            return;
        }
        showInMemo(ui->HistFullSQL, controlText(HistoryStore::splitLines(record.text)));
        m_memoRun = record.id;
        return;
    }
    if (index < 0 || index >= HistoryList.size())
        return;
    showInMemo(ui->HistFullSQL,
        controlText(HistoryStore::splitLines(HistoryList.at(index).Object.FullText)));
}

void TForm1::SpeedButton11Click(QObject *)
{
    const QStringList lines = controlLines(ui->HistFullSQL);
    if (lines.isEmpty())
        return;
    // At once on the default printer, without a dialog and with no document title.
    QPrinter defaultPrinter;
    m_queryFiles->printText(PrinterOverride ? PrinterOverride : &defaultPrinter, lines, QString());
}

void TForm1::SpeedButton10Click(QObject *)
{
    const QStringList lines = controlLines(ui->HistFullSQL);
    if (lines.isEmpty())
        return;
    if (!m_queryFiles->offerToSave())
        return; // the save dialog was cancelled: everything stays as it was
    setWindowTitle(titleText());
    setEditorText(HistoryStore::joinLines(lines));
    ui->PageControl1->setCurrentWidget(ui->TabSheet1);
}
