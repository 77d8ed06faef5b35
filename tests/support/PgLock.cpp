#include "support/PgLock.h"

#include "connection/QueryDataset.h"
#include "support/PgServer.h"
#include "support/SessionConnection.h"
#include "support/TestEnv.h"

#include <stdexcept>

PgLock::PgLock(const QString &dsn, qint64 key)
    : m_key(key)
    , m_connection(TestEnv::session(), dsn)
{
    PgServer &pg = PgServer::instance();
    m_connection.Params = pg.loginParams();
    m_connection.OpenConnection();
    m_hold = std::make_unique<QueryDataset>();
    m_hold->setConnection(dsn, sessionConnection(dsn));
    m_hold->setSql(QStringLiteral("select pg_try_advisory_lock(%1) as held").arg(key));
    m_hold->OpenQuery();
    m_hold->GoFirst();
    const QString held = m_hold->FieldString(0);
    if (held.compare(QLatin1String("true"), Qt::CaseInsensitive) != 0 && held != QLatin1String("1"))
        throw std::runtime_error(
            QStringLiteral("advisory lock %1 not taken: %2").arg(key).arg(held).toStdString());
}

PgLock::~PgLock()
{
    try {
        release();
    } catch (const std::exception &) {
        // Closing the connection below ends the session, which frees the lock as well.
    }
}

void PgLock::release()
{
    if (!m_hold)
        return;
    if (m_connection.IsConnected()) {
        QueryDataset unlock;
        unlock.setConnection(
            m_connection.DatabaseName, sessionConnection(m_connection.DatabaseName));
        unlock.setSql(QStringLiteral("select pg_advisory_unlock(%1) as freed").arg(m_key));
        unlock.OpenQuery();
        unlock.Close();
    }
    // After a logout this lets go of the last use of the connection: its session ends, and the
    // server frees the lock with it.
    m_hold.reset();
    m_connection.Close();
}

QString PgLock::waitFor(qint64 key)
{
    return QStringLiteral("pg_advisory_xact_lock(%1)").arg(key);
}
