#include "app/Unit1.h"

// The About page: filled in by the About work.
void TForm1::PageControl1Change(QObject *) { }
void TForm1::Timer1Timer(QObject *) { }
void TForm1::setupAbout() { }
