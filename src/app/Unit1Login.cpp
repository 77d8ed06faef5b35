#include "app/Unit1.h"

// Login and the choice of database: filled in by the login work.
QString TForm1::getDBParms() { return CachedParms; }
void TForm1::setDBParms(const QString &text) { CachedParms = text; }
bool TForm1::ConnectDatabase(const QString &) { return false; }
void TForm1::SelectDatabaseFromSQL() { }
void TForm1::SpeedButton12Click(QObject *) { }
