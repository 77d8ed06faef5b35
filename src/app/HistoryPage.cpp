#include "app/HistoryPage.h"

#include "app/EditorCommands.h"
#include "app/Guard.h"
#include "app/QueryFiles.h"
#include "app/WindowLifecycle.h"
#include "history/HistoryStore.h"
#include "query/StatementOutcome.h"
#include "settings/ParmStore.h"
#include "settings/UserSettings.h"

#include <QComboBox>
#include <QDateTime>
#include <QLineEdit>
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

HistoryPage::HistoryPage(QWidget *window, HistoryItems &entries, EditorAccess editor,
    QLineEdit *search, QComboBox *list, QPlainTextEdit *memo, QueryFiles *files)
    : QObject(window)
    , m_window(window)
    , m_entries(entries)
    , m_editor(std::move(editor))
    , m_search(search)
    , m_list(list)
    , m_memo(memo)
    , m_files(files)
{
    connect(m_search, &QLineEdit::textChanged, this,
        [this] { runGuarded(m_window, [this] { searchChanged(); }); });
}

HistoryPage::~HistoryPage()
{
    // The recorder writes what is queued as it goes; nothing of this page is told any more.
    if (m_history)
        m_history->disconnect(this);
}

void HistoryPage::open()
{
    std::optional<QString> rejected;
    const int keep = UserSettings::historyKeep(&rejected).value_or(HistoryDb::DefaultKeep);
    if (rejected)
        showError(m_window,
            QStringLiteral("The setting HistoryKeep is not a whole number above 0: \"%1\". "
                           "The history keeps %2 entries.")
                .arg(*rejected)
                .arg(keep));
    m_history = std::make_unique<HistoryRecorder>();
    connect(m_history.get(), &HistoryRecorder::failed, this,
        [this](const QString &message) { databaseFailed(message); });
    connect(m_history.get(), &HistoryRecorder::written, this, [this] {
        if (m_search->text().isEmpty())
            return;
        const int index = m_list->currentIndex();
        const bool valid = index >= 0 && index < m_searchResults.size();
        runGuarded(m_window,
            [&] { showSearchResults(valid && index > 0 ? m_searchResults.at(index).id : 0); });
    });
    try {
        m_history->open(
            HistoryDb::defaultPath(), keep, HistoryDb::DefaultBusyTimeoutMs, settingsHistoryTexts);
    } catch (const std::exception &error) {
        databaseFailed(errorText(error));
    }
}

void HistoryPage::databaseFailed(const QString &message)
{
    if (!m_history)
        return; // told once
    // Deleted later: this may run inside one of its own signals.
    m_history.release()->deleteLater();
    showError(m_window,
        QStringLiteral("The history database cannot be used; the history goes on with its last "
                       "%1 statements only.\n%2")
            .arg(HistoryStore::MaxEntries)
            .arg(message));
}

void HistoryPage::runStarted(
    const QString &alias, const QString &text, const QVector<HistoryParameter> &parameters)
{
    m_clock.start();
    m_run = m_history ? m_history->runStarted(text.isEmpty() ? m_editor.text() : text, alias,
                QDateTime::currentMSecsSinceEpoch(), parameters)
                      : 0;
}

void HistoryPage::runEnded(const StatementOutcome &outcome)
{
    if (!m_history || !m_run)
        return;
    m_history->runEnded(m_run, outcome.elapsedMs,
        outcome.failed() ? RunOutcome::Error : RunOutcome::Completed, outcome.errorText);
    m_lastRun = m_run;
    m_run = 0;
}

void HistoryPage::runCounted(int count)
{
    if (m_history && m_lastRun)
        m_history->runCounted(m_lastRun, count);
}

void HistoryPage::runAbandoned()
{
    if (m_history && m_run)
        m_history->runEnded(m_run, m_clock.elapsed(), RunOutcome::Abandoned);
    m_run = 0;
}

void HistoryPage::closing(bool ownRunning)
{
    if (!m_history)
        return;
    if (m_run && ownRunning)
        m_history->runEnded(m_run, m_clock.elapsed(), RunOutcome::Cancelled);
    m_run = 0;
    // The process may end right after this: what is queued is written first, briefly.
    m_history->flush(1000);
}

void HistoryPage::searchChanged()
{
    if (m_search->text().isEmpty()) {
        m_searchResults.clear();
        fillList(); // the list of the settings history, as always
        return;
    }
    showSearchResults(0);
}

void HistoryPage::showSearchResults(qint64 keepId)
{
    const QString query = m_search->text();
    QList<HistoryRecord> results;
    if (m_history) {
        try {
            results = m_history->search(query, kSearchLimit);
        } catch (const std::exception &error) {
            databaseFailed(errorText(error));
        }
    }
    if (!m_history)
        results = searchSettingsHistory(m_entries, query);
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
    m_list->clear();
    auto *model = qobject_cast<QStandardItemModel *>(m_list->model());
    model->invisibleRootItem()->appendRows(items);
    m_list->setCurrentIndex(index);
    if (index < 0) {
        m_memo->clear(); // nothing matches: nothing to make current or print
        m_memoRun = 0;
    } else
        showSelected();
}

void HistoryPage::load()
{
    QStringList skipped;
    {
        const std::unique_ptr<QSettings> settings = openUserSettings();
        // Settings that cannot be read are not loaded, and then never replaced by a save.
        m_loaded = settings->status() == QSettings::NoError;
        if (m_loaded)
            skipped = HistoryStore::load(*settings, m_entries);
    }
    fillList();
    // The values that could not be read stay stored; one message names them all.
    if (!skipped.isEmpty()) {
        QStringList messages;
        for (const QString &name : std::as_const(skipped))
            messages << QStringLiteral("Invalid data type for '%1'").arg(name);
        throw std::runtime_error(messages.join(QLatin1Char('\n')).toStdString());
    }
}

void HistoryPage::add(const QStringList &lines)
{
    if (!HistoryStore::addEntry(m_entries, lines))
        return; // no statement: QueryChanged keeps its value
    *m_editor.changed = false;
    save();
    fillList();
}

void HistoryPage::save()
{
    // A history that was never read is never written over: values not loaded are not deleted.
    if (!m_loaded)
        return;
    const std::unique_ptr<QSettings> settings = openUserSettings();
    HistoryStore::save(*settings, m_entries);
}

void HistoryPage::fillList()
{
    if (!m_search->text().isEmpty()) {
        showSearchResults(0); // a search is typed: the list shows its matches
        return;
    }
    QStringList displays;
    for (const HistoryItem &item : std::as_const(m_entries))
        displays << HistoryStore::shownLine(item.Display);
    m_list->clear();
    m_list->addItems(displays);
    m_list->setCurrentIndex(displays.isEmpty() ? -1 : 0);
    showSelected();
}

void HistoryPage::showSelected()
{
    const int index = m_list->currentIndex();
    if (!m_search->text().isEmpty()) {
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
                databaseFailed(errorText(error));
            }
        }
        if (record.textCut) {
            // Never a part for the whole: Make current and Print would take it as the statement.
            m_memo->clear();
            m_memoRun = 0;
            return;
        }
        showInMemo(m_memo, EditorCommands::textFor(HistoryStore::splitLines(record.text)));
        m_memoRun = record.id;
        return;
    }
    if (index < 0 || index >= m_entries.size())
        return;
    showInMemo(m_memo,
        EditorCommands::textFor(HistoryStore::splitLines(m_entries.at(index).Object.FullText)));
}

void HistoryPage::print(QPrinter *printer)
{
    const QStringList lines = EditorCommands::linesOf(m_memo);
    if (lines.isEmpty())
        return;
    // At once on the default printer, without a dialog and with no document title.
    QPrinter defaultPrinter;
    m_files->printText(printer ? printer : &defaultPrinter, lines, QString());
}

QVector<HistoryParameter> HistoryPage::shownValues() const
{
    if (!m_memoRun)
        return {};
    for (const HistoryRecord &record : m_searchResults)
        if (record.id == m_memoRun)
            return record.parameters;
    return {};
}

bool HistoryPage::makeCurrent()
{
    const QStringList lines = EditorCommands::linesOf(m_memo);
    if (lines.isEmpty())
        return false;
    if (!m_files->offerToSave())
        return false; // the save dialog was cancelled: everything stays as it was
    m_window->setWindowTitle(WindowLifecycle::titleText());
    m_editor.replace(HistoryStore::joinLines(lines));
    return true;
}
