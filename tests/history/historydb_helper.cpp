// A second process on the history database, for the tests of two processes at once.
//   historydb_helper PATH record COUNT TAG  opens the database, prints "ready", waits for a line
//                                           on stdin, then records COUNT runs "select TAG <i>"
//   historydb_helper PATH lock              takes the write lock, prints "locked", holds it until
//                                           stdin gives a line or ends
#include "history/HistoryDb.h"

#include <QCoreApplication>
#include <QDateTime>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <sqlite3.h>
#include <string>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 3)
        return 2;
    const QString path = QString::fromLocal8Bit(argv[1]);
    std::string line;
    if (std::strcmp(argv[2], "lock") == 0) {
        sqlite3 *db = nullptr;
        if (sqlite3_open(argv[1], &db) != SQLITE_OK
            || sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
            return 3;
        std::printf("locked\n");
        std::fflush(stdout);
        std::getline(std::cin, line);
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        return 0;
    }
    if (std::strcmp(argv[2], "record") == 0 && argc == 5) {
        try {
            HistoryDb db(path);
            std::printf("ready\n");
            std::fflush(stdout);
            std::getline(std::cin, line);
            const int count = std::atoi(argv[3]);
            for (int i = 0; i < count; ++i) {
                HistoryRecord record;
                record.text =
                    QStringLiteral("select %1 %2\r\n").arg(QString::fromLocal8Bit(argv[4])).arg(i);
                record.alias = QStringLiteral("HELPER");
                record.startedMs = QDateTime::currentMSecsSinceEpoch();
                record.outcome = RunOutcome::Completed;
                db.insert(record, HistoryDb::DefaultKeep);
            }
            return 0;
        } catch (const std::exception &error) {
            std::fprintf(stderr, "%s\n", error.what());
            return 1;
        }
    }
    return 2;
}
