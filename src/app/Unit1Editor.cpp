#include "app/Unit1.h"

// Editor commands, query files, printing, find and replace: filled in by the editor work.
QString TForm1::EditorText() const { return QString(); }
QStringList TForm1::EditorLines() const { return QStringList(); }
void TForm1::setEditorText(const QString &) { }
void TForm1::SpeedButton7Click(QObject *) { }
void TForm1::SpeedButton8Click(QObject *) { }
void TForm1::SpeedButton9Click(QObject *) { }
void TForm1::RE1Change(QObject *) { }
void TForm1::RE1KeyDown(QObject *, int &, Qt::KeyboardModifiers) { }
void TForm1::Undo1Click(QObject *) { }
void TForm1::Copy1Click(QObject *) { }
void TForm1::Cut1Click(QObject *) { }
void TForm1::Paste1Click(QObject *) { }
void TForm1::SelectAll1Click(QObject *) { }
void TForm1::Font2Click(QObject *) { }
void TForm1::FindReplace1Click(QObject *) { }
void TForm1::ReplaceDialog1Replace(QObject *) { }
void TForm1::setupEditor() { }
