#include "app/Unit1.h"

// Result output: filled in by the export work.
void TForm1::Button4Click(QObject *) { }
void TForm1::Button5Click(QObject *) { }
void TForm1::Button6Click(QObject *) { }
void TForm1::PopupMenu2Popup(QObject *) { }
void TForm1::CopyFieldtoClipboard1Click(QObject *) { }
void TForm1::CopyEntireRowtoclipboard1Click(QObject *) { }
void TForm1::CopyEntireRowCommaQuote1Click(QObject *) { }
void TForm1::setupExport() { }
