#include "widgets/TovohtmlLabel.h"

#include <QDesktopServices>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

namespace {

// Records what the label hands to the desktop and in which order relative to its clicked().
class RecordingLabel : public TTovohtmlLabel
{
public:
    QStringList events;
    int result = Opened;

protected:
    int ShellOpen(const QString &address) override
    {
        events << QStringLiteral("open:") + address;
        return result;
    }
};

// Receives the addresses that the desktop routes to a test scheme.
class UrlReceiver : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> received;
public slots:
    void open(const QUrl &url) { received << url; }
};

} // namespace

class tst_TovohtmlLabel : public QObject
{
    Q_OBJECT

private slots:
    void blankAddressOnlyClicks_data();
    void blankAddressOnlyClicks();
    void clickedRunsBeforeTheOpen();
    void addressHandedOverUntrimmed_data();
    void addressHandedOverUntrimmed();
    void failureReportedOnce_data();
    void failureReportedOnce();
    void desktopHandlerReceivesTheAddress();
    void mouseClickClicks();
};

void tst_TovohtmlLabel::blankAddressOnlyClicks_data()
{
    QTest::addColumn<QString>("url");
    QTest::newRow("empty") << QString();
    QTest::newRow("blanks") << QStringLiteral("   ");
    QTest::newRow("control characters") << QStringLiteral("\t \r\n\x01");
}

void tst_TovohtmlLabel::blankAddressOnlyClicks()
{
    QFETCH(QString, url);
    // The real desktop: had the label tried to open anything, the offscreen platform would have
    // refused and an error would have been reported.
    TTovohtmlLabel label;
    label.setURL(url);
    QSignalSpy clicked(&label, &TTovohtmlLabel::clicked);
    QSignalSpy errors(&label, &TTovohtmlLabel::OnExecuteError);
    label.Click();
    QCOMPARE(clicked.count(), 1);
    QCOMPARE(errors.count(), 0);

    RecordingLabel recording;
    recording.setURL(url);
    recording.Click();
    QVERIFY(recording.events.isEmpty());
}

void tst_TovohtmlLabel::clickedRunsBeforeTheOpen()
{
    RecordingLabel label;
    label.setURL(QStringLiteral("https://www.example.com/"));
    connect(&label, &TTovohtmlLabel::clicked, &label,
        [&label] { label.events << QStringLiteral("clicked"); });
    label.Click();
    QCOMPARE(label.events,
        QStringList(
            { QStringLiteral("clicked"), QStringLiteral("open:https://www.example.com/") }));
}

void tst_TovohtmlLabel::addressHandedOverUntrimmed_data()
{
    QTest::addColumn<QString>("url");
    QTest::newRow("leading blanks") << QStringLiteral("  Mailto:someone@example.com");
    QTest::newRow("trailing blank") << QStringLiteral("https://www.example.com/ ");
}

void tst_TovohtmlLabel::addressHandedOverUntrimmed()
{
    QFETCH(QString, url);
    RecordingLabel label;
    label.setURL(url);
    QSignalSpy errors(&label, &TTovohtmlLabel::OnExecuteError);
    label.Click();
    QCOMPARE(label.events, QStringList(QStringLiteral("open:") + url));
    QCOMPARE(errors.count(), 0);
}

void tst_TovohtmlLabel::failureReportedOnce_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<int>("code");
    // No program handles this scheme on the offscreen desktop.
    QTest::newRow("unhandled scheme")
        << QStringLiteral("stelvik-nobody:item") << int(TTovohtmlLabel::ErrorNoAssociation);
    QTest::newRow("not an address")
        << QStringLiteral(" https://www.example.com/") << int(TTovohtmlLabel::ErrorFileNotFound);
}

void tst_TovohtmlLabel::failureReportedOnce()
{
    QFETCH(QString, url);
    QFETCH(int, code);
    TTovohtmlLabel label;
    label.setURL(url);
    QSignalSpy errors(&label, &TTovohtmlLabel::OnExecuteError);
    label.Click();
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.at(0).at(0).toInt(), code);
    QVERIFY(errors.at(0).at(0).toInt() < 32);
    QCOMPARE(errors.at(0).at(1).value<QObject *>(), &label);
}

void tst_TovohtmlLabel::desktopHandlerReceivesTheAddress()
{
    UrlReceiver receiver;
    QDesktopServices::setUrlHandler(QStringLiteral("stelviktest"), &receiver, "open");
    TTovohtmlLabel label;
    label.setURL(QStringLiteral("stelviktest:report 7"));
    QSignalSpy errors(&label, &TTovohtmlLabel::OnExecuteError);
    label.Click();
    QDesktopServices::unsetUrlHandler(QStringLiteral("stelviktest"));
    QCOMPARE(receiver.received.size(), 1);
    QCOMPARE(receiver.received.at(0).toString(), QStringLiteral("stelviktest:report 7"));
    QCOMPARE(errors.count(), 0);
}

void tst_TovohtmlLabel::mouseClickClicks()
{
    TTovohtmlLabel label(QStringLiteral("caption"));
    label.resize(100, 20);
    label.show();
    QSignalSpy clicked(&label, &TTovohtmlLabel::clicked);
    QTest::mouseClick(&label, Qt::LeftButton, {}, QPoint(10, 10));
    QCOMPARE(clicked.count(), 1);
    QTest::mouseClick(&label, Qt::RightButton, {}, QPoint(10, 10));
    QCOMPARE(clicked.count(), 1);
}

QTEST_MAIN(tst_TovohtmlLabel)
#include "tst_tovohtmllabel.moc"
