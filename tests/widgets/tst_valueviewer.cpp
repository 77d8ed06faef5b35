#include "widgets/ValueViewer.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QPushButton>
#include <QTest>

class tst_ValueViewer : public QObject
{
    Q_OBJECT

private slots:
    void shownWholeAndCopiedWhole_data();
    void shownWholeAndCopiedWhole();
    void indented_data();
    void indented();
};

void tst_ValueViewer::shownWholeAndCopiedWhole_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes"); // a binary value when not empty
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("copied");
    const QString big = QString(5 << 20, QLatin1Char('a')) + QStringLiteral("ende");
    QTest::newRow("5 MB without a blank") << big << QByteArray() << big << big;
    QTest::newRow("binary as hex") << QString()
                                   << QByteArray("\x00\x41\xff"
                                                 "0123456789abcdef",
                                          19)
                                   << QStringLiteral("00000000  00 41 ff 30 31 32 33 34  35 36 37 "
                                                     "38 39 61 62 63  .A.0123456789abc\n"
                                                     "00000010  64 65 66                          "
                                                     "                def\n")
                                   << QStringLiteral("0041ff30313233343536373839616263646566");
}

void tst_ValueViewer::shownWholeAndCopiedWhole()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    QFETCH(QString, copied);
    std::unique_ptr<ValueViewer> viewer = bytes.isEmpty()
        ? std::make_unique<ValueViewer>(QStringLiteral("COL"), text)
        : std::make_unique<ValueViewer>(QStringLiteral("COL"), bytes);
    viewer->show();
    QVERIFY(QTest::qWaitForWindowExposed(viewer.get()));
    QCOMPARE(viewer->shownText(), shown);
    viewer->findChild<QPushButton *>(QStringLiteral("ValueCopy"))->click();
    QCOMPARE(QApplication::clipboard()->text(), copied);
}

void tst_ValueViewer::indented_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("expected"); // empty: the value is neither JSON nor XML
    QTest::newRow("json") << "{\"a\":[1,null]}"
                          << "{\n    \"a\": [\n        1,\n        null\n    ]\n}\n";
    QTest::newRow("xml") << "<a x=\"1\"><b>t</b><c/></a>"
                         << "<a x=\"1\">\n    <b>t</b>\n    <c/>\n</a>\n";
    QTest::newRow("broken json") << "{\"a\":"
                                 << "";
    QTest::newRow("broken xml") << "<a><b></a>"
                                << "";
    QTest::newRow("plain text") << "select 1"
                                << "";
}

void tst_ValueViewer::indented()
{
    QFETCH(QString, value);
    QFETCH(QString, expected);
    QCOMPARE(ValueViewer::indented(value), expected);
    ValueViewer viewer(QStringLiteral("COL"), value);
    auto *box = viewer.findChild<QCheckBox *>(QStringLiteral("ValueIndented"));
    QCOMPARE(box->isVisibleTo(&viewer), !expected.isEmpty());
    if (!expected.isEmpty()) {
        box->setChecked(true);
        QCOMPARE(viewer.shownText(), expected);
    }
}

QTEST_MAIN(tst_ValueViewer)
#include "tst_valueviewer.moc"
