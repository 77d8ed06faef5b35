#pragma once

#include <QString>
#include <QVector>

#include <exception>
#include <stdexcept>

// One ODBC diagnostic record: for DB2 the native code is the SQLCODE.
struct DiagnosticRecord
{
    QString sqlState;
    int nativeError = 0;
    QString message;
};

// A failure of the database engine: its text joins every ODBC diagnostic record of the failing
// handle, in order, trailing white space trimmed; the SQLSTATE and native code are the first
// record's. Thrown below the UI, caught by the connect routine, the worker's run and the
// handlers' guard. what() is the message in UTF-8, as for every exception of this program.
class DatabaseError : public std::runtime_error
{
public:
    explicit DatabaseError(
        const QString &message, const QString &sqlState = QString(), int nativeError = 0)
        : std::runtime_error(message.toStdString())
        , m_message(message)
        , m_sqlState(sqlState)
        , m_nativeError(nativeError)
    { }
    DatabaseError(const QString &message, QVector<DiagnosticRecord> records)
        : DatabaseError(message, records.isEmpty() ? QString() : records.first().sqlState,
            records.isEmpty() ? 0 : records.first().nativeError)
    {
        m_records = std::move(records);
    }

    QString message() const { return m_message; }
    // Every diagnostic record of the failing handle, in order; empty for our own failures.
    const QVector<DiagnosticRecord> &records() const { return m_records; }
    QString sqlState() const { return m_sqlState; }
    int nativeError() const { return m_nativeError; }

private:
    QString m_message;
    QString m_sqlState;
    int m_nativeError = 0;
    QVector<DiagnosticRecord> m_records;
};

// The display text of any caught exception. Every exception this program throws carries its text
// as UTF-8 (std::runtime_error built from QString::toStdString()), so no encoding is guessed at a
// catch site.
inline QString errorText(const std::exception &error)
{
    if (const auto *database = dynamic_cast<const DatabaseError *>(&error))
        return database->message();
    return QString::fromUtf8(error.what());
}
