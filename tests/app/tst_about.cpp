#include "app/Unit1.h"
#include "support/PgServer.h"
#include "support/TestEnv.h"
#include "support/WindowFixture.h"
#include "widgets/PaintBox.h"
#include "widgets/TovohtmlLabel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>

// The About page: its contents, and the animation that runs only while the user has it open.
class tst_About : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void contents();
    void userSelectionDrivesTheTimer();
    void returningShowsAClearedArea();
    void colourValues_data();
    void colourValues();
    void drawnColoursAreNeverWhite();
    void zeroSizedBoxDrawsWithoutFailing();
    void selectFinishingOnTheAboutPageLeavesTheTimerRunning();

private:
    void selectPageByUser(int index);
    QTimer *timer() const { return m_form->findChild<QTimer *>(QStringLiteral("Timer1")); }
    TPaintBox *box() const { return m_form->findChild<TPaintBox *>(QStringLiteral("pb")); }
    QTabWidget *pages() const
    {
        return m_form->findChild<QTabWidget *>(QStringLiteral("PageControl1"));
    }

    WindowFixture m_form;
};

void tst_About::init()
{
    QVERIFY(m_form.open());
}

void tst_About::cleanup()
{
    m_form.close();
}

void tst_About::selectPageByUser(int index)
{
    QTabBar *bar = pages()->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
    QCOMPARE(pages()->currentIndex(), index);
}

void tst_About::contents()
{
    auto *title = m_form->findChild<QLabel *>(QStringLiteral("Aboutlabel"));
    QVERIFY(title);
    QCOMPARE(title->text(), QStringLiteral("Morvane version .99M"));
    auto *mail = m_form->findChild<TTovohtmlLabel *>(QStringLiteral("TovohtmlLabel1"));
    auto *site = m_form->findChild<TTovohtmlLabel *>(QStringLiteral("TovohtmlLabel2"));
    QVERIFY(mail && site);
    QVERIFY(mail->URL().startsWith(QStringLiteral("Mailto:")));
    QCOMPARE(mail->toolTip(), QStringLiteral("Click to email the author"));
    QCOMPARE(site->toolTip(), QStringLiteral("Check out my website!"));
    QCOMPARE(site->text(), site->text().toUpper());
    QVERIFY(site->URL().startsWith(QStringLiteral("https://")));
    for (TTovohtmlLabel *link : { mail, site }) {
        QVERIFY(link->font().underline());
        QVERIFY(link->font().bold());
    }
    QVERIFY(box());
    QVERIFY(timer());
    QCOMPARE(timer()->interval(), 1);
    QVERIFY(!timer()->isActive());
}

void tst_About::userSelectionDrivesTheTimer()
{
    selectPageByUser(3);
    QVERIFY(timer()->isActive());
    QTRY_VERIFY(box()->drawnCount() > 10);
    selectPageByUser(0);
    QVERIFY(!timer()->isActive());
    const int drawn = box()->drawnCount();
    QTest::qWait(20); // no tick may arrive now: the timer is stopped
    QCOMPARE(box()->drawnCount(), drawn);
}

void tst_About::returningShowsAClearedArea()
{
    selectPageByUser(3);
    QTRY_VERIFY(box()->drawnCount() > 10);
    selectPageByUser(1);
    selectPageByUser(3);
    // Shown again: the area starts empty and fills anew.
    QVERIFY(box()->drawnCount() < 10);
    QTRY_VERIFY(box()->drawnCount() > 10);
}

void tst_About::colourValues_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QColor>("colour");
    QTest::newRow("red is the lowest byte") << 0x0000FF << QColor(255, 0, 0);
    QTest::newRow("green the middle") << 0x00FF00 << QColor(0, 255, 0);
    QTest::newRow("blue the highest") << 0xFF0000 << QColor(0, 0, 255);
    QTest::newRow("largest drawn value") << 0xFFFFFE << QColor(254, 255, 255);
}

void tst_About::colourValues()
{
    QFETCH(int, value);
    QFETCH(QColor, colour);
    QCOMPARE(colorFromValue(value), colour);
}

void tst_About::drawnColoursAreNeverWhite()
{
    QCOMPARE(Random(0), 0);
    QCOMPARE(Random(1), 0);
    int largest = 0;
    for (int i = 0; i < 200000; ++i)
        largest = std::max(largest, Random(0xFFFFFF));
    QVERIFY(largest < 0xFFFFFF);
    QVERIFY(largest > 0xFF0000); // the draws do spread over the range

    // Whatever the animation drew, no pixel is pure white (the page background is not white).
    box()->setAutoFillBackground(false);
    selectPageByUser(3);
    QTRY_VERIFY_WITH_TIMEOUT(box()->drawnCount() > 300, 30000);
    const QImage image = box()->canvas();
    QVERIFY(box()->palette().color(box()->backgroundRole()) != QColor(Qt::white));
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            QVERIFY2(image.pixel(x, y) != qRgb(255, 255, 255), "white pixel");
    }
}

void tst_About::zeroSizedBoxDrawsWithoutFailing()
{
    selectPageByUser(3);
    box()->setFixedSize(0, 0);
    const int before = box()->drawnCount();
    QTRY_VERIFY(box()->drawnCount() > before + 10);
}

void tst_About::selectFinishingOnTheAboutPageLeavesTheTimerRunning()
{
    TestEnv::addSqliteDsn(QStringLiteral("ABOUTDB"),
        { QStringLiteral("create table t (n integer);"),
            QStringLiteral("insert into t values (1);") });
    m_form->setDBParms(PgServer::loginText(QStringLiteral("u"), QStringLiteral("p")));
    m_form->findChild<QComboBox *>(QStringLiteral("ComboBox1"))
        ->setEditText(QStringLiteral("ABOUTDB"));
    m_form->findChild<QPlainTextEdit *>(QStringLiteral("RE1"))
        ->setPlainText(QStringLiteral("select n from t"));
    selectPageByUser(3);
    QVERIFY(timer()->isActive());
    // Run Query from its button while the About page is shown.
    m_form->findChild<QToolButton *>(QStringLiteral("SpeedButton1"))->click();
    QTRY_COMPARE(pages()->currentIndex(), 1);
    QVERIFY(timer()->isActive());
}

STELVIK_TEST_MAIN(tst_About)
#include "tst_about.moc"
