#include "app/Unit1.h"
#include "support/ModalScript.h"
#include "support/PgServer.h"
#include "support/SettingsFile.h"
#include "support/TestEnv.h"
#include "support/WindowFixture.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QCompleter>
#include <QFileDialog>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <memory>

// Query files read and written in the encoding they came in, and the main window's file dialogs
// used from the keyboard: real files, the real dialogs, keys as a user types them.
class tst_queryfiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void encodingKept_data();
    void encodingKept();
    void characterTheEncodingCannotHold_data();
    void characterTheEncodingCannotHold();
    void noPopupOutlivesItsDialog_data();
    void noPopupOutlivesItsDialog();

private:
    void load(const QString &path);
    void click(const char *name) { m_form.child<QToolButton>(name)->click(); }
    QString path(const QString &name) const { return m_dir->filePath(name); }

    WindowFixture m_form;
    std::unique_ptr<QTemporaryDir> m_dir;
};

namespace {

const QString Title = QStringLiteral("Morvane version .99M");

// Chooses a file in the file dialog: the name put into the focused name box (which is what
// makes the dialog drop the file it offered), then Open or Save.
ModalScript::Answer pick(const QString &path)
{
    return [path](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        QVERIFY2(dialog, modal->metaObject()->className());
        auto *edit = child<QLineEdit>(dialog, "fileNameEdit");
        QTRY_COMPARE(QApplication::focusWidget(), edit);
        edit->setText(path);
        static_cast<QDialog *>(dialog)->accept();
    };
}

// Types the full path into the dialog's name box key by key, through the dialog's window as the
// window system delivers keys, and presses Return as soon as the completion list is up.
ModalScript::Answer typeAndReturn(const QString &path)
{
    return [path](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        QVERIFY2(dialog, modal->metaObject()->className());
        auto *edit = child<QLineEdit>(dialog, "fileNameEdit");
        QTRY_COMPARE(QApplication::focusWidget(), edit);
        QWindow *window = dialog->windowHandle();
        QTest::keyClick(window, Qt::Key_A, Qt::ControlModifier); // over any name offered
        for (const QChar c : path) {
            QVERIFY(c.unicode() < 0x80);
            QTest::keyClick(window, char(c.unicode()));
        }
        QCOMPARE(edit->text(), path);
        QTRY_VERIFY(edit->completer()->popup()->isVisible());
        QTest::keyClick(window, Qt::Key_Return);
    };
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

} // namespace

void tst_queryfiles::initTestCase()
{
    TestEnv::addSqliteDsn(QStringLiteral("FILESLITE"),
        { QStringLiteral("create table t(id integer, name varchar(20))"),
            QStringLiteral("insert into t values (1, 'one'), (2, 'two')") });
}

void tst_queryfiles::init()
{
    SettingsFile().clear();
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(m_form.open(WindowFixture::Shown::Active));
}

void tst_queryfiles::cleanup()
{
    m_form.close();
    m_dir.reset();
}

void tst_queryfiles::load(const QString &file)
{
    ModalScript script({ pick(file) });
    click("SpeedButton7");
    QVERIFY(script.done());
    QCOMPARE(script.unexpected, 0);
    QCOMPARE(m_form->windowTitle(),
        Title + QStringLiteral(" [") + QFileInfo(file).fileName() + QLatin1Char(']'));
}

void tst_queryfiles::encodingKept_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text"); // the editor's text after the load

    QTest::newRow("windows-1252") << QByteArray("select 'Caf\xE9'\r\nfrom t\r\n")
                                  << QStringLiteral("select 'Café'\r\nfrom t\r\n");
    QTest::newRow("windows-1252, its own letters and signs") << QByteArray(
        "-- \x80 \x8A\x9F \x93x\x94 \xA0\xFF\r\n") << QStringLiteral("-- € ŠŸ “x” \u00A0ÿ\r\n");
    // The bytes the code page leaves unassigned still come back as they were.
    QTest::newRow("windows-1252, unassigned bytes")
        << QByteArray("-- \x81\x8D\x8F\x90\x9D \xE9\r\n")
        << QStringLiteral("-- \u0081\u008D\u008F\u0090\u009D é\r\n");
    QTest::newRow("windows-1252, a UTF-8 lead byte at the end")
        << QByteArray("select 1 -- \xC3") << QStringLiteral("select 1 -- Ã\r\n");
    QTest::newRow("utf-8") << QByteArray("select 'Caf\xC3\xA9'\r\nfrom t\r\n")
                           << QStringLiteral("select 'Café'\r\nfrom t\r\n");
    QTest::newRow("utf-8 beyond any 8-bit code page")
        << QByteArray("select '\xE6\x9D\xB1\xE4\xBA\xAC \xE2\x82\xAC \xF0\x9F\x98\x80'\r\n")
        << QStringLiteral("select '東京 € 😀'\r\n");
    QTest::newRow("ascii") << QByteArray("select 1\r\n") << QStringLiteral("select 1\r\n");
}

void tst_queryfiles::encodingKept()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);

    // A file of the other kind is loaded first: the encoding is that of the file loaded last.
    const bool utf8 = QString::fromUtf8(bytes).toUtf8() == bytes;
    writeBytes(path(QStringLiteral("before.sql")),
        utf8 ? QByteArray("select '\xE9'\r\n") : QByteArray("select '\xC3\xA9'\r\n"));
    load(path(QStringLiteral("before.sql")));
    QCOMPARE(m_form->EditorText(), QStringLiteral("select 'é'\r\n"));

    const QString file = path(QStringLiteral("query.sql"));
    writeBytes(file, bytes);
    load(file);
    QCOMPARE(m_form->EditorText(), text);
    QVERIFY(!m_form->QueryChanged);

    // Saved over itself, and saved under another name: the same bytes (with the final line
    // break that every saved line gets).
    const QByteArray expected = bytes.endsWith("\r\n") ? bytes : bytes + "\r\n";
    {
        ModalScript script({ pick(file), ModalScript::press(QMessageBox::Yes) });
        click("SpeedButton8");
        QVERIFY(script.done());
        QCOMPARE(script.unexpected, 0);
    }
    QCOMPARE(readBytes(file), expected);
    const QString other = path(QStringLiteral("other.sql"));
    {
        ModalScript script({ pick(other) });
        click("SpeedButton8");
        QVERIFY(script.done());
        QCOMPARE(script.unexpected, 0);
    }
    QCOMPARE(readBytes(other), expected);
    QVERIFY(!m_form->QueryChanged);
}

void tst_queryfiles::characterTheEncodingCannotHold_data()
{
    QTest::addColumn<QByteArray>("bytes"); // the file loaded
    QTest::addColumn<QString>("added"); // a line added in the editor
    QTest::addColumn<bool>("overwrite"); // saved over the loaded file, else under a new name
    QTest::addColumn<QString>("held"); // the character named, and its code
    // Windows-1252 text: the answer to the question whether to save as UTF-8; else none.
    QTest::addColumn<int>("answer");

    const QByteArray latin("select 'Caf\xE9'\r\n");
    const int no = QMessageBox::No;
    QTest::newRow("windows-1252, a CJK character, same file")
        << latin << QStringLiteral("-- 東") << true << QStringLiteral("\"東\" (U+6771)") << no;
    QTest::newRow("windows-1252, a CJK character, new file")
        << latin << QStringLiteral("-- ok € 東") << false << QStringLiteral("\"東\" (U+6771)")
        << no;
    QTest::newRow("windows-1252, beyond the BMP")
        << latin << QStringLiteral("-- 😀") << true << QStringLiteral("\"😀\" (U+1F600)") << no;
    QTest::newRow("windows-1252, new file, saved as UTF-8")
        << latin << QStringLiteral("-- Ł") << false << QStringLiteral("\"Ł\" (U+0141)")
        << int(QMessageBox::Yes);
    QTest::newRow("utf-8, a lone surrogate")
        << QByteArray("select 'Caf\xC3\xA9'\r\n") << QStringLiteral("-- x") + QChar(0xD800) << true
        << QStringLiteral("(U+D800)") << 0;
}

void tst_queryfiles::characterTheEncodingCannotHold()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, added);
    QFETCH(bool, overwrite);
    QFETCH(QString, held);
    QFETCH(int, answer);

    const QString file = path(QStringLiteral("query.sql"));
    writeBytes(file, bytes);
    load(file);
    const QString title = m_form->windowTitle();
    m_form->setEditorText(m_form->EditorText() + added);
    QVERIFY(m_form->EditorText().contains(added));

    const QString target = overwrite ? file : path(QStringLiteral("new.sql"));
    QList<ModalScript::Answer> answers { pick(target) };
    if (overwrite)
        answers << ModalScript::press(QMessageBox::Yes);
    QString message;
    answers << (answer ? ModalScript::press(QMessageBox::StandardButton(answer))
                       : ModalScript::note(&message));
    ModalScript script(answers);
    click("SpeedButton8");
    QVERIFY(script.done());
    QCOMPARE(script.unexpected, 0);
    QCOMPARE(script.seen.constLast().icon, answer ? QMessageBox::Question : QMessageBox::Critical);
    const QString encoding = answer ? QStringLiteral("Windows-1252") : QStringLiteral("UTF-8");
    QCOMPARE(answer ? script.seen.constLast().text : message,
        QStringLiteral("Line 2 holds the character %1, which the encoding of %2 (%3) cannot hold. ")
                .arg(held, QDir::toNativeSeparators(target), encoding)
            + (answer ? "Save it as UTF-8? If not, nothing is written." : "Nothing was written."));

    if (answer == QMessageBox::Yes) {
        // Written as UTF-8, and the text stays UTF-8: "é" is no longer written as one byte.
        QCOMPARE(readBytes(target), m_form->EditorText().toUtf8());
        QVERIFY(!m_form->QueryChanged);
        m_form->setEditorText(QStringLiteral("select 'é'"));
        ModalScript again({ pick(target), ModalScript::press(QMessageBox::Yes) });
        click("SpeedButton8");
        QCOMPARE(again.unexpected, 0);
        QCOMPARE(readBytes(target), QByteArray("select '\xC3\xA9'\r\n"));
        return;
    }
    // Nothing was written; the editor still holds the changes.
    QCOMPARE(readBytes(file), bytes);
    QCOMPARE(QFileInfo::exists(path(QStringLiteral("new.sql"))), false);
    QCOMPARE(m_form->windowTitle(), title);
    QVERIFY(m_form->QueryChanged);
}

void tst_queryfiles::noPopupOutlivesItsDialog_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("dialog");
    QTest::addColumn<QString>("name"); // of an existing file that the dialog's filter shows
    QTest::addColumn<QString>("before"); // "result": run a select first; "history": an entry

    QTest::newRow("Load Query") << "SpeedButton7"
                                << "OpenDialog1"
                                << "existing.sql"
                                << "";
    QTest::newRow("Save Query, overwrite refused") << "SpeedButton8"
                                                   << "SaveDialog2"
                                                   << "existing.sql"
                                                   << "";
    QTest::newRow("the save before Make this the current query") << "SpeedButton10"
                                                                 << "SaveDialog2"
                                                                 << "existing.sql"
                                                                 << "history";
    QTest::newRow("comma-quote export") << "SpeedButton5"
                                        << "SaveDialog1"
                                        << "existing.txt"
                                        << "result";
    QTest::newRow("report export") << "SpeedButton6"
                                   << "SaveDialog1"
                                   << "existing.txt"
                                   << "result";
}

void tst_queryfiles::noPopupOutlivesItsDialog()
{
    QFETCH(QString, command);
    QFETCH(QString, dialog);
    QFETCH(QString, name);
    QFETCH(QString, before);

    const QString file = path(name);
    writeBytes(file, "select 1\r\n");
    QList<ModalScript::Answer> answers;
    if (before == QLatin1String("result")) {
        // An export needs a result; its extract dialog comes first.
        m_form->setDBParms(PgServer::loginText(QStringLiteral("me"), QStringLiteral("pw")));
        m_form.chooseAlias(QStringLiteral("FILESLITE"));
        m_form->setEditorText(QStringLiteral("select id, name from t"));
        click("SpeedButton1");
        QVERIFY(m_form.waitIdle());
        QVERIFY(m_form->CurrentQuery);
        answers << ModalScript::accept();
    } else if (before == QLatin1String("history")) {
        // The changed query is saved first, over the file without a question.
        m_form->AddToHistory({ QStringLiteral("select 2") });
        m_form->setEditorText(QStringLiteral("select 3"));
        answers << ModalScript::press(QMessageBox::Yes);
    }
    const int typed = int(answers.size());
    answers << typeAndReturn(file);
    if (command == QLatin1String("SpeedButton8"))
        answers << ModalScript::press(QMessageBox::No); // the overwrite question
    {
        ModalScript script(answers);
        click(qPrintable(command));
        QVERIFY(script.done());
        QCOMPARE(script.unexpected, 0);
        QCOMPARE(script.seen.at(typed).className, QStringLiteral("QFileDialog"));
    }
    auto *fileDialog = m_form.child<QFileDialog>(qPrintable(dialog));
    QVERIFY(!fileDialog->isVisible());
    if (before == QLatin1String("history"))
        QCOMPARE(readBytes(file), QByteArray("select 3\r\n"));

    // No list of the dialog is left on screen, so the next click reaches the window: here the
    // Load Query button, pressed through the window as the window system delivers a click.
    QCOMPARE(QApplication::activePopupWidget(), nullptr);
    for (const QCompleter *completer : fileDialog->findChildren<QCompleter *>())
        QVERIFY(!completer->popup()->isVisible());
    m_form->QueryChanged = false;
    ModalScript next({ ModalScript::reject() });
    auto *load = m_form.child<QToolButton>("SpeedButton7");
    QTest::mouseClick(m_form->windowHandle(), Qt::LeftButton, Qt::NoModifier,
        load->mapTo(m_form.form(), load->rect().center()));
    QVERIFY(next.done());
    QCOMPARE(next.seen.constFirst().className, QStringLiteral("QFileDialog"));
}

STELVIK_TEST_MAIN(tst_queryfiles)
#include "tst_queryfiles.moc"
