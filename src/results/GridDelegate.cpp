#include "results/GridDelegate.h"

#include "results/DataSource.h"
#include "results/ValueText.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {
// Outline fonts, the only ones Qt draws with, have no overhang.
constexpr int fontOverhang = 0;
constexpr int cellMargin = 3;
}

GridDelegate::GridDelegate(QObject *parent)
    : QStyledItemDelegate(parent)
{ }

void GridDelegate::paint(
    QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyledItemDelegate::paint(painter, option, index);
    DBGrid1DrawColumnCell(painter, option, index);
}

void GridDelegate::DBGrid1DrawColumnCell(
    QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    if (!index.isValid() || !index.data(DataSource::IsNullRole).toBool())
        return;

    // The brush and pen the grid used for this cell: the colour group follows the view's state
    // the way the default painting chooses it.
    const QPalette::ColorGroup group = !(option.state & QStyle::State_Enabled) ? QPalette::Disabled
        : (option.state & QStyle::State_Active)                                ? QPalette::Normal
                                                                               : QPalette::Inactive;
    const bool selected = option.state & QStyle::State_Selected;
    QBrush background;
    if (selected)
        background = option.palette.brush(group, QPalette::Highlight);
    else if (option.backgroundBrush.style() != Qt::NoBrush)
        background = option.backgroundBrush;
    else if (option.features & QStyleOptionViewItem::Alternate)
        background = option.palette.brush(group, QPalette::AlternateBase);
    else
        background = option.palette.brush(group, QPalette::Base);

    painter->save();
    painter->fillRect(option.rect, background);
    painter->setFont(option.font);
    painter->setPen(
        option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
    painter->drawText(
        option.rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, nullFieldText());
    painter->restore();
}

int displayWidthFromPixels(int pixels, int averageCharWidth, int overhang)
{
    if (averageCharWidth <= 0)
        return 0;
    const double characters = double(pixels - cellMargin - overhang) / averageCharWidth;
    return std::max(0, int(std::lround(characters)));
}

int displayWidthFromPixels(int pixels, const QFontMetrics &metrics)
{
    return displayWidthFromPixels(pixels, metrics.averageCharWidth(), fontOverhang);
}

int pixelsForDisplayWidth(int displayWidth, const QString &title, const QFontMetrics &metrics)
{
    // Wide enough for the field's display width (which the reverse rule gives back unchanged)
    // and for its title.
    const int forValues = displayWidth * metrics.averageCharWidth() + cellMargin + fontOverhang + 1;
    const int forTitle = metrics.horizontalAdvance(title) + 2 * cellMargin + 4;
    return std::max(forValues, forTitle);
}
