#include "app/GridKeys.h"

#include "app/Guard.h"
#include "app/ShownResult.h"
#include "connection/QueryDataset.h"
#include "query/QueryControl.h"
#include "results/DataSource.h"
#include "results/TargetFile.h"
#include "valuetext/FieldText.h"
#include "widgets/ValueViewer.h"

#include <QDir>
#include <QKeyEvent>
#include <QShortcut>
#include <QTableView>

#include <exception>

namespace {
// The value viewer's "Save as…", by the exports' rules: a FIFO or a device is written directly,
// any other file is replaced only once the whole value is written.
QString writeValueFile(const QString &path, const QByteArray &bytes)
{
    try {
        TargetFile file(path);
        if (!file.open())
            return QStringLiteral("Cannot create file %1: %2")
                .arg(QDir::toNativeSeparators(path), file.errorString());
        // A short write leaves a file as it was: nothing is committed.
        const auto failed = [&path](const QString &reason) {
            return QStringLiteral("Unable to write to %1: %2")
                .arg(QDir::toNativeSeparators(path), reason);
        };
        if (file.device().write(bytes) != bytes.size())
            return failed(file.device().errorString());
        if (!file.commit())
            return failed(file.errorString());
        return {};
    } catch (const std::exception &error) {
        return QString::fromStdString(error.what()); // a folder
    }
}
}

GridKeys::GridKeys(
    QTableView *grid, ShownResult &shown, QueryControl &control, std::function<void()> fetchToEnd)
    : QObject(grid)
    , m_grid(grid)
    , m_shown(shown)
    , m_control(control)
    , m_fetchToEnd(std::move(fetchToEnd))
{
    grid->installEventFilter(this);
    connect(grid, &QAbstractItemView::doubleClicked, this, [this] { viewValue(); });
    for (const Qt::Key enter : { Qt::Key_Return, Qt::Key_Enter }) {
        auto *shortcut = new QShortcut(QKeySequence(Qt::SHIFT | enter), grid); // owned by grid
        shortcut->setContext(Qt::WidgetShortcut);
        connect(shortcut, &QShortcut::activated, this,
            [this] { runGuarded(m_grid->window(), [this] { viewValue(); }); });
    }
}

bool GridKeys::eventFilter(QObject *, QEvent *event)
{
    // Ctrl+End is taken only when more of the result waits at the server.
    if (event->type() != QEvent::KeyPress)
        return false;
    const auto *key = static_cast<QKeyEvent *>(event);
    if (key->key() != Qt::Key_End || key->modifiers() != Qt::ControlModifier)
        return false;
    if (!m_shown || m_shown.get()->allFetched() || m_control.state() != QueryControl::State::Idle)
        return false;
    runGuarded(m_grid->window(), [this] { m_fetchToEnd(); });
    return true;
}

void GridKeys::viewValue()
{
    QueryDataset *result = m_shown.get();
    const QModelIndex index = m_grid->currentIndex();
    if (!result || !index.isValid() || m_control.state() != QueryControl::State::Idle)
        return;
    const QString title = m_grid->model()->headerData(index.column(), Qt::Horizontal).toString();
    const int record = m_shown.source()->recordAt(index.row());
    QWidget *window = m_grid->window();
    // A binary value as its bytes, in a hex dump; the stored value is read at the current
    // record, which the grid's current row shows.
    ValueText::StoredKind kind {};
    const char *data = nullptr;
    std::size_t length = 0;
    if (result->RecNo() == record && result->fieldStored(index.column(), kind, data, length)
        && kind == ValueText::StoredKind::Binary) {
        ValueViewer viewer(title, QByteArray(data, qsizetype(length)), writeValueFile, window);
        viewer.exec();
        return;
    }
    const QString value = result->isNull(record, index.column())
        ? nullFieldText()
        : result->text(record, index.column());
    ValueViewer viewer(title, value, writeValueFile, window);
    viewer.exec();
}
