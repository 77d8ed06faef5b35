#include "widgets/ParameterDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QtTest>

// The values a statement is run with: what each kind accepts, and the dialog driven by keys
// alone, where a refused value keeps it open and nothing runs.
class tst_ParameterDialog : public QObject
{
    Q_OBJECT

private slots:
    void kinds_data()
    {
        QTest::addColumn<ParameterKind>("kind");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("text takes quotes") << ParameterKind::Text << "' OR ''='" << true;
        QTest::newRow("integer") << ParameterKind::Integer << "-42" << true;
        QTest::newRow("integer with text") << ParameterKind::Integer << "12a" << false;
        QTest::newRow("decimal") << ParameterKind::Decimal << "1234.50" << true;
        QTest::newRow("decimal exponent") << ParameterKind::Decimal << "1e5" << false;
        QTest::newRow("float exponent") << ParameterKind::Float << "1.5E-3" << true;
        QTest::newRow("leap day") << ParameterKind::Date << "2024-02-29" << true;
        QTest::newRow("no such day") << ParameterKind::Date << "2024-02-30" << false;
        QTest::newRow("date in words") << ParameterKind::Date << "tomorrow" << false;
        QTest::newRow("time") << ParameterKind::Time << "23:59:59" << true;
        QTest::newRow("no such time") << ParameterKind::Time << "24:10:00" << false;
        QTest::newRow("timestamp DB2 form")
            << ParameterKind::Timestamp << "2024-02-29-13.45.00.123456" << true;
        QTest::newRow("timestamp bad day")
            << ParameterKind::Timestamp << "2023-02-29 10:00:00" << false;
    }
    void kinds()
    {
        QFETCH(ParameterKind, kind);
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        QCOMPARE(ParameterDialog::problem(kind, text).isEmpty(), accepted);
    }

    void byKeys_data()
    {
        QTest::addColumn<QString>("typed"); // into the second field, a date
        QTest::addColumn<bool>("nullSecond");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("second");
        QTest::newRow("valid date runs")
            << "2024-02-29" << false << int(QDialog::Accepted) << "2024-02-29";
        QTest::newRow("bad date stays") << "2024-02-30" << false << -1 << "";
        QTest::newRow("null needs no date") << "" << true << int(QDialog::Accepted) << "";
    }
    void byKeys()
    {
        QFETCH(QString, typed);
        QFETCH(bool, nullSecond);
        QFETCH(int, result);
        QFETCH(QString, second);
        ParameterDialog dialog(QStringLiteral("SELECT 1 FROM T WHERE A = :a AND D = :d"),
            { { QStringLiteral(":a"), ParameterKind::Text, {},
                  { QStringLiteral("last"), QStringLiteral("older") }, false },
                { QStringLiteral(":d"), ParameterKind::Date, QStringLiteral("DATE"), {}, false } });
        int finished = -1;
        connect(&dialog, &QDialog::finished, this, [&](int code) { finished = code; });
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        // The first field has the focus and proposes the last value used.
        auto *first = qobject_cast<QComboBox *>(QApplication::focusWidget());
        QVERIFY(first && first->objectName() == QLatin1String("ParameterValue"));
        QCOMPARE(first->currentText(), QStringLiteral("last"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab); // its NULL box
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab); // the date
        QTest::keyClicks(QApplication::focusWidget(), typed);
        if (nullSecond) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        }
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(finished, result);
        if (result < 0) {
            QVERIFY(dialog.isVisible());
            QVERIFY(dialog.findChild<QLabel *>("ParameterMessage")->text().contains("2024-02-30"));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
            QCOMPARE(finished, int(QDialog::Rejected));
            return;
        }
        const QVector<ParameterAnswer> answers = dialog.answers();
        QCOMPARE(answers.size(), 2);
        QCOMPARE(answers[0].text, QStringLiteral("last"));
        QCOMPARE(answers[1].isNull, nullSecond);
        QCOMPARE(answers[1].text, second);
    }
};

QTEST_MAIN(tst_ParameterDialog)
#include "tst_parameterdialog.moc"
