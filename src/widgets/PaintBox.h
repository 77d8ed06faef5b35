#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <QWidget>

// A drawing surface whose drawings accumulate until the area is repainted from scratch: showing
// the widget again or resizing it clears it to the background. UI thread only.
class TPaintBox : public QWidget
{
    Q_OBJECT

public:
    explicit TPaintBox(QWidget *parent = nullptr);

    // An ellipse fitting the rectangle spanned by two corners in any order: a 1-pixel outline
    // in pen, filled with brush. Degenerate rectangles (no width or height) are fine.
    void drawEllipse(
        int left, int top, int right, int bottom, const QColor &pen, const QColor &brush);
    // Clears the accumulated drawing.
    void clear();
    // Number of ellipses drawn since the last clear.
    int drawnCount() const { return m_drawn; }
    const QImage &canvas() const { return m_canvas; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    QImage m_canvas;
    int m_drawn = 0;
};

// The program's pseudo-random generator: seeded from the clock once at start-up.
void Randomize();
// A number from 0 to range - 1; 0 when range is 0 or less.
int Random(int range);
// A colour value with red in the lowest byte, green in the middle and blue in the highest.
QColor colorFromValue(int value);
