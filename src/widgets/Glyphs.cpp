#include "widgets/Glyphs.h"

#include <QHash>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <functional>

namespace {

// Every glyph is drawn on a 16 by 16 grid; the painter is scaled to the pixmap's real size.
using Drawer = std::function<void(QPainter &)>;

const QColor kOutline(40, 40, 40);

void page(QPainter &p, const QRectF &r)
{
    QPainterPath path;
    const qreal fold = 3.5;
    path.moveTo(r.left(), r.top());
    path.lineTo(r.right() - fold, r.top());
    path.lineTo(r.right(), r.top() + fold);
    path.lineTo(r.right(), r.bottom());
    path.lineTo(r.left(), r.bottom());
    path.closeSubpath();
    p.setPen(QPen(kOutline, 0.9));
    p.setBrush(Qt::white);
    p.drawPath(path);
    p.drawLine(QPointF(r.right() - fold, r.top()), QPointF(r.right() - fold, r.top() + fold));
    p.drawLine(QPointF(r.right() - fold, r.top() + fold), QPointF(r.right(), r.top() + fold));
}

void lines(QPainter &p, qreal left, qreal right, qreal top, int count, const QColor &colour)
{
    p.setPen(QPen(colour, 1.0, Qt::SolidLine, Qt::FlatCap));
    for (int i = 0; i < count; ++i)
        p.drawLine(QPointF(left, top + i * 2.0), QPointF(right, top + i * 2.0));
}

void drawLoad(QPainter &p)
{
    // An opening folder.
    p.setPen(QPen(QColor(120, 80, 0), 0.9));
    p.setBrush(QColor(230, 180, 60));
    QPainterPath back;
    back.moveTo(1.5, 3.5);
    back.lineTo(6, 3.5);
    back.lineTo(7.5, 5);
    back.lineTo(13, 5);
    back.lineTo(13, 13.5);
    back.lineTo(1.5, 13.5);
    back.closeSubpath();
    p.drawPath(back);
    p.setBrush(QColor(255, 215, 100));
    QPainterPath front;
    front.moveTo(1.5, 13.5);
    front.lineTo(4, 7.5);
    front.lineTo(15.5, 7.5);
    front.lineTo(13, 13.5);
    front.closeSubpath();
    p.drawPath(front);
}

void drawSave(QPainter &p)
{
    // A disk.
    p.setPen(QPen(QColor(20, 40, 100), 0.9));
    p.setBrush(QColor(50, 90, 180));
    QPainterPath body;
    body.moveTo(1.5, 1.5);
    body.lineTo(13, 1.5);
    body.lineTo(14.5, 3);
    body.lineTo(14.5, 14.5);
    body.lineTo(1.5, 14.5);
    body.closeSubpath();
    p.drawPath(body);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(3.5, 1.5, 9, 5.5));
    p.setBrush(QColor(190, 190, 200));
    p.drawRect(QRectF(4, 9.5, 8, 5));
    p.setBrush(QColor(20, 40, 100));
    p.drawRect(QRectF(9.5, 2.5, 1.5, 3.5));
}

void drawPrinter(QPainter &p)
{
    p.setPen(QPen(kOutline, 0.9));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(4.5, 1.5, 7, 6)); // paper in
    p.setBrush(QColor(170, 170, 170));
    p.drawRoundedRect(QRectF(1.5, 6.5, 13, 6), 1, 1);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(4.5, 10.5, 7, 4)); // paper out
    lines(p, 5.5, 10.5, 12, 2, QColor(90, 90, 90));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 180, 40));
    p.drawRect(QRectF(12, 8, 1.5, 1.5));
}

void drawRun(QPainter &p)
{
    // A green start triangle.
    QPainterPath tri;
    tri.moveTo(4, 2);
    tri.lineTo(14, 8);
    tri.lineTo(4, 14);
    tri.closeSubpath();
    p.setPen(QPen(QColor(0, 90, 0), 1.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(40, 180, 60));
    p.drawPath(tri);
}

void drawExec(QPainter &p)
{
    // A lightning bolt: a statement that changes data.
    QPainterPath bolt;
    bolt.moveTo(9.5, 1);
    bolt.lineTo(3.5, 9);
    bolt.lineTo(7.5, 9);
    bolt.lineTo(5.5, 15);
    bolt.lineTo(12.5, 6.5);
    bolt.lineTo(8.5, 6.5);
    bolt.lineTo(11, 1);
    bolt.closeSubpath();
    p.setPen(QPen(QColor(150, 80, 0), 0.9, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(255, 190, 30));
    p.drawPath(bolt);
}

void drawCross(QPainter &p, const QRectF &r, qreal width)
{
    p.setPen(QPen(Qt::white, width, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(r.topLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomLeft());
}

void drawClose(QPainter &p)
{
    // A result table with a red stop mark over it.
    p.setPen(QPen(kOutline, 0.9));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(1.5, 1.5, 11, 10));
    p.setBrush(QColor(120, 150, 210));
    p.drawRect(QRectF(1.5, 1.5, 11, 2.5));
    lines(p, 2.5, 11.5, 6, 3, QColor(150, 150, 150));
    p.setPen(QPen(QColor(130, 0, 0), 0.9));
    p.setBrush(QColor(210, 30, 30));
    p.drawEllipse(QRectF(7.5, 7.5, 7.5, 7.5));
    drawCross(p, QRectF(9.6, 9.6, 3.3, 3.3), 1.4);
}

void drawLogout(QPainter &p)
{
    // An open door with an arrow leaving it.
    p.setPen(QPen(QColor(90, 50, 20), 0.9));
    p.setBrush(QColor(150, 100, 50));
    p.drawRect(QRectF(1.5, 1.5, 8, 13));
    p.setBrush(QColor(200, 150, 90));
    QPainterPath door;
    door.moveTo(1.5, 1.5);
    door.lineTo(6, 3);
    door.lineTo(6, 16);
    door.lineTo(1.5, 14.5);
    door.closeSubpath();
    p.drawPath(door);
    QPainterPath arrow;
    arrow.moveTo(8, 7);
    arrow.lineTo(11.5, 7);
    arrow.lineTo(11.5, 4.5);
    arrow.lineTo(15.5, 8.5);
    arrow.lineTo(11.5, 12.5);
    arrow.lineTo(11.5, 10);
    arrow.lineTo(8, 10);
    arrow.closeSubpath();
    p.setPen(QPen(QColor(0, 90, 0), 0.8));
    p.setBrush(QColor(40, 180, 60));
    p.drawPath(arrow);
}

void clipboard(QPainter &p)
{
    p.setPen(QPen(QColor(90, 60, 20), 0.9));
    p.setBrush(QColor(190, 140, 70));
    p.drawRoundedRect(QRectF(1.5, 2.5, 11, 13), 1, 1);
    p.setBrush(QColor(200, 200, 200));
    p.setPen(QPen(kOutline, 0.9));
    p.drawRect(QRectF(4.5, 1.5, 5, 2.5));
}

void drawFields(QPainter &p)
{
    // A clipboard with a list of names.
    clipboard(p);
    p.setPen(QPen(kOutline, 0.9));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(3.5, 5.5, 11, 9));
    lines(p, 5, 12, 7.5, 4, QColor(30, 60, 160));
}

void drawCommaQuote(QPainter &p)
{
    // A text file whose lines are quoted values separated by commas.
    page(p, QRectF(2.5, 1.5, 11, 13));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 60, 160));
    for (int row = 0; row < 4; ++row) {
        const qreal y = 5 + row * 2.4;
        p.drawRect(QRectF(4, y, 2.5, 1.2));
        p.drawRect(QRectF(8.5, y, 3, 1.2));
        p.setBrush(QColor(200, 30, 30));
        p.drawRect(QRectF(7, y + 0.6, 0.9, 1.3));
        p.setBrush(QColor(30, 60, 160));
    }
}

void drawReport(QPainter &p)
{
    // A text file laid out in aligned columns.
    page(p, QRectF(2.5, 1.5, 11, 13));
    p.setPen(QPen(QColor(30, 60, 160), 1.0, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(4, 5), QPointF(12, 5));
    p.setPen(QPen(QColor(120, 120, 120), 0.6));
    p.drawLine(QPointF(4, 6.5), QPointF(12, 6.5));
    p.setPen(QPen(QColor(60, 60, 60), 1.0, Qt::SolidLine, Qt::FlatCap));
    for (int row = 0; row < 3; ++row) {
        const qreal y = 8.5 + row * 2;
        p.drawLine(QPointF(4, y), QPointF(7, y));
        p.drawLine(QPointF(8.5, y), QPointF(12, y));
    }
}

void drawMakeCurrent(QPainter &p)
{
    // A statement page with an arrow pointing into the editor.
    page(p, QRectF(5.5, 1.5, 9, 12));
    lines(p, 7, 12, 5, 4, QColor(120, 120, 120));
    QPainterPath arrow;
    arrow.moveTo(1, 8);
    arrow.lineTo(5, 4);
    arrow.lineTo(5, 6.5);
    arrow.lineTo(9, 6.5);
    arrow.lineTo(9, 9.5);
    arrow.lineTo(5, 9.5);
    arrow.lineTo(5, 12);
    arrow.closeSubpath();
    p.setPen(QPen(QColor(0, 90, 0), 0.8));
    p.setBrush(QColor(40, 180, 60));
    p.drawPath(arrow);
}

void drawOk(QPainter &p)
{
    QPainterPath tick;
    tick.moveTo(2, 8.5);
    tick.lineTo(6.5, 13);
    tick.lineTo(14, 3.5);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0, 90, 0), 3.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(tick);
    p.setPen(QPen(QColor(50, 190, 70), 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(tick);
}

void drawCancel(QPainter &p)
{
    const QRectF r(3.5, 3.5, 9, 9);
    p.setPen(QPen(QColor(130, 0, 0), 3.4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(r.topLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomLeft());
    p.setPen(QPen(QColor(225, 40, 40), 2.0, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(r.topLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomLeft());
}

void drawApp(QPainter &p)
{
    // A database drum with a start mark: the program's icon.
    const QColor body(40, 90, 170);
    const QColor top(110, 160, 230);
    p.setPen(QPen(QColor(15, 40, 90), 0.8));
    p.setBrush(body);
    QPainterPath drum;
    drum.moveTo(1.5, 3.5);
    drum.lineTo(1.5, 12.5);
    drum.arcTo(QRectF(1.5, 10.5, 11, 4), 180, 180);
    drum.lineTo(12.5, 3.5);
    drum.closeSubpath();
    p.drawPath(drum);
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(1.5, 5.5, 11, 4), 180 * 16, 180 * 16);
    p.drawArc(QRectF(1.5, 8.5, 11, 4), 180 * 16, 180 * 16);
    p.setBrush(top);
    p.drawEllipse(QRectF(1.5, 1.5, 11, 4));
    QPainterPath tri;
    tri.moveTo(8.5, 7);
    tri.lineTo(15.5, 11.5);
    tri.lineTo(8.5, 16);
    tri.closeSubpath();
    p.setPen(QPen(QColor(0, 90, 0), 0.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(60, 200, 80));
    p.drawPath(tri);
}

const QHash<QString, Drawer> &drawers()
{
    static const QHash<QString, Drawer> table {
        { QStringLiteral("load"), drawLoad },
        { QStringLiteral("save"), drawSave },
        { QStringLiteral("print"), drawPrinter },
        { QStringLiteral("run"), drawRun },
        { QStringLiteral("exec"), drawExec },
        { QStringLiteral("close"), drawClose },
        { QStringLiteral("logout"), drawLogout },
        { QStringLiteral("fields"), drawFields },
        { QStringLiteral("commaquote"), drawCommaQuote },
        { QStringLiteral("report"), drawReport },
        { QStringLiteral("makecurrent"), drawMakeCurrent },
        { QStringLiteral("ok"), drawOk },
        { QStringLiteral("cancel"), drawCancel },
        { QStringLiteral("app"), drawApp },
    };
    return table;
}

QImage render(const Drawer &draw, int pixels)
{
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(pixels / 16.0, pixels / 16.0);
    draw(painter);
    return image;
}

// The disabled look of a classic tool button: the shape in grey over a white shadow one pixel
// down and right, colours dropped.
QImage disabledImage(const QImage &normal, int shadowOffset)
{
    const int w = normal.width();
    const int h = normal.height();
    QImage result(w, h, QImage::Format_ARGB32);
    result.fill(Qt::transparent);
    auto alphaAt = [&](int x, int y) {
        return x >= 0 && y >= 0 && x < w && y < h ? qAlpha(normal.pixel(x, y)) : 0;
    };
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int own = alphaAt(x, y);
            const int shadow = alphaAt(x - shadowOffset, y - shadowOffset);
            if (own > 0) {
                // Keep a little of the shape's lightness so inner detail stays readable.
                const int grey = 110 + qGray(normal.pixel(x, y)) / 5;
                result.setPixel(x, y, qRgba(grey, grey, grey, own));
            } else if (shadow > 0) {
                result.setPixel(x, y, qRgba(255, 255, 255, shadow));
            }
        }
    }
    return result;
}

} // namespace

QIcon glyph(const QString &name)
{
    const auto found = drawers().constFind(name);
    if (found == drawers().constEnd())
        return QIcon();
    QIcon icon;
    const QList<int> sizes =
        name == QLatin1String("app") ? QList<int> { 16, 32, 48, 64 } : QList<int> { 16 };
    for (int base : sizes) {
        for (int scale = 1; scale <= 2; ++scale) {
            const QImage normal = render(*found, base * scale);
            QPixmap normalPixmap = QPixmap::fromImage(normal);
            normalPixmap.setDevicePixelRatio(scale);
            icon.addPixmap(normalPixmap, QIcon::Normal);
            QPixmap disabledPixmap = QPixmap::fromImage(disabledImage(normal, scale * base / 16));
            disabledPixmap.setDevicePixelRatio(scale);
            icon.addPixmap(disabledPixmap, QIcon::Disabled);
        }
    }
    return icon;
}
