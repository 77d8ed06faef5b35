#include "widgets/ValueViewer.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

class tst_ValueViewer : public QObject
{
    Q_OBJECT

private slots:
    void shownInPartsCopiedWhole_data();
    void shownInPartsCopiedWhole();
    void indented_data();
    void indented();
};

namespace {
std::unique_ptr<ValueViewer> viewerOf(const QString &text, const QByteArray &bytes)
{
    return bytes.isEmpty() ? std::make_unique<ValueViewer>(QStringLiteral("COL"), text)
                           : std::make_unique<ValueViewer>(QStringLiteral("COL"), bytes);
}
} // namespace

void tst_ValueViewer::shownInPartsCopiedWhole_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes"); // a binary value when not empty
    QTest::addColumn<QString>("shown"); // the first part
    QTest::addColumn<QString>("copied");
    QTest::addColumn<QString>("find");
    QTest::addColumn<QString>("part"); // the part the search shows; empty: a single part
    const QString big =
        QString(5 << 20, QLatin1Char('a')) + QStringLiteral("ende") + QString(9, QLatin1Char('a'));
    QTest::newRow("5 MB without a blank, found in its last part")
        << big << QByteArray() << big.left(ValueViewer::partChars) << big << "ENDE"
        << QStringLiteral("Characters %L1–%L2 of %L2").arg((5 << 20) + 1).arg(big.size());
    QTest::newRow("binary as hex")
        << QString()
        << QByteArray("\x00\x41\xff"
                      "0123456789abcdef",
               19)
        << QStringLiteral("00000000  00 41 ff 30 31 32 33 34  35 36 37 "
                          "38 39 61 62 63  .A.0123456789abc\n"
                          "00000010  64 65 66                          "
                          "                def\n")
        << QStringLiteral("0041ff30313233343536373839616263646566") << "ff 30" << QString();
    const QByteArray blob = QByteArray(ValueViewer::partBytes * 2, '\0') + "xyz";
    QTest::newRow("binary of three parts, found in the last")
        << QString() << blob << ValueViewer::hexDump(blob.left(ValueViewer::partBytes))
        << QString::fromLatin1(blob.toHex()) << "78 79 7a"
        << QStringLiteral("Bytes %L1–%L2 of %L2").arg(blob.size() - 2).arg(blob.size());
}

// A long value is shown a part at a time; search reaches every part, Copy takes the whole.
void tst_ValueViewer::shownInPartsCopiedWhole()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    QFETCH(QString, copied);
    QFETCH(QString, find);
    QFETCH(QString, part);
    std::unique_ptr<ValueViewer> viewer = viewerOf(text, bytes);
    viewer->show();
    QVERIFY(QTest::qWaitForWindowExposed(viewer.get()));
    QCOMPARE(viewer->shownText(), shown);
    viewer->findChild<QPushButton *>(QStringLiteral("ValueCopy"))->click();
    QCOMPARE(QApplication::clipboard()->text(), copied);
    auto *label = viewer->findChild<QLabel *>(QStringLiteral("ValuePart"));
    QCOMPARE(label->isVisible(), !part.isEmpty());
    auto *field = viewer->findChild<QLineEdit *>(QStringLiteral("ValueFind"));
    QTest::keyClicks(field, find);
    QTest::keyClick(field, Qt::Key_Return);
    auto *view = viewer->findChild<QPlainTextEdit *>(QStringLiteral("ValueText"));
    QCOMPARE(view->textCursor().selectedText().toUpper(), find.toUpper());
    if (!part.isEmpty())
        QCOMPARE(label->text(), part);
}

void tst_ValueViewer::indented_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("expected"); // empty: cannot be indented
    QTest::addColumn<bool>("offered"); // the Indented box shows
    QTest::newRow("json") << "{\"a\":[1,null]}"
                          << "{\n    \"a\": [\n        1,\n        null\n    ]\n}\n"
                          << true;
    QTest::newRow("json: numbers, keys and order as written")
        << "{\"id\": 12345678901234567890, \"b\": 1, \"a\": 2, \"a\": -0.50E+3, \"x\": [1e400]}"
        << "{\n    \"id\": 12345678901234567890,\n    \"b\": 1,\n    \"a\": 2,\n    \"a\": "
           "-0.50E+3,\n    \"x\": [\n        1e400\n    ]\n}\n"
        << true;
    QTest::newRow("json: strings as written, empty containers")
        << " [\"\\u00e9\\\"\\n\", {}, [ ], true]"
        << "[\n    \"\\u00e9\\\"\\n\",\n    {},\n    [],\n    true\n]\n"
        << true;
    QTest::newRow("xml") << "<a x=\"1\"><b>t</b><c/></a>"
                         << "<a x=\"1\">\n    <b>t</b>\n    <c/>\n</a>\n"
                         << true;
    QTest::newRow("xml: markup and text as written")
        << "<?xml version=\"1.0\"?><p:r xmlns:p='u'><!-- c --><e  k = 'v&amp;'/>"
           "<m>x &amp; &#65; <i>y</i>\n<![CDATA[<z>]]></m></p:r>"
        << "<?xml version=\"1.0\"?>\n<p:r xmlns:p='u'>\n    <!-- c -->\n    <e  k = 'v&amp;'/>\n"
           "    <m>x &amp; &#65; <i>y</i>\n<![CDATA[<z>]]></m>\n</p:r>\n"
        << true;
    QTest::newRow("broken json") << "{\"a\":"
                                 << "" << true;
    QTest::newRow("json: leading zero") << "[01]"
                                        << "" << true;
    QTest::newRow("json: trailing comma") << "{\"a\":1,}"
                                          << "" << true;
    QTest::newRow("broken xml") << "<a><b></a>"
                                << "" << true;
    QTest::newRow("plain text") << "select 1"
                                << "" << false;
}

// Indented by the value's own tokens, on a thread of the viewer's own; a value that cannot be
// indented stays as it is and the note says why.
void tst_ValueViewer::indented()
{
    QFETCH(QString, value);
    QFETCH(QString, expected);
    QFETCH(bool, offered);
    QCOMPARE(ValueViewer::indented(value), expected);
    ValueViewer viewer(QStringLiteral("COL"), value);
    auto *box = viewer.findChild<QCheckBox *>(QStringLiteral("ValueIndented"));
    QCOMPARE(box->isVisibleTo(&viewer), offered);
    if (!offered)
        return;
    QSignalSpy ended(&viewer, &ValueViewer::indentEnded);
    box->setChecked(true);
    QTRY_COMPARE(ended.count(), 1);
    QCOMPARE(viewer.shownText(), expected.isEmpty() ? value : expected);
    QCOMPARE(box->isEnabled(), !expected.isEmpty());
    QCOMPARE(viewer.findChild<QLabel *>(QStringLiteral("ValueNote"))->text().isEmpty(),
        !expected.isEmpty());
}

QTEST_MAIN(tst_ValueViewer)
#include "tst_valueviewer.moc"
