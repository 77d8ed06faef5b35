#include "app/Unit1.h"
#include "connection/Connection.h"
#include "connection/QueryDataset.h"
#include "results/DataSource.h"
#include "results/Exporter.h"
#include "results/UCountForm.h"
#include "support/ModalScript.h"
#include "support/OrdinaryUser.h"
#include "support/PgServer.h"
#include "support/SessionConnection.h"
#include "support/TestEnv.h"
#include "support/WindowFixture.h"
#include "valuetext/ValueLocale.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <fcntl.h>
#include <functional>
#include <limits>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString blanks(int count)
{
    return QString(count, QLatin1Char(' '));
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return file.readAll();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

const QString sentinel = QStringLiteral("clipboard before");

} // namespace

class tst_export : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void exports_data();
    void exports();
    void extractDialogByKeys_data();
    void extractDialogByKeys();
    void existingFileReplacedWithoutQuestion();
    void cancel_data();
    void cancel();
    void cannotCreateFile();
    void targetKinds_data();
    void targetKinds();
    void progressShownAndCancelled_data();
    void progressShownAndCancelled();
    void copies_data();
    void copies();
    void copyFieldOfSelectedColumn();
    void copiesDisabledWithoutOpenResult();
    void afterRun_data();
    void afterRun();

private:
    void openResult(const QString &dsn, const QString &sql);
    // The extract dialog's answer; `amount` < 0 chooses "All". Notes whether the grid was bound.
    ModalScript::Answer countAnswer(int amount, bool toClipboard, bool ok = true);
    ModalScript::Answer saveAnswer(const QString &path); // empty path = Cancel
    bool gridBound() const { return m_form->DataSource1->dataSet() != nullptr; }
    void click(const char *button);

    QTemporaryDir m_dir;
    std::unique_ptr<Connection> m_sqlite;
    std::unique_ptr<Connection> m_pg;
    WindowFixture m_form;
    QList<bool> m_boundAtDialog; // per dialog shown: was the grid bound
};

void tst_export::initTestCase()
{
    ValueText::setLocale(QLocale::c()); // a decimal point and a group comma
    QVERIFY(m_dir.isValid());

    const QStringList common = {
        "create table e (ID integer, NAME varchar(5))",
        "create table big (ID integer, NAME varchar(12))",
    };
    QStringList sqlite = common;
    sqlite << "create table t (ID integer, NAME varchar(20), AMOUNT double precision)"
           << "insert into t values (1, 'ABC', 1234.5), (2, 'a\"b', NULL), (3, 'DE,F', -0.5),"
              " (4, 'x' || char(13) || char(10) || 'y', 12345678.9)"
           << "insert into big with recursive n(i) as (select 1 union all select i + 1 from n"
              " where i < 3000) select i, 'row ' || i from n";
    TestEnv::addSqliteDsn(QStringLiteral("EXP"), sqlite);

    PgServer &pg = PgServer::instance();
    pg.addDsn(QStringLiteral("EXPPG"), QStringLiteral("exports"));
    QStringList postgres = common;
    postgres << "create table t (ID integer, NAME varchar(20), AMOUNT double precision)"
             << "insert into t values (1, 'ABC', 1234.5), (2, 'a\"b', NULL), (3, 'DE,F', -0.5),"
                " (4, E'x\\r\\ny', 12345678.9)"
             << "insert into big select i, 'row ' || i from generate_series(1, 3000) i";
    for (const QString &statement : postgres)
        pg.exec(statement, QStringLiteral("exports"));

    m_sqlite = TestEnv::connection(QStringLiteral("EXP"));
    m_sqlite->OpenConnection();
    m_pg = TestEnv::connection(QStringLiteral("EXPPG"));
    m_pg->Params = pg.loginParams();
    m_pg->OpenConnection();
}

void tst_export::init()
{
    QVERIFY(m_form.open());
    m_boundAtDialog.clear();
    QGuiApplication::clipboard()->setText(sentinel);
    // However slow the machine, no progress dialog interrupts an export that does not ask for it.
    exportProgressDelayMs = std::numeric_limits<int>::max();
}

void tst_export::cleanup()
{
    exportProgressDelayMs = 500;
    m_form.close();
}

void tst_export::openResult(const QString &dsn, const QString &sql)
{
    auto query = std::make_unique<QueryDataset>();
    query->setConnection(dsn, sessionConnection(dsn));
    query->setSql(sql);
    query->OpenQuery();
    m_form->CurrentQuery = std::move(query);
    m_form->BindGrid();
}

ModalScript::Answer tst_export::countAnswer(int amount, bool toClipboard, bool ok)
{
    return [=](QWidget *modal) {
        auto *form = qobject_cast<TCountForm *>(modal);
        QVERIFY2(form, qPrintable(modal->metaObject()->className()));
        QCOMPARE(CountForm, form);
        m_boundAtDialog << gridBound();
        // Every export starts from the dialog's first settings; no earlier answer carries over.
        auto *count = form->findChild<QSpinBox *>("ExtractCount");
        QVERIFY(form->findChild<QRadioButton *>("AllRecords")->isChecked());
        QCOMPARE(count->value(), 100);
        QVERIFY(!count->isEnabled());
        QVERIFY(!form->findChild<QCheckBox *>("toClipboard")->isChecked());
        if (amount >= 0) {
            form->findChild<QRadioButton *>("EXTtoCount")->click();
            form->findChild<QSpinBox *>("ExtractCount")->setValue(amount);
        }
        form->findChild<QCheckBox *>("toClipboard")->setChecked(toClipboard);
        form->findChild<QPushButton *>(ok ? "BitBtn1" : "BitBtn2")->click();
    };
}

ModalScript::Answer tst_export::saveAnswer(const QString &path)
{
    return [=](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        QVERIFY2(dialog, qPrintable(modal->metaObject()->className()));
        QCOMPARE(dialog->objectName(), QStringLiteral("SaveDialog1"));
        m_boundAtDialog << gridBound();
        if (path.isEmpty())
            dialog->reject();
        else
            ModalScript::chooseFile(path)(dialog);
    };
}

void tst_export::click(const char *button)
{
    auto *tool = m_form->findChild<QToolButton *>(button);
    QVERIFY(tool);
    tool->click();
}

void tst_export::exports_data()
{
    QTest::addColumn<QString>("dsn");
    QTest::addColumn<bool>("report");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<int>("amount");
    QTest::addColumn<bool>("toClipboard");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("recordAfter");

    const QString all = QStringLiteral(
        "select ID as \"ID\", NAME as \"NAME\", AMOUNT as \"AMOUNT\" from t order by ID");
    const QString empty = QStringLiteral("select ID as \"ID\", NAME as \"NAME\" from e");
    const QByteArray cqHeader = "\"ID\",\"NAME\",\"AMOUNT\"\r\n";
    const QByteArray cq1 = "\"1\",\"ABC\",\"1234.5\"\r\n";
    const QByteArray cqRest = "\"2\",\"a\"b\",\"<Null>\"\r\n"
                              "\"3\",\"DE,F\",\"-0.5\"\r\n"
                              "\"4\",\"x\r\ny\",\"12345678.9\"\r\n";
    const QByteArray rpHeader =
        (blanks(8) + "ID  NAME" + blanks(16) + "  " + blanks(4) + "AMOUNT\r\n").toLatin1();
    const QByteArray rp1 = (blanks(9) + "1  ABC" + blanks(17) + "    1,234.50\r\n").toLatin1();
    const QByteArray rp2 = (blanks(9) + "2  a\"b" + blanks(17) + "      <Null>\r\n").toLatin1();
    const QByteArray rp34 = (blanks(9) + "3  DE,F" + blanks(16) + "       -0.50\r\n" + blanks(9)
        + "4  x\r\ny" + blanks(16) + "  12,345,678.90\r\n")
                                .toLatin1();

    for (const char *dsn : { "EXP", "EXPPG" }) {
        const QString d = QLatin1String(dsn);
        QTest::addRow("%s comma-quote, all, file", dsn)
            << d << false << all << -1 << false << cqHeader + cq1 + cqRest << 3;
        QTest::addRow("%s comma-quote, amount 1, clipboard", dsn)
            << d << false << all << 1 << true << cqHeader + cq1 << 1;
        QTest::addRow("%s comma-quote, amount beyond the result", dsn)
            << d << false << all << 100 << false << cqHeader + cq1 + cqRest << 3;
        QTest::addRow("%s comma-quote, empty result", dsn)
            << d << false << empty << -1 << false << QByteArray("\"ID\",\"NAME\"\r\n") << -1;
        QTest::addRow("%s report, all, file, null in float", dsn)
            << d << true << all << -1 << false << rpHeader + rp1 + rp2 + rp34 << 3;
        QTest::addRow("%s report, amount 2, clipboard", dsn)
            << d << true << all << 2 << true << rpHeader + rp1 + rp2 << 2;
        QTest::addRow("%s report, amount 1, file", dsn)
            << d << true << all << 1 << false << rpHeader + rp1 << 1;
        QTest::addRow("%s report, empty result", dsn)
            << d << true << empty << 5 << true << (blanks(8) + "ID  NAME \r\n").toLatin1() << -1;
    }
}

void tst_export::exports()
{
    QFETCH(QString, dsn);
    QFETCH(bool, report);
    QFETCH(QString, sql);
    QFETCH(int, amount);
    QFETCH(bool, toClipboard);
    QFETCH(QByteArray, expected);
    QFETCH(int, recordAfter);

    openResult(dsn, sql);
    const QString path = m_dir.filePath(QStringLiteral("export.txt"));
    QFile::remove(path);
    QList<ModalScript::Answer> answers { countAnswer(amount, toClipboard) };
    if (!toClipboard)
        answers << saveAnswer(path);
    ModalScript script(answers);
    click(report ? "SpeedButton6" : "SpeedButton5");

    QVERIFY(script.done());
    QCOMPARE(script.unexpected, 0);
    if (toClipboard) {
        QCOMPARE(QGuiApplication::clipboard()->text().toUtf8(), expected);
        QVERIFY(!QFile::exists(path));
    } else {
        QCOMPARE(readFile(path), expected);
        QCOMPARE(QGuiApplication::clipboard()->text(), sentinel);
    }
    // The report hides the grid from before its dialogs; the comma-quote export keeps it shown.
    for (bool bound : m_boundAtDialog)
        QCOMPARE(bound, !report);
    QCOMPARE(CountForm, nullptr);
    QVERIFY(gridBound());
    QCOMPARE(m_form->CurrentQuery->RecNo(), recordAfter);
    if (recordAfter >= 0)
        QCOMPARE(m_form->findChild<QTableView *>("DBGrid1")->currentIndex().row(), recordAfter);
}

void tst_export::extractDialogByKeys_data()
{
    QTest::addColumn<QString>("dsn");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("keys"); // from where the dialog puts the focus
    QTest::addColumn<QString>("written"); // where, layout and rows; empty: nothing
    for (const char *dsn : { "EXP", "EXPPG" })
        for (const QString button : { "SpeedButton5", "SpeedButton6" }) {
            const QString own = button.endsWith(u'6') ? "report" : "cq";
            const auto row = [&](const char *keys, const QString &written) {
                QTest::addRow("%s %s: %s", dsn, qPrintable(own), keys)
                    << dsn << button << keys << written;
            };
            row("Return", "file " + own + " 4");
            row("Down Tab 2 Return", "file " + own + " 2"); // the amount, not the format
            row("Tab Tab Tab Space Return", "clipboard " + own + " 4");
            row("Esc", "");
            if (own == u"cq") // the format list comes after the clipboard box
                row("Tab Tab Tab Tab Down Return", "file report 4");
            // The workbook, listed last, unticks the clipboard box: it goes to a file.
            row("Tab Tab Tab Space Tab End Return", "file xlsx 4");
        }
}

// Keys go where the focus is, as a user's do; what was written tells where they led.
void tst_export::extractDialogByKeys()
{
    QFETCH(QString, dsn);
    QFETCH(QString, button);
    QFETCH(QString, keys);
    QFETCH(QString, written);
    openResult(dsn, QStringLiteral("select ID as \"ID\" from t order by ID"));
    const QString path = m_dir.filePath(QStringLiteral("keys.txt"));
    QFile::remove(path);
    const QStringList to = written.split(u' '); // where, layout, rows
    QList<ModalScript::Answer> answers { [&](QWidget *modal) {
        modal->activateWindow(); // as the desktop does with a dialog that opens
        QTRY_COMPARE(QApplication::activeWindow(), modal);
        for (const QString &key : keys.split(u' ')) {
            QVERIFY(QApplication::focusWidget()); // else the dialog closed before the last key
            QTest::keySequence(QApplication::focusWidget(), QKeySequence(key));
        }
    } };
    if (to.first() == u"file")
        answers << saveAnswer(path);
    ModalScript script(answers);
    click(qPrintable(button));
    QVERIFY(script.done());
    QCOMPARE(script.unexpected, 0);
    if (to.value(1) == u"xlsx") { // its cells are read back by the profiles' tests
        QVERIFY(readFile(path).startsWith("PK\x03\x04"));
        QCOMPARE(QGuiApplication::clipboard()->text(), sentinel);
        return;
    }
    const bool report = to.value(1) == u"report";
    QByteArray expected = report ? blanks(8).toLatin1() + "ID\r\n" : "\"ID\"\r\n";
    for (int id = 1; id <= to.value(2).toInt(); ++id)
        expected +=
            (report ? blanks(9) + QString::number(id) : '"' + QString::number(id) + '"').toLatin1()
            + "\r\n";
    QCOMPARE(readFile(path), to.first() == u"file" ? expected : QByteArray("<missing>"));
    QCOMPARE(QGuiApplication::clipboard()->text().toLatin1(),
        to.first() == u"clipboard" ? expected : sentinel.toLatin1());
}

void tst_export::existingFileReplacedWithoutQuestion()
{
    openResult(QStringLiteral("EXP"), QStringLiteral("select ID as \"ID\" from t where ID = 1"));
    const QString path = m_dir.filePath(QStringLiteral("existing.txt"));
    writeFile(path, QByteArray(500, 'z'));
    {
        ModalScript first({ countAnswer(5, true) }); // its answers do not carry over
        click("SpeedButton6");
        QVERIFY(first.done());
    }
    {
        ModalScript script({ countAnswer(-1, false), saveAnswer(path) });
        click("SpeedButton5");
        QVERIFY(script.done());
        QCOMPARE(script.unexpected, 0);
        QCOMPARE(readFile(path), QByteArray("\"ID\"\r\n\"1\"\r\n"));
    }

    // The save dialog opens with the name chosen at its last use.
    QString offered;
    ModalScript again({ countAnswer(-1, false), [&](QWidget *modal) {
                           auto *dialog = qobject_cast<QFileDialog *>(modal);
                           QVERIFY(dialog);
                           offered = dialog->selectedFiles().value(0);
                           dialog->reject();
                       } });
    click("SpeedButton6");
    QVERIFY(again.done());
    QCOMPARE(QFileInfo(offered).fileName(), QStringLiteral("existing.txt"));
}

void tst_export::cancel_data()
{
    QTest::addColumn<bool>("report");
    QTest::addColumn<bool>("inSaveDialog");
    QTest::newRow("comma-quote, extract dialog") << false << false;
    QTest::newRow("comma-quote, save dialog") << false << true;
    QTest::newRow("report, extract dialog") << true << false;
    QTest::newRow("report, save dialog") << true << true;
}

void tst_export::cancel()
{
    QFETCH(bool, report);
    QFETCH(bool, inSaveDialog);
    openResult(QStringLiteral("EXP"), QStringLiteral("select ID, NAME from t order by ID"));
    m_form->CurrentQuery->setRecNo(2);
    m_form->BindGrid();
    const QString path = m_dir.filePath(QStringLiteral("keep.txt"));
    writeFile(path, "unchanged");

    QList<ModalScript::Answer> answers;
    if (inSaveDialog)
        answers << countAnswer(1, false) << saveAnswer(QString());
    else
        answers << countAnswer(1, false, false);
    ModalScript script(answers);
    click(report ? "SpeedButton6" : "SpeedButton5");

    QVERIFY(script.done());
    QCOMPARE(script.unexpected, 0);
    QCOMPARE(readFile(path), QByteArray("unchanged"));
    QCOMPARE(QGuiApplication::clipboard()->text(), sentinel);
    QCOMPARE(CountForm, nullptr);
    QVERIFY(gridBound());
    QCOMPARE(m_form->CurrentQuery->RecNo(), 2);
    QCOMPARE(m_form->findChild<QTableView *>("DBGrid1")->currentIndex().row(), 2);
}

void tst_export::cannotCreateFile()
{
    openResult(QStringLiteral("EXP"), QStringLiteral("select ID from t"));
    const QString path = m_dir.filePath(QStringLiteral("no/such/folder/out.txt"));
    QString shown;
    ModalScript script({ countAnswer(-1, false), saveAnswer(path), [&](QWidget *modal) {
                            auto *box = qobject_cast<QMessageBox *>(modal);
                            QVERIFY(box);
                            shown = box->text();
                            box->accept();
                        } });
    click("SpeedButton5");
    QVERIFY(script.done());
    QCOMPARE(shown, QStringLiteral("Cannot create file %1.").arg(path));
    QVERIFY(!QFile::exists(path));
    QCOMPARE(CountForm, nullptr);
    QVERIFY(gridBound());
}

void tst_export::targetKinds_data()
{
    // Names the save dialog keeps: it adds ".txt" to a name without an extension.
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("message"); // empty: the export is written to the target
    QTest::newRow("regular file") << "file.txt"
                                  << "";
    QTest::newRow("FIFO with a reader") << "fifo.txt"
                                        << "";
    QTest::newRow("FIFO without a reader") << "lone fifo.txt"
                                           << "Cannot create file %1.";
    QTest::newRow("full device") << "full.txt"
                                 << "Unable to write to %1: No space left on device.";
    QTest::newRow("file in a read-only folder") << "ro/file.txt"
                                                << "";
    QTest::newRow("folder made after the choice")
        << "dir.txt"
        << "%1 is a folder, not a file. Nothing was written.";
}

void tst_export::targetKinds()
{
    QFETCH(QString, target);
    QFETCH(QString, message);
    openResult(QStringLiteral("EXP"), QStringLiteral("select ID as \"ID\" from t where ID < 3"));
    const QString path = TestEnv::root() + '/' + target, folder = QFileInfo(path).path();
    const QByteArray name = QFile::encodeName(path);
    QVERIFY(QDir().mkpath(folder));
    if (target.contains(QLatin1String("fifo")))
        QCOMPARE(::mkfifo(name, 0666), 0);
    else if (target == "full.txt")
        QVERIFY(QFile::link(QStringLiteral("/dev/full"), path));
    else if (target.contains(QLatin1String("file")))
        writeFile(path, "unchanged");
    const int reader = target == "fifo.txt" ? ::open(name, O_RDONLY | O_NONBLOCK) : -1;
    struct stat before
    {
    }, after {};
    ::stat(name, &before);
    QString shown;
    QList<ModalScript::Answer> answers { countAnswer(-1, false), [&](QWidget *modal) {
                                            ModalScript::chooseFile(path)(modal);
                                            QVERIFY(target != "dir.txt" || QDir().mkdir(path));
                                        } };
    if (!message.isEmpty())
        answers << ModalScript::note(&shown);
    // Root may write aside anywhere, /dev included: as an ordinary user a fault replaces no
    // device of the machine, and the read-only folder is one.
    OrdinaryUser::run([&] {
        QVERIFY(!target.startsWith(QLatin1String("ro/"))
            || QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        ModalScript script(answers);
        click("SpeedButton5");
        QVERIFY(script.done());
        QCOMPARE(script.unexpected, 0);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    });
    QCOMPARE(shown, message.isEmpty() ? message : message.arg(path));
    // Nothing was put in place of a FIFO, a device or a file written in place; a folder is
    // refused before the walk, which would have moved to the last record.
    ::stat(name, &after);
    QCOMPARE(
        int(after.st_mode & S_IFMT), int(target == "dir.txt" ? S_IFDIR : before.st_mode & S_IFMT));
    QCOMPARE(after.st_ino == before.st_ino, target != "file.txt" && target != "dir.txt");
    QCOMPARE(m_form->CurrentQuery->RecNo(), target == "dir.txt" ? 0 : 1);
    QFile fifo;
    if (message.isEmpty())
        QCOMPARE(reader >= 0 && fifo.open(reader, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)
                ? fifo.read(100)
                : readFile(path),
            QByteArray("\"ID\"\r\n\"1\"\r\n\"2\"\r\n"));
}

void tst_export::progressShownAndCancelled_data()
{
    QTest::addColumn<QString>("dsn");
    QTest::addColumn<bool>("report");
    QTest::addColumn<bool>("cancelIt");
    QTest::newRow("sqlite comma-quote, cancelled") << "EXP" << false << true;
    QTest::newRow("pg report, cancelled") << "EXPPG" << true << true;
    QTest::newRow("sqlite report, completes") << "EXP" << true << false;
}

void tst_export::progressShownAndCancelled()
{
    QFETCH(QString, dsn);
    QFETCH(bool, report);
    QFETCH(bool, cancelIt);
    exportProgressDelayMs = 0; // the dialog shows at once, so a small result sees it
    openResult(dsn, QStringLiteral("select ID as \"ID\", NAME as \"NAME\" from big order by ID"));
    const QString path = m_dir.filePath(QStringLiteral("progress.txt"));
    writeFile(path, "unchanged");

    QString label;
    ModalScript script({ countAnswer(-1, false), saveAnswer(path), [&](QWidget *modal) {
                            auto *progress = qobject_cast<QProgressDialog *>(modal);
                            QVERIFY2(progress, qPrintable(modal->metaObject()->className()));
                            label = progress->labelText();
                            if (cancelIt)
                                progress->cancel();
                        } });
    click(report ? "SpeedButton6" : "SpeedButton5");
    // The walk goes on from the event loop once its progress dialog shows.
    QTRY_VERIFY_WITH_TIMEOUT(CountForm == nullptr, 60000);

    QVERIFY(script.done());
    QCOMPARE(script.unexpected, 0);
    QVERIFY2(label.endsWith(QLatin1String(" records written")), qPrintable(label));
    const QByteArray written = readFile(path);
    if (cancelIt) {
        QCOMPARE(written, QByteArray("unchanged"));
    } else {
        QCOMPARE(written.count('\n'), 3001);
        QVERIFY(written.endsWith("row 3000    \r\n"));
    }
    QCOMPARE(CountForm, nullptr);
    QVERIFY(gridBound());
}

void tst_export::copies_data()
{
    QTest::addColumn<QString>("dsn");
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("record");
    QTest::addColumn<QString>("expected");

    QTest::newRow("field list") << "EXP"
                                << "SpeedButton3" << 0 << "ID ,NAME ,AMOUNT";
    QTest::newRow("field, first column") << "EXP"
                                         << "CopyFieldtoClipboard1" << 2 << "3";
    for (const char *dsn : { "EXP", "EXPPG" }) {
        const QString d = QLatin1String(dsn);
        QTest::addRow("%s row", dsn) << d << "CopyEntireRowtoclipboard1" << 0
                                     << blanks(9) + "1  ABC" + blanks(17) + "    1,234.50";
        QTest::addRow("%s row with null float", dsn)
            << d << "CopyEntireRowtoclipboard1" << 1
            << blanks(9) + "2  a\"b" + blanks(17) + "      <Null>";
        QTest::addRow("%s row comma-quote", dsn)
            << d << "CopyEntireRowCommaQuote1" << 1 << "\"2\",\"a\"b\",\"<Null>\"";
        QTest::addRow("%s row comma-quote with line break", dsn)
            << d << "CopyEntireRowCommaQuote1" << 3 << "\"4\",\"x\r\ny\",\"12345678.9\"";
    }
}

void tst_export::copies()
{
    QFETCH(QString, dsn);
    QFETCH(QString, action);
    QFETCH(int, record);
    QFETCH(QString, expected);
    openResult(dsn,
        QStringLiteral(
            "select ID as \"ID\", NAME as \"NAME\", AMOUNT as \"AMOUNT\" from t order by ID"));
    m_form->CurrentQuery->setRecNo(record);
    m_form->BindGrid();

    ModalScript script;
    if (auto *button = m_form->findChild<QToolButton *>(action)) {
        button->click();
    } else {
        auto *item = m_form->findChild<QAction *>(action);
        QVERIFY(item);
        Q_EMIT m_form->findChild<QMenu *>("PopupMenu2")->aboutToShow();
        QVERIFY(item->isEnabled());
        item->trigger();
    }
    QCOMPARE(script.unexpected, 0);
    QCOMPARE(QGuiApplication::clipboard()->text(), expected);
    QCOMPARE(m_form->CurrentQuery->RecNo(), record);
}

void tst_export::copyFieldOfSelectedColumn()
{
    openResult(QStringLiteral("EXP"), QStringLiteral("select ID, NAME, AMOUNT from t order by ID"));
    auto *grid = m_form->findChild<QTableView *>("DBGrid1");
    auto *copyField = m_form->findChild<QAction *>("CopyFieldtoClipboard1");
    grid->setCurrentIndex(m_form->DataSource1->index(1, 2));
    QCOMPARE(m_form->CurrentQuery->RecNo(), 1);
    copyField->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("<Null>"));
    grid->setCurrentIndex(m_form->DataSource1->index(0, 1));
    copyField->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("ABC"));
    QCOMPARE(m_form->CurrentQuery->RecNo(), 0);
}

void tst_export::copiesDisabledWithoutOpenResult()
{
    auto *menu = m_form->findChild<QMenu *>("PopupMenu2");
    const QList<QAction *> items { m_form->findChild<QAction *>("CopyFieldtoClipboard1"),
        m_form->findChild<QAction *>("CopyEntireRowtoclipboard1"),
        m_form->findChild<QAction *>("CopyEntireRowCommaQuote1") };
    openResult(QStringLiteral("EXP"), QStringLiteral("select ID from t"));
    Q_EMIT menu->aboutToShow();
    for (QAction *item : items)
        QVERIFY(item->isEnabled());

    click("SpeedButton4"); // Close Query
    QVERIFY(!m_form->CurrentQuery);
    Q_EMIT menu->aboutToShow();
    ModalScript script;
    for (QAction *item : items) {
        QVERIFY(!item->isEnabled());
        item->setEnabled(true); // the handlers check again
        item->trigger();
    }
    click("SpeedButton3");
    click("SpeedButton5");
    click("SpeedButton6");
    QCOMPARE(QGuiApplication::clipboard()->text(), sentinel);
    QCOMPARE(script.unexpected, 0);
    QCOMPARE(CountForm, nullptr);
}

void tst_export::afterRun_data()
{
    QTest::addColumn<QString>("alias");
    QTest::newRow("sqlite") << "EXP";
    QTest::newRow("postgres") << "EXPPG";
}

void tst_export::afterRun()
{
    // The result comes from the Run command this time, as a user gets it.
    QFETCH(QString, alias);
    PgServer &pg = PgServer::instance();
    m_form->setDBParms(pg.loginText());
    m_form->setEditorText(QStringLiteral(
        "select ID as \"ID\", NAME as \"NAME\", AMOUNT as \"AMOUNT\" from t order by ID"));
    m_form.chooseAlias(alias);
    click("SpeedButton1");
    QTRY_VERIFY_WITH_TIMEOUT(m_form->CurrentQuery && !m_form->CurrentThread, 30000);
    QVERIFY(m_form->CurrentQuery->IsOpen());

    ModalScript script({ countAnswer(2, true) });
    click("SpeedButton5");
    QVERIFY(script.done());
    QCOMPARE(QGuiApplication::clipboard()->text(),
        QStringLiteral("\"ID\",\"NAME\",\"AMOUNT\"\r\n\"1\",\"ABC\",\"1234.5\"\r\n"
                       "\"2\",\"a\"b\",\"<Null>\"\r\n"));
    QCOMPARE(m_form->CurrentQuery->RecNo(), 2);
    m_form->findChild<QAction *>("CopyEntireRowtoclipboard1")->trigger();
    QCOMPARE(
        QGuiApplication::clipboard()->text(), blanks(9) + "3  DE,F" + blanks(16) + "       -0.50");
    QCOMPARE(script.unexpected, 0);
}

STELVIK_TEST_MAIN(tst_export)
#include "tst_export.moc"
