#include "app/Unit1.h"

// The history store and its page: filled in by the history work.
void TForm1::LoadHistory() { }
void TForm1::AddToHistory(const QStringList &) { }
void TForm1::SaveHistory() { }
void TForm1::ComboBox2Change(QObject *) { }
void TForm1::SpeedButton10Click(QObject *) { }
void TForm1::SpeedButton11Click(QObject *) { }
void TForm1::setupHistory() { }
