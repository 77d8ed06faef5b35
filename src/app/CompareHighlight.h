#pragma once

#include "results/GridDelegate.h"

#include <QStringList>

// The grid's cells as GridDelegate paints them, and while a compared result is shown its changed
// cells on a tint: in a "changed" row, the left and right values of each column its CHANGED
// column names. Owned by the grid (Qt parent). UI thread only.
class CompareHighlight : public GridDelegate
{
    Q_OBJECT

public:
    explicit CompareHighlight(QObject *parent = nullptr);

    // The compared result's layout (see ResultCompare); compared empty: nothing is tinted.
    void setCompared(int keyCount, const QStringList &compared);
    // Whether the cell is a changed one of the compared result shown (for the tests too).
    bool isChanged(const QModelIndex &index) const;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
        const QModelIndex &index) const override;

private:
    int m_keyCount = 0;
    QStringList m_compared;
};
