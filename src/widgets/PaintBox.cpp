#include "widgets/PaintBox.h"

#include <QDateTime>
#include <QPainter>
#include <QRandomGenerator>

namespace {

QRandomGenerator &generator()
{
    static QRandomGenerator random;
    return random;
}

} // namespace

void Randomize()
{
    generator().seed(static_cast<quint32>(QDateTime::currentMSecsSinceEpoch()));
}

int Random(int range)
{
    if (range <= 0)
        return 0;
    return static_cast<int>(generator().bounded(static_cast<quint32>(range)));
}

QColor colorFromValue(int value)
{
    return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
}

TPaintBox::TPaintBox(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TPaintBox::clear()
{
    m_canvas = QImage(size().expandedTo(QSize(1, 1)), QImage::Format_RGB32);
    m_canvas.fill(palette().color(backgroundRole()));
    m_drawn = 0;
    update();
}

void TPaintBox::drawEllipse(
    int left, int top, int right, int bottom, const QColor &pen, const QColor &brush)
{
    if (m_canvas.isNull())
        clear();
    QPainter painter(&m_canvas);
    painter.setPen(QPen(pen, 1));
    painter.setBrush(brush);
    painter.drawEllipse(QRect(QPoint(left, top), QPoint(right, bottom)).normalized());
    ++m_drawn;
    update();
}

void TPaintBox::paintEvent(QPaintEvent *)
{
    if (m_canvas.size() != size())
        clear();
    QPainter painter(this);
    painter.drawImage(0, 0, m_canvas);
}

void TPaintBox::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    clear();
}

void TPaintBox::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    clear();
}
