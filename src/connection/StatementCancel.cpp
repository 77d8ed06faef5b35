#include "connection/StatementCancel.h"

bool StatementCancel::cancel()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_cancelled.store(true);
    if (m_statement == SQL_NULL_HSTMT)
        return true;
    return SQL_SUCCEEDED(SQLCancel(m_statement));
}

bool StatementCancel::attach(SQLHSTMT statement)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_cancelled.load())
        return false;
    m_statement = statement;
    return true;
}

void StatementCancel::detach()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_statement = SQL_NULL_HSTMT;
}
