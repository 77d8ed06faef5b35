#pragma once

// The floor every fetch and export figure is measured against: a plain column-wise bound fetch
// of 1000-row blocks through the driver manager that keeps nothing.

#include <QElapsedTimer>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sql.h>
#include <sqlext.h>
#include <vector>

struct FloorRun
{
    double rowsPerSecond = 0;
    long rows = 0;
};

inline void floorCheck(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const char *what)
{
    if (SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA)
        return;
    SQLCHAR state[6], message[1024];
    SQLINTEGER native;
    SQLSMALLINT length;
    SQLGetDiagRec(type, handle, 1, state, &native, message, sizeof message, &length);
    std::fprintf(stderr, "%s failed: %s\n", what, message);
    std::exit(1);
}

// Connects, runs the statement, fetches every row and disconnects; the whole of it is timed.
inline FloorRun floorFetch(
    const QString &dsn, const QString &user, const QString &password, const char *sql)
{
    QElapsedTimer timer;
    timer.start();
    SQLHENV env;
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLHDBC dbc;
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    const QByteArray d = dsn.toUtf8(), u = user.toUtf8(), p = password.toUtf8();
    floorCheck(SQLConnect(dbc, (SQLCHAR *)d.data(), SQL_NTS, (SQLCHAR *)u.data(), SQL_NTS,
                   (SQLCHAR *)p.data(), SQL_NTS),
        SQL_HANDLE_DBC, dbc, "connect");
    SQLHSTMT stmt;
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
    const SQLULEN block = 1000;
    SQLULEN fetched = 0;
    SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(block), 0);
    SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
    floorCheck(SQLExecDirect(stmt, (SQLCHAR *)sql, SQL_NTS), SQL_HANDLE_STMT, stmt, "execute");
    SQLSMALLINT columns = 0;
    SQLNumResultCols(stmt, &columns);
    std::vector<std::vector<char>> buffers(columns);
    std::vector<std::vector<SQLLEN>> indicators(columns);
    for (SQLUSMALLINT i = 0; i < columns; ++i) {
        SQLSMALLINT type, digits, nullable, nameLength;
        SQLULEN size;
        SQLCHAR name[128];
        SQLDescribeCol(
            stmt, i + 1, name, sizeof name, &nameLength, &type, &size, &digits, &nullable);
        SQLSMALLINT cType = SQL_C_CHAR;
        SQLLEN width = SQLLEN(std::min<SQLULEN>(size, 256) + 1);
        switch (type) {
        case SQL_INTEGER:
        case SQL_SMALLINT:
        case SQL_BIGINT:
            cType = SQL_C_SBIGINT, width = 8;
            break;
        case SQL_DOUBLE:
        case SQL_FLOAT:
        case SQL_REAL:
            cType = SQL_C_DOUBLE, width = 8;
            break;
        case SQL_TYPE_DATE:
            cType = SQL_C_TYPE_DATE, width = sizeof(SQL_DATE_STRUCT);
            break;
        case SQL_TYPE_TIMESTAMP:
            cType = SQL_C_TYPE_TIMESTAMP, width = sizeof(SQL_TIMESTAMP_STRUCT);
            break;
        case SQL_DECIMAL:
        case SQL_NUMERIC:
            width = 48;
            break;
        default:
            cType = SQL_C_WCHAR, width = SQLLEN(std::min<SQLULEN>(size, 256) + 1) * 2;
        }
        buffers[i].resize(std::size_t(width) * block);
        indicators[i].resize(block);
        SQLBindCol(stmt, i + 1, cType, buffers[i].data(), width, indicators[i].data());
    }
    FloorRun run;
    for (;;) {
        const SQLRETURN rc = SQLFetch(stmt);
        if (rc == SQL_NO_DATA)
            break;
        floorCheck(rc, SQL_HANDLE_STMT, stmt, "fetch");
        run.rows += long(fetched);
    }
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    run.rowsPerSecond = run.rows / (timer.nsecsElapsed() / 1e9);
    return run;
}
