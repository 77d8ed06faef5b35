#include "app/Unit1.h"
#include "support/ModalScript.h"
#include "support/SettingsFile.h"
#include "support/TestEnv.h"
#include "support/WindowFixture.h"
#include "widgets/ReplaceDialog.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QFontDialog>
#include <QImage>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextLayout>
#include <QToolButton>

#include <functional>
#include <memory>

namespace {

using Answers = QList<ModalScript::Answer>;

ModalScript::Answer button(QMessageBox::StandardButton which)
{
    return ModalScript::press(which);
}

ModalScript::Answer chooseFile(const QString &path)
{
    return ModalScript::chooseFile(path);
}

ModalScript::Answer reject()
{
    return ModalScript::reject();
}

ModalScript::Answer acceptDialog()
{
    return ModalScript::accept();
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

// pdftotext / pdfinfo output for a printed file.
QString runPoppler(const QString &tool, const QString &pdf)
{
    QProcess process;
    QStringList args { pdf };
    if (tool == QLatin1String("pdftotext"))
        args << QStringLiteral("-");
    process.start(tool, args);
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        qFatal("%s failed on %s (poppler-utils is needed)", qPrintable(tool), qPrintable(pdf));
    return QString::fromUtf8(process.readAllStandardOutput());
}

QString pdfInfo(const QString &pdf, const QString &field)
{
    for (const QString &line : runPoppler(QStringLiteral("pdfinfo"), pdf).split(QLatin1Char('\n')))
        if (line.startsWith(field + QLatin1Char(':')))
            return line.mid(field.size() + 1).trimmed();
    return QString();
}

const QString kTitle = QStringLiteral("Morvane version .99M");

} // namespace

class tst_Editor : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void editorText_data();
    void editorText();
    void typedAndWrappedLines();
    void longLines_data();
    void longLines();
    void changeTracking_data();
    void changeTracking();

    void pasteWithOnlyAnImage();
    void pasteKeys_data();
    void pasteKeys();
    void copy_data();
    void copy();

    void fileRoundTrip();
    void loadPrompt_data();
    void loadPrompt();
    void saveOverExistingFile_data();
    void saveOverExistingFile();
    void fileErrors();

    void printQuery_data();
    void printQuery();
    void printCancelled();

    void historySurvivesRestart();
    void unreadableHistoryValue();
    void fontAndReplaceDialog();
    void emptyHistoryPage();
    void makeCurrent_data();
    void makeCurrent();

private:
    template <typename T>
    T *child(const char *name) const
    {
        return m_form.child<T>(name);
    }
    QPlainTextEdit *editor() const { return child<QPlainTextEdit>("RE1"); }
    void click(const char *name) { child<QToolButton>(name)->click(); }
    void trigger(const char *name) { child<QAction>(name)->trigger(); }
    QString path(const QString &name) const { return m_dir->filePath(name); }

    WindowFixture m_form;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_Editor::init()
{
    SettingsFile().clear();
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(m_form.open());
    QCOMPARE(m_form->QueryChanged, false);
}

void tst_Editor::cleanup()
{
    m_form.close();
    m_dir.reset();
}

void tst_Editor::editorText_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("lines");
    QTest::newRow("empty") << QString() << QString() << 0;
    QTest::newRow("one line, no break")
        << QStringLiteral("select 1") << QStringLiteral("select 1\r\n") << 1;
    QTest::newRow("final break not a line")
        << QStringLiteral("select 1\r\n") << QStringLiteral("select 1\r\n") << 1;
    QTest::newRow("LF, CR and CR LF")
        << QStringLiteral("a\nb\rc\r\nd") << QStringLiteral("a\r\nb\r\nc\r\nd\r\n") << 4;
    QTest::newRow("empty last line")
        << QStringLiteral("a\r\n\r\n") << QStringLiteral("a\r\n\r\n") << 2;
    QTest::newRow("only a break") << QStringLiteral("\r\n") << QStringLiteral("\r\n") << 1;
    QTest::newRow("blank lines inside")
        << QStringLiteral("\r\n\r\nx") << QStringLiteral("\r\n\r\nx\r\n") << 3;
}

void tst_Editor::editorText()
{
    QFETCH(QString, given);
    QFETCH(QString, text);
    QFETCH(int, lines);
    m_form->setEditorText(given);
    QCOMPARE(m_form->EditorText(), text);
    QCOMPARE(m_form->EditorLines().size(), lines);
    // Setting the whole text counts as one change, even to the same text.
    QCOMPARE(m_form->QueryChanged, true);
    m_form->setEditorText(m_form->EditorText());
    QCOMPARE(m_form->EditorText(), text);
}

void tst_Editor::typedAndWrappedLines()
{
    editor()->setFocus();
    QTest::keyClicks(editor(), QStringLiteral("select *"));
    QTest::keyClick(editor(), Qt::Key_Return);
    QTest::keyClicks(editor(), QStringLiteral("from t"));
    QTest::keyClick(editor(), Qt::Key_Return, Qt::ShiftModifier); // a line break in the block
    QTest::keyClicks(editor(), QStringLiteral("where 1 = 1"));
    QTest::keyClick(editor(), Qt::Key_Return);
    QCOMPARE(m_form->EditorText(), QStringLiteral("select *\r\nfrom t\r\nwhere 1 = 1\r\n"));

    // A line far wider than the editor wraps on screen but stays one line of the statement.
    const QString wide = QStringLiteral("select ") + QStringLiteral("column_name, ").repeated(40);
    m_form->setEditorText(wide);
    QVERIFY(editor()->document()->firstBlock().layout()->lineCount() > 1);
    QCOMPARE(m_form->EditorLines(), QStringList { wide });
}

void tst_Editor::longLines_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("from"); // the cursor, with the selection from `to`
    QTest::addColumn<int>("to");
    QTest::addColumn<int>("key"); // pressed `times` times; V with Ctrl
    QTest::addColumn<int>("times");
    QTest::addColumn<bool>("unwrapped");
    const QString line(15000, QLatin1Char('a'));
    QTest::newRow("two 15,000-character lines joined")
        << line + "\n" + line << 15000 << 15000 << int(Qt::Key_Delete) << 1 << true;
    QTest::newRow("15,000 characters pasted twice") << "" << 0 << 0 << int(Qt::Key_V) << 2 << true;
    QTest::newRow("shortened by Backspace")
        << QString(20050, 'a') << 20050 << 20050 << int(Qt::Key_Backspace) << 100 << false;
    QTest::newRow("split by Return")
        << QString(30000, 'a') << 15000 << 15000 << int(Qt::Key_Return) << 1 << false;
    QTest::newRow("cut from its middle into the next line")
        << QString(25000, 'a') + "\nshort" << 19000 << 25003 << int(Qt::Key_Delete) << 1 << false;
}

void tst_Editor::longLines()
{
    QFETCH(QString, text);
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(int, key);
    QFETCH(int, times);
    QFETCH(bool, unwrapped);
    QGuiApplication::clipboard()->setText(QString(15000, QLatin1Char('p')));
    m_form->setEditorText(text);
    QTextCursor cursor(editor()->document());
    cursor.setPosition(to);
    cursor.setPosition(from, QTextCursor::KeepAnchor);
    editor()->setTextCursor(cursor);
    for (int i = 0; i < times; ++i)
        QTest::keyClick(
            editor(), Qt::Key(key), key == Qt::Key_V ? Qt::ControlModifier : Qt::NoModifier);
    QCOMPARE(editor()->lineWrapMode() == QPlainTextEdit::NoWrap, unwrapped);
}

void tst_Editor::changeTracking_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("before");
    QTest::addColumn<bool>("after");
    QTest::newRow("typing") << "type" << false << true;
    QTest::newRow("cut") << "cut" << false << true;
    QTest::newRow("paste") << "paste" << false << true;
    QTest::newRow("undo") << "undo" << false << true;
    QTest::newRow("load") << "load" << false << false;
    QTest::newRow("save") << "save" << true << false;
    QTest::newRow("history add") << "history" << true << false;
    QTest::newRow("history add, first line empty") << "history empty" << true << true;
    QTest::newRow("make current") << "make current" << false << true;
    QTest::newRow("replace, not found") << "replace none" << false << true;
    QTest::newRow("replace all") << "replace all" << false << true;
    QTest::newRow("copy") << "copy" << false << false;
    QTest::newRow("select all") << "select all" << false << false;
}

void tst_Editor::changeTracking()
{
    QFETCH(QString, action);
    QFETCH(bool, before);
    QFETCH(bool, after);

    m_form->setEditorText(QStringLiteral("select a.x\r\nfrom a\r\n"));
    writeBytes(path(QStringLiteral("q.sql")), "select 1\r\n");
    m_form->AddToHistory({ QStringLiteral("select 2") });
    editor()->selectAll();
    editor()->setFocus();
    QApplication::clipboard()->setText(QStringLiteral("pasted"));
    m_form->QueryChanged = before;

    std::unique_ptr<ModalScript> answers;
    if (action == QLatin1String("type")) {
        QTest::keyClick(editor(), Qt::Key_End);
        QTest::keyClicks(editor(), QStringLiteral("y"));
    } else if (action == QLatin1String("cut")) {
        trigger("Cut1");
    } else if (action == QLatin1String("paste")) {
        trigger("Paste1");
        QCOMPARE(m_form->EditorText(), QStringLiteral("pasted\r\n"));
    } else if (action == QLatin1String("undo")) {
        trigger("Undo1");
    } else if (action == QLatin1String("load")) {
        answers.reset(new ModalScript({ chooseFile(path(QStringLiteral("q.sql"))) }));
        click("SpeedButton7");
        QCOMPARE(m_form->EditorText(), QStringLiteral("select 1\r\n"));
    } else if (action == QLatin1String("save")) {
        answers.reset(new ModalScript({ chooseFile(path(QStringLiteral("new.sql"))) }));
        click("SpeedButton8");
        QVERIFY(QFile::exists(path(QStringLiteral("new.sql"))));
    } else if (action == QLatin1String("history")) {
        m_form->AddToHistory(m_form->EditorLines());
    } else if (action == QLatin1String("history empty")) {
        m_form->AddToHistory({ QString(), QStringLiteral("select 3") });
    } else if (action == QLatin1String("make current")) {
        click("SpeedButton10");
        QCOMPARE(m_form->EditorText(), QStringLiteral("select 2\r\n"));
    } else if (action.startsWith(QLatin1String("replace"))) {
        const bool all = action == QLatin1String("replace all");
        m_form->ReplaceDialog1->setFindText(all ? QStringLiteral("A.") : QStringLiteral("zzz"));
        m_form->ReplaceDialog1->setReplaceText(QStringLiteral("b."));
        m_form->ReplaceDialog1->show();
        m_form->ReplaceDialog1
            ->findChild<QPushButton *>(
                all ? QStringLiteral("ReplaceAllButton") : QStringLiteral("ReplaceButton"))
            ->click();
        QCOMPARE(m_form->EditorText(),
            all ? QStringLiteral("select b.x\r\nfrom a\r\n")
                : QStringLiteral("select a.x\r\nfrom a\r\n"));
    } else if (action == QLatin1String("copy")) {
        trigger("Copy1");
    } else if (action == QLatin1String("select all")) {
        trigger("SelectAll1");
        QCOMPARE(editor()->textCursor().selectedText().size(), editor()->toPlainText().size());
    }
    if (answers)
        QVERIFY(answers->done());
    QCOMPARE(m_form->QueryChanged, after);
}

void tst_Editor::pasteWithOnlyAnImage()
{
    m_form->setEditorText(QStringLiteral("select 1"));
    m_form->QueryChanged = false;
    QImage image(4, 4, QImage::Format_RGB32);
    image.fill(Qt::red);
    QApplication::clipboard()->setImage(image);
    trigger("Paste1");
    QCOMPARE(m_form->EditorText(), QStringLiteral("select 1\r\n"));
    QCOMPARE(m_form->QueryChanged, false);
    const QMimeData *data = QApplication::clipboard()->mimeData();
    QVERIFY(!data->hasImage());
    QCOMPARE(data->formats(), QStringList { QStringLiteral("text/plain") });
    QCOMPARE(data->text(), QString());
}

void tst_Editor::pasteKeys_data()
{
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("reduced"); // the plain-text rule ran
    QTest::newRow("Ctrl+V") << Qt::KeyboardModifiers(Qt::ControlModifier) << int(Qt::Key_V) << true;
    QTest::newRow("Ctrl+Shift+V") << (Qt::ControlModifier | Qt::ShiftModifier) << int(Qt::Key_V)
                                  << true;
    QTest::newRow("Ctrl+Alt+V") << (Qt::ControlModifier | Qt::AltModifier) << int(Qt::Key_V)
                                << true;
    QTest::newRow("Shift+Insert, the editor's own")
        << Qt::KeyboardModifiers(Qt::ShiftModifier) << int(Qt::Key_Insert) << false;
}

void tst_Editor::pasteKeys()
{
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(int, key);
    QFETCH(bool, reduced);

    auto *data = new QMimeData; // owned by the clipboard
    data->setHtml(QStringLiteral("<b>bold</b>"));
    data->setText(QStringLiteral("bold"));
    QApplication::clipboard()->setMimeData(data);
    editor()->setFocus();
    QTest::keyClick(editor(), Qt::Key(key), modifiers);

    // Pasted once, as plain text, whichever way.
    QCOMPARE(m_form->EditorText(), QStringLiteral("bold\r\n"));
    QCOMPARE(QApplication::clipboard()->mimeData()->hasHtml(), !reduced);
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("bold"));
}

void tst_Editor::copy_data()
{
    QTest::addColumn<bool>("selection");
    QTest::addColumn<QString>("clipboard");
    QTest::newRow("empty selection keeps the earlier text") << false << QStringLiteral("earlier");
    QTest::newRow("selection") << true << QStringLiteral("select 1");
}

void tst_Editor::copy()
{
    QFETCH(bool, selection);
    QFETCH(QString, clipboard);

    m_form->setEditorText(QStringLiteral("select 1"));
    if (selection)
        editor()->selectAll();
    auto *data = new QMimeData; // owned by the clipboard
    data->setHtml(QStringLiteral("<i>earlier</i>"));
    data->setText(QStringLiteral("earlier"));
    QApplication::clipboard()->setMimeData(data);
    trigger("Copy1");
    QCOMPARE(QApplication::clipboard()->mimeData()->formats(),
        QStringList { QStringLiteral("text/plain") });
    QCOMPARE(QApplication::clipboard()->text(), clipboard);
}

void tst_Editor::fileRoundTrip()
{
    // Three lines, one empty, one with a character of the 8-bit code page.
    const QByteArray bytes = QStringLiteral("select *\r\n\r\nwhere x = '\u00E9'\r\n").toLocal8Bit();
    writeBytes(path(QStringLiteral("a.sql")), bytes);
    ModalScript load({ chooseFile(path(QStringLiteral("a.sql"))) });
    click("SpeedButton7");
    QVERIFY(load.done());
    QCOMPARE(m_form->windowTitle(), kTitle + QStringLiteral(" [a.sql]"));
    QCOMPARE(m_form->EditorLines().size(), 3);
    QCOMPARE(m_form->QueryChanged, false);

    ModalScript save({ chooseFile(path(QStringLiteral("b.sql"))) });
    click("SpeedButton8");
    QVERIFY(save.done());
    QCOMPARE(readBytes(path(QStringLiteral("b.sql"))), bytes);
    QCOMPARE(m_form->windowTitle(), kTitle + QStringLiteral(" [b.sql]"));

    // An empty editor writes an empty file.
    m_form->setEditorText(QString());
    ModalScript empty({ chooseFile(path(QStringLiteral("c.sql"))) });
    click("SpeedButton8");
    QVERIFY(empty.done());
    QVERIFY(QFile::exists(path(QStringLiteral("c.sql"))));
    QCOMPARE(readBytes(path(QStringLiteral("c.sql"))), QByteArray());
}

void tst_Editor::loadPrompt_data()
{
    QTest::addColumn<QString>("answer"); // to "Query has changed"
    QTest::addColumn<bool>("saveCancelled");
    QTest::addColumn<bool>("openCancelled");
    QTest::addColumn<bool>("saved");
    QTest::addColumn<bool>("loaded");
    QTest::addColumn<QString>("title");
    QTest::newRow("Yes, saved, loaded")
        << "Yes" << false << false << true << true << kTitle + QStringLiteral(" [in.sql]");
    QTest::newRow("Yes, save cancelled") << "Yes" << true << false << false << false << kTitle;
    QTest::newRow("Yes, saved, open cancelled")
        << "Yes" << false << true << true << false << kTitle + QStringLiteral(" [out.sql]");
    QTest::newRow("No, loaded") << "No" << false << false << false << true
                                << kTitle + QStringLiteral(" [in.sql]");
    QTest::newRow("No, open cancelled") << "No" << false << true << false << false << kTitle;
}

void tst_Editor::loadPrompt()
{
    QFETCH(QString, answer);
    QFETCH(bool, saveCancelled);
    QFETCH(bool, openCancelled);
    QFETCH(bool, saved);
    QFETCH(bool, loaded);
    QFETCH(QString, title);

    writeBytes(path(QStringLiteral("in.sql")), "select 'in'\r\n");
    m_form->setEditorText(QStringLiteral("select 'typed'"));
    QVERIFY(m_form->QueryChanged);

    Answers actions;
    const bool yes = answer == QLatin1String("Yes");
    actions.append(button(yes ? QMessageBox::Yes : QMessageBox::No));
    if (yes)
        actions.append(saveCancelled ? reject() : chooseFile(path(QStringLiteral("out.sql"))));
    if (!(yes && saveCancelled))
        actions.append(openCancelled ? reject() : chooseFile(path(QStringLiteral("in.sql"))));
    ModalScript answers(std::move(actions));
    click("SpeedButton7");
    QVERIFY(answers.done());

    QCOMPARE(answers.seen.first().title, QStringLiteral("WARNING"));
    QCOMPARE(
        answers.seen.first().text, QStringLiteral("Query has changed, do you wish to save it?"));
    QCOMPARE(answers.seen.first().icon, QMessageBox::Warning);
    QCOMPARE(QFile::exists(path(QStringLiteral("out.sql"))), saved);
    if (saved)
        QCOMPARE(readBytes(path(QStringLiteral("out.sql"))), QByteArray("select 'typed'\r\n"));
    QCOMPARE(m_form->EditorText(),
        loaded ? QStringLiteral("select 'in'\r\n") : QStringLiteral("select 'typed'\r\n"));
    QCOMPARE(m_form->windowTitle(), title);
    QCOMPARE(m_form->QueryChanged, !(saved || loaded));

    // Loaded or saved: the next load asks nothing.
    if (!m_form->QueryChanged) {
        ModalScript again({ reject() });
        click("SpeedButton7");
        QCOMPARE(again.seen.size(), qsizetype(1));
        QCOMPARE(again.seen.first().className, QStringLiteral("QFileDialog"));
    }
}

void tst_Editor::saveOverExistingFile_data()
{
    QTest::addColumn<bool>("overwrite");
    QTest::newRow("Yes") << true;
    QTest::newRow("No") << false;
}

void tst_Editor::saveOverExistingFile()
{
    QFETCH(bool, overwrite);
    const QString target = path(QStringLiteral("old.sql"));
    writeBytes(target, "old\r\n");
    m_form->setEditorText(QStringLiteral("new"));

    ModalScript answers(
        { chooseFile(target), button(overwrite ? QMessageBox::Yes : QMessageBox::No) });
    click("SpeedButton8");
    QVERIFY(answers.done());
    QCOMPARE(answers.seen.at(1).title, QStringLiteral("File Exists"));
    QCOMPARE(answers.seen.at(1).text,
        QDir::toNativeSeparators(target) + QStringLiteral(" Exists, Overwrite? "));
    QCOMPARE(answers.seen.at(1).icon, QMessageBox::Question);
    QCOMPARE(readBytes(target), overwrite ? QByteArray("new\r\n") : QByteArray("old\r\n"));
    QCOMPARE(m_form->windowTitle(), overwrite ? kTitle + QStringLiteral(" [old.sql]") : kTitle);
    QCOMPARE(m_form->QueryChanged, !overwrite);
}

void tst_Editor::fileErrors()
{
    m_form->setEditorText(QStringLiteral("select 1"));
    const QString unwritable = path(QStringLiteral("missing/dir/x.sql"));
    ModalScript save({ chooseFile(unwritable), acceptDialog() });
    click("SpeedButton8");
    QVERIFY(save.done());
    QCOMPARE(save.seen.at(1).text,
        QStringLiteral("Cannot create file %1.").arg(QDir::toNativeSeparators(unwritable)));
    QCOMPARE(m_form->windowTitle(), kTitle);
    QCOMPARE(m_form->QueryChanged, true);

    // The save offered before a load fails the same way, and no open dialog follows.
    ModalScript offered({ button(QMessageBox::Yes), chooseFile(unwritable), acceptDialog() });
    click("SpeedButton7");
    QVERIFY(offered.done());
    QCOMPARE(offered.seen.size(), qsizetype(3));
    QVERIFY(offered.seen.at(2).text.startsWith(QStringLiteral("Cannot create file")));

    const QString absent = path(QStringLiteral("absent.sql"));
    ModalScript load({ button(QMessageBox::No), chooseFile(absent), acceptDialog() });
    click("SpeedButton7");
    QVERIFY(load.done());
    QCOMPARE(load.seen.at(2).text,
        QStringLiteral("Cannot open file %1.").arg(QDir::toNativeSeparators(absent)));
    QCOMPARE(m_form->EditorText(), QStringLiteral("select 1\r\n"));
    QCOMPARE(m_form->windowTitle(), kTitle);
    QCOMPARE(m_form->QueryChanged, true);
}

void tst_Editor::printQuery_data()
{
    QTest::addColumn<bool>("fromHistory");
    QTest::addColumn<int>("lines");
    QTest::newRow("editor, short") << false << 3;
    QTest::newRow("editor, several pages") << false << 150;
    QTest::newRow("history, short") << true << 3;
    QTest::newRow("history, several pages") << true << 150;
}

void tst_Editor::printQuery()
{
    QFETCH(bool, fromHistory);
    QFETCH(int, lines);

    QStringList statement { QStringLiteral("select") };
    for (int i = 1; i < lines; ++i)
        statement << QStringLiteral("  col%1,").arg(i);
    const QString pdf = path(QStringLiteral("out.pdf"));
    QPrinter printer;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    m_form->setOptions({ false, &printer });

    writeBytes(path(QStringLiteral("p.sql")), "x\r\n");
    ModalScript load({ chooseFile(path(QStringLiteral("p.sql"))) });
    click("SpeedButton7"); // the title now names a file
    QVERIFY(load.done());
    if (fromHistory) {
        m_form->AddToHistory(statement);
        ModalScript none;
        click("SpeedButton11");
        QVERIFY(none.seen.isEmpty()); // no print dialog
    } else {
        m_form->setEditorText(statement.join(QLatin1Char('\n')));
        m_form->QueryChanged = false;
        ModalScript dialog({ acceptDialog() });
        click("SpeedButton9");
        QVERIFY(dialog.done());
        QCOMPARE(dialog.seen.first().className, QStringLiteral("QPrintDialog"));
        QCOMPARE(m_form->QueryChanged, false);
    }

    QVERIFY(QFile::exists(pdf));
    const QString text = runPoppler(QStringLiteral("pdftotext"), pdf);
    for (const QString &line : statement)
        QVERIFY2(text.contains(line.trimmed()), qPrintable(line));
    const int pages = pdfInfo(pdf, QStringLiteral("Pages")).toInt();
    QVERIFY(lines > 100 ? pages > 1 : pages == 1);
    QCOMPARE(pdfInfo(pdf, QStringLiteral("Title")),
        fromHistory ? QString() : kTitle + QStringLiteral(" [p.sql]"));
    m_form->setOptions(WindowFixture::options());
}

void tst_Editor::printCancelled()
{
    const QString pdf = path(QStringLiteral("never.pdf"));
    QPrinter printer;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    m_form->setOptions({ false, &printer });
    m_form->setEditorText(QStringLiteral("select 1"));
    ModalScript dialog({ reject() });
    trigger("Print1");
    QVERIFY(dialog.done());
    QVERIFY(!QFile::exists(pdf));
    m_form->setOptions(WindowFixture::options());
}

void tst_Editor::historySurvivesRestart()
{
    m_form->AddToHistory({ QStringLiteral("select 1"), QStringLiteral("from a") });
    m_form->AddToHistory({ QStringLiteral("select 2") });
    auto *box = child<QComboBox>("ComboBox2");
    QCOMPARE(box->count(), 2);
    QCOMPARE(box->currentIndex(), 0);
    QCOMPARE(child<QPlainTextEdit>("HistFullSQL")->toPlainText(), QStringLiteral("select 2"));

    QVERIFY(m_form.open(WindowFixture::Shown::No));
    box = child<QComboBox>("ComboBox2");
    QCOMPARE(box->count(), 2);
    QCOMPARE(box->itemText(1), QStringLiteral("select 1"));
    QCOMPARE(m_form->HistoryList.at(1).Object.FullText, QStringLiteral("select 1\r\nfrom a\r\n"));
    // Picking an entry shows its whole text.
    box->setCurrentIndex(1);
    emit box->activated(1);
    QCOMPARE(
        child<QPlainTextEdit>("HistFullSQL")->toPlainText(), QStringLiteral("select 1\nfrom a"));
}

void tst_Editor::unreadableHistoryValue()
{
    m_form.close();
    {
        SettingsFile settings;
        settings.setValue(QStringLiteral("History9"), QStringLiteral("select 9"));
        settings.setValue(QStringLiteral("History4"), QByteArray("select 4"));
        settings.setValue(QStringLiteral("History0"), QStringLiteral("select 0"));
    }
    ModalScript errorBox({ acceptDialog() });
    QVERIFY(m_form.open(WindowFixture::Shown::No));
    QVERIFY(errorBox.done());
    QCOMPARE(errorBox.seen.first().text, QStringLiteral("Invalid data type for 'History4'"));
    // The value is skipped, the others load and are shown; it stays stored behind them.
    QCOMPARE(m_form->HistoryList.size(), 2);
    auto *box = child<QComboBox>("ComboBox2");
    QCOMPARE(box->count(), 2);
    m_form->AddToHistory({ QStringLiteral("select new") });
    QCOMPARE(box->count(), 3);
    QCOMPARE(box->itemText(2), QStringLiteral("select 9"));
    QCOMPARE(
        SettingsFile().value(QStringLiteral("History3")).toByteArray(), QByteArray("select 4"));
}

void tst_Editor::fontAndReplaceDialog()
{
    const int before = editor()->font().pointSize();
    QFont chosen;
    ModalScript fontDialog({ [&](QWidget *w) {
        auto *dialog = qobject_cast<QFontDialog *>(w);
        QCOMPARE(dialog->currentFont().pointSize(), before); // opens with the editor's font
        QFont font = dialog->currentFont();
        font.setPointSize(before + 7);
        dialog->setCurrentFont(font);
        chosen = dialog->currentFont();
        dialog->accept();
    } });
    trigger("Font2");
    QVERIFY(fontDialog.done());
    QCOMPARE(editor()->font().pointSize(), before + 7);
    QCOMPARE(editor()->font(), chosen);

    // The replace dialog is modeless: the command returns with the dialog open.
    trigger("FindReplace1");
    QVERIFY(m_form->ReplaceDialog1->isVisible());
    QVERIFY(!m_form->ReplaceDialog1->isModal());
    trigger("FindReplace1");
    QVERIFY(m_form->ReplaceDialog1->isVisible());
}

void tst_Editor::emptyHistoryPage()
{
    QCOMPARE(child<QComboBox>("ComboBox2")->count(), 0);
    QCOMPARE(child<QComboBox>("ComboBox2")->currentIndex(), -1);
    QVERIFY(child<QPlainTextEdit>("HistFullSQL")->toPlainText().isEmpty());

    const QString pdf = path(QStringLiteral("none.pdf"));
    QPrinter printer;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    m_form->setOptions({ false, &printer });
    auto *pages = child<QTabWidget>("PageControl1");
    pages->setCurrentIndex(2);
    m_form->setEditorText(QStringLiteral("select 1"));
    ModalScript none;
    click("SpeedButton10");
    click("SpeedButton11");
    QVERIFY(none.seen.isEmpty());
    QCOMPARE(pages->currentIndex(), 2);
    QCOMPARE(m_form->EditorText(), QStringLiteral("select 1\r\n"));
    QVERIFY(!QFile::exists(pdf));
    m_form->setOptions(WindowFixture::options());
}

void tst_Editor::makeCurrent_data()
{
    QTest::addColumn<bool>("changed");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("saveCancelled");
    QTest::newRow("unchanged editor") << false << QString() << false;
    QTest::newRow("changed, No") << true << "No" << false;
    QTest::newRow("changed, Yes, saved") << true << "Yes" << false;
    QTest::newRow("changed, Yes, save cancelled") << true << "Yes" << true;
}

void tst_Editor::makeCurrent()
{
    QFETCH(bool, changed);
    QFETCH(QString, answer);
    QFETCH(bool, saveCancelled);

    const QString target = path(QStringLiteral("keep.sql"));
    writeBytes(target, "old\r\n"); // overwritten without asking
    writeBytes(path(QStringLiteral("t.sql")), "select 'file'\r\n");
    ModalScript load({ chooseFile(path(QStringLiteral("t.sql"))) });
    click("SpeedButton7");
    QVERIFY(load.done());
    m_form->AddToHistory({ QStringLiteral("select 'history'"), QStringLiteral("from h") });
    if (changed)
        m_form->setEditorText(QStringLiteral("select 'typed'"));
    auto *pages = child<QTabWidget>("PageControl1");
    pages->setCurrentIndex(2);
    const QString titleBefore = m_form->windowTitle();

    Answers actions;
    if (changed)
        actions.append(button(answer == QLatin1String("Yes") ? QMessageBox::Yes : QMessageBox::No));
    if (answer == QLatin1String("Yes"))
        actions.append(saveCancelled ? reject() : chooseFile(target));
    ModalScript answers(std::move(actions));
    click("SpeedButton10");
    QVERIFY(answers.done());

    if (saveCancelled) {
        QCOMPARE(m_form->EditorText(), QStringLiteral("select 'typed'\r\n"));
        QCOMPARE(m_form->windowTitle(), titleBefore);
        QCOMPARE(pages->currentIndex(), 2);
        QCOMPARE(readBytes(target), QByteArray("old\r\n"));
        return;
    }
    QCOMPARE(readBytes(target),
        answer == QLatin1String("Yes") ? QByteArray("select 'typed'\r\n") : QByteArray("old\r\n"));
    QCOMPARE(m_form->EditorText(), QStringLiteral("select 'history'\r\nfrom h\r\n"));
    QCOMPARE(m_form->windowTitle(), kTitle);
    QCOMPARE(m_form->QueryChanged, true);
    QCOMPARE(pages->currentIndex(), 0);
}

STELVIK_TEST_MAIN(tst_Editor)
#include "tst_editor.moc"
