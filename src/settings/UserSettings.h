#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <cstddef>
#include <optional>

// Every value the program reads from the user's settings (and the one it reads from the DB2
// client's machine-wide settings), as one table of name, default and type, with a typed getter
// per value. Each getter keeps that value's own rule for what it stores. Read on the UI thread
// (the credential choice on the credentials thread) and handed down: the libraries below the
// window read no setting themselves. Stateless; every call opens the settings afresh
// (openUserSettings(), ParmStore.h).
namespace UserSettings {

// The names the user's settings are filed under (native format, user scope).
QString organization();
QString application();

enum class Type {
    Text, // any text; the getter says what it accepts
    Bool,
    Whole, // a whole number, stored as text or number
    Names, // a list, or one text of names separated by commas, semicolons or blanks
    Bytes, // the toolkit's binary value
    Series, // one text value per number: the name is a pattern with %1
    PerAlias, // one value per alias: the name is a pattern with %1, the alias in upper case
};

struct Key
{
    QString name;
    QVariant fallback; // what an unset value reads as; invalid: unset means something of its own
    Type type;
    bool machineWide = false; // the DB2 client's settings, not the user's
};

// The whole table, in the order of the names.
const QList<Key> &table();

// "AutoCommit": true unless the text is "false" (any case) or "0", blanks ignored; unset: true.
bool autoCommit();
// Stores it; throws std::runtime_error "Failed to set data for 'AutoCommit'" when not written.
void setAutoCommit(bool on);

// An alias as the per-alias names hold it: a to z in upper case, blanks trimmed.
QString aliasKey(const QString &alias);
// "CatalogDriverFunctions/<ALIAS>": the catalog of that alias is read with the driver's catalog
// functions instead of its own catalog SQL; unset: false.
bool catalogDriverFunctions(const QString &alias);
// "CatalogMaxAgeMinutes": a cached catalog older than this is read again in the background; a
// whole number, 0 or more; anything else: nullopt (the catalog's own default).
std::optional<int> catalogMaxAgeMinutes();
// "CatalogSchemas/<ALIAS>": the schemas whose names the catalog reads, a list or one text with
// commas; unset: every schema.
QStringList catalogSchemas(const QString &alias);
// "CatalogTimeout": seconds a catalog query may take, above 0; anything else: nullopt.
std::optional<int> catalogTimeout();
// "CompletionLetters": the letters typed before the editor offers names, 0 (never) to 50;
// unset or not a number: 3.
int completionLetters();
// "ConfirmUnfilteredChanges": the question about an UPDATE or DELETE without WHERE comes on every
// alias when set and true; unset or false, only as part of the production question.
bool confirmUnfilteredEverywhere();

// "CredentialStore": the keyring unless the text is "settings" (any case, blanks ignored).
bool credentialsInKeyring();

// "FanOutAliases": the aliases ticked when a statement last ran on several at once, a list or
// one text with commas; unset: none.
QStringList fanOutAliases();
// Stores them as one text with commas; throws std::runtime_error "Failed to set data for
// 'FanOutAliases'" when not written.
void setFanOutAliases(const QStringList &aliases);
// "HistoryKeep": the entries the history database keeps, a whole number above 0 (blanks
// ignored). Unset: nullopt. Anything else: nullopt, and the stored text in *rejected.
std::optional<int> historyKeep(std::optional<QString> *rejected = nullptr);

// "LoginTimeout": seconds, 0 or more; unset or anything else: 30.
int loginTimeout();

// "ProductionAliases": the names as stored, unchanged in case and blanks; unset: DB2P201, DB2P401.
QStringList productionAliases();

// "ResultMemoryMB": the bytes one result may keep in memory before the rest goes to a temporary
// file; a whole number of megabytes above 0 and below 2^30, else 256 MB.
std::size_t resultMemoryBytes();

// "SchemaMap": rows of equivalent schema names, as stored: a list of rows, or one text whose rows
// are separated by ";" or line breaks, the names of a row by commas (SchemaMap::parseRows reads
// them); unset: empty, and the window uses the family's first schema names as one row.
QStringList schemaMap();
// "ScriptContinueOnError": whether a script goes on after a failed statement; unset: false.
bool scriptContinueOnError();

// "WindowGeometry": the toolkit's geometry of the main window; empty when unset or not bytes.
QByteArray windowGeometry();
// Stores it; a failed write is dropped (the window is placed by default next time).
void setWindowGeometry(const QByteArray &geometry);

// "DB2 Path Name" of the DB2 client's machine-wide settings ("IBM"/"DB2", never created by
// reading): nullopt when unset. Throws std::runtime_error "Invalid data type for 'DB2 Path Name'"
// when the value is not text.
std::optional<QString> db2PathName();

} // namespace UserSettings
