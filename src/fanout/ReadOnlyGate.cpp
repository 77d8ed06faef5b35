#include "fanout/ReadOnlyGate.h"

#include "sql/SqlStatements.h"

namespace ReadOnlyGate {

QString refusal(const QString &text, Sql::Dialect dialect)
{
    const QVector<Sql::Statement> statements = Sql::splitStatements(text, dialect);
    if (statements.isEmpty())
        return QStringLiteral("There is no statement to run.");
    if (statements.size() > 1)
        return QStringLiteral("Only one statement runs on several aliases at once; the text holds "
                              "%1 (line %2 begins the second).")
            .arg(statements.size())
            .arg(statements[1].line);
    const Sql::Statement &statement = statements.front();
    if (!statement.open.isEmpty())
        return QStringLiteral("The statement does not end: %1 is left open.").arg(statement.open);
    // Reading is all it may do; a session setting or a transaction command changes the
    // connection, and an unknown effect may change anything.
    const Sql::Effects beyondReading = statement.effects & ~Sql::Effects(Sql::Reads);
    if (statement.kind != Sql::StatementKind::Query || beyondReading != 0)
        return QStringLiteral("Only a statement that reads runs on several aliases at once; this "
                              "one is a %1 that %2.")
            .arg(Sql::kindName(statement.kind),
                beyondReading ? Sql::effectsText(beyondReading) : QStringLiteral("does not read"));
    return QString();
}

} // namespace ReadOnlyGate
