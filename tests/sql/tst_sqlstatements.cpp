#include "sql/ErrorPlace.h"
#include "sql/SqlStatements.h"

#include <QTest>

using Sql::Statement;
using Sql::StatementKind;

// Each statement as "line|kind|text", with "!" after the kind for an unfiltered UPDATE/DELETE.
static QStringList describe(const QString &sql)
{
    QStringList out;
    for (const Statement &s : Sql::splitStatements(sql)) {
        out << QStringLiteral("%1|%2%3|%4")
                   .arg(s.line)
                   .arg(Sql::kindName(s.kind), s.unfiltered ? QStringLiteral("!") : QString(),
                       sql.mid(s.begin, s.end - s.begin));
    }
    return out;
}

class tst_sqlstatements : public QObject
{
    Q_OBJECT

private slots:
    void split_data();
    void split();
    void piecesCoverTheText();
    void statementAtCursor_data();
    void statementAtCursor();
    void qualifiedNames_data();
    void qualifiedNames();
    void errorPlace_data();
    void errorPlace();
};

void tst_sqlstatements::split_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QStringList>("statements");
    QTest::newRow("one, no terminator") << "select 1" << QStringList { "1|query|select 1" };
    QTest::newRow("terminators in string, comment, name")
        << "select ';' from t -- ;\n/* ; */ where \"a;b\" = 1; values 2"
        << QStringList { "1|query|select ';' from t -- ;\n/* ; */ where \"a;b\" = 1",
               "2|query|values 2" };
    QTest::newRow("empty statements and leading comments")
        << ";;\n-- first\n;  insert into t values (1);;\n"
        << QStringList { "3|change|insert into t values (1)" };
    QTest::newRow("CR LF lines") << "select 1;\r\n\r\ndelete from t;\r\n"
                                 << QStringList { "1|query|select 1", "3|change!|delete from t" };
    QTest::newRow("comment at the end without newline")
        << "update t set a = 1 where b = 2 -- done"
        << QStringList { "1|change|update t set a = 1 where b = 2" };
    QTest::newRow("WHERE only in a subquery")
        << "UPDATE t SET a = (SELECT b FROM u WHERE u.id = t.id);"
           "DELETE FROM t WHERE x IN (SELECT y FROM z)"
        << QStringList { "1|change!|UPDATE t SET a = (SELECT b FROM u WHERE u.id = t.id)",
               "1|change|DELETE FROM t WHERE x IN (SELECT y FROM z)" };
    QTest::newRow("kinds") << "WITH c AS (SELECT 1 FROM x) SELECT * FROM c; (select 1);"
                              "merge into t using u on 1=1 when matched then delete;"
                              "truncate table t immediate; Create table x (a int);"
                              "grant select on t to u; call p(1); set schema s; commit"
                           << QStringList { "1|query|WITH c AS (SELECT 1 FROM x) SELECT * FROM c",
                                  "1|query|(select 1)",
                                  "1|change|merge into t using u on 1=1 when matched then delete",
                                  "1|change|truncate table t immediate",
                                  "1|definition|Create table x (a int)",
                                  "1|definition|grant select on t to u", "1|call|call p(1)",
                                  "1|session|set schema s", "1|transaction|commit" };
    QTest::newRow("set terminator for compound SQL")
        << "select 1;\n--#SET TERMINATOR @\ncreate trigger x after insert on t\n"
           "begin atomic update u set n = n + 1; end@\n--#SET TERMINATOR ;\nselect 2;"
        << QStringList { "1|query|select 1",
               "3|definition|create trigger x after insert on t\nbegin atomic update u set n = n "
               "+ 1; end",
               "6|query|select 2" };
    QTest::newRow("only comments") << "-- nothing\n/* at all */ ;" << QStringList {};
}

void tst_sqlstatements::split()
{
    QFETCH(QString, sql);
    QFETCH(QStringList, statements);
    QCOMPARE(describe(sql), statements);
}

// Every offset of the text belongs to exactly one statement's piece, in order.
void tst_sqlstatements::piecesCoverTheText()
{
    const QString sql = QStringLiteral(";; -- a\nselect 1; ;\n\nselect 2 ; -- tail\n");
    const QVector<Statement> statements = Sql::splitStatements(sql);
    QCOMPARE(statements.size(), 2);
    QCOMPARE(statements.first().from, 0);
    QCOMPARE(statements[0].to, statements[1].from);
    QCOMPARE(statements.last().to, sql.size());
}

void tst_sqlstatements::statementAtCursor_data()
{
    QTest::addColumn<QString>("sql"); // | marks the cursor
    QTest::addColumn<int>("statement");
    QTest::newRow("inside the first") << "sel|ect 1;\nselect 2;" << 0;
    QTest::newRow("just after a terminator") << "select 1;|\nselect 2;" << 0;
    QTest::newRow("blank after a terminator") << "select 1;  |  select 2;" << 0;
    QTest::newRow("next line") << "select 1;\n|\nselect 2;" << 1;
    QTest::newRow("start of the next") << "select 1;\n|select 2;" << 1;
    QTest::newRow("end of the text") << "select 1;\nselect 2;\n\n|" << 1;
    QTest::newRow("leading comment") << "|-- c\nselect 1" << 0;
    QTest::newRow("no statement") << "-- c|" << -1;
}

void tst_sqlstatements::statementAtCursor()
{
    QFETCH(QString, sql);
    QFETCH(int, statement);
    const int cursor = int(sql.indexOf(u'|'));
    sql.remove(cursor, 1);
    QCOMPARE(Sql::statementAt(sql, Sql::splitStatements(sql), cursor), statement);
}

void tst_sqlstatements::qualifiedNames_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("plain and lower case") << "select * from t301dba.orders o join P201DBA.X on 1=1"
                                          << QStringList { "T301DBA.ORDERS@14", "P201DBA.X@36" };
    QTest::newRow("delimited") << "select * from \"T302DBA\".\"a\"\"b\""
                               << QStringList { "T302DBA.a\"b@14" };
    QTest::newRow("not in comments or strings")
        << "-- T301DBA.A\nselect 'P201DBA.B' /* T303DBA.C */ from s . t"
        << QStringList { "S.T@53" };
}

void tst_sqlstatements::qualifiedNames()
{
    QFETCH(QString, sql);
    QFETCH(QStringList, names);
    QStringList found;
    for (const Sql::QualifiedName &name : Sql::qualifiedNames(sql))
        found << QStringLiteral("%1.%2@%3").arg(name.schema, name.object).arg(name.offset);
    QCOMPARE(found, names);
}

void tst_sqlstatements::errorPlace_data()
{
    QTest::addColumn<QString>("sql"); // | marks where the message points; none: nowhere
    QTest::addColumn<QString>("message");
    QTest::newRow("SQLite near a word") << "select a |t where x = 'fro t'"
                                        << "[SQLite]near \"t\": syntax error (1)";
    QTest::newRow("SQLite first word") << "|selec a from t"
                                       << "near \"selec\": syntax error (1)";
    QTest::newRow("PostgreSQL at or near, not in a comment")
        << "-- fro\nselect a |fro t"
        << "ERROR: syntax error at or near \"fro\";\nError while executing";
    QTest::newRow("PostgreSQL end of input") << "select a from t where|  -- c"
                                             << "ERROR: syntax error at end of input";
    QTest::newRow("a character position") << "select |* fro t"
                                          << "syntax error\nPosition: 8";
    QTest::newRow("a character position past named markers, counted in the driver's text")
        << "select :note, :note + ?, |* fro t"
        << "syntax error\nPosition: 18";
    QTest::newRow("DB2 SQL0104N after the text before it")
        << "select fro, a |fro t"
        << "SQL0104N  An unexpected token \"fro\" was found following \"select fro, a \".  "
           "Expected tokens may include:  \"FROM\".  SQLSTATE=42601";
    QTest::newRow("no place named") << "select a from t"
                                    << "no such table: t";
    QTest::newRow("a token named that occurs twice") << "select a from t where a = = 1"
                                                     << "near \"=\": syntax error";
    QTest::newRow("DB2 context picks the second occurrence")
        << "select a from t where a = |= 1"
        << "SQL0104N  An unexpected token \"=\" was found following \"where a = \".";
}

void tst_sqlstatements::errorPlace()
{
    QFETCH(QString, sql);
    QFETCH(QString, message);
    const int expected = int(sql.indexOf(u'|'));
    sql.remove(u'|');
    QCOMPARE(Sql::errorPlace(sql, message), expected);
}

QTEST_GUILESS_MAIN(tst_sqlstatements)
#include "tst_sqlstatements.moc"
