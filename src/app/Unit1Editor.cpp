#include "app/EditorCommands.h"
#include "app/QueryFiles.h"
#include "app/Unit1.h"
#include "history/HistoryStore.h"
#include "ui_Unit1.h"
#include "widgets/ReplaceDialog.h"

QStringList TForm1::EditorLines() const
{
    return EditorCommands::linesOf(ui->RE1);
}

QString TForm1::EditorText() const
{
    return HistoryStore::joinLines(EditorLines());
}

void TForm1::setEditorText(const QString &text)
{
    m_editor->replaceText(text);
    RE1Change(ui->RE1);
}

EditorAccess TForm1::editorAccess()
{
    return { [this] { return EditorLines(); }, [this] { return EditorText(); },
        [this](const QString &text) { setEditorText(text); }, &QueryChanged };
}

void TForm1::setupEditor()
{
    ReplaceDialog1 = new TReplaceDialog(this); // owned by the window
    m_editor = new EditorCommands(this, ui->RE1, ReplaceDialog1, // owned by the window (Qt parent)
        [this](int &key, Qt::KeyboardModifiers shift) { RE1KeyDown(ui->RE1, key, shift); });
    wire(ReplaceDialog1, &TReplaceDialog::Replace, &TForm1::ReplaceDialog1Replace);
}

void TForm1::RE1Change(QObject *)
{
    QueryChanged = true;
}

void TForm1::RE1KeyDown(QObject *Sender, int &Key, Qt::KeyboardModifiers Shift)
{
    if (Key == Qt::Key_V && Shift.testFlag(Qt::ControlModifier)) {
        Paste1Click(Sender);
        Key = 0;
    }
}

void TForm1::Undo1Click(QObject *)
{
    m_editor->undo();
}

void TForm1::Copy1Click(QObject *)
{
    m_editor->copy();
}

void TForm1::Cut1Click(QObject *)
{
    m_editor->cut();
}

void TForm1::Paste1Click(QObject *)
{
    m_editor->paste();
}

void TForm1::SelectAll1Click(QObject *)
{
    m_editor->selectAll();
}

void TForm1::Font2Click(QObject *)
{
    m_editor->chooseFont();
}

void TForm1::FindReplace1Click(QObject *)
{
    m_editor->showFindReplace();
}

void TForm1::ReplaceDialog1Replace(QObject *)
{
    setEditorText(m_editor->replaced(EditorText()));
}

void TForm1::refuseNulCharacter() const
{
    EditorCommands::refuseNulCharacter(EditorLines());
}

void TForm1::SpeedButton7Click(QObject *)
{
    m_queryFiles->load();
}

void TForm1::SpeedButton8Click(QObject *)
{
    m_queryFiles->save();
}

void TForm1::SpeedButton9Click(QObject *)
{
    m_queryFiles->printQuery(m_options.printer);
}
