#pragma once

#include <QString>

class QWidget;

// The question asked before a statement may change a production database, or every row of a
// table: on an alias the setting "ProductionAliases" names, any statement that changes data or
// definitions or calls a routine at any level, or whose effect is not known (it fails closed);
// on any alias, when "ConfirmUnfilteredChanges" is true, an UPDATE or DELETE without a WHERE at
// its own level, at any level of a statement. The text is read in the alias's dialect. No is the
// default and Esc means No. UI thread.
namespace GuardRails {

// True when the statements may run: nothing needed asking, or the user said Yes.
bool confirm(QWidget *parent, const QString &alias, bool production, const QString &text);

} // namespace GuardRails
