#include "app/Unit1.h"
#include "connection/Connection.h"
#include "connection/ConnectionHandle.h"
#include "connection/QueryDataset.h"
#include "connection/Session.h"
#include "query/QueryControl.h"
#include "settings/ParmStore.h"
#include "support/ModalScript.h"
#include "support/PgLock.h"
#include "support/PgServer.h"
#include "support/ProcessPause.h"
#include "support/TestEnv.h"
#include "support/WindowFixture.h"

#include <QAction>
#include <QLabel>
#include <QSettings>
#include <QtTest>

#include <algorithm>

// Work done with auto-commit off on the private PostgreSQL server: seen by a second connection
// only once committed; the question before Close and Logout and the window's close leave it
// behind; a server that went away with it; a connection held by a cancelled statement.
class tst_openwork : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void setting_data();
    void setting();
    void endWork_data();
    void endWork();
    void heldOrLost_data();
    void heldOrLost();
    void endUnderWay_data();
    void endUnderWay();
    void statementAbandoned_data();
    void statementAbandoned();

private:
    void openWork(); // a window with auto-commit off and one insert open on TXPG
    int rows() const
    {
        return PgServer::instance().value("select count(*) from tx", "openwork").toInt();
    }
    QLabel *panel() const { return m_form.child<QLabel>("TransactionPanel"); }
    WindowFixture m_form;
};

void tst_openwork::initTestCase()
{
    PgServer::instance().addDsn(QStringLiteral("TXPG"), QStringLiteral("openwork"));
    PgServer::instance().addDsn(QStringLiteral("TXLOCK"), QStringLiteral("openwork"));
    PgServer::instance().exec(
        QStringLiteral("create table tx(id int); grant all on tx to public"), "openwork");
}

void tst_openwork::cleanup()
{
    if (m_form.form() && panel()->isVisible()) {
        m_form.child<QAction>("Rollback1")->trigger();
        QVERIFY(m_form.waitIdle());
    }
    m_form.close();
    PgServer::instance().exec(QStringLiteral("delete from tx"), "openwork");
    openUserSettings()->remove(QStringLiteral("AutoCommit"));
}

void tst_openwork::setting_data()
{
    QTest::addColumn<QVariant>("stored"); // invalid: unset
    QTest::newRow("unset") << QVariant();
    QTest::newRow("false") << QVariant(false);
    QTest::newRow("true") << QVariant(true);
}

void tst_openwork::setting()
{
    QFETCH(QVariant, stored);
    if (stored.isValid())
        openUserSettings()->setValue(QStringLiteral("AutoCommit"), stored);
    QVERIFY(m_form.open());
    auto *toggle = m_form.child<QAction>("AutoCommit1");
    const bool on = !stored.isValid() || stored.toBool();
    QCOMPARE(toggle->isChecked(), on);
    toggle->trigger();
    QCOMPARE(openUserSettings()->value(QStringLiteral("AutoCommit")).toBool(), !on);
}

void tst_openwork::openWork()
{
    openUserSettings()->setValue(QStringLiteral("AutoCommit"), false);
    QVERIFY(m_form.open());
    m_form->setDBParms(PgServer::instance().loginText());
    m_form.start(m_form.execButton(), QStringLiteral("TXPG"), "insert into tx values (1)");
    QVERIFY(m_form.waitIdle());
    QVERIFY(panel()->isVisible());
    QVERIFY(QRegularExpression(
        "^Uncommitted work on TXPG since \\d\\d:\\d\\d:\\d\\d \\(1 statement\\)$")
                .match(panel()->text())
                .hasMatch());
    QCOMPARE(rows(), 0); // not seen by a second connection yet
}

void tst_openwork::endWork_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("answer"); // 0: no question
    QTest::addColumn<int>("rows"); // seen by a second connection afterwards
    QTest::addColumn<bool>("partial"); // a result still being fetched is on screen
    const int commit = QMessageBox::Save, rollback = QMessageBox::Discard,
              cancel = QMessageBox::Cancel;
    QTest::newRow("Commit") << "Commit1" << 0 << 1 << false;
    QTest::newRow("Roll back") << "Rollback1" << 0 << 0 << false;
    QTest::newRow("Commit after a partial select") << "Commit1" << 0 << 1 << true;
    for (const char *command : { "SpeedButton12", "close" }) {
        QTest::addRow("%s, Commit", command) << command << commit << 1 << true;
        QTest::addRow("%s, Roll back", command) << command << rollback << 0 << false;
        QTest::addRow("%s, Cancel", command) << command << cancel << 0 << false;
    }
}

void tst_openwork::endWork()
{
    QFETCH(QString, command);
    QFETCH(int, answer);
    QFETCH(int, rows);
    QFETCH(bool, partial);
    openWork();
    if (partial) {
        m_form.start(m_form.runButton(), "TXPG", "select n from generate_series(1, 5000) n");
        QVERIFY(m_form.waitIdle());
        QVERIFY(!m_form->CurrentQuery->allFetched());
    }
    ModalScript script(answer
            ? QList<ModalScript::Answer> { ModalScript::press(QMessageBox::StandardButton(answer)) }
            : QList<ModalScript::Answer> {});
    if (command == u"close")
        m_form->close();
    else if (command.startsWith(u"Speed"))
        m_form.child<QToolButton>(qPrintable(command))->click();
    else
        m_form.child<QAction>(qPrintable(command))->trigger();
    QVERIFY(m_form.waitIdle());
    QVERIFY(script.done());
    QCOMPARE(script.unexpected, 0);
    QTRY_COMPARE(this->rows(), rows);
    const bool kept = answer == QMessageBox::Cancel;
    QCOMPARE(panel()->isVisible(), kept);
    if (command == u"close")
        QTRY_COMPARE(m_form->isVisible(), kept);
    if (command.startsWith(u"Speed")) // logged out, or the connection kept with its work
        QCOMPARE(Session::instance().FindConnection("TXPG")->IsConnected(), kept);
}

void tst_openwork::heldOrLost_data()
{
    QTest::addColumn<int>("answer"); // 0: the server stops instead
    QTest::addColumn<int>("rows"); // seen by a second connection afterwards
    QTest::addColumn<QString>("panel"); // the open work afterwards
    QTest::newRow("server stopped") << 0 << 0 << QString();
    QTest::newRow("held, Wait") << int(QMessageBox::Retry) << 0 << "(2 statements)";
    QTest::newRow("held, Commit") << int(QMessageBox::Save) << 1 << "(1 statement)";
    QTest::newRow("held, Roll back") << int(QMessageBox::Discard) << 0 << "(1 statement)";
    QTest::newRow("held, Cancel") << int(QMessageBox::Cancel) << 0 << "(1 statement)";
}

void tst_openwork::heldOrLost()
{
    QFETCH(int, answer);
    QFETCH(int, rows);
    QFETCH(QString, panel);
    openWork();
    const std::shared_ptr<ConnectionHandle> held =
        Session::instance().FindConnection("TXPG")->handle();
    ModalScript script;
    script.setFallback(ModalScript::reject()); // the statement's own error box
    if (answer) { // a statement the user cancelled keeps the connection
        held->acquire();
        held->noteCancel(false); // refused: a newcomer would not even wait
        ModalScript ask({ ModalScript::press(QMessageBox::StandardButton(answer)) });
        m_form.execButton()->click();
        QVERIFY(ask.done());
        held->release();
    } else {
        PgServer::instance().stop(PgServer::Stop::Immediate);
        PgServer::instance().start();
        m_form.execButton()->click();
    }
    QVERIFY(m_form.waitIdle());
    QTRY_COMPARE(this->rows(), rows);
    QCOMPARE(this->panel()->text().section(u' ', -2), panel);
    if (answer == QMessageBox::Retry) // never a fresh connection in place of the held one
        QCOMPARE(Session::instance().FindConnection("TXPG")->handle(), held);
    if (!answer)
        QTRY_VERIFY(std::any_of(script.seen.begin(), script.seen.end(), [](const auto &seen) {
            return seen.objectName == u"WorkLostBox" && seen.text.contains(u"server rolled back");
        }));
}

void tst_openwork::endUnderWay_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("answer"); // Wait (Retry), go on (Ignore: a rollback), Cancel
    for (const char *command : { "close", "SpeedButton12" })
        for (const int answer : { QMessageBox::Retry, QMessageBox::Ignore, QMessageBox::Cancel })
            QTest::addRow("%s, %x", command, answer) << command << answer;
}

void tst_openwork::endUnderWay()
{
    QFETCH(QString, command);
    QFETCH(int, answer);
    openWork();
    const bool close = command == u"close", commit = answer != QMessageBox::Ignore;
    Connection *connection = Session::instance().FindConnection("TXPG");
    const auto left = [&] { return close ? !m_form->isVisible() : !connection->IsConnected(); };
    ModalScript script({ ModalScript::press(QMessageBox::StandardButton(answer)) });
    script.setFallback(ModalScript::press(QMessageBox::Ok)); // the outcome, when told
    {
        // The backend reports its idle state a moment after the insert's answer.
        int backend = 0;
        QTRY_VERIFY((backend = PgServer::instance()
                                   .value("select pid from pg_stat_activity where state = "
                                          "'idle in transaction' and datname = 'openwork'")
                                   .toInt())
            > 0);
        const ProcessPause stalled(backend); // the server stops answering the end
        m_form.child<QAction>(commit ? "Commit1" : "Rollback1")->trigger();
        close ? void(m_form->close()) : m_form.child<QToolButton>("SpeedButton12")->click();
        QVERIFY(script.done());
        QCOMPARE(script.seen.value(0).objectName, QStringLiteral("EndUnderWay"));
        QCOMPARE(left(), !commit); // nothing waited for the server
        // Logged out while the end waits: the work went with the connection.
        QVERIFY(close || commit || !panel()->isVisible());
    }
    QTRY_COMPARE(rows(), commit ? 1 : 0);
    QTRY_COMPARE(left(), answer != QMessageBox::Cancel); // the window closed, or logged out
    const bool told = answer == QMessageBox::Cancel || (!close && !commit);
    QTRY_COMPARE(script.seen.size(), told ? 2 : 1);
    QVERIFY(!told || script.seen.last().text.contains(commit ? "committed" : "rolled back"));
}

void tst_openwork::statementAbandoned_data()
{
    QTest::addColumn<QString>("path");
    for (const char *path : { "AutoCommit1", "alias", "close", "script, SpeedButton12" })
        QTest::newRow(path) << path;
}

void tst_openwork::statementAbandoned()
{
    QFETCH(QString, path);
    openWork();
    PgLock lock(QStringLiteral("TXLOCK"), 3001); // the next insert waits for it
    const QString waits = "insert into tx select 2 from " + PgLock::waitFor(3001);
    const bool script = path.startsWith(u"script"), cancelled = script || path == u"close";
    m_form->setEditorText(script ? waits + ";\nselect 3 as x;\n" : waits);
    m_form.chooseAlias(QStringLiteral("TXPG"));
    script ? m_form.child<QAction>("RunScript1")->trigger() : m_form.execButton()->click();
    QTRY_VERIFY(panel()->text().endsWith(u"(2 statements)"));
    QVERIFY(!m_form.child<QAction>("AutoCommit1")->isEnabled()); // while the statement runs
    ModalScript answers;
    answers.setFallback(ModalScript::press(cancelled ? QMessageBox::Save : QMessageBox::Ok));
    if (path == u"alias")
        emit m_form.aliasBox()->textActivated(QStringLiteral("db2t301"));
    else if (cancelled)
        script ? m_form.child<QToolButton>("SpeedButton12")->click() : void(m_form->close());
    QCOMPARE(answers.seen.size(), path == u"AutoCommit1" ? 0 : 1);
    if (!cancelled) { // the statement runs on, and counts, once it ended
        lock.release();
        QVERIFY(m_form.waitIdle());
        QCOMPARE(m_form.aliasBox()->currentText().toUpper(), QStringLiteral("TXPG"));
        QVERIFY(panel()->text().endsWith(u"(2 statements)"));
        return;
    }
    // Cancelled, not counted, and said so: only the statement done before is committed.
    QVERIFY(answers.seen.value(0).text.contains(u"(1 statement);"));
    QTRY_COMPARE(rows(), 1);
    QVERIFY(m_form->statusText(1).startsWith(script ? "Script cancelled" : "Statement cancelled"));
}

STELVIK_TEST_MAIN(tst_openwork)
#include "tst_openwork.moc"
