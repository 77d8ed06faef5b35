#include "app/AliasDialect.h"
#include "app/CompareHighlight.h"
#include "app/FanOutView.h"
#include "app/LoginFlow.h"
#include "app/Unit1.h"
#include "app/WindowLifecycle.h"
#include "catalog/Catalogs.h"
#include "catalog/PrimaryKey.h"
#include "compare/ResultCompare.h"
#include "connection/QueryDataset.h"
#include "connection/ResultReader.h"
#include "fanout/FanOutRun.h"
#include "history/HistoryStore.h"
#include "query/QueryControl.h"
#include "results/DataSource.h"
#include "settings/UserSettings.h"
#include "ui_Unit1.h"
#include "widgets/CompareDialog.h"
#include "widgets/ErrorBox.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>

#include <algorithm>
#include <set>

// Compare Results (Ctrl+Shift+D and the grid menu): two results of those on screen (pages of
// the statement shown, or aliases of a merged result) compared on key columns into a result of
// its own, shown in the grid with its counts in a strip above it and its changed cells tinted.

namespace {

// A result that can be compared: one side, what the dialog calls it, and where its key may be
// read from the catalog.
struct Candidate
{
    ResultCompare::Side side;
    QString sql;
    QString alias;
};

QStringList titlesOf(const ResultCompare::Side &side)
{
    QStringList titles;
    for (int c = 0; c < int(side.columns.size()); ++c)
        if (c != side.filterColumn)
            titles << side.columns[std::size_t(c)].title;
    return titles;
}

// The sides a result on a page gives: one per alias of a merged result, else the result itself.
void addCandidates(const QueryDataset &result, const QString &name, QVector<Candidate> &out)
{
    ResultCompare::Side side = ResultCompare::sideOf(result, name);
    if (!side.rows)
        return;
    if (side.columns.empty() || side.columns[0].title != FanOutRun::aliasColumn()) {
        out.append({ side, result.sql(), result.databaseName() });
        return;
    }
    std::set<QString> seen;
    QStringList aliases; // in the order they first come
    QString text;
    for (int row = 0; row < side.rows->rowCount(); ++row) {
        if (side.rows->shownText(row, 0, 1000, text) && seen.insert(text).second)
            aliases << text;
    }
    for (const QString &alias : aliases) {
        ResultCompare::Side one = side;
        one.label = alias;
        one.filterColumn = 0;
        one.filterText = alias;
        out.append({ one, result.sql(), alias });
    }
}

// Esc in the window stops the compare while it runs; taken before the window's own Esc (which
// would close the result). Lives as long as the compare (its Qt child).
class EscStops : public QObject
{
public:
    EscStops(ResultCompare *compare, QWidget *window)
        : QObject(compare)
        , m_window(window)
    {
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *compare = static_cast<ResultCompare *>(parent());
        if ((event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress)
            && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape
            && static_cast<QKeyEvent *>(event)->modifiers() == Qt::NoModifier
            && compare->isRunning() && watched->isWidgetType()
            && static_cast<QWidget *>(watched)->window() == m_window) {
            event->accept();
            if (event->type() == QEvent::KeyPress)
                compare->stop();
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QWidget *m_window;
};

} // namespace

void TForm1::setupCompare()
{
    m_compareAction = new QAction(QStringLiteral("Compare Results..."), this); // owned (Qt parent)
    m_compareAction->setObjectName(QStringLiteral("CompareResults1"));
    m_compareAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D));
    m_compareAction->setShortcutContext(Qt::WindowShortcut);
    addAction(m_compareAction);
    // After the menu's own items and the pins, below the separator that follows the copies.
    m_lifecycle->gridMenu()->addAction(m_compareAction);
    wire(m_compareAction, &QAction::triggered, &TForm1::CompareResults1Click);

    m_compareStrip = new QLabel(ui->TabSheet2); // owned by the page (Qt parent)
    m_compareStrip->setObjectName(QStringLiteral("CompareStrip"));
    m_compareStrip->hide();
    ui->TabSheet2Layout->insertWidget(0, m_compareStrip);
    m_compareHighlight = new CompareHighlight(ui->DBGrid1); // owned by the grid (Qt parent)
    ui->DBGrid1->setItemDelegate(m_compareHighlight);
    // Another result in the grid: the strip and the tint go. Looked at once the change is done
    // (a result being shown resets the grid on its way).
    connect(m_shown.source(), &QAbstractItemModel::modelReset, this, [this] {
        QMetaObject::invokeMethod(
            this,
            [this] {
                const QueryDataset *result = m_shown.get();
                if (result && m_compareSerial && result->serial() == m_compareSerial)
                    return;
                m_compareStrip->hide();
                m_compareHighlight->setCompared(0, {});
            },
            Qt::QueuedConnection);
    });
}

void TForm1::CompareResults1Click(QObject *)
{
    if (m_control->state() != QueryControl::State::Idle || m_fanOut->isRunning()
        || m_login->holdsCommands() || !m_shown.open())
        return; // as Run: nothing while a statement is under way
    // Every page's rows (the pinned ones too) are read through a reader of their own, taken
    // page by page.
    QVector<Candidate> candidates;
    const int current = std::max(0, m_shown.currentTab());
    const int pages = std::max(1, m_shown.tabCount());
    for (int page = 0; page < pages; ++page) {
        if (pages > 1 && !m_shown.showTab(page))
            continue;
        if (const QueryDataset *result = m_shown.open())
            addCandidates(*result, pages > 1 ? m_shown.tabCaption(page) : QStringLiteral("Result"),
                candidates);
    }
    if (pages > 1)
        m_shown.showTab(current);
    if (candidates.size() < 2) {
        showError(this,
            QStringLiteral("Compare needs two results fetched whole: two pages of the result, or "
                           "two aliases of a merged result (Ctrl+End fetches the rest)."));
        return;
    }

    // The key: the primary key of the left result's table when its statement reads one table
    // and the catalog knows its columns.
    const Candidate &first = candidates[0];
    const QString sql = first.sql.isEmpty() ? HistoryStore::joinLines(EditorLines()) : first.sql;
    QStringList keys;
    const Sql::Dialect dialect = aliasDialect(first.alias);
    if (catalogs()) {
        if (Catalog::SnapshotPtr snapshot = catalogs()->snapshot(first.alias)) {
            const Catalog::Object *table = nullptr;
            keys = Catalog::primaryKey(*snapshot, sql, dialect, &table);
            if (table && !snapshot->columns(table->schema, table->name))
                catalogs()->requestColumns(first.alias, table->schema, table->name); // next time
        }
    }

    QStringList names;
    QList<QStringList> columns;
    for (const Candidate &candidate : candidates) {
        names << candidate.side.label;
        columns << titlesOf(candidate.side);
    }
    CompareDialog dialog(names, columns, 0, 1, keys, this);
    if (dialog.exec() != QDialog::Accepted)
        return;

    if (m_compare) {
        m_compare->disconnect(this);
        m_compare->deleteLater(); // stops it and waits for its thread
    }
    m_compare = new ResultCompare(UserSettings::resultMemoryBytes(), this); // owned (Qt parent)
    const Candidate &left = candidates[dialog.left()];
    const Candidate &right = candidates[dialog.right()];
    if (!m_compare->start(left.side, right.side, dialog.keys(), dialog.keepSame())) {
        showError(this, m_compare->error());
        return;
    }
    new EscStops(m_compare, this); // owned by the compare (Qt parent)
    std::unique_ptr<QueryDataset> result = m_compare->takeResult();
    m_compareSerial = result->serial();
    const QString caption = QStringLiteral("%1 against %2").arg(left.side.label, right.side.label);
    m_compareStrip->setText(QStringLiteral("Comparing %1...").arg(caption));
    m_compareStrip->show();
    m_compareHighlight->setCompared(m_compare->keyCount(), m_compare->comparedColumns());
    m_shown.show(std::move(result)); // the pages compared live on in their readers
    ui->PageControl1->setCurrentWidget(ui->TabSheet2);
    ui->DBGrid1->setFocus();

    const auto arrived = [this] {
        QueryDataset *shown = m_shown.get();
        if (shown && shown->serial() == m_compareSerial && shown->IsOpen()) {
            shown->fetchMore(); // only what has arrived: nothing waits
            m_shown.source()->syncRows();
        }
    };
    connect(m_compare, &ResultCompare::rowsArrived, this, arrived);
    connect(m_compare, &ResultCompare::finished, this, [this, arrived, caption] {
        arrived();
        QString text = caption + QStringLiteral(": ") + ResultCompare::summary(m_compare->counts());
        if (!m_compare->notCompared().isEmpty())
            text += QStringLiteral("; not compared: ") + m_compare->notCompared().join(", ");
        if (!m_compare->error().isEmpty())
            text += QStringLiteral("; ended early: ") + m_compare->error();
        m_compareStrip->setText(text);
        setStatusText(1, ResultCompare::summary(m_compare->counts()));
    });
}
