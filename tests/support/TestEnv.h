#pragma once

#include <QString>
#include <QStringList>
#include <QtTest>

#include <memory>

class Connection;
class Session;

// A private environment for every test process: HOME, the XDG folders and unixODBC's ini files
// point into a fresh temporary folder, so the user's settings and data sources stay untouched.
namespace TestEnv {

// Points HOME, XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_CACHE_HOME, ODBCINI (= <root>/odbc.ini) and
// ODBCSYSINI (= <root>/sys, holding a copy of the system's odbcinst.ini and an empty odbc.ini)
// at a fresh temporary folder, and LC_CTYPE at C.UTF-8 when no character set is chosen (the
// driver manager hands SQL text to SQLite in that set). Must run before the QCoreApplication
// exists. Idempotent. The folder is removed at exit. The session bus address points nowhere,
// unless tests/keyring-session started the process inside a private bus of its own.
void setUp();
QString root();

// Creates the SQLite database <root>/<dsn>.db, runs the statements in it (sqlite3 CLI) and
// registers the user data source `dsn` (Driver=SQLite3, Database=<file>, StepAPI=1).
// Returns the database file's path. Throws std::runtime_error on failure.
QString addSqliteDsn(const QString &dsn, const QStringList &statements = {});

// Writes a user data source with the driver and KEY=VALUE pairs through the installer API and
// makes later look-ups in this process see it. Throws std::runtime_error on failure.
void writeUserDsn(
    const QString &dsn, const QString &driver, const QList<QPair<QString, QString>> &keys);

// The database engine's session the program under test uses: the one tests hand to what they
// build, so that no test looks it up itself.
Session &session();

// A connection to the data source, not yet open, registered with session() so that datasets find
// it by name.
std::unique_ptr<Connection> connection(const QString &dsn);

} // namespace TestEnv

// Like QTEST_MAIN / QTEST_GUILESS_MAIN, but TestEnv::setUp() runs first.
#define STELVIK_TEST_MAIN(TestClass)                                                               \
    QTEST_MAIN_WRAPPER(TestClass, TestEnv::setUp(); QTEST_MAIN_SETUP())
#define STELVIK_TEST_GUILESS_MAIN(TestClass)                                                       \
    QTEST_MAIN_WRAPPER(TestClass, TestEnv::setUp(); QTEST_QAPP_SETUP(QCoreApplication))
