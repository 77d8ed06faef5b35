#pragma once

#include "connection/StatementParameters.h"
#include "sql/SqlMarkers.h"

#include <QString>
#include <QVector>

class ConnectionHandle;

// The procedure a CALL statement calls ("CALL schema.proc(?, :x)" or "{call proc(?)}") and
// which of its arguments each marker is, so that the procedure's OUT parameters are bound as
// output and never asked for.
namespace CallParameters {

struct Target
{
    QString schema; // as the catalog spells it; empty when the call names none
    QString name; // empty: the statement is no call
    // Per occurrence of the markers: the argument (from 0) it alone makes up, -1 when it is part
    // of a larger argument.
    QVector<int> arguments;
    int argumentCount = 0; // of the call as written

    bool isCall() const { return !name.isEmpty(); }
};

// The call's procedure and arguments; an unquoted name folded as the dialect's catalog keeps it.
Target target(QStringView text, const Sql::Markers &markers, Sql::Dialect dialect);

// The direction of each value of markers (by markers.names), from the procedure's parameters:
// a value whose first marker alone makes up an argument takes that parameter's direction, any
// other value is an input.
QVector<ParameterDirection> directions(
    const Target &target, const Sql::Markers &markers, const QVector<ProcedureParameter> &declared);

} // namespace CallParameters

// The parameters of the procedure schema.name as the alias's database declares them, in order;
// empty when it does not say. driver: the ODBC driver the alias's data source names (DB2 answers
// from its catalog, choosing among procedures of one name by argumentCount). Any thread but the
// UI thread: it takes the connection's turn for its catalog query (so call it without).
QVector<ProcedureParameter> callParameters(ConnectionHandle &connection, const QString &driver,
    const QString &schema, const QString &name, int argumentCount);
