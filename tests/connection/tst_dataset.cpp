#include "connection/Connection.h"
#include "connection/ConnectionHandle.h"
#include "connection/DatabaseError.h"
#include "connection/QueryDataset.h"
#include "connection/StatementCancel.h"
#include "support/PgServer.h"
#include "support/SessionConnection.h"
#include "support/TestEnv.h"

#include <QtTest>

#include <atomic>
#include <clocale>
#include <memory>
#include <thread>

// The dataset through the real driver manager, on SQLite and on the private PostgreSQL server:
// type codes, default widths and text forms, nulls, lazy block fetching, walking, failures.
// Texts are checked in a German locale so that the decimal separator and date forms show.
class tst_dataset : public QObject
{
    Q_OBJECT

public:
    static void initMain() { qputenv("LC_ALL", "de_DE.UTF-8"); }

private slots:
    void initTestCase();
    void types_data();
    void types();
    void lazyFetchAndWalk_data();
    void lazyFetchAndWalk();
    void failingStatement_data();
    void failingStatement();
    void utf8Text_data();
    void utf8Text();
    void longValues_data();
    void longValues();
    void decimalText_data();
    void decimalText();
    void sampleDatabase_data();
    void sampleDatabase();
    void nulNeverSent_data();
    void nulNeverSent();
    void rowsetBudget_data();
    void rowsetBudget();
    void wideRows_data();
    void wideRows();
    void cancelWhileRunning_data();
    void cancelWhileRunning();
    void boundValues_data();
    void boundValues();
    void resultSets_data();
    void resultSets();
    void procedureOutputs();

private:
    std::unique_ptr<QueryDataset> open(const QString &dsn, const QString &sql);
    void exec(const QString &dsn, const QString &sql);

    std::unique_ptr<Connection> m_lite;
    std::unique_ptr<Connection> m_pg;
    std::unique_ptr<Connection> m_sample; // opened by the first sampleDatabase row
};

namespace {

const QString Lite = QStringLiteral("LITE");
const QString Pg = QStringLiteral("PGDATA");
constexpr int HugeRows = 100000;

// A recursive CTE that yields the numbers 1..n as column n.
QString numbers(int n)
{
    return QStringLiteral("with recursive seq(n) as (select 1 union all select n + 1 from seq "
                          "where n < %1) ")
        .arg(n);
}

} // namespace

void tst_dataset::initTestCase()
{
    setlocale(LC_CTYPE, "C.UTF-8");
    const QString types = QStringLiteral(
        "create table types(id integer primary key autoincrement, i int, s smallint, "
        "ti tinyint, b bigint, d decimal(10,2), f double, dt date, tm time, ts timestamp, "
        "v varchar(20), c char(3), m text, bl blob, bo boolean)");
    TestEnv::addSqliteDsn(Lite,
        { types,
            QStringLiteral(
                "insert into types(i, s, ti, b, d, f, dt, tm, ts, v, c, m, bl, bo) values"
                "(42, -7, 5, -1234567890123, 12.5, 1234.5678, '2001-12-31', "
                "'23:59:59', '2001-12-31 23:59:59', 'a \"b\", c''d', 'xy', 'memo text', "
                "X'01AB', 1)"),
            QStringLiteral("insert into types(i) values(null)"),
            QStringLiteral("create table midnight(ts timestamp)"),
            QStringLiteral("insert into midnight values('2001-12-31 00:00:00')"),
            QStringLiteral("create table utf(id int, v varchar(40))"),
            QStringLiteral("insert into utf values(1, 'Grüße aus Köln'), (2, '東京 € 5'), "
                           "(3, 'emoji 😀 end')"),
            QStringLiteral("create table big(id integer, name varchar(20))"),
            numbers(2500) + QStringLiteral("insert into big select n, 'row ' || n from seq"),
            QStringLiteral("create table huge(id integer, name varchar(20))"),
            numbers(HugeRows)
                + QStringLiteral("insert into huge select n, 'row ' || n from seq") });
    m_lite = TestEnv::connection(Lite);
    m_lite->OpenConnection();

    PgServer &server = PgServer::instance();
    server.addDsn(Pg, QStringLiteral("datasets"));
    server.exec(
        QStringLiteral(
            "create table types(id serial primary key, i int, s smallint, b bigint, "
            "d numeric(10,2), n numeric, f double precision, r real, dt date, tm time, "
            "ts timestamp, v varchar(20), c char(3), m text, bl bytea, bo boolean, u uuid);"
            "insert into types(i, s, b, d, n, f, r, dt, tm, ts, v, c, m, bl, bo, u) values"
            "(42, -7, -1234567890123, 12.345, 1.23456789, 1234.5678, 0.5, '2001-12-31', "
            "'23:59:59', '2001-12-31 23:59:59', 'a \"b\", c''d', 'xy', 'memo text', "
            "'\\x01ab', true, 'a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11');"
            "insert into types(i) values(null);"
            "create table midnight(ts timestamp);"
            "insert into midnight values('2001-12-31 00:00:00');"
            "create table utf(id int, v varchar(40));"
            "insert into utf values(1, 'Grüße aus Köln'), (2, '東京 € 5'), (3, 'emoji 😀 end');"
            "create table big(id integer, name varchar(20));"
            "insert into big select n, 'row ' || n from generate_series(1, 2500) n;"
            "create table huge as select n as id, 'row ' || n as name "
            "from generate_series(1, %1) n;")
            .arg(HugeRows),
        QStringLiteral("datasets"));
    m_pg = TestEnv::connection(Pg);
    m_pg->Params = server.loginParams();
    m_pg->OpenConnection();
}

std::unique_ptr<QueryDataset> tst_dataset::open(const QString &dsn, const QString &sql)
{
    auto query = std::make_unique<QueryDataset>();
    query->setConnection(dsn, sessionConnection(dsn));
    query->setSql(sql);
    query->OpenQuery();
    return query;
}

void tst_dataset::exec(const QString &dsn, const QString &sql)
{
    QueryDataset query;
    query.setConnection(dsn, sessionConnection(dsn));
    query.setSql(sql);
    query.ExecQuery();
}

void tst_dataset::types_data()
{
    QTest::addColumn<QString>("dsn");
    QTest::addColumn<QString>("column");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("text");

    QTest::newRow("sqlite auto-increment") << Lite << "id" << 14 << 10 << "1";
    QTest::newRow("sqlite integer") << Lite << "i" << 3 << 10 << "42";
    QTest::newRow("sqlite small integer") << Lite << "s" << 2 << 10 << "-7";
    QTest::newRow("sqlite tiny integer") << Lite << "ti" << 2 << 10 << "5";
    QTest::newRow("sqlite large integer") << Lite << "b" << 25 << 15 << "-1234567890123";
    QTest::newRow("sqlite decimal") << Lite << "d" << 8 << 11 << "12,5";
    QTest::newRow("sqlite float") << Lite << "f" << 6 << 10 << "1234,5678";
    QTest::newRow("sqlite date") << Lite << "dt" << 9 << 10 << "31.12.01";
    QTest::newRow("sqlite time") << Lite << "tm" << 10 << 10 << "23:59:59";
    QTest::newRow("sqlite timestamp") << Lite << "ts" << 11 << 18 << "31.12.01 23:59:59";
    QTest::newRow("sqlite varchar") << Lite << "v" << 1 << 20 << "a \"b\", c'd";
    QTest::newRow("sqlite char") << Lite << "c" << 1 << 3 << "xy";
    QTest::newRow("sqlite text") << Lite << "m" << 16 << 10 << "memo text";
    QTest::newRow("sqlite blob") << Lite << "bl" << 12 << 10 << "01AB";
    QTest::newRow("sqlite boolean") << Lite << "bo" << 5 << 5 << "True";

    QTest::newRow("pg serial") << Pg << "id" << 14 << 10 << "1";
    QTest::newRow("pg integer") << Pg << "i" << 3 << 10 << "42";
    QTest::newRow("pg small integer") << Pg << "s" << 2 << 10 << "-7";
    QTest::newRow("pg large integer") << Pg << "b" << 25 << 15 << "-1234567890123";
    QTest::newRow("pg numeric(10,2)") << Pg << "d" << 8 << 11 << "12,35";
    QTest::newRow("pg numeric") << Pg << "n" << 8 << 29 << "1,2346";
    QTest::newRow("pg double") << Pg << "f" << 6 << 10 << "1234,5678";
    QTest::newRow("pg real") << Pg << "r" << 6 << 10 << "0,5";
    QTest::newRow("pg date") << Pg << "dt" << 9 << 10 << "31.12.01";
    QTest::newRow("pg time") << Pg << "tm" << 10 << 10 << "23:59:59";
    QTest::newRow("pg timestamp") << Pg << "ts" << 11 << 18 << "31.12.01 23:59:59";
    QTest::newRow("pg varchar") << Pg << "v" << 1 << 20 << "a \"b\", c'd";
    QTest::newRow("pg char") << Pg << "c" << 1 << 3 << "xy ";
    QTest::newRow("pg text") << Pg << "m" << 16 << 10 << "memo text";
    QTest::newRow("pg bytea") << Pg << "bl" << 15 << 10 << "01AB";
    QTest::newRow("pg boolean") << Pg << "bo" << 5 << 5 << "True";
    QTest::newRow("pg uuid") << Pg << "u" << 0 << 10 << "A0EEBC99-9C0B-4EF8-BB6D-6BB9BD380A11";
}

void tst_dataset::types()
{
    QFETCH(QString, dsn);
    QFETCH(QString, column);
    QFETCH(int, type);
    QFETCH(int, width);
    QFETCH(QString, text);

    auto query = open(dsn, QStringLiteral("select %1 from types order by id").arg(column));
    QVERIFY(query->IsOpen());
    QCOMPARE(query->FieldCount(), 1);
    QCOMPARE(query->FieldTitle(0), column);
    QCOMPARE(query->FieldType(0), type);
    QCOMPARE(query->DisplayWidth(0), width);
    QCOMPARE(query->RecNo(), 0);
    QVERIFY(!query->FieldIsNull(0));
    QCOMPARE(query->FieldString(0), text);
    query->GoNext();
    QVERIFY(!query->AtEof());
    QCOMPARE(query->FieldIsNull(0), column != QLatin1String("id"));
    query->GoNext();
    QVERIFY(query->AtEof());

    query->setDisplayWidth(0, 33);
    QCOMPARE(query->DisplayWidth(0), 33);
}

void tst_dataset::lazyFetchAndWalk_data()
{
    QTest::addColumn<QString>("dsn");
    QTest::newRow("sqlite") << Lite;
    QTest::newRow("pg") << Pg;
}

void tst_dataset::lazyFetchAndWalk()
{
    QFETCH(QString, dsn);
    exec(dsn, QStringLiteral("create table walk as select * from big"));
    auto cleanup = qScopeGuard([&] { exec(dsn, QStringLiteral("drop table walk")); });

    auto query = open(dsn, QStringLiteral("select id, name from walk order by id"));
    // Only the first block was fetched at open.
    QCOMPARE(query->fetchedCount(), 1000);
    QVERIFY(!query->allFetched());

    int records = 0;
    for (query->GoFirst(); !query->AtEof(); query->GoNext()) {
        ++records;
        QCOMPARE(query->RecNo(), records - 1);
        if (query->FieldString(0) != QString::number(records))
            QFAIL(qPrintable(
                QStringLiteral("record %1 holds %2").arg(records).arg(query->FieldString(0))));
    }
    QCOMPARE(records, 2500);
    QVERIFY(query->allFetched());
    QCOMPARE(query->CountRecords(), 2500);

    // Going back reads the store: emptying the table does not change what we see.
    exec(dsn, QStringLiteral("delete from walk"));
    query->GoFirst();
    QVERIFY(!query->AtEof());
    QCOMPARE(query->FieldString(1), QStringLiteral("row 1"));
    QCOMPARE(query->text(2499, 1), QStringLiteral("row 2500"));
    query->setRecNo(1234);
    QCOMPARE(query->FieldString(0), QStringLiteral("1235"));

    // Counting without walking fetches the rest and leaves the current record alone.
    auto counted = open(dsn, QStringLiteral("select id from big where id <= 1500"));
    QCOMPARE(counted->CountRecords(), 1500);
    QCOMPARE(counted->RecNo(), 0);
    QVERIFY(counted->storeBytes() > 0);

    auto empty = open(dsn, QStringLiteral("select id from big where id < 0"));
    QVERIFY(empty->IsOpen());
    QVERIFY(empty->AtEof());
    QCOMPARE(empty->RecNo(), -1);
    QCOMPARE(empty->CountRecords(), 0);
    QCOMPARE(empty->FieldCount(), 1);

    query->Close();
    QVERIFY(!query->IsOpen());
    QCOMPARE(query->FieldCount(), 0);
}

void tst_dataset::failingStatement_data()
{
    QTest::addColumn<QString>("dsn");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("select");
    QTest::addColumn<QString>("message");

    QTest::newRow("sqlite missing table")
        << Lite << "select * from missing" << true << "no such table";
    QTest::newRow("sqlite syntax in exec")
        << Lite << "updte big set id = 1" << false << "syntax error";
    QTest::newRow("sqlite no result set")
        << Lite << "create table t1(x int)" << true << "returned no result set";
    QTest::newRow("pg missing table") << Pg << "select * from missing" << true << "does not exist";
    QTest::newRow("pg syntax in exec") << Pg << "updte big set id = 1" << false << "syntax error";
    QTest::newRow("pg division by zero")
        << Pg << "select 1 / (id - id) from big" << true << "division by zero";
    QTest::newRow("pg no result set")
        << Pg << "create table t1(x int)" << true << "returned no result set";
}

void tst_dataset::failingStatement()
{
    QFETCH(QString, dsn);
    QFETCH(QString, sql);
    QFETCH(bool, select);
    QFETCH(QString, message);

    QueryDataset query;
    query.setConnection(dsn, sessionConnection(dsn));
    query.setSql(sql);
    try {
        if (select)
            query.OpenQuery();
        else
            query.ExecQuery();
        QFAIL("no DatabaseError");
    } catch (const DatabaseError &error) {
        QVERIFY2(QString::fromLocal8Bit(error.what()).contains(message), error.what());
    }
    QVERIFY(!query.IsOpen());
    exec(dsn, QStringLiteral("drop table if exists t1"));

    // The connection is free for the next statement.
    auto next = open(dsn, QStringLiteral("select count(*) from big"));
    QCOMPARE(next->FieldString(0), QStringLiteral("2500"));
}

void tst_dataset::utf8Text_data()
{
    QTest::addColumn<QString>("dsn");
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("inSqlText");
    // The SQLite driver has no wide entry points: the driver manager converts SQL text for it
    // through UCS-2, which cannot carry characters outside the BMP. Stored ones read fine.
    QTest::newRow("sqlite umlauts") << Lite << 1 << QStringLiteral("Grüße aus Köln") << true;
    QTest::newRow("sqlite cjk and euro") << Lite << 2 << QStringLiteral("東京 € 5") << true;
    QTest::newRow("sqlite outside the BMP") << Lite << 3 << QStringLiteral("emoji 😀 end") << false;
    QTest::newRow("pg umlauts") << Pg << 1 << QStringLiteral("Grüße aus Köln") << true;
    QTest::newRow("pg cjk and euro") << Pg << 2 << QStringLiteral("東京 € 5") << true;
    QTest::newRow("pg outside the BMP") << Pg << 3 << QStringLiteral("emoji 😀 end") << true;
}

void tst_dataset::utf8Text()
{
    QFETCH(QString, dsn);
    QFETCH(int, id);
    QFETCH(QString, value);
    QFETCH(bool, inSqlText);

    auto stored = open(dsn, QStringLiteral("select v from utf where id = %1").arg(id));
    QCOMPARE(stored->FieldString(0), value);
    if (!inSqlText)
        return;
    exec(dsn, QStringLiteral("create table utf2(v varchar(40), m text)"));
    auto cleanup = qScopeGuard([&] { exec(dsn, QStringLiteral("drop table utf2")); });
    exec(dsn, QStringLiteral("insert into utf2 values('%1', '%1')").arg(value));
    auto query = open(dsn, QStringLiteral("select v, m, '%1' as lit from utf2").arg(value));
    QCOMPARE(query->FieldString(0), value);
    QCOMPARE(query->FieldString(1), value);
    QCOMPARE(query->FieldString(2), value);
    auto found = open(dsn, QStringLiteral("select count(*) from utf where v = '%1'").arg(value));
    QCOMPARE(found->FieldString(0), QStringLiteral("1"));
}

void tst_dataset::longValues_data()
{
    QTest::addColumn<QString>("dsn");
    QTest::addColumn<QString>("column");
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("readAhead"); // fetched by a walk's read-ahead thread
    for (const bool ahead : { false, true }) {
        const char *how = ahead ? ", read ahead" : "";
        QTest::addRow("sqlite text of 20000%s", how) << Lite << "m" << 20000 << ahead;
        QTest::addRow("sqlite varchar(5) holding more%s", how) << Lite << "v" << 300 << ahead;
        QTest::addRow("pg text of 20000%s", how) << Pg << "m" << 20000 << ahead;
        QTest::addRow("pg varchar of 300%s", how) << Pg << "v" << 300 << ahead;
    }
}

void tst_dataset::longValues()
{
    QFETCH(QString, dsn);
    QFETCH(QString, column);
    QFETCH(int, length);
    QFETCH(bool, readAhead);
    // SQLite keeps longer text than declared; PostgreSQL's unbounded varchar is reported at 255.
    exec(dsn,
        QStringLiteral("create table longs(id int, v varchar%1, m text)")
            .arg(dsn == Lite ? QStringLiteral("(5)") : QString()));
    auto cleanup = qScopeGuard([&] { exec(dsn, QStringLiteral("drop table longs")); });
    const QString value = QString(length - 1, QLatin1Char('x')) + QStringLiteral("é");
    exec(dsn, QStringLiteral("insert into longs values(1, 'short', 'short')"));
    exec(dsn, QStringLiteral("insert into longs(id, %1) values(2, '%2')").arg(column, value));
    exec(dsn, QStringLiteral("insert into longs values(3, null, null)"));

    // The three rows over and over, past the first block, with the column twice: two values
    // longer than their buffers in one row.
    auto query = open(dsn,
        QStringLiteral("with recursive s(n) as (select 0 union all select n + 1 from s "
                       "where n < 1500) select l.id, l.%1, l.%1 as again from s, longs l "
                       "where l.id = 1 + s.n % 3 order by s.n")
            .arg(column));
    if (readAhead) {
        QueryDataset::ReadAhead ahead(*query);
        for (query->GoFirst(); !query->AtEof(); query->GoNext()) { }
        ahead.finish();
    } else {
        query->CountRecords(); // fetched on this thread
    }
    for (const int row : { 0, 1200 }) {
        for (const int field : { 1, 2 }) {
            QCOMPARE(query->text(row, field), QStringLiteral("short"));
            QCOMPARE(query->text(row + 1, field).size(), value.size());
            QCOMPARE(query->text(row + 1, field), value);
            QVERIFY(query->isNull(row + 2, field));
        }
        QCOMPARE(query->text(row + 2, 0), QStringLiteral("3"));
    }
}

void tst_dataset::decimalText_data()
{
    QTest::addColumn<QString>("literal");
    QTest::addColumn<QString>("text");
    QTest::newRow("four decimals kept") << "1.2345"
                                        << "1,2345";
    QTest::newRow("rounded half up") << "1.23455"
                                     << "1,2346";
    QTest::newRow("negative rounded away from zero") << "-2.00005"
                                                     << "-2,0001";
    QTest::newRow("trailing zeros dropped") << "100.5000"
                                            << "100,5";
    QTest::newRow("whole number") << "12345678901234567890"
                                  << "12345678901234567890";
    QTest::newRow("carry into the units") << "9.99999"
                                          << "10";
    QTest::newRow("tiny negative is zero") << "-0.00001"
                                           << "0";
    QTest::newRow("zero") << "0.000"
                          << "0";
}

void tst_dataset::decimalText()
{
    QFETCH(QString, literal);
    QFETCH(QString, text);
    auto query = open(Pg, QStringLiteral("select cast(%1 as numeric) as n").arg(literal));
    QCOMPARE(query->FieldType(0), int(FieldTypes::BCD));
    QCOMPARE(query->FieldString(0), text);
}

void tst_dataset::sampleDatabase_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<int>("records");
    QTest::addColumn<QList<int>>("types");
    QTest::addColumn<QStringList>("second"); // texts of the second record, "<Null>" for null
    QTest::newRow("departments") << "departments" << 6 << QList<int> { 3, 1, 1, 8, 9 }
                                 << QStringList { "20", "Research & Development", "Basel",
                                        "4800000,5", "15.07.01" };
    QTest::newRow("employees") << "employees" << 1000
                               << QList<int> { 3, 3, 1, 1, 1, 8, 6, 9, 10, 11, 1 }
                               << QStringList { "2", "20", "Bruno", "O'Neill",
                                      "bruno.oneill@example.com", "112000,75", "0,2", "15.09.10",
                                      "09:30:00", "17.05.24", "Says \"it's fine\", usually" };
    QTest::newRow("orders") << "orders" << 3000 << QList<int> { 3, 3, 1, 8, 2, 6, 11, 9, 1 }
                            << QStringList { "2", "63", "The \"Quick\" Shop", "146,62", "3", "0,02",
                                   "03.01.22 10:10:58", "05.01.22", "invoiced" };
}

void tst_dataset::sampleDatabase()
{
    QFETCH(QString, table);
    QFETCH(int, records);
    QFETCH(QList<int>, types);
    QFETCH(QStringList, second);
    if (!m_sample) {
        QFile script(QFINDTESTDATA("../../data/sample.sql"));
        QVERIFY(script.open(QIODevice::ReadOnly));
        TestEnv::addSqliteDsn(QStringLiteral("SAMPLE"), { QString::fromUtf8(script.readAll()) });
        m_sample = TestEnv::connection(QStringLiteral("SAMPLE"));
        m_sample->OpenConnection();
    }
    auto query = open(QStringLiteral("SAMPLE"), QStringLiteral("select * from ") + table);
    QCOMPARE(query->FieldCount(), types.size());
    for (int field = 0; field < types.size(); ++field)
        QCOMPARE(query->FieldType(field), types[field]);
    QCOMPARE(query->CountRecords(), records);
    for (int field = 0; field < types.size(); ++field)
        QCOMPARE(query->isNull(1, field) ? QStringLiteral("<Null>") : query->text(1, field),
            second[field]);
    int nulls = 0;
    for (int record = 0; record < records; ++record)
        for (int field = 0; field < types.size(); ++field)
            nulls += query->isNull(record, field) ? 1 : 0;
    QVERIFY(nulls > 0);
}

void tst_dataset::nulNeverSent_data()
{
    QTest::addColumn<QString>("dsn");
    QTest::newRow("sqlite") << Lite;
    QTest::newRow("pg") << Pg;
}

void tst_dataset::nulNeverSent()
{
    // Drivers read a statement only up to a NUL, whatever length they are given: cut there, this
    // one would delete every row.
    QFETCH(QString, dsn);
    exec(dsn, QStringLiteral("create table nul_t(id integer)"));
    exec(dsn, QStringLiteral("insert into nul_t values (1), (2), (3)"));
    const QString statement =
        QStringLiteral("delete from nul_t") + QChar(0) + QStringLiteral(" where id = 2");
    for (const bool run : { false, true }) {
        QueryDataset query;
        query.setConnection(dsn, sessionConnection(dsn));
        query.setSql(statement);
        try {
            run ? query.OpenQuery() : query.ExecQuery();
            QFAIL("a statement holding NUL was sent");
        } catch (const DatabaseError &error) {
            QCOMPARE(error.message(), QStringLiteral("The statement holds a NUL character"));
        }
    }
    QCOMPARE(open(dsn, QStringLiteral("select count(*) from nul_t"))->FieldString(0),
        QStringLiteral("3"));
}

void tst_dataset::rowsetBudget_data()
{
    QTest::addColumn<qulonglong>("rowBytes"); // bind buffer and indicator bytes of one row
    QTest::addColumn<qulonglong>("rows");
    QTest::newRow("nothing bound") << 0ull << 1000ull;
    QTest::newRow("narrow") << 64ull << 1000ull;
    QTest::newRow("8 KB, a block within the budget") << 8192ull << 1000ull;
    QTest::newRow("one VARCHAR(8000)") << (8001ull * 2 + 8) << 523ull;
    QTest::newRow("an id and 400 VARCHAR(255)") << (400ull * (256 * 2 + 8) + 16) << 40ull;
    QTest::newRow("exactly the budget") << 8388608ull << 1ull;
    QTest::newRow("over the budget, still one row") << 20000000ull << 1ull;
}

void tst_dataset::rowsetBudget()
{
    QFETCH(qulonglong, rowBytes);
    QFETCH(qulonglong, rows);
    QCOMPARE(qulonglong(QueryDataset::rowsetRows(std::size_t(rowBytes))), rows);
}

void tst_dataset::wideRows_data()
{
    QTest::addColumn<QString>("dsn");
    QTest::addColumn<bool>("rowsets"); // the driver fetches rowsets, else one row per call
    QTest::newRow("sqlite") << Lite << false;
    QTest::newRow("pg") << Pg << true;
}

void tst_dataset::wideRows()
{
    // An id and 400 VARCHAR(255) columns, 1100 rows: column c<k> of row n holds 255 letters when
    // k is a multiple of 50, NULL when n + k is a multiple of 97, else "r<n>c<k>".
    QFETCH(QString, dsn);
    QFETCH(bool, rowsets);
    constexpr int columns = 400;
    constexpr int rows = 1100;
    const bool lite = dsn == Lite;
    QStringList definitions, values;
    for (int k = 1; k <= columns; ++k) {
        definitions << QStringLiteral("c%1 varchar(255)").arg(k);
        values << QStringLiteral("case when (n + %1) %% 97 = 0 then null when %1 %% 50 = 0 then %2 "
                                 "else 'r' || n || 'c%1' end")
                      .arg(k)
                      .arg(lite ? QStringLiteral("replace(hex(zeroblob(255)), '00', "
                                                 "char(65 + n %% 26))")
                                : QStringLiteral("repeat(chr(65 + n %% 26), 255)"))
                      .replace(QLatin1String("%%"), QLatin1String("%"));
    }
    exec(dsn,
        QStringLiteral("create table wide(id integer, %1)")
            .arg(definitions.join(QLatin1String(", "))));
    const QString select = QStringLiteral("select n, ") + values.join(QLatin1String(", "));
    exec(dsn,
        lite ? QStringLiteral("insert into wide ") + numbers(rows) + select
                + QStringLiteral(" from seq")
             : QStringLiteral("insert into wide ") + select
                + QStringLiteral(" from generate_series(1, %1) n").arg(rows));

    auto query = open(dsn, QStringLiteral("select * from wide order by id"));
    QCOMPARE(query->FieldCount(), columns + 1);
    QCOMPARE(query->FieldType(columns), int(FieldTypes::String));
    QCOMPARE(query->DisplayWidth(columns), 255);
    // All bind buffers together stay within the budget: a few rows per fetch, not a thousand.
    // One row per call fetches a first block of up to 1000 rows through buffers of one row.
    QVERIFY2(
        query->boundBytes() <= 8 * 1024 * 1024, qPrintable(QString::number(query->boundBytes())));
    if (rowsets) {
        QVERIFY(query->boundBytes() > 0);
        QVERIFY(query->fetchedCount() > 0);
        QVERIFY(query->fetchedCount() < rows);
    } else {
        QCOMPARE(query->fetchedCount(), 1000);
    }
    {
        // The rest through a walk's read-ahead, whose rowsets keep to the budget too.
        QueryDataset::ReadAhead ahead(*query);
        for (query->GoFirst(); !query->AtEof(); query->GoNext()) { }
        ahead.finish();
    }
    QVERIFY2(query->readAheadBytes() > 0 && query->readAheadBytes() <= 8 * 1024 * 1024,
        qPrintable(QString::number(query->readAheadBytes())));
    QCOMPARE(query->CountRecords(), rows);
    QCOMPARE(query->boundBytes(), std::size_t(0)); // the whole result is in the store
    for (int n = 1; n <= rows; ++n) {
        QCOMPARE(query->text(n - 1, 0), QString::number(n));
        for (int k = 1; k <= columns; ++k) {
            const QString expected = (n + k) % 97 == 0 ? QStringLiteral("<Null>")
                : k % 50 == 0                          ? QString(255, QChar(u'A' + n % 26))
                                                       : QStringLiteral("r%1c%2").arg(n).arg(k);
            const QString actual =
                query->isNull(n - 1, k) ? QStringLiteral("<Null>") : query->text(n - 1, k);
            if (actual != expected)
                QFAIL(
                    qPrintable(QStringLiteral("row %1, column c%2: %3").arg(n).arg(k).arg(actual)));
        }
    }
}

void tst_dataset::cancelWhileRunning_data()
{
    // A cancel from another thread, a few hundred times per driver: during the execute (which
    // the driver is asked to stop), during a count's fetch and during a walk that fetches ahead
    // (both stopped between blocks). cancelAt: records fetched before the cancel, -1: at the
    // execute.
    QTest::addColumn<QString>("dsn");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<int>("cancelAt");
    QTest::addColumn<bool>("readAhead");
    const QString huge = QStringLiteral("select * from huge");
    for (const QString &dsn : { Lite, Pg }) {
        const QString slow = dsn == Lite
            ? numbers(300000) + QStringLiteral("select n from seq order by n desc")
            : QStringLiteral("select pg_sleep(0.2), n from generate_series(1, 10) n");
        const QByteArray name = dsn.toLatin1();
        QTest::newRow(name + " execute") << dsn << slow << -1 << false;
        QTest::newRow(name + " count") << dsn << huge << 1 << false;
        QTest::newRow(name + " read-ahead walk") << dsn << huge << 1500 << true;
    }
}

void tst_dataset::cancelWhileRunning()
{
    QFETCH(QString, dsn);
    QFETCH(QString, sql);
    QFETCH(int, cancelAt);
    QFETCH(bool, readAhead);
    for (int round = 0; round < 50; ++round) {
        QueryDataset query;
        query.setConnection(dsn, sessionConnection(dsn));
        query.setSql(sql);
        std::atomic<int> reached { -2 }; // -1: about to execute; then records fetched or walked
        std::atomic<bool> ended { false };
        DatabaseError error(QString {});
        std::thread runner([&] {
            try {
                reached = -1;
                query.OpenQuery();
                reached = query.fetchedCount();
                if (readAhead) {
                    QueryDataset::ReadAhead ahead(query);
                    for (; !query.AtEof(); query.GoNext())
                        reached = query.RecNo();
                    ahead.finish();
                } else {
                    query.CountRecords();
                }
            } catch (const DatabaseError &caught) {
                error = caught;
            }
            ended = true;
        });
        // The cancel point moves a little from round to round.
        const int target = cancelAt < 0 ? -1 : cancelAt * (1 + round % 4);
        while (reached.load() < target && !ended.load())
            std::this_thread::yield();
        query.cancelPoint()->cancel();
        runner.join();
        QVERIFY2(!error.message().isEmpty(), "a cancelled statement ended as if complete");
        QVERIFY(!query.IsOpen());
        if (cancelAt >= 0) { // stopped by the flag, well before the end
            QCOMPARE(error.sqlState(), QStringLiteral("HY008"));
            QVERIFY(query.fetchedCount() < HugeRows);
        }
    }
}

STELVIK_TEST_GUILESS_MAIN(tst_dataset)
#include "tst_dataset.moc"

void tst_dataset::boundValues_data()
{
    QTest::addColumn<QString>("dsn");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("isNull");
    const QString quoteTrap = QStringLiteral("' OR ''='");
    const QString longText = QString(100000, QLatin1Char('x')) + QStringLiteral("end");
    const QString beyondBmp = QStringLiteral("emoji 😀 𝄞 end");
    for (const QString &dsn : { Lite, Pg }) {
        const QByteArray tag = dsn.toLatin1() + ' ';
        QTest::newRow(tag + "quotes are data") << dsn << quoteTrap << false;
        QTest::newRow(tag + "100,000 characters") << dsn << longText << false;
        QTest::newRow(tag + "beyond the BMP") << dsn << beyondBmp << false;
        QTest::newRow(tag + "null") << dsn << QString() << true;
    }
}

// A value reaches the table whole whatever it holds, and a quote in it never turns into SQL:
// the row written with it is found by it, and the trap matches no other row.
void tst_dataset::boundValues()
{
    QFETCH(QString, dsn);
    QFETCH(QString, value);
    QFETCH(bool, isNull);
    exec(dsn, QStringLiteral("drop table if exists bound"));
    exec(dsn, QStringLiteral("create table bound(id int, v text)"));
    exec(dsn, QStringLiteral("insert into bound values(1, 'other')"));

    QueryDataset insert;
    insert.setConnection(dsn, sessionConnection(dsn));
    insert.setSql(QStringLiteral("insert into bound values(?, ?)"));
    insert.setParameters({ { QStringLiteral(":id"), false, QStringLiteral("2") },
        { QStringLiteral(":v"), isNull, value } });
    insert.ExecQuery();
    QCOMPARE(insert.rowsAffected(), 1);

    QueryDataset select;
    select.setConnection(dsn, sessionConnection(dsn));
    select.setSql(QStringLiteral("select id, v from bound where id = ? or v = ? order by id"));
    // PostgreSQL knows the column's type; the SQLite driver calls every marker text.
    const QVector<ParameterType> types = select.describeParameters();
    QCOMPARE(types.size(), 2);
    QCOMPARE(types[0].sqlType, SQLSMALLINT(dsn == Pg ? SQL_INTEGER : SQL_LONGVARCHAR));
    select.setParameters({ { QStringLiteral(":id"), false, QStringLiteral("2") },
        { QStringLiteral(":v"), isNull, value } });
    select.OpenQuery();
    QCOMPARE(select.CountRecords(), 1);
    select.GoFirst();
    QCOMPARE(select.FieldString(0), QStringLiteral("2"));
    QCOMPARE(select.FieldIsNull(1), isNull);
    if (!isNull)
        QCOMPARE(select.FieldString(1), value);
    select.Close();
    exec(dsn, QStringLiteral("drop table bound"));
}

void tst_dataset::resultSets_data()
{
    QTest::addColumn<QString>("dsn");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("takeAll");
    QTest::addColumn<QStringList>("sets"); // per set: its titles, then its first row

    QTest::newRow("pg two selects") << Pg << "select 1 as a; select 'x' as b, 2 as c" << true
                                    << QStringList { "a|1", "b,c|x,2" };
    QTest::newRow("pg a count between")
        << Pg
        << "select id from big where id = 7; update big set id = id "
           "where id < 0; select count(*) as n from big"
        << true << QStringList { "id|7", "n|2500" };
    QTest::newRow("pg second left untaken")
        << Pg << "select 1 as a; select 2 as b" << false << QStringList { "a|1" };
    QTest::newRow("pg one select") << Pg << "select 3 as a" << true << QStringList { "a|3" };
}

// Each result of a batch becomes a dataset of its own, in order, and the connection's turn
// ends with the last one taken or with a result left untaken.
void tst_dataset::resultSets()
{
    QFETCH(QString, dsn);
    QFETCH(QString, sql);
    QFETCH(bool, takeAll);
    QFETCH(QStringList, sets);
    const auto describe = [](QueryDataset &query) {
        QStringList titles, values;
        for (int i = 0; i < query.FieldCount(); ++i) {
            titles << query.FieldTitle(i);
            values << query.FieldString(i);
        }
        return titles.join(',') + '|' + values.join(',');
    };
    auto query = std::make_unique<QueryDataset>();
    query->setConnection(dsn, sessionConnection(dsn));
    query->setSql(sql);
    query->setWantsMoreResults(true);
    query->OpenQuery();
    QStringList seen;
    std::vector<std::unique_ptr<QueryDataset>> kept;
    while (query) {
        seen << describe(*query);
        query->CountRecords();
        if (!takeAll)
            break;
        auto next = query->takeNextResult();
        kept.push_back(std::move(query));
        query = std::move(next);
    }
    QCOMPARE(seen, sets);
    query.reset();
    kept.clear();
    auto after = open(dsn, QStringLiteral("select count(*) from big"));
    QCOMPARE(after->FieldString(0), QStringLiteral("2500"));
}

// A procedure's INOUT and OUT parameters come back as values, and the driver's catalog names
// their directions.
void tst_dataset::procedureOutputs()
{
    PgServer::instance().exec(
        QStringLiteral(
            "create or replace procedure bump(inout a int, inout b text, out c text) "
            "language plpgsql as $$ begin a := a + 1; b := b || '!'; c := 'out'; end $$"),
        QStringLiteral("datasets"));
    const QVector<ProcedureParameter> declared = procedureParameters(
        sessionConnection(Pg)->get(), QStringLiteral("public"), QStringLiteral("bump"));
    QStringList directions;
    for (const ProcedureParameter &parameter : declared)
        directions << parameter.name + '=' + QString::number(int(parameter.direction));
    QCOMPARE(directions, (QStringList { "a=2", "b=2", "c=1" }));

    QueryDataset call;
    call.setConnection(Pg, sessionConnection(Pg));
    call.setSql(QStringLiteral("call bump(?, ?, ?)"));
    call.setParameters(
        { { QStringLiteral(":a"), false, QStringLiteral("41"), ParameterDirection::InOut },
            { QStringLiteral(":b"), false, QStringLiteral("hi"), ParameterDirection::InOut },
            { QStringLiteral(":c"), true, {}, ParameterDirection::Out } });
    try {
        call.ExecQuery();
    } catch (const DatabaseError &error) {
        QFAIL(error.what());
    }
    QStringList outputs;
    for (const ParameterOutput &output : call.parameterOutputs())
        outputs << output.name + '=' + (output.isNull ? QStringLiteral("NULL") : output.text);
    QCOMPARE(outputs, (QStringList { ":a=42", ":b=hi!", ":c=out" }));
}
