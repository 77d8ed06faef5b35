#include "app/Unit1.h"

// Run, Exec and Close: filled in by the statement-running work.
void TForm1::CloseCurrentQuery() { }
void TForm1::QueryFinished(TQthread *) { }
void TForm1::Button1Click(QObject *) { }
void TForm1::Button3Click(QObject *) { }
void TForm1::Button2Click(QObject *) { }
void TForm1::startStatement(bool) { }
void TForm1::BindGrid() { }
void TForm1::UnbindGrid() { }
void TForm1::setupGrid() { }
