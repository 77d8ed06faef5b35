#include "connection/Connection.h"
#include "connection/QueryDataset.h"
#include "results/Exporter.h"
#include "support/PgServer.h"
#include "support/SessionConnection.h"
#include "support/TestEnv.h"
#include "valuetext/ValueLocale.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// The export profiles' files read back by readers of their own: Python's csv and json modules
// for CSV, Excel's CSV and JSON Lines, PostgreSQL for the INSERT statements. Awkward values on
// SQLite, and the types where PostgreSQL differs (numeric, boolean, bytea).
class tst_exportprofiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void readBack_data();
    void readBack();
    void insertsReplayed_data();
    void insertsReplayed();
    void datesKept_data();
    void datesKept();
    void binaryLiterals();
    void workbook_data();
    void workbook();

private:
    QByteArray exportFile(const QString &dsn, const QString &sql, const ExportProfile &profile,
        bool toClipboard = false);

    QTemporaryDir m_dir;
    std::unique_ptr<Connection> m_lite, m_pg;
};

namespace {

const QString Lite = QStringLiteral("PROFILES");
const QString Pg = QStringLiteral("PROFILESPG");
const QString awkward = QStringLiteral("select * from awk order by ID");
const QString kinds = QStringLiteral("select * from kinds");
const QString datesTable = QStringLiteral(
    "create table dates (D date, T time, S timestamp); insert into dates values ('0001-01-01', "
    "'00:00:01', '0002-02-02 00:00:00'), ('1950-06-15', '12:30:00', '1949-12-31 23:59:58'), "
    "('2100-01-01', '23:59:59', '2101-01-01 01:02:03'), ('9999-12-31', '13:00:00', "
    "'9998-12-31 12:00:00')");

// Python readers: each turns the file's bytes `data` into `rows`.
const char *csvReader = "assert not data.startswith(b'\\xef\\xbb\\xbf')\n"
                        "rows = list(csv.reader(io.StringIO(data.decode(), newline='')))";
const char *excelReader = "assert data.startswith(b'\\xef\\xbb\\xbf')\n"
                          "rows = list(csv.reader(io.StringIO(data[3:].decode(), newline=''), "
                          "delimiter=SEP))";
const char *jsonReader = "assert b'\\r' not in data and data.endswith(b'\\n')\n"
                         "rows = [json.loads(line, parse_float=decimal.Decimal) "
                         "for line in data.decode().split('\\n')[:-1]]";

} // namespace

void tst_exportprofiles::initTestCase()
{
    QVERIFY(m_dir.isValid());
    TestEnv::addSqliteDsn(Lite,
        { "create table awk (ID integer, NAME varchar(40), \"Note Text\" varchar(40), \"ORDER\" "
          "varchar(40), AMOUNT decimal(12,4), RATIO double, BORN date, STAMP timestamp)",
            "insert into awk values (1, 'say \"hi\", it''s ok', 'a' || char(13, 10) || 'b', "
            "'00123', "
            "1234.5678, 0.1, '2001-12-31', '2020-02-29 13:45:07'), (2, 'line' || char(10) || "
            "'feed', '', '12345678901234567890', -0.5, -1e20, '1999-01-02', '2000-01-01 "
            "00:00:00'), (3, ' Grüße ✓ ', null, null, null, null, null, null)",
            "create table formulas (ID integer, \"=T\" varchar(700), N integer, D decimal(10,2))",
            "insert into formulas values (1, '=HYPERLINK(\"http://x\",\"x\")', -5, -1.25), "
            "(2, '+1+2', null, null), (3, '@SUM(1)', 0, 0), (4, '-1', 1, 1), (5, char(9) || "
            "'=1', 1, 1)",
            datesTable.section(';', 0, 0), datesTable.section(';', 1),
            "create table cells (ID integer, BIG integer, AMOUNT decimal(20,4), CODE varchar(20), "
            "BORN date, STAMP timestamp, TXT varchar(20))",
            "insert into cells values (1, 1234567890123456, 1234.5678, '00123', '2001-12-31', "
            "'2020-02-29 13:45:07', '\U0001F600 Grüße'), (2, 123456789012345, -0.5, "
            "'12345678901234567890', '1899-12-31', '2000-01-01 00:00:00', '=1+1' || char(1, 9)), "
            "(3, null, "
            "null, null, null, null, null)" });
    PgServer &pg = PgServer::instance();
    pg.addDsn(Pg, QStringLiteral("profiles"));
    pg.exec(datesTable, QStringLiteral("profiles"));
    pg.exec(QStringLiteral("create table kinds (n numeric(20,4), b boolean, y bytea);"
                           "insert into kinds values (12345678901234.5678, true, '\\x00ff')"),
        QStringLiteral("profiles"));
    m_lite = TestEnv::connection(Lite);
    m_lite->OpenConnection();
    m_pg = TestEnv::connection(Pg);
    m_pg->Params = QStringList { "USER NAME=" + pg.user(), "PASSWORD=" + pg.password() };
    m_pg->OpenConnection();
}

QByteArray tst_exportprofiles::exportFile(
    const QString &dsn, const QString &sql, const ExportProfile &profile, bool toClipboard)
{
    QueryDataset query;
    query.setConnection(dsn, sessionConnection(dsn));
    query.setSql(sql);
    query.OpenQuery();
    if (toClipboard) {
        exportResult(query, profile, -1, true, QString());
        return QGuiApplication::clipboard()->text().toUtf8();
    }
    const QString path = m_dir.filePath(QStringLiteral("export"));
    exportResult(query, profile, -1, false, path);
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void tst_exportprofiles::readBack_data()
{
    QTest::addColumn<QString>("dsn");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("reader");
    QTest::addColumn<QString>("expected"); // the rows the reader must see, as Python
    QTest::addColumn<QByteArray>("raw"); // bytes the file must hold: NULL against the empty text

    const QString header = "['ID', 'NAME', 'Note Text', 'ORDER', 'AMOUNT', 'RATIO', 'BORN', "
                           "'STAMP'], ";
    QTest::newRow("CSV") << Lite << awkward << int(ExportFormat::Csv) << "C" << csvReader
                         << "[" + header
            + "['1', 'say \"hi\", it\\'s ok', 'a\\r\\nb', '00123', '1234.5678', '0.1', "
              "'2001-12-31', "
              "'2020-02-29 13:45:07'], ['2', 'line\\nfeed', '', '12345678901234567890', '-0.5', "
              "'-1e+20', '1999-01-02', '2000-01-01 00:00:00'], ['3', ' Grüße ✓ ', '', '', '', '', "
              "'', '']]" << QByteArray("\"line\nfeed\",\"\",1234567890");
    QTest::newRow("Excel, German") << Lite << awkward << int(ExportFormat::Excel) << "de_DE"
                                   << QString(excelReader).replace("SEP", "';'")
                                   << "[" + header
            + "['1', 'say \"hi\", it\\'s ok', 'a\\r\\nb', '=\"00123\"', '1234,5678', '0,1', "
              "'2001-12-31', '2020-02-29 13:45:07'], ['2', 'line\\nfeed', '', "
              "'=\"12345678901234567890\"', '-0,5', '-1e+20', '1999-01-02', "
              "'2000-01-01 00:00:00'], ['3', ' Grüße ✓ ', '', '', '', '', '', '']]"
                                   << QByteArray("\r\n3;\" Grüße ✓ \";;;;;;\r\n");
    QTest::newRow("Excel, PostgreSQL") << Pg << kinds << int(ExportFormat::Excel) << "C"
                                       << QString(excelReader).replace("SEP", "','")
                                       << "[['n', 'b', 'y'], ['=\"12345678901234.5678\"', 'True', "
                                          "'00FF']]"
                                       << QByteArray("\r\n");
    // Texts that would run as formulas, written as formulas that give the text; numbers stay.
    QTest::newRow("Excel, formulas")
        << Lite << QStringLiteral("select * from formulas order by ID") << int(ExportFormat::Excel)
        << "C" << QString(excelReader).replace("SEP", "','")
        << "[['ID', '=\"=T\"', 'N', 'D'], ['1', '=\"=HYPERLINK(\"\"http://x\"\",\"\"x\"\")\"', "
           "'-5', "
           "'-1.25'], ['2', '=\"+1+2\"', '', ''], ['3', '=\"@SUM(1)\"', '0', '0'], ['4', "
           "'=\"-1\"', "
           "'1', '1'], ['5', '=\"\\t=1\"', '1', '1']]"
        << QByteArray("\r\n2,\"=\"\"+1+2\"\"\",,\r\n");
    QTest::newRow("JSON Lines")
        << Lite << awkward << int(ExportFormat::JsonLines) << "en_US" << jsonReader
        << "[{'ID': 1, 'NAME': 'say \"hi\", it\\'s ok', 'Note Text': 'a\\r\\nb', "
           "'ORDER': '00123', 'AMOUNT': D('1234.5678'), 'RATIO': D('0.1'), "
           "'BORN': '2001-12-31', 'STAMP': '2020-02-29 13:45:07'}, "
           "{'ID': 2, 'NAME': 'line\\nfeed', 'Note Text': '', "
           "'ORDER': '12345678901234567890', 'AMOUNT': D('-0.5'), "
           "'RATIO': D('-1e20'), 'BORN': '1999-01-02', "
           "'STAMP': '2000-01-01 00:00:00'}, {'ID': 3, 'NAME': ' Grüße ✓ '"
           ", 'Note Text': None, 'ORDER': None, 'AMOUNT': None, "
           "'RATIO': None, 'BORN': None, 'STAMP': None}]"
        << QByteArray("\"Note Text\":null");
    QTest::newRow("JSON Lines, PostgreSQL")
        << Pg << kinds << int(ExportFormat::JsonLines) << "C" << jsonReader
        << "[{'n': D('12345678901234.5678'), 'b': True, 'y': '00FF'}]" << QByteArray("\n");
    // Every digit and fraction the database gave, whatever the text forms show.
    const QString exact = QStringLiteral("select -0.0123456789::numeric(20,10) as d, timestamp "
                                         "'2020-02-29 13:45:07.1234' as t, 1.5::numeric as h");
    QTest::newRow("JSON Lines, 10 places and fractions")
        << Pg << exact << int(ExportFormat::JsonLines) << "de_DE" << jsonReader
        << "[{'d': D('-0.0123456789'), 't': '2020-02-29 13:45:07.1234', 'h': D('1.5')}]"
        << QByteArray("\"d\":-0.0123456789,");
    QTest::newRow("CSV, 10 places and fractions")
        << Pg << exact << int(ExportFormat::Csv) << "C" << csvReader
        << "[['d', 't', 'h'], ['-0.0123456789', '2020-02-29 13:45:07.1234', '1.5']]"
        << QByteArray("-0.0123456789,2020-02-29 13:45:07.1234,1.5\r\n");
}

void tst_exportprofiles::readBack()
{
    QFETCH(QString, dsn);
    QFETCH(QString, sql);
    QFETCH(int, format);
    QFETCH(QString, locale);
    QFETCH(QString, reader);
    QFETCH(QString, expected);
    QFETCH(QByteArray, raw);
    ValueText::setLocale(QLocale(locale));
    const QByteArray bytes = exportFile(dsn, sql, ExportFormat(format));
    QVERIFY2(bytes.contains(raw), bytes.constData());
    // The clipboard gets the same text, without the byte-order mark that marks a file's encoding.
    const QByteArray bom("\xEF\xBB\xBF");
    QCOMPARE(exportFile(dsn, sql, ExportFormat(format), true),
        bytes.startsWith(bom) ? bytes.mid(bom.size()) : bytes);

    QProcess python;
    python.start(QStringLiteral("python3"),
        { QStringLiteral("-c"),
            "import csv, io, json, decimal, sys\nD = decimal.Decimal\n"
            "data = open(sys.argv[1], 'rb').read()\n"
                + reader + "\nexpected = " + expected
                + "\nif rows != expected: sys.exit(repr(rows))\n",
            m_dir.filePath(QStringLiteral("export")) });
    QVERIFY(python.waitForFinished(60000));
    QVERIFY2(python.exitCode() == 0, python.readAllStandardError().constData());
}

void tst_exportprofiles::insertsReplayed_data()
{
    QTest::addColumn<QString>("locale"); // dates are read back from the locale's forms
    QTest::newRow("C") << "C";
    QTest::newRow("English (US)") << "en_US";
    QTest::newRow("German") << "de_DE";
}

// The statements run in PostgreSQL into a table whose name needs quoting; its rows then give
// the same comma-quote lines as the rows they came from.
void tst_exportprofiles::insertsReplayed()
{
    QFETCH(QString, locale);
    ValueText::setLocale(QLocale(locale));
    const QByteArray inserts =
        exportFile(Lite, awkward, ExportProfile(ExportFormat::SqlInsert, "public.Export \"T\""));
    QVERIFY(inserts.startsWith(
        "INSERT INTO public.\"Export \"\"T\"\"\" (ID, NAME, \"Note Text\", \"ORDER\", AMOUNT"));
    PgServer::instance().exec(
        "drop table if exists \"Export \"\"T\"\"\"; create table \"Export \"\"T\"\"\" (id "
        "integer, name text, \"Note Text\" text, \"ORDER\" text, amount numeric(12,4), ratio "
        "double precision, born date, stamp timestamp);"
            + QString::fromUtf8(inserts),
        QStringLiteral("profiles"));
    const auto records = [](QByteArray text) { return text.mid(text.indexOf("\r\n")); };
    QCOMPARE(records(exportFile(
                 Pg, "select * from \"Export \"\"T\"\"\" order by id", ExportFormat::CommaQuote)),
        records(exportFile(Lite, awkward, ExportFormat::CommaQuote)));
}

void tst_exportprofiles::datesKept_data()
{
    QTest::addColumn<QString>("dsn");
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("locale"); // short dates with two-digit years in en_US and de_DE
    for (const QString &dsn : { Lite, Pg })
        for (int format = int(ExportFormat::Csv); format <= int(ExportFormat::SqlInsert); ++format)
            for (const QString locale : { "en_US", "de_DE", "C" })
                QTest::addRow("%s %d %s", qPrintable(dsn), format, qPrintable(locale))
                    << dsn << format << locale;
}

// Dates, times and timestamps keep every part, the century too, whatever the locale's forms.
void tst_exportprofiles::datesKept()
{
    QFETCH(QString, dsn);
    QFETCH(int, format);
    QFETCH(QString, locale);
    ValueText::setLocale(QLocale(locale));
    const QByteArray text =
        exportFile(dsn, "select * from dates", ExportProfile(ExportFormat(format), "t"));
    for (const char *value : { "0001-01-01", "00:00:01", "0002-02-02 00:00:00", "1950-06-15",
             "12:30:00", "1949-12-31 23:59:58", "2100-01-01", "23:59:59", "2101-01-01 01:02:03",
             "9999-12-31", "13:00:00", "9998-12-31 12:00:00" })
        QVERIFY2(text.contains(value), text.constData());
}

// Binary values as each database reads them; PostgreSQL's come back unchanged from its own.
void tst_exportprofiles::binaryLiterals()
{
    const auto inserts = [this](SqlDialect dialect) {
        return exportFile(Pg, kinds, ExportProfile(ExportFormat::SqlInsert, "kinds_copy", dialect));
    };
    QVERIFY(inserts(SqlDialect::DB2).endsWith(", BLOB(X'00FF'));\r\n"));
    QCOMPARE(ExportProfiles::dialectOfDataSource(Pg), SqlDialect::PostgreSQL);
    PgServer::instance().exec("create table kinds_copy (like kinds);"
            + QString::fromUtf8(inserts(SqlDialect::PostgreSQL)),
        QStringLiteral("profiles"));
    QCOMPARE(exportFile(Pg, "select * from kinds_copy", ExportFormat::CommaQuote),
        exportFile(Pg, kinds, ExportFormat::CommaQuote));
}

void tst_exportprofiles::workbook_data()
{
    QTest::addColumn<QString>("dsn");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<int>("sheetRows");
    QTest::addColumn<QString>("expected"); // each sheet's rows, as Python; then the widths

    // A control character XML cannot hold is written as Excel's escape, which Excel reads back
    // as the character and openpyxl leaves as it is.
    QTest::newRow("SQLite, two sheets")
        << Lite << "select * from cells order by ID" << 2
        << "[[['ID', 'BIG', 'AMOUNT', 'CODE', 'BORN', 'STAMP', 'TXT'], "
           "[1, '1234567890123456', 1234.5678, '00123', D(2001, 12, 31, 0, 0), "
           "D(2020, 2, 29, 13, 45, 7), '\U0001F600 Grüße'], "
           "[2, 123456789012345, -0.5, '12345678901234567890', '1899-12-31', D(2000, 1, 1, 0, "
           "0), '=1+1_x0001_\\t']], "
           "[['ID', 'BIG', 'AMOUNT', 'CODE', 'BORN', 'STAMP', 'TXT'], "
           "[3, None, None, None, None, None, None]]], [4, 18, 11, 22, 12, 21, 10]";
    QTest::newRow("PostgreSQL")
        << Pg
        << "select 12345678901234.5678::numeric(20,4) as n, 0.1::numeric as d, 1.5::float8 as f, "
           "true as b, '\\x00ff'::bytea as y, timestamp '2020-02-29 13:45:07.25' as t, date "
           "'2024-01-31' as dt, time '13:45:00' as tm, U&'\\+01F600' as u, null::int as z, "
           "'007' as c"
        << 10
        << "[[['n', 'd', 'f', 'b', 'y', 't', 'dt', 'tm', 'u', 'z', 'c'], "
           "['12345678901234.5678', 0.1, 1.5, True, '00FF', D(2020, 2, 29, 13, 45, 7, 250000), "
           "D(2024, 1, 31, 0, 0), T(13, 45), '\U0001F600', None, '007']]], "
           "[21, 5, 5, 7, 6, 25, 12, 10, 4, 3, 5]";
    // Markup, a text Excel would trim, numbers with exponents, more than 26 columns (AC) and a
    // row longer than the chunks the rows are compressed in.
    QString wide = QStringLiteral("select '<a&b>' as m, ' lead' as s, 0.00001::float8 as e, "
                                  "1.5e20::float8 as g");
    for (int i = 1; i <= 25; ++i)
        wide += QStringLiteral(", repeat('x', 20000) as x%1").arg(i);
    QTest::newRow("PostgreSQL, markup and a wide row")
        << Pg << wide << 10
        << "[[['m', 's', 'e', 'g'] + ['x%d' % i for i in range(1, 26)], "
           "['<a&b>', ' lead', 1e-05, 1.5e+20] + ['x' * 20000] * 25]], "
           "[7, 7, 7, 9] + [60] * 25";
}

// The workbook read back by openpyxl: typed cells, the header frozen on every sheet, widths from
// the data; the clipboard refused.
void tst_exportprofiles::workbook()
{
    QFETCH(QString, dsn);
    QFETCH(QString, sql);
    QFETCH(int, sheetRows);
    QFETCH(QString, expected);
    ExportProfile profile(ExportFormat::Xlsx);
    profile.sheetRows = sheetRows;
    QVERIFY(exportFile(dsn, sql, profile).startsWith("PK"));
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, exportFile(dsn, sql, profile, true));
    // More than a cell holds fails the export and leaves the file as it was (read below).
    QVERIFY_THROWS_EXCEPTION(std::runtime_error,
        exportFile(Pg, QStringLiteral("select repeat('x', 32768) as l"), profile));

    // openpyxl comes as a Debian package, for the system's Python.
    QProcess python;
    python.start(QFile::exists("/usr/bin/python3") ? QStringLiteral("/usr/bin/python3")
                                                   : QStringLiteral("python3"),
        { QStringLiteral("-c"),
            "import sys, openpyxl\nfrom datetime import datetime as D, time as T\n"
            "book = openpyxl.load_workbook(open(sys.argv[1], 'rb'))\n"
            "assert all(s.freeze_panes == 'A2' for s in book.worksheets)\n"
            "rows = [[[c.value for c in r] for r in s.iter_rows()] for s in book.worksheets], "
            "[int(book.worksheets[0].column_dimensions[c[0].column_letter].width) "
            "for c in book.worksheets[0].iter_cols()]\n"
            "expected = "
                + expected + "\nif repr(rows) != repr(expected): sys.exit(repr(rows))\n",
            m_dir.filePath(QStringLiteral("export")) });
    QVERIFY(python.waitForFinished(60000));
    QVERIFY2(python.exitCode() == 0, python.readAllStandardError().constData());
}

STELVIK_TEST_MAIN(tst_exportprofiles)
#include "tst_exportprofiles.moc"
