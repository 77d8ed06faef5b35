#include "widgets/CompletionList.h"

#include <QHeaderView>
#include <QScrollBar>

#include <algorithm>

CompletionList::CompletionList(QWidget *parent)
    : QTreeWidget(parent)
{
    setObjectName(QStringLiteral("CompletionList"));
    setFocusPolicy(Qt::NoFocus); // the field keeps the keyboard
    setColumnCount(2);
    setHeaderHidden(true);
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    header()->setStretchLastSection(true);
    setFrameShape(QFrame::Box);
    hide();
    connect(this, &QTreeWidget::itemClicked, this,
        [this](QTreeWidgetItem *item) { emit chosen(indexOfTopLevelItem(item)); });
}

void CompletionList::setRows(const QVector<Row> &rows)
{
    const QString before = currentItem() ? currentItem()->text(0) : QString();
    setUpdatesEnabled(false);
    clear();
    QList<QTreeWidgetItem *> items;
    items.reserve(rows.size());
    const QColor grey = palette().color(QPalette::Disabled, QPalette::Text);
    int current = 0;
    int labelWidth = 0;
    const QFontMetrics metrics = fontMetrics();
    for (const Row &row : rows) {
        auto *item = new QTreeWidgetItem({ row.label, row.detail }); // owned by the list
        item->setForeground(1, grey);
        if (row.label == before)
            current = int(items.size());
        labelWidth = std::max(labelWidth, metrics.horizontalAdvance(row.label));
        items.append(item);
    }
    addTopLevelItems(items);
    setColumnWidth(
        0, std::min(labelWidth + 3 * metrics.averageCharWidth(), 60 * metrics.averageCharWidth()));
    if (!items.isEmpty())
        setCurrentItem(items[current]);
    setUpdatesEnabled(true);
}

void CompletionList::showAt(const QWidget *anchor, const QRect &rect)
{
    QWidget *area = parentWidget();
    const QFontMetrics metrics = fontMetrics();
    const int rowHeight = std::max(metrics.height() + 2, sizeHintForRow(0));
    const int rows = std::min(m_visibleRows, std::max(1, topLevelItemCount()));
    const int height = rows * rowHeight + 2 * frameWidth();
    const int width = std::min(area->width(),
        std::max(
            columnWidth(0) + 25 * metrics.averageCharWidth(), 30 * metrics.averageCharWidth()));
    const QPoint below = anchor->mapTo(area, rect.bottomLeft() + QPoint(0, 1));
    const QPoint above = anchor->mapTo(area, rect.topLeft());
    int y = below.y();
    if (y + height > area->height() && above.y() - height >= 0)
        y = above.y() - height;
    const int x = std::clamp(below.x(), 0, std::max(0, area->width() - width));
    setGeometry(x, y, width, height);
    show();
    raise();
    if (currentItem())
        scrollToItem(currentItem());
}

bool CompletionList::moveKey(int key)
{
    const int count = topLevelItemCount();
    if (count == 0)
        return false;
    int row = currentRowIndex();
    switch (key) {
    case Qt::Key_Up:
        row = row <= 0 ? count - 1 : row - 1;
        break;
    case Qt::Key_Down:
        row = row + 1 >= count ? 0 : row + 1;
        break;
    case Qt::Key_PageUp:
        row = std::max(0, row - m_visibleRows);
        break;
    case Qt::Key_PageDown:
        row = std::min(count - 1, row + m_visibleRows);
        break;
    default:
        return false;
    }
    setCurrentItem(topLevelItem(row));
    scrollToItem(currentItem());
    return true;
}

int CompletionList::currentRowIndex() const
{
    return currentItem() ? indexOfTopLevelItem(currentItem()) : -1;
}
