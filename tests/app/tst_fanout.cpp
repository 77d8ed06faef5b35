#include "app/FanOutView.h"
#include "app/Unit1.h"
#include "history/HistoryRecorder.h"
#include "results/DataSource.h"
#include "support/ModalScript.h"
#include "support/PgServer.h"
#include "support/TestEnv.h"
#include "support/WindowFixture.h"

#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QtTest>

// Run on several aliases from the window, driven by keys: the alias dialog, the merged grid with
// its status strip, a history entry per alias, the refusal of a change, Esc stopping every alias
// during the fetch, and a sort while rows arrive.
class tst_fanout : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void mergedByKeys();
    void escStops_data();
    void escStops();
    void sortWhileArriving();

private:
    // Presses Ctrl+Shift+F5 with the text in the editor and answers the alias dialog by ticking
    // exactly `aliases`, then the further dialogs of `more`.
    void fanOut(
        const QString &sql, const QStringList &aliases, QList<ModalScript::Answer> more = {});
    QLabel *strip() const { return m_form.child<QLabel>("FanOutStrip"); }

    WindowFixture m_form;
    const QStringList m_aliases { "FANLITE1", "FANLITE2", "FANPG" };
    static constexpr int Timeout = 120000; // for events only
};

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
        for (int row = 0; row < list->count(); ++row) {
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
    QString message; // a change is refused before anything runs
    fanOut(QStringLiteral("delete from items"), m_aliases, { ModalScript::note(&message) });
    QVERIFY2(message.contains(QLatin1String("reads")), qPrintable(message));
    QVERIFY(!m_form->CurrentQuery && !m_form->fanOut()->isRunning());
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

void tst_fanout::escStops_data()
{
    QTest::addColumn<bool>("closeQuery"); // else Esc in the grid while rows arrive
    QTest::newRow("Esc while rows arrive") << false;
    // SQLite has no pg_sleep: it fails at once, and PostgreSQL has not answered yet.
    QTest::newRow("Close Query before any answer") << true;
}

void tst_fanout::escStops()
{
    QFETCH(bool, closeQuery);
    if (closeQuery) {
        fanOut(QStringLiteral("select pg_sleep(600)"), { "FANLITE1", "FANPG" });
        QTRY_VERIFY_WITH_TIMEOUT(
            strip()->text().contains(QLatin1String("FANLITE1: error")), Timeout);
        QVERIFY(m_form->fanOut()->isRunning());
        m_form.closeButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!m_form->fanOut()->isRunning(), Timeout);
        return;
    }
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

// A sort asked for while rows still arrive waits for the rest, then orders every merged row.
void tst_fanout::sortWhileArriving()
{
    fanOut(QStringLiteral("with recursive s(n) as (select 1 union all select n + 1 from s where n "
                          "< 300000) select 'x' as a, n from s"),
        { "FANLITE1", "FANPG" });
    QTRY_VERIFY_WITH_TIMEOUT(m_form->DataSource1->rowCount() > 0, Timeout);
    QHeaderView *header = m_form.grid()->horizontalHeader();
    QTest::mouseClick(
        header->viewport(), Qt::LeftButton, {}, QPoint(header->sectionViewportPosition(2) + 5, 5));
    QTRY_VERIFY_WITH_TIMEOUT(m_form->DataSource1->shownRecords(), Timeout);
    QCOMPARE(m_form->DataSource1->rowCount(), 600000);
    QCOMPARE(m_form->DataSource1->index(1, 2).data().toString(), QStringLiteral("1"));
}

STELVIK_TEST_MAIN(tst_fanout)
#include "tst_fanout.moc"
