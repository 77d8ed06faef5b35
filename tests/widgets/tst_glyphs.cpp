#include "support/TestEnv.h"
#include "widgets/Glyphs.h"

#include <QImage>

// The drawn glyphs: every name gives an image at 1x and 2x with a distinct disabled look.
class tst_Glyphs : public QObject
{
    Q_OBJECT

private slots:
    void drawn_data();
    void drawn();
    void unknownNameIsNull();
};

void tst_Glyphs::drawn_data()
{
    QTest::addColumn<QString>("name");
    for (const char *name : { "load", "save", "print", "run", "exec", "close", "logout", "fields",
             "commaquote", "report", "makecurrent", "ok", "cancel", "app" })
        QTest::newRow(name) << QString::fromLatin1(name);
}

namespace {
int opaquePixels(const QImage &image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) > 128;
    return count;
}

bool hasColour(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (qAlpha(p) > 128 && (qRed(p) != qGreen(p) || qGreen(p) != qBlue(p)))
                return true;
        }
    return false;
}
} // namespace

void tst_Glyphs::drawn()
{
    QFETCH(QString, name);
    const QIcon icon = glyph(name);
    QVERIFY(!icon.isNull());
    for (qreal scale : { 1.0, 2.0 }) {
        const QImage normal = icon.pixmap(QSize(16, 16), scale, QIcon::Normal).toImage();
        const QImage disabled = icon.pixmap(QSize(16, 16), scale, QIcon::Disabled).toImage();
        // Drawn at the screen's real resolution, not scaled up from 1x.
        QCOMPARE(normal.size(), QSize(16, 16) * scale);
        QCOMPARE(normal.devicePixelRatio(), scale);
        const int covered = opaquePixels(normal);
        QVERIFY2(covered > normal.width() * normal.height() / 8, "glyph nearly empty");
        QVERIFY(hasColour(normal));
        QVERIFY(!hasColour(disabled));
        QVERIFY(opaquePixels(disabled) >= covered);
    }
}

void tst_Glyphs::unknownNameIsNull()
{
    QVERIFY(glyph(QStringLiteral("nonesuch")).isNull());
    QVERIFY(glyph(QString()).isNull());
}

STELVIK_TEST_MAIN(tst_Glyphs)
#include "tst_glyphs.moc"
