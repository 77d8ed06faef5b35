#include "app/EditorRecovery.h"
#include "app/Unit1.h"
#include "support/ModalScript.h"
#include "support/PgServer.h"
#include "support/TestEnv.h"
#include "support/WaitIdle.h"
#include "support/WindowFixture.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

// What the editor adds to a run, on SQLite and on the private PostgreSQL server: the statement
// at the cursor, an error that names its codes and its place, and the text a window that died
// leaves to the next start.
class tst_SqlRun : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup() { m_form.reset(); }
    void statementAtCursor_data();
    void statementAtCursor();
    void errorDetails_data();
    void errorDetails();
    void valueViewerShowsTheWholeCell_data();
    void valueViewerShowsTheWholeCell();
    void recoveryOffered_data();
    void recoveryOffered();
    void recoveryWriteFailureShown();

private:
    void type(const QString &sql, const QString &alias);
    QPlainTextEdit *editor() const { return child<QPlainTextEdit>(m_form.get(), "RE1"); }
    std::unique_ptr<TForm1> m_form;
};

namespace {

const QString Lite = QStringLiteral("RUNLITE");
const QString Pg = QStringLiteral("RUNPG");

QStringList recoveryFiles()
{
    return QDir(EditorRecovery::defaultFolder())
        .entryList({ QStringLiteral("*.recovery") }, QDir::Files);
}

} // namespace

void tst_SqlRun::initTestCase()
{
    const QStringList tables { QStringLiteral("create table t(id integer)"),
        QStringLiteral("insert into t values (1), (2), (3)") };
    TestEnv::addSqliteDsn(Lite, tables);
    PgServer::instance().addDsn(Pg, QStringLiteral("sqlrun"));
    PgServer::instance().exec(tables.join(u';'), QStringLiteral("sqlrun"));
}

void tst_SqlRun::init()
{
    m_form = std::make_unique<TForm1>(WindowFixture::options());
    m_form->setDBParms(PgServer::instance().loginText());
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
}

void tst_SqlRun::type(const QString &sql, const QString &alias)
{
    auto *box = child<QComboBox>(m_form.get(), "ComboBox1");
    box->setCurrentIndex(box->findText(alias));
    editor()->setPlainText(sql);
    editor()->setFocus();
}

void tst_SqlRun::statementAtCursor_data()
{
    QTest::addColumn<QString>("alias");
    QTest::addColumn<QString>("sql"); // | marks the cursor, [ ] a selection
    QTest::addColumn<bool>("exec"); // Ctrl+Shift+Return
    QTest::addColumn<QString>("ran"); // the history's newest entry
    QTest::addColumn<QString>("column"); // the grid's first column, or the rows of t after an exec
    for (const QString &alias : { Lite, Pg }) {
        const QByteArray a = alias.toLatin1();
        QTest::addRow("%s second of two", a.constData())
            << alias << "select 1 as a;\nselect id as b| from t order by id;" << false
            << "select id as b from t order by id"
            << "b";
        QTest::addRow("%s selection", a.constData())
            << alias << "select 1 as a, [2 as c] from t" << false << "2 as c"
            << "";
        QTest::addRow("%s exec at cursor", a.constData())
            << alias << "select 1 as a;\ninsert into t values (9)|;\nselect 2;" << true
            << "insert into t values (9)"
            << "4";
    }
}

void tst_SqlRun::statementAtCursor()
{
    QFETCH(QString, alias);
    QFETCH(QString, sql);
    QFETCH(bool, exec);
    QFETCH(QString, ran);
    QFETCH(QString, column);
    const int from = int(sql.indexOf(u'['));
    QString text = sql;
    text.remove(u'|').remove(u'[').remove(u']');
    type(text, alias);
    QTextCursor cursor = editor()->textCursor();
    if (from >= 0) {
        cursor.setPosition(from);
        cursor.setPosition(int(sql.indexOf(u']')) - 1, QTextCursor::KeepAnchor);
    } else {
        cursor.setPosition(int(sql.indexOf(u'|')));
    }
    editor()->setTextCursor(cursor);
    ModalScript script;
    if (column.isEmpty()) // "2 as c" alone is no statement: the driver's error box comes
        script.setFallback(ModalScript::press(QMessageBox::Ok));
    QTest::keyClick(editor(), Qt::Key_Return,
        exec ? Qt::ControlModifier | Qt::ShiftModifier : Qt::ControlModifier);
    QVERIFY(waitForNoWorker(*m_form));
    QCOMPARE(m_form->HistoryList.first().Display, ran);
    QCOMPARE(editor()->toPlainText(), text); // the editor keeps the whole text
    QCOMPARE(script.unexpected, 0);
    if (exec) {
        QCOMPARE(m_form->statusText(1), QStringLiteral("Execute Complete!"));
        editor()->setPlainText(QStringLiteral("select count(*) from t"));
        QTest::keyClick(editor(), Qt::Key_F5);
        QVERIFY(waitForNoWorker(*m_form));
        auto *grid = child<QTableView>(m_form.get(), "DBGrid1");
        QTRY_COMPARE(grid->model()->index(0, 0).data().toString(), column);
        editor()->setPlainText(QStringLiteral("delete from t where id = 9"));
        QTest::keyClick(editor(), Qt::Key_F5, Qt::ShiftModifier);
        QVERIFY(waitForNoWorker(*m_form));
    } else if (!column.isEmpty()) {
        auto *grid = child<QTableView>(m_form.get(), "DBGrid1");
        QTRY_COMPARE(grid->model()->headerData(0, Qt::Horizontal).toString().toLower(), column);
    }
}

void tst_SqlRun::errorDetails_data()
{
    QTest::addColumn<QString>("alias");
    QTest::addColumn<QString>("sql"); // | marks where the error is
    QTest::addColumn<QString>("sqlState");
    QTest::newRow("SQLite") << Lite << "select id\nfrom t wher |x = 1"
                            << "HY000";
    QTest::newRow("PostgreSQL") << Pg << "select id\nfrom t wher |x = 1"
                                << "42601";
}

void tst_SqlRun::errorDetails()
{
    QFETCH(QString, alias);
    QFETCH(QString, sql);
    QFETCH(QString, sqlState);
    const int place = int(sql.indexOf(u'|'));
    sql.remove(u'|');
    type(sql, alias);
    QString copied;
    QString shown;
    bool closedByEsc = false;
    ModalScript script({ [&](QWidget *box) {
        auto *message = qobject_cast<QMessageBox *>(box);
        QVERIFY(message);
        shown = message->text() + QLatin1Char('\n') + message->informativeText();
        child<QPushButton>(box, "CopyDetails")->click();
        copied = QApplication::clipboard()->text();
        QTest::keyClick(box, Qt::Key_Escape); // as any message box
        closedByEsc = !box->isVisible();
        if (!closedByEsc)
            message->accept();
    } });
    QTest::keyClick(editor(), Qt::Key_F5);
    QVERIFY(waitForNoWorker(*m_form));
    QTRY_VERIFY(script.done());
    QVERIFY(closedByEsc);
    QVERIFY2(shown.contains(QStringLiteral("SQLSTATE ") + sqlState), qPrintable(shown));
    for (const QString &part : { QStringLiteral("Statement:\r\nselect id\r\nfrom t wher x = 1"),
             QStringLiteral("Alias: ") + alias,
             QStringLiteral("User ID: ") + PgServer::instance().user(),
             QStringLiteral("SQLSTATE: ") + sqlState })
        QVERIFY2(copied.contains(part), qPrintable(copied));
    QVERIFY(!copied.contains(PgServer::instance().password()));
    QTRY_COMPARE(editor()->textCursor().position(), place);
}

void tst_SqlRun::valueViewerShowsTheWholeCell_data()
{
    QTest::addColumn<bool>("byKey"); // Shift+Return, else a double-click
    QTest::addColumn<QString>("alias");
    QTest::addColumn<QString>("select");
    QTest::addColumn<QByteArray>("value"); // as copied, else as saved into a FIFO
    QTest::addColumn<QString>("dump"); // a binary value's first line shown
    const QByteArray big = QByteArray(5000000, 'x') + "end";
    const QString select5mb =
        QStringLiteral("select replace(hex(zeroblob(2500000)), '0', 'x') || 'end' as big");
    QTest::newRow("double-click") << false << Lite << select5mb << big << QString();
    QTest::newRow("Shift+Return") << true << Lite << select5mb << big << QString();
    QTest::newRow("text saved into a FIFO")
        << true << Lite << QStringLiteral("select 'Łódź' as t") << QByteArray("Łódź") << QString();
    QTest::newRow("bytea as a hex dump, saved into a FIFO")
        << true << Pg << QStringLiteral("select '\\x00ff41'::bytea as b")
        << QByteArray("\x00\xff\x41", 3)
        << QStringLiteral("00000000  00 ff 41%1..A").arg(QString(42, u' '));
}

// A cell's whole value, however long and cut in its grid cell, in the viewer; saved into a FIFO
// by the exports' rules, the FIFO stays one and its reader gets the value's bytes.
void tst_SqlRun::valueViewerShowsTheWholeCell()
{
    QFETCH(bool, byKey);
    QFETCH(QString, alias);
    QFETCH(QString, select);
    QFETCH(QByteArray, value);
    QFETCH(QString, dump);
    type(select, alias);
    QTest::keyClick(editor(), Qt::Key_F5);
    QVERIFY(waitForNoWorker(*m_form));
    auto *grid = child<QTableView>(m_form.get(), "DBGrid1");
    QTRY_VERIFY(grid->model()->rowCount() == 1);
    grid->setCurrentIndex(grid->model()->index(0, 0));
    const bool save = value.size() < 100;
    const QString fifo = TestEnv::root() + QStringLiteral("/value.fifo");
    QFile::remove(fifo);
    QVERIFY(!save || ::mkfifo(QFile::encodeName(fifo), 0666) == 0);
    const int reader = save ? ::open(QFile::encodeName(fifo), O_RDONLY | O_NONBLOCK) : -1;
    QString firstLine;
    ModalScript script({ [&](QWidget *viewer) {
        firstLine = child<QPlainTextEdit>(viewer, "ValueText")->toPlainText().section(u'\n', 0, 0);
        if (save) {
            // The file dialog asks before a file that exists is written.
            ModalScript saving(
                { ModalScript::chooseFile(fifo), ModalScript::press(QMessageBox::Yes) });
            child<QPushButton>(viewer, "ValueSaveAs")->click();
            QVERIFY(saving.done());
            QCOMPARE(saving.unexpected, 0); // no failure shown
        } else {
            child<QPushButton>(viewer, "ValueCopy")->click();
        }
        static_cast<QDialog *>(viewer)->reject();
    } });
    if (byKey)
        QTest::keyClick(grid, Qt::Key_Return, Qt::ShiftModifier);
    else
        emit grid->doubleClicked(grid->currentIndex()); // what the view says of a double-click
    QTRY_VERIFY(script.done());
    if (!dump.isEmpty())
        QCOMPARE(firstLine, dump);
    if (!save) {
        QCOMPARE(QApplication::clipboard()->text().toUtf8(), value);
        return;
    }
    QByteArray written(64, '\0');
    written.resize(std::max<qsizetype>(0, ::read(reader, written.data(), written.size())));
    ::close(reader);
    QCOMPARE(written, value);
    struct stat after
    {
    };
    QVERIFY(::stat(QFile::encodeName(fifo), &after) == 0 && S_ISFIFO(after.st_mode));
}

void tst_SqlRun::recoveryOffered_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("restore");
    QTest::addColumn<QByteArray>("file"); // a query file loaded first, saved back after
    QTest::newRow("restored") << QStringLiteral("select 'Łódź → ✓'\nfrom t") << true
                              << QByteArray();
    QTest::newRow("refused, kept until a normal close")
        << QStringLiteral("select 2") << false << QByteArray();
    QTest::newRow("Windows-1252 file, restored and saved back")
        << QString() << true << QByteArray("select 'caf\xe9 \x80 \xfc'\r\nfrom t\r\n");
}

// A window that ended without closing leaves its unsaved text; the next window offers it.
void tst_SqlRun::recoveryOffered()
{
    QFETCH(QString, text);
    QFETCH(bool, restore);
    QFETCH(QByteArray, file);
    for (const QString &left : recoveryFiles()) // left by the windows of the tests before
        QFile::remove(EditorRecovery::defaultFolder() + QLatin1Char('/') + left);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("query.sql"));
    if (!file.isEmpty()) {
        QFile written(path);
        QVERIFY(written.open(QIODevice::WriteOnly) && written.write(file) == file.size());
        written.close();
        ModalScript load({ ModalScript::chooseFile(path) });
        child<QToolButton>(m_form.get(), "SpeedButton7")->click();
        QVERIFY(load.done());
        text = editor()->toPlainText(); // the same text, changed from code: unsaved
    }
    editor()->setPlainText(text);
    QTRY_COMPARE_WITH_TIMEOUT(recoveryFiles().size(), 1, 30000); // once typing pauses
    m_form.reset(); // gone without a normal close, as after a crash

    auto next = std::make_unique<TForm1>(WindowFixture::options());
    next->show();
    ModalScript script({ ModalScript::press(restore ? QMessageBox::Yes : QMessageBox::No) });
    next->offerRecovery();
    QVERIFY(script.done());
    QCOMPARE(script.seen.first().objectName, QStringLiteral("RecoveryQuestion"));
    auto *restored = child<QPlainTextEdit>(next.get(), "RE1");
    QCOMPARE(restored->toPlainText(), restore ? text : QString());
    QCOMPARE(next->QueryChanged, restore);
    QCOMPARE(recoveryFiles().size(), 1); // adopted, or kept aside
    if (!file.isEmpty()) {
        ModalScript save({ ModalScript::chooseFile(path), ModalScript::press(QMessageBox::Yes) });
        child<QToolButton>(next.get(), "SpeedButton8")->click();
        QVERIFY(save.done());
        QFile saved(path);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), file); // in the file's own encoding, byte for byte
    }
    next->close(); // a normal close
    QCOMPARE(recoveryFiles().size(), 0);
}

// A recovery file that cannot be written says so in the status bar.
void tst_SqlRun::recoveryWriteFailureShown()
{
    const QString folder = EditorRecovery::defaultFolder();
    QVERIFY(QDir(folder).removeRecursively());
    QFile blocker(folder); // a file where the folder was: nothing can be written in it
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    editor()->setPlainText(QStringLiteral("select 3"));
    auto *bar = child<QStatusBar>(m_form.get(), "StatusBar1");
    QTRY_VERIFY_WITH_TIMEOUT(bar->currentMessage().contains(QLatin1String("recovery")), 30000);
    QVERIFY(blocker.remove());
    QVERIFY(QDir().mkpath(folder));
}

STELVIK_TEST_MAIN(tst_SqlRun)
#include "tst_sqlrun.moc"
