#include "app/Unit1.h"
#include "settings/ParmStore.h"
#include "support/TestEnv.h"
#include "support/WindowFixture.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSettings>

// The window comes back where the user left it, and never off every screen.
class tst_WindowPlacement : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
};

void tst_WindowPlacement::roundTrip_data()
{
    QTest::addColumn<QRect>("placed"); // where the first window is put; empty: maximised
    QTest::addColumn<QByteArray>("stored"); // a value written over the saved one, if any
    QTest::addColumn<QRect>("expected"); // empty: maximised; (0,0,-1,-1): on a screen, centred
    QTest::newRow("moved and resized")
        << QRect(40, 50, 700, 450) << QByteArray() << QRect(40, 50, 700, 450);
    QTest::newRow("maximised") << QRect() << QByteArray() << QRect();
    QTest::newRow("off every screen")
        << QRect(100000, 100000, 700, 450) << QByteArray() << QRect(0, 0, -1, -1);
    QTest::newRow("not a geometry")
        << QRect(40, 50, 700, 450) << QByteArray("garbage") << QRect(0, 0, -1, -1);
}

void tst_WindowPlacement::roundTrip()
{
    QFETCH(QRect, placed);
    QFETCH(QByteArray, stored);
    QFETCH(QRect, expected);
    openUserSettings()->remove(QStringLiteral("WindowGeometry"));
    QRect centred;
    {
        TForm1 first(WindowFixture::options());
        centred = first.geometry();
        first.show();
        QVERIFY(QTest::qWaitForWindowExposed(&first));
        if (placed.isNull())
            first.showMaximized();
        else
            first.setGeometry(placed);
        QTRY_VERIFY(placed.isNull() ? first.isMaximized() : first.geometry() == placed);
        first.close();
    }
    if (!stored.isEmpty())
        openUserSettings()->setValue(QStringLiteral("WindowGeometry"), stored);

    TForm1 second(WindowFixture::options());
    second.show();
    QVERIFY(QTest::qWaitForWindowExposed(&second));
    if (expected.isNull()) {
        QTRY_VERIFY(second.isMaximized());
    } else if (expected.isValid()) {
        QTRY_COMPARE(second.geometry(), expected);
        QVERIFY(!second.isMaximized());
    } else {
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY2(screen.intersects(second.geometry()),
            qPrintable(QStringLiteral("%1,%2").arg(second.x()).arg(second.y())));
        QCOMPARE(second.size(), centred.size());
    }
}

STELVIK_TEST_MAIN(tst_WindowPlacement)
#include "tst_windowplacement.moc"
