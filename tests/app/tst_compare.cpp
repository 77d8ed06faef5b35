#include "app/CompareHighlight.h"
#include "app/FanOutView.h"
#include "app/Unit1.h"
#include "results/DataSource.h"
#include "support/ModalScript.h"
#include "support/PgServer.h"
#include "support/TestEnv.h"
#include "support/WindowFixture.h"

#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QtTest>

// Compare Results from the window, driven by keys: two aliases of a merged result compared on a
// key chosen in the dialog, the compared result in the grid with its counts above it and its
// changed cells tinted; refused with a message when there is one result only.
class tst_compare : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void aliasesCompared();

private:
    // Presses Ctrl+Shift+D with the grid in front, answering the dialogs with `answers`.
    void compareKey(QList<ModalScript::Answer> answers);

    WindowFixture m_form;
    static constexpr int Timeout = 120000; // for events only
};

void tst_compare::initTestCase()
{
    TestEnv::addSqliteDsn(QStringLiteral("CMPLITE"),
        { QStringLiteral("create table items(id integer, name varchar(20))"),
            QStringLiteral("insert into items values (1, 'one'), (2, 'two'), (3, 'three')") });
    PgServer &server = PgServer::instance();
    server.addDsn(QStringLiteral("CMPPG"), QStringLiteral("comparewindow"));
    server.exec(QStringLiteral("create table items(id int, name varchar(20));"
                               "insert into items values (2, 'two'), (3, 'THREE'), (4, 'four');"),
        QStringLiteral("comparewindow"));
    QVERIFY(m_form.open(WindowFixture::Shown::Active));
    m_form->setDBParms(PgServer::instance().loginText());
}

void tst_compare::compareKey(QList<ModalScript::Answer> answers)
{
    ModalScript script(answers);
    m_form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_form.form()));
    QTest::keyClick(m_form.grid(), Qt::Key_D, Qt::ControlModifier | Qt::ShiftModifier);
    QTRY_VERIFY_WITH_TIMEOUT(script.done(), Timeout);
    QCOMPARE(script.unexpected, 0);
}

void tst_compare::aliasesCompared()
{
    // One plain result: nothing to compare it with.
    m_form.start(m_form.runButton(), QStringLiteral("CMPLITE"), QStringLiteral("select 1 as id"));
    QVERIFY(m_form.waitIdle(Timeout));
    QTRY_VERIFY_WITH_TIMEOUT(m_form->DataSource1->rowCount() == 1, Timeout);
    QString message;
    compareKey({ ModalScript::note(&message) });
    QVERIFY2(message.contains(QLatin1String("two results")), qPrintable(message));

    // Both aliases in one merged result.
    m_form.type(QStringLiteral("select id, name from items"));
    ModalScript fanOut({ [](QWidget *modal) {
        auto *list = modal->findChild<QListWidget *>(QStringLiteral("FanOutAliases"));
        QVERIFY(list);
        for (int row = 0; row < list->count(); ++row) {
            list->setCurrentRow(row);
            const bool wanted = list->item(row)->text().startsWith(QLatin1String("CMP"));
            if (wanted != (list->item(row)->checkState() == Qt::Checked))
                QTest::keyClick(list, Qt::Key_Space);
        }
        QTest::keyClick(list, Qt::Key_Return);
    } });
    m_form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_form.form()));
    QTest::keyClick(m_form.editor(), Qt::Key_F5, Qt::ControlModifier | Qt::ShiftModifier);
    QTRY_VERIFY_WITH_TIMEOUT(fanOut.done(), Timeout);
    QTRY_COMPARE_WITH_TIMEOUT(
        m_form->statusText(1), QStringLiteral("Select Complete on 2 of 2 aliases"), Timeout);
    QCOMPARE(m_form->DataSource1->rowCount(), 6);

    compareKey({ [](QWidget *modal) {
        auto *left = modal->findChild<QComboBox *>(QStringLiteral("CompareLeft"));
        auto *right = modal->findChild<QComboBox *>(QStringLiteral("CompareRight"));
        auto *keys = modal->findChild<QListWidget *>(QStringLiteral("CompareKeys"));
        QVERIFY(left && right && keys);
        left->setCurrentIndex(left->findText(QStringLiteral("CMPLITE")));
        right->setCurrentIndex(right->findText(QStringLiteral("CMPPG")));
        QCOMPARE(keys->count(), 2); // id and name: ALIAS is what tells the sides apart
        keys->setFocus();
        keys->setCurrentRow(0);
        QTest::keyClick(keys, Qt::Key_Space);
        QTest::keyClick(keys, Qt::Key_Return);
    } });
    QLabel *strip = m_form.child<QLabel>("CompareStrip");
    QTRY_VERIFY_WITH_TIMEOUT(strip->text().contains(QLatin1String("same")), Timeout);
    QCOMPARE(strip->text(),
        QStringLiteral("CMPLITE against CMPPG: 1 only left, 1 only right, 1 changed, 1 same"));
    QVERIFY(strip->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(m_form->DataSource1->rowCount(), 3, Timeout);
    const QAbstractItemModel *grid = m_form->DataSource1;
    QStringList rows;
    for (int row = 0; row < 3; ++row) {
        QStringList cells;
        for (int column = 0; column < grid->columnCount(); ++column)
            cells << grid->index(row, column).data().toString();
        rows << cells.join(QLatin1Char('|'));
    }
    QCOMPARE(rows,
        QStringList({ "only left||1|one|", "changed|name|3|three|THREE", "only right||4||four" }));
    auto *tint = qobject_cast<CompareHighlight *>(m_form.grid()->itemDelegate());
    QVERIFY(tint);
    for (int column = 0; column < 5; ++column) // the changed row's name values only
        QCOMPARE(tint->isChanged(grid->index(1, column)), column >= 3);
    QVERIFY(!tint->isChanged(grid->index(0, 3)));
}

STELVIK_TEST_MAIN(tst_compare)
#include "tst_compare.moc"
