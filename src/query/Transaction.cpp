#include "query/Transaction.h"

#include "connection/ConnectionHandle.h"

bool Transaction::holds(const std::shared_ptr<ConnectionHandle> &connection) const
{
    return isOpen() && connection && m_connection.lock() == connection;
}

bool Transaction::lost() const
{
    if (!isOpen())
        return false;
    const std::shared_ptr<ConnectionHandle> connection = m_connection.lock();
    return !connection || !connection->isAlive();
}

void Transaction::noteStatement(
    const QString &alias, const std::shared_ptr<ConnectionHandle> &connection, const QDateTime &now)
{
    if (!holds(connection)) {
        clear();
        m_alias = alias;
        m_since = now;
        m_connection = connection;
    }
    ++m_statements;
}

void Transaction::moveTo(const std::shared_ptr<ConnectionHandle> &connection)
{
    if (isOpen() && connection)
        m_connection = connection;
}

void Transaction::ended(int statements, const QDateTime &now)
{
    if (m_statements <= statements) {
        clear();
        return;
    }
    m_statements -= statements;
    m_since = now;
}

void Transaction::dropStatement()
{
    if (m_statements <= 1)
        clear();
    else
        --m_statements;
}

void Transaction::clear()
{
    m_alias.clear();
    m_since = QDateTime();
    m_statements = 0;
    m_connection.reset();
}

QString Transaction::statusText() const
{
    if (!isOpen())
        return QString();
    return QStringLiteral("Uncommitted work on %1 since %2 (%3 %4)")
        .arg(m_alias, m_since.toString(QStringLiteral("hh:mm:ss")))
        .arg(m_statements)
        .arg(m_statements == 1 ? QStringLiteral("statement") : QStringLiteral("statements"));
}

QString Transaction::lostText() const
{
    return QStringLiteral("The connection to %1 was lost. The server rolled back the uncommitted "
                          "work begun at %2 (%3 %4); run those statements again.")
        .arg(m_alias, m_since.toString(QStringLiteral("hh:mm:ss")))
        .arg(m_statements)
        .arg(m_statements == 1 ? QStringLiteral("statement") : QStringLiteral("statements"));
}
