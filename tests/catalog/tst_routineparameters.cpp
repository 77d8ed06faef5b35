#include "catalog/RoutineParameters.h"
#include "connection/ConnectionHandle.h"
#include "connection/Session.h"
#include "support/PgServer.h"
#include "support/TestEnv.h"

#include <QtTest>

// A CALL's parameters on a server that is no DB2: the driver's SQLProcedureColumns, checked on
// the private PostgreSQL server (the DB2 catalog's rows are checked in tst_catalogsql).
class tst_RoutineParameters : public QObject
{
    Q_OBJECT

private slots:
    void fromDriver()
    {
        PgServer &server = PgServer::instance();
        server.addDsn(QStringLiteral("ROUTINEPG"), QStringLiteral("routines"));
        server.exec(QStringLiteral("create or replace procedure ship(in id int, inout amount "
                                   "numeric, inout note text) language plpgsql as $$ begin "
                                   "amount := amount * 2; note := note || '!'; end $$"),
            QStringLiteral("routines"));
        ConnectionHandle handle(QStringLiteral("ROUTINEPG"), server.user(), server.password());
        QStringList shown;
        for (const ProcedureParameter &parameter : Catalog::callParameters(
                 handle, TestEnv::session().AliasDriver("ROUTINEPG"), "public", "ship", 3))
            shown << parameter.name + '=' + QString::number(int(parameter.direction));
        QCOMPARE(shown, (QStringList { "id=0", "amount=2", "note=2" }));
    }
};

STELVIK_TEST_GUILESS_MAIN(tst_RoutineParameters)
#include "tst_routineparameters.moc"
