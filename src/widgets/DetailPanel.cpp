#include "widgets/DetailPanel.h"

#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

DetailPanel::DetailPanel(QWidget *parent)
    : QFrame(parent)
    , m_title(new QLabel(this)) // owned by the panel
    , m_table(new QTreeWidget(this)) // owned by the panel
    , m_note(new QLabel(this)) // owned by the panel
{
    setObjectName(QStringLiteral("DetailPanel"));
    setFrameShape(QFrame::Box);
    setAutoFillBackground(true);
    setFocusPolicy(Qt::NoFocus);
    m_title->setTextFormat(Qt::PlainText);
    QFont bold = m_title->font();
    bold.setBold(true);
    m_title->setFont(bold);
    m_table->setFocusPolicy(Qt::NoFocus);
    m_table->setRootIsDecorated(false);
    m_table->setUniformRowHeights(true);
    m_table->setSelectionMode(QAbstractItemView::NoSelection);
    m_note->setTextFormat(Qt::PlainText);
    m_note->setWordWrap(true);
    auto *layout = new QVBoxLayout(this); // owned by the panel
    layout->setContentsMargins(6, 4, 6, 4);
    layout->addWidget(m_title);
    layout->addWidget(m_table);
    layout->addWidget(m_note);
    hide();
}

void DetailPanel::setContents(const QString &title, const QStringList &headers,
    const QVector<QStringList> &rows, const QString &note)
{
    m_title->setText(title);
    m_table->clear();
    m_table->setColumnCount(int(headers.size()));
    m_table->setHeaderLabels(headers);
    QList<QTreeWidgetItem *> items;
    for (const QStringList &row : rows)
        items.append(new QTreeWidgetItem(row)); // owned by the table
    m_table->addTopLevelItems(items);
    m_table->setVisible(!rows.isEmpty());
    for (int column = 0; column < headers.size(); ++column)
        m_table->resizeColumnToContents(column);
    m_note->setText(note);
    m_note->setVisible(!note.isEmpty());
}

void DetailPanel::showAt(const QWidget *anchor, const QRect &rect)
{
    QWidget *area = parentWidget();
    int tableWidth = 2 * m_table->frameWidth() + 4;
    for (int column = 0; column < m_table->columnCount(); ++column)
        tableWidth += m_table->columnWidth(column);
    const int rows = std::min(12, m_table->topLevelItemCount());
    const int rowHeight = std::max(fontMetrics().height() + 2, m_table->sizeHintForRow(0));
    const int width =
        std::min(area->width(), std::max(tableWidth, 40 * fontMetrics().averageCharWidth()) + 16);
    const int height = std::min(area->height(),
        sizeHint().height() - m_table->sizeHint().height() + (rows + 1) * rowHeight + 8);
    const QPoint below = anchor->mapTo(area, rect.bottomLeft() + QPoint(0, 1));
    const int x = std::clamp(below.x(), 0, std::max(0, area->width() - width));
    const int y = std::clamp(below.y(), 0, std::max(0, area->height() - height));
    setGeometry(x, y, width, height);
    show();
    raise();
}

QString DetailPanel::title() const
{
    return m_title->text();
}

QVector<QStringList> DetailPanel::rows() const
{
    QVector<QStringList> rows;
    for (int i = 0; i < m_table->topLevelItemCount(); ++i) {
        QStringList row;
        for (int column = 0; column < m_table->columnCount(); ++column)
            row << m_table->topLevelItem(i)->text(column);
        rows.append(row);
    }
    return rows;
}

QString DetailPanel::note() const
{
    return m_note->text();
}
