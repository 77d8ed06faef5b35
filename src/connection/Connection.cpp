#include "connection/Connection.h"

#include "connection/ConnectionHandle.h"
#include "connection/Session.h"

namespace {

// The value of the KEY=VALUE line whose key equals key (ignoring case), or empty.
QString paramValue(const QStringList &params, const QString &key)
{
    for (const QString &line : params) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals >= 0 && line.left(equals).trimmed().compare(key, Qt::CaseInsensitive) == 0) {
            QString value = line.mid(equals + 1);
            while (value.endsWith(QLatin1Char('\n')) || value.endsWith(QLatin1Char('\r')))
                value.chop(1);
            return value;
        }
    }
    return QString();
}

} // namespace

Connection::Connection(Session &session, const QString &databaseName)
    : DatabaseName(databaseName)
    , m_session(session)
{
    m_session.registerConnection(this);
}

Connection::~Connection()
{
    m_session.unregisterConnection(this);
}

void Connection::OpenConnection()
{
    if (IsConnected())
        return;
    m_handle.reset();
    m_handle = opener(0)();
}

std::function<std::shared_ptr<ConnectionHandle>()> Connection::opener(int loginTimeoutSeconds) const
{
    return [dsn = DatabaseName, user = paramValue(Params, QStringLiteral("USER NAME")),
               password = paramValue(Params, QStringLiteral("PASSWORD")), loginTimeoutSeconds] {
        return std::make_shared<ConnectionHandle>(dsn, user, password, loginTimeoutSeconds);
    };
}

void Connection::adopt(std::shared_ptr<ConnectionHandle> handle)
{
    if (handle)
        m_handle = std::move(handle);
}

bool Connection::IsConnected() const
{
    return m_handle && m_handle->isAlive();
}

void Connection::Close()
{
    m_handle.reset();
}

std::shared_ptr<ConnectionHandle> Connection::handle() const
{
    return IsConnected() ? m_handle : nullptr;
}
