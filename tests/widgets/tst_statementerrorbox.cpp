#include "support/TestEnv.h"
#include "widgets/StatementErrorBox.h"

#include <QApplication>
#include <QClipboard>
#include <QPushButton>
#include <QtTest>

// The statement error box closes by keyboard and close button as every message box does, while
// "Copy details" (button or Ctrl+C) copies and leaves it open.
class tst_StatementErrorBox : public QObject
{
    Q_OBJECT

private slots:
    void closing_data();
    void closing();
};

void tst_StatementErrorBox::closing_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("closes");
    QTest::newRow("Esc") << "esc" << true;
    QTest::newRow("close button") << "close" << true;
    QTest::newRow("Return") << "return" << true;
    QTest::newRow("Ctrl+C") << "ctrl+c" << false;
    QTest::newRow("Copy details") << "copy" << false;
}

void tst_StatementErrorBox::closing()
{
    QFETCH(QString, how);
    QFETCH(bool, closes);
    StatementError error;
    error.message = QStringLiteral("no such column: x");
    error.records = { { QStringLiteral("42S22"), 1, error.message } };
    error.statement = QStringLiteral("select x from t");
    QApplication::clipboard()->setText(QStringLiteral("before"));

    StatementErrorBox box(error);
    QSignalSpy finished(&box, &QDialog::finished);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    if (how == "esc")
        QTest::keyClick(&box, Qt::Key_Escape);
    else if (how == "close")
        box.close(); // what the window manager's close button asks
    else if (how == "return")
        QTest::keyClick(&box, Qt::Key_Return);
    else if (how == "ctrl+c")
        QTest::keyClick(&box, Qt::Key_C, Qt::ControlModifier);
    else
        box.findChild<QPushButton *>(QStringLiteral("CopyDetails"))->click();

    QCOMPARE(box.isVisible(), !closes);
    QCOMPARE(finished.size(), closes ? 1 : 0);
    QCOMPARE(QApplication::clipboard()->text(),
        closes ? QStringLiteral("before") : StatementErrorBox::detailsText(error));
}

STELVIK_TEST_MAIN(tst_StatementErrorBox)
#include "tst_statementerrorbox.moc"
