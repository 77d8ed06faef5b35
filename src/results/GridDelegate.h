#pragma once

#include <QStyledItemDelegate>

class QFontMetrics;

// Paints the result grid's cells: the default painting, then the null marker over null cells.
// Owned by the grid (Qt parent). UI thread only.
class GridDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit GridDelegate(QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
        const QModelIndex &index) const override;

    // The cell hook, run after the default painting: a null value is shown as "<Null>" on the
    // cell's own background (the selection colour when the cell is selected).
    void DBGrid1DrawColumnCell(
        QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const;
};

// A column's width in average characters of its font, as the report layout counts it: the
// pixel width less the cell's 3-pixel margin and the font's overhang, rounded; never negative.
int displayWidthFromPixels(int pixels, const QFontMetrics &metrics);
int displayWidthFromPixels(int pixels, int averageCharWidth, int overhang = 0);
// The pixel width that shows a field of that display width and title in that font.
int pixelsForDisplayWidth(int displayWidth, const QString &title, const QFontMetrics &metrics);
