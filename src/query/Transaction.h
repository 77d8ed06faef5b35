#pragma once

#include <QDateTime>
#include <QString>

#include <memory>

class ConnectionHandle;

// The work a window has open on one connection while auto-commit is off: the alias and the
// connection it runs on, when its first statement started and how many statements started in it
// since (every Run or Exec, a select or a failed one too: each may hold locks). Owned by
// QueryControl; UI thread only.
class Transaction
{
public:
    bool isOpen() const { return m_statements > 0; }
    QString alias() const { return m_alias; }
    QDateTime since() const { return m_since; }
    int statements() const { return m_statements; }
    // The connection that holds the work; null once it was closed.
    std::shared_ptr<ConnectionHandle> connection() const { return m_connection.lock(); }
    bool holds(const std::shared_ptr<ConnectionHandle> &connection) const;
    // The server has rolled the work back: its connection failed or was closed.
    bool lost() const;

    // A statement starts on that connection: it opens the work or joins it. Work open on another
    // connection is replaced (the caller has asked about it or found it lost).
    void noteStatement(const QString &alias, const std::shared_ptr<ConnectionHandle> &connection,
        const QDateTime &now = QDateTime::currentDateTime());
    // The work moves to a connection that took the place of the one it began on.
    void moveTo(const std::shared_ptr<ConnectionHandle> &connection);
    // A commit or rollback ended the first `statements`; any that started after it are new work.
    void ended(int statements, const QDateTime &now = QDateTime::currentDateTime());
    // The statement that started last was cancelled before it ended: it is no part of the work.
    void dropStatement();
    void clear();

    // "Uncommitted work on <alias> since hh:mm:ss (n statements)"; empty while none is open.
    QString statusText() const;
    // What to tell the user when the connection went with the work still open.
    QString lostText() const;

private:
    QString m_alias;
    QDateTime m_since;
    int m_statements = 0;
    std::weak_ptr<ConnectionHandle> m_connection; // never keeps a closed connection open
};
