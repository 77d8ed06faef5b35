#pragma once

#include "catalog/CatalogSql.h"
#include "connection/StatementParameters.h"

#include <QString>
#include <QVector>

class ConnectionHandle;

// The parameters a CALL of a procedure binds, in order, with their directions and types. On DB2
// they come from the catalog (SYSCAT.ROUTINEPARMS): its driver's SQLProcedureColumns cannot tell
// apart procedures of one name that differ in their number of parameters, which the CALL's
// number of arguments chooses here. Elsewhere the driver's SQLProcedureColumns says.
namespace Catalog {

// The DB2 query; its rows: ROUTINESCHEMA, ROUTINENAME, SPECIFICNAME, PARMNAME, ORDINAL, ROWTYPE
// (P in, O out, B in and out), TYPENAME, LENGTH, SCALE, each procedure's parameters together
// and in order. schema and name as the catalog keeps them; no schema: the procedures of the
// schemas on the SQL path (CURRENT PATH), in the path's order, as DB2 finds an unqualified CALL.
QString routineParametersSql(const QString &schema, const QString &name);

// The parameters of the first procedure in the rows that takes argumentCount of them (any
// number when it is below 0); empty when none does.
QVector<ProcedureParameter> procedureParametersOfRows(const QVector<Row> &rows, int argumentCount);

// A name as the CALL writes it, as the catalog of that driver keeps it: on DB2 an unquoted name
// in upper case, a quoted one without its quotes.
QString catalogName(const QString &driver, const QString &written);

// The parameters of the procedure a CALL with argumentCount arguments runs, on a connection of
// an alias whose data source names driver: the DB2 query above on DB2, SQLProcedureColumns
// elsewhere (and on a DB2 without SYSCAT views). schema (may be empty) and name as the catalog
// keeps them (see catalogName). The caller holds the connection's turn. Empty when nothing is
// known.
QVector<ProcedureParameter> callParameters(ConnectionHandle &connection, const QString &driver,
    const QString &schema, const QString &name, int argumentCount);

} // namespace Catalog
