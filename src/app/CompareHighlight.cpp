#include "app/CompareHighlight.h"

#include "compare/ResultCompare.h"

#include <QColor>
#include <QPainter>

CompareHighlight::CompareHighlight(QObject *parent)
    : GridDelegate(parent)
{ }

void CompareHighlight::setCompared(int keyCount, const QStringList &compared)
{
    m_keyCount = keyCount;
    m_compared = compared;
}

bool CompareHighlight::isChanged(const QModelIndex &index) const
{
    const int pair = (index.column() - 2 - m_keyCount) / 2;
    if (m_compared.isEmpty() || index.column() < 2 + m_keyCount || pair >= m_compared.size())
        return false;
    const QAbstractItemModel *model = index.model();
    if (model->index(index.row(), 0).data().toString() != ResultCompare::changed())
        return false;
    const QStringList names =
        model->index(index.row(), 1).data().toString().split(QStringLiteral(", "));
    return names.contains(m_compared[pair]);
}

void CompareHighlight::paint(
    QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    if (isChanged(index))
        painter->fillRect(option.rect, QColor(255, 230, 160));
    GridDelegate::paint(painter, option, index);
}
