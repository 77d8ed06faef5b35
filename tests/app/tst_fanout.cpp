#include "app/FanOutView.h"
#include "app/Unit1.h"
#include "history/HistoryRecorder.h"
#include "results/DataSource.h"
#include "support/ModalScript.h"
#include "support/PgServer.h"
#include "support/TestEnv.h"
#include "support/WindowFixture.h"

#include <QLabel>
#include <QListWidget>
#include <QtTest>

// Run on several aliases from the window, driven by keys: the alias dialog, the merged grid with
// its status strip, a history entry per alias, the refusal of a change, and Esc stopping every
// alias during the fetch.
class tst_fanout : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void mergedByKeys();
    void changeRefused();
    void escStops();

private:
    // Presses Ctrl+Shift+F5 with the text in the editor and answers the alias dialog by ticking
    // exactly `aliases` (none: as last time), then the further dialogs of `more`.
    void fanOut(
        const QString &sql, const QStringList &aliases, QList<ModalScript::Answer> more = {});
    QLabel *strip() const { return m_form.child<QLabel>("FanOutStrip"); }

    WindowFixture m_form;
    const QStringList m_aliases { "FANLITE1", "FANLITE2", "FANPG" };
};

namespace {
constexpr int Timeout = 120000; // for events only
}

void tst_fanout::initTestCase()
{
    const QString create = QStringLiteral("create table items(id integer, name varchar(20))");
    TestEnv::addSqliteDsn(QStringLiteral("FANLITE1"),
        { create, QStringLiteral("insert into items values (3, 'three'), (1, 'one')") });
    TestEnv::addSqliteDsn(QStringLiteral("FANLITE2"),
        { create, QStringLiteral("insert into items values (2, 'two')") });
    PgServer &server = PgServer::instance();
    server.addDsn(QStringLiteral("FANPG"), QStringLiteral("fanwindow"));
    server.exec(QStringLiteral("create table items(id int, name varchar(20));"
                               "insert into items values (5, 'five'), (4, 'four');"),
        QStringLiteral("fanwindow"));
}

void tst_fanout::init()
{
    QVERIFY(m_form.open(WindowFixture::Shown::Active));
    m_form->setDBParms(PgServer::instance().loginText());
}

void tst_fanout::fanOut(
    const QString &sql, const QStringList &aliases, QList<ModalScript::Answer> more)
{
    m_form.type(sql);
    more.prepend([aliases](QWidget *modal) {
        auto *list = modal->findChild<QListWidget *>(QStringLiteral("FanOutAliases"));
        QVERIFY(list);
        for (int row = 0; !aliases.isEmpty() && row < list->count(); ++row) {
            list->setCurrentRow(row);
            const bool wanted = aliases.contains(list->item(row)->text(), Qt::CaseInsensitive);
            if (wanted != (list->item(row)->checkState() == Qt::Checked))
                QTest::keyClick(list, Qt::Key_Space);
        }
        QTest::keyClick(list, Qt::Key_Return);
    });
    ModalScript script(more);
    // The window's keys reach it while it is active, as after a dialog closed.
    m_form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_form.form()));
    QTest::keyClick(m_form.editor(), Qt::Key_F5, Qt::ControlModifier | Qt::ShiftModifier);
    QTRY_VERIFY_WITH_TIMEOUT(script.done(), Timeout);
    QCOMPARE(script.unexpected, 0);
}

void tst_fanout::mergedByKeys()
{
    fanOut(QStringLiteral("select id, name from items"), m_aliases);
    QTRY_COMPARE_WITH_TIMEOUT(
        m_form->statusText(1), QStringLiteral("Select Complete on 3 of 3 aliases"), Timeout);
    QTRY_COMPARE(m_form->DataSource1->rowCount(), 5);
    QVERIFY(strip()->isVisible());
    QVERIFY2(
        strip()->text().contains(QLatin1String("FANPG: 2 rows in")), qPrintable(strip()->text()));

    // A history entry per alias, with what was sent there.
    HistoryRecorder *history = m_form->historyDatabase();
    QVERIFY(history && history->flush(Timeout));
    for (const QString &alias : m_aliases) {
        const QList<HistoryRecord> records = history->search(QStringLiteral("alias:") + alias, 10);
        QVERIFY(records.size() == 1
            && records.front().text.startsWith(QLatin1String("select id, name from items")));
    }
}

void tst_fanout::changeRefused()
{
    QString message;
    fanOut(QStringLiteral("delete from items"), { "FANLITE2" }, { ModalScript::note(&message) });
    QVERIFY2(message.contains(QLatin1String("reads")), qPrintable(message));
    fanOut(QStringLiteral("select count(*) from items"), {}); // ticked as last time: FANLITE2
    QTRY_COMPARE_WITH_TIMEOUT(
        m_form->statusText(1), QStringLiteral("Select Complete on 1 of 1 aliases"), Timeout);
    QCOMPARE(m_form->DataSource1->index(0, 1).data().toString(), QStringLiteral("1"));
    QVERIFY(!strip()->isVisible()); // one alias: no strip
}

void tst_fanout::escStops()
{
    fanOut(QStringLiteral("with recursive s(n) as (select 1 union all select n + 1 from s) "
                          "select n from s"),
        { "FANLITE1", "FANPG" });
    QTRY_VERIFY_WITH_TIMEOUT(m_form->DataSource1->rowCount() > 0, Timeout);
    QVERIFY(m_form->fanOut()->isRunning());
    QTest::keyClick(m_form.grid(), Qt::Key_Escape);
    QTRY_VERIFY_WITH_TIMEOUT(!m_form->fanOut()->isRunning(), Timeout);
    QVERIFY2(strip()->text().contains(QLatin1String("FANLITE1: stopped after")),
        qPrintable(strip()->text()));
    QVERIFY(m_form->CurrentQuery); // the rows merged before the stop stay
}

STELVIK_TEST_MAIN(tst_fanout)
#include "tst_fanout.moc"
