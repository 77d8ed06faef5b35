#include "results/UCountForm.h"
#include "support/ModalScript.h"
#include "support/TestEnv.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QtTest>

class tst_countform : public QObject
{
    Q_OBJECT

private slots:
    void opensWithDefaults();
    void amountBoxFollowsTheChoice();
    void closing_data();
    void closing();
    void typedAmount_data();
    void typedAmount();
    void cancelKeepsToTheRightEdge();
    void profileChoice_data();
    void profileChoice();

private:
    struct Controls
    {
        QRadioButton *all;
        QRadioButton *amount;
        QSpinBox *count;
        QCheckBox *clipboard;
        QPushButton *ok;
        QPushButton *cancel;
    };
    static Controls controls(TCountForm &form);
};

namespace {

// A radio button reacts to clicks on its indicator and caption only, not on its whole width.
QPoint onIndicator(QWidget *button)
{
    return QPoint(6, button->height() / 2);
}

} // namespace

tst_countform::Controls tst_countform::controls(TCountForm &form)
{
    Controls c { form.findChild<QRadioButton *>("AllRecords"),
        form.findChild<QRadioButton *>("EXTtoCount"), form.findChild<QSpinBox *>("ExtractCount"),
        form.findChild<QCheckBox *>("toClipboard"), form.findChild<QPushButton *>("BitBtn1"),
        form.findChild<QPushButton *>("BitBtn2") };
    return c;
}

void tst_countform::opensWithDefaults()
{
    TCountForm form;
    const Controls c = controls(form);
    QVERIFY(c.all && c.amount && c.count && c.clipboard && c.ok && c.cancel);
    QCOMPARE(form.windowTitle(), QStringLiteral("Stelvik"));
    QCOMPARE(form.findChild<QLabel *>("Panel2")->text(),
        QStringLiteral("How many records did you want to extract?"));
    QVERIFY(c.all->isChecked());
    QVERIFY(!c.amount->isChecked());
    QCOMPARE(c.count->value(), 100);
    QCOMPARE(c.count->minimum(), 1);
    QCOMPARE(c.count->maximum(), 99999);
    QVERIFY(!c.count->isEnabled());
    QVERIFY(!c.clipboard->isChecked());
    QVERIFY(c.ok->isDefault());
}

void tst_countform::amountBoxFollowsTheChoice()
{
    TCountForm form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const Controls c = controls(form);
    QTest::mouseClick(c.amount, Qt::LeftButton, {}, onIndicator(c.amount));
    QVERIFY(c.amount->isChecked());
    QVERIFY(c.count->isEnabled());
    QVERIFY(!form.allRecords());
    c.count->setValue(7);
    QTest::mouseClick(c.all, Qt::LeftButton, {}, onIndicator(c.all));
    QVERIFY(!c.amount->isChecked());
    QVERIFY(!c.count->isEnabled());
    QCOMPARE(c.count->value(), 7);
    QVERIFY(form.allRecords());
    // Arrow keys move the choice as well.
    c.all->setFocus();
    QTest::keyClick(c.all, Qt::Key_Down);
    QVERIFY(c.amount->isChecked());
    QVERIFY(c.count->isEnabled());
}

void tst_countform::closing_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("result");
    QTest::newRow("OK button") << "ok" << int(QDialog::Accepted);
    QTest::newRow("Enter") << "enter" << int(QDialog::Accepted);
    QTest::newRow("Cancel button") << "cancel" << int(QDialog::Rejected);
    QTest::newRow("Esc") << "esc" << int(QDialog::Rejected);
    QTest::newRow("close box") << "close" << int(QDialog::Rejected);
}

void tst_countform::closing()
{
    QFETCH(QString, how);
    QFETCH(int, result);
    TCountForm form;
    const Controls c = controls(form);
    ModalScript script({ [&](QWidget *) {
        if (how == "ok")
            QTest::mouseClick(c.ok, Qt::LeftButton);
        else if (how == "enter")
            QTest::keyClick(&form, Qt::Key_Return);
        else if (how == "cancel")
            QTest::mouseClick(c.cancel, Qt::LeftButton);
        else if (how == "esc")
            QTest::keyClick(&form, Qt::Key_Escape);
        else
            form.close();
    } });
    QCOMPARE(form.exec(), result);
    QVERIFY(script.done());
}

void tst_countform::typedAmount_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("amount");
    QTest::newRow("cleared") << "" << 1;
    QTest::newRow("a number") << "250" << 250;
    QTest::newRow("below the range") << "0" << 1;
    QTest::newRow("the top") << "99999" << 99999;
}

void tst_countform::typedAmount()
{
    QFETCH(QString, typed);
    QFETCH(int, amount);
    TCountForm form;
    const Controls c = controls(form);
    ModalScript script({ [&](QWidget *) {
        QTest::mouseClick(c.amount, Qt::LeftButton, {}, onIndicator(c.amount));
        c.count->setFocus();
        QLineEdit *edit = c.count->findChild<QLineEdit *>();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, typed);
        QTest::keyClick(edit, Qt::Key_Return); // Enter in the box confirms the dialog
    } });
    QCOMPARE(form.exec(), int(QDialog::Accepted));
    QVERIFY(script.done());
    QVERIFY(!form.allRecords());
    QCOMPARE(form.amount(), amount);
}

void tst_countform::cancelKeepsToTheRightEdge()
{
    TCountForm form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const Controls c = controls(form);
    const int gap = form.width() - c.cancel->geometry().right();
    form.resize(form.width() + 120, form.height() + 40);
    QTRY_COMPARE(form.width() - c.cancel->geometry().right(), gap);
    QCOMPARE(c.ok->x(), 32);
}

void tst_countform::profileChoice_data()
{
    QTest::addColumn<int>("chosen");
    QTest::addColumn<QString>("table");
    QTest::addColumn<bool>("okEnabled");
    QTest::newRow("the button's own") << int(ExportFormat::Report) << "" << true;
    QTest::newRow("JSON Lines, no table asked") << int(ExportFormat::JsonLines) << "T" << true;
    QTest::newRow("INSERT, no table yet") << int(ExportFormat::SqlInsert) << "  " << false;
    QTest::newRow("INSERT into a table") << int(ExportFormat::SqlInsert) << " s.T " << true;
    QTest::newRow("workbook, listed last") << int(ExportFormat::Xlsx) << "" << true;
}

void tst_countform::profileChoice()
{
    QFETCH(int, chosen);
    QFETCH(QString, table);
    QFETCH(bool, okEnabled);
    TCountForm form;
    form.setExportFormat(ExportFormat::Report);
    form.setSqlTarget(SqlDialect::PostgreSQL);
    auto *profile = form.findChild<QComboBox *>("ExportProfile");
    auto *name = form.findChild<QLineEdit *>("ExportTable");
    QCOMPARE(form.exportProfile().format, ExportFormat::Report);
    QVERIFY(!name->isEnabled());
    QCOMPARE(profile->findData(int(ExportFormat::Xlsx)), profile->count() - 1);
    controls(form).clipboard->setChecked(true);
    profile->setCurrentIndex(profile->findData(chosen));
    // A workbook is no text for the clipboard.
    const bool text = chosen != int(ExportFormat::Xlsx);
    QCOMPARE(controls(form).clipboard->isEnabled(), text);
    QCOMPARE(controls(form).clipboard->isChecked(), text);
    name->setText(table);
    QCOMPARE(name->isEnabled(), chosen == int(ExportFormat::SqlInsert));
    QCOMPARE(controls(form).ok->isEnabled(), okEnabled);
    QCOMPARE(int(form.exportProfile().format), chosen);
    QCOMPARE(form.exportProfile().tableName, name->isEnabled() ? table.trimmed() : QString());
    QCOMPARE(form.findChild<QLabel *>("ExportSqlTarget")->isHidden(), !name->isEnabled());
}

STELVIK_TEST_MAIN(tst_countform)
#include "tst_countform.moc"
