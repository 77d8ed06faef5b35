#include "support/ModalScript.h"
#include "support/TestEnv.h"
#include "widgets/ReplaceDialog.h"

#include <QClipboard>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QSignalSpy>

// The find-and-replace dialog: which press it reports, its keyboard order, its text limits, and
// that it keeps its texts and place between uses.
class tst_ReplaceDialog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void pressesReported_data();
    void pressesReported();
    void keyboardOrder();
    void textsAreOneLineOf255();
    void keepsTextsAndPlace();

private:
    template <typename T>
    T *child(const char *name) const
    {
        return ::child<T>(m_dialog, name);
    }

    std::unique_ptr<QMainWindow> m_window;
    TReplaceDialog *m_dialog = nullptr; // owned by m_window
};

void tst_ReplaceDialog::init()
{
    m_window = std::make_unique<QMainWindow>();
    m_window->resize(400, 300);
    m_window->show();
    m_dialog = new TReplaceDialog(m_window.get()); // owned by the window
}

void tst_ReplaceDialog::cleanup()
{
    m_window.reset();
}

void tst_ReplaceDialog::pressesReported_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("replaces");
    QTest::addColumn<int>("finds");
    QTest::addColumn<bool>("all");
    QTest::addColumn<bool>("visibleAfter");
    QTest::newRow("replace") << "ReplaceButton" << 1 << 0 << false << true;
    QTest::newRow("replace all") << "ReplaceAllButton" << 1 << 0 << true << true;
    QTest::newRow("find next") << "FindNextButton" << 0 << 1 << false << true;
    QTest::newRow("cancel") << "CancelButton" << 0 << 0 << false << false;
}

void tst_ReplaceDialog::pressesReported()
{
    QFETCH(QString, button);
    QFETCH(int, replaces);
    QFETCH(int, finds);
    QFETCH(bool, all);
    QFETCH(bool, visibleAfter);
    QCOMPARE(m_dialog->objectName(), QStringLiteral("ReplaceDialog1"));
    QVERIFY(!m_dialog->isModal());
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dialog));
    QSignalSpy replace(m_dialog, &TReplaceDialog::Replace);
    QSignalSpy find(m_dialog, &TReplaceDialog::Find);
    // The flag tells the last replace press, so a Replace All first must not leak into Replace.
    child<QPushButton>("ReplaceAllButton")->click();
    replace.clear();
    child<QPushButton>("ReplaceButton")->click();
    QVERIFY(!m_dialog->ReplaceAllPressed());
    replace.clear();

    QTest::mouseClick(m_dialog->findChild<QPushButton *>(button), Qt::LeftButton);
    QCOMPARE(replace.count(), replaces);
    QCOMPARE(find.count(), finds);
    QCOMPARE(m_dialog->ReplaceAllPressed(), all);
    QCOMPARE(m_dialog->isVisible(), visibleAfter);
}

void tst_ReplaceDialog::keyboardOrder()
{
    m_dialog->show();
    m_dialog->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_dialog));
    const QStringList order { "FindEdit", "ReplaceEdit", "FindNextButton", "ReplaceButton",
        "ReplaceAllButton", "CancelButton" };
    // The search field has the focus when the dialog opens.
    QTRY_COMPARE(QApplication::focusWidget()->objectName(), order.first());
    for (int i = 1; i < order.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), order[i]);
    }
    QCOMPARE(child<QPushButton>("FindNextButton")->text().remove('&'), QStringLiteral("Find Next"));
    QCOMPARE(child<QPushButton>("ReplaceButton")->text().remove('&'), QStringLiteral("Replace"));
    QCOMPARE(
        child<QPushButton>("ReplaceAllButton")->text().remove('&'), QStringLiteral("Replace All"));
    QCOMPARE(child<QPushButton>("CancelButton")->text().remove('&'), QStringLiteral("Cancel"));
}

void tst_ReplaceDialog::textsAreOneLineOf255()
{
    m_dialog->show();
    for (const char *name : { "FindEdit", "ReplaceEdit" }) {
        auto *edit = child<QLineEdit>(name);
        edit->clear();
        QTest::keyClicks(edit, QString(300, QLatin1Char('x')));
        QCOMPARE(edit->text().size(), 255);
        // A pasted text with line breaks enters up to its first break only.
        edit->setText(QStringLiteral("xy"));
        edit->setCursorPosition(1);
        QApplication::clipboard()->setText(QStringLiteral("a\r\nb\nc"));
        edit->paste();
        QCOMPARE(edit->text(), QStringLiteral("xay"));
    }
}

void tst_ReplaceDialog::keepsTextsAndPlace()
{
    m_dialog->setFindText(QStringLiteral("schema."));
    m_dialog->setReplaceText(QStringLiteral("other."));
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dialog));
    const QPoint moved = m_dialog->pos() + QPoint(37, 21);
    m_dialog->move(moved);
    QTRY_COMPARE(m_dialog->pos(), moved);
    child<QPushButton>("CancelButton")->click();
    QVERIFY(!m_dialog->isVisible());
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dialog));
    QCOMPARE(m_dialog->pos(), moved);
    QCOMPARE(m_dialog->FindText(), QStringLiteral("schema."));
    QCOMPARE(m_dialog->ReplaceText(), QStringLiteral("other."));
    QCOMPARE(child<QLineEdit>("FindEdit")->text(), QStringLiteral("schema."));
}

STELVIK_TEST_MAIN(tst_ReplaceDialog)
#include "tst_replacedialog.moc"
