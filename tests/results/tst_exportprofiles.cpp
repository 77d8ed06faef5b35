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
    void binaryReplayed_data();
    void binaryReplayed();
    void datesKept();

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
const QString dates = QStringLiteral("select * from dates order by D");

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
            "'=1', 1, 1), (6, 'plain', 1, 1), (7, '=' || replace(hex(zeroblob(150)), '0', 'ab'), "
            "1, 1)",
            "create table dates (D date, T time, S timestamp)",
            "insert into dates values ('0001-01-01', '00:00:01', '0001-01-01 00:00:00'), "
            "('1950-06-15', '12:30:00', '1950-06-15 23:59:58'), ('2100-01-01', '23:59:59', "
            "'2100-01-01 01:02:03'), ('9999-12-31', '13:00:00', '9999-12-31 12:00:00')",
            "create table bin (ID integer, Y blob)",
            "insert into bin values (1, x'00FF27'), (2, x''), (3, null)" });
    PgServer &pg = PgServer::instance();
    pg.addDsn(Pg, QStringLiteral("profiles"));
    pg.exec(QStringLiteral("create table dates (D date, T time, S timestamp);"
                           "insert into dates values ('0001-01-01', '00:00:01', '0001-01-01 "
                           "00:00:00'), ('1950-06-15', '12:30:00', '1950-06-15 23:59:58'), "
                           "('2100-01-01', '23:59:59', '2100-01-01 01:02:03'), ('9999-12-31', "
                           "'13:00:00', '9999-12-31 12:00:00')"),
        QStringLiteral("profiles"));
    pg.exec(QStringLiteral("create table bin (ID integer, Y bytea);"
                           "insert into bin values (1, '\\x00ff27'), (2, ''), (3, null)"),
        QStringLiteral("profiles"));
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
    // Each cell as Excel shows it on opening: a formula's text, a number, or RUN where it would
    // run a formula.
    const QString excelShown = QString(excelReader).replace("SEP", "','")
        + "\nimport re\ndef shown(c):\n"
          "    if re.fullmatch(r'=\"(?:[^\"]|\"\")*\"(?:&\"(?:[^\"]|\"\")*\")*', c):\n"
          "        return 'T:' + ''.join(p[1:-1].replace('\"\"', '\"') "
          "for p in re.findall(r'\"(?:[^\"]|\"\")*\"', c))\n"
          "    if c[:1] in ('=', '+', '-', '@', '\\t', '\\r'):\n"
          "        try: return float(c)\n"
          "        except ValueError: return 'RUN:' + c\n"
          "    return c\n"
          "rows = [[shown(c) for c in r] for r in rows]";
    QTest::newRow("Excel, formulas")
        << Lite << QStringLiteral("select * from formulas order by ID") << int(ExportFormat::Excel)
        << "C" << excelShown
        << "[['ID', 'T:=T', 'N', 'D'], ['1', 'T:=HYPERLINK(\"http://x\",\"x\")', -5.0, -1.25], "
           "['2', 'T:+1+2', '', ''], ['3', 'T:@SUM(1)', '0', '0'], ['4', 'T:-1', '1', '1'], "
           "['5', 'T:\\t=1', '1', '1'], ['6', 'plain', '1', '1'], ['7', 'T:=' + 'ab' * 300, '1', "
           "'1']]"
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
    QTest::addColumn<QString>("locale"); // short dates with two-digit years, and one without
    for (const QString &dsn : { Lite, Pg })
        for (const ExportFormat format : { ExportFormat::Csv, ExportFormat::Excel,
                 ExportFormat::JsonLines, ExportFormat::SqlInsert })
            for (const char *locale : { "en_US", "de_DE", "C" })
                QTest::addRow(
                    "%s, %s, %s", qPrintable(dsn), qPrintable(ExportProfiles::name(format)), locale)
                    << dsn << int(format) << QString::fromLatin1(locale);
}

// Dates, times and timestamps keep their century and every part whatever the locale's forms.
void tst_exportprofiles::datesKept()
{
    QFETCH(QString, dsn);
    QFETCH(int, format);
    QFETCH(QString, locale);
    ValueText::setLocale(QLocale(locale));
    const QString text = QString::fromUtf8(
        exportFile(dsn, dates, ExportProfile(ExportFormat(format), QStringLiteral("t"))));
    QStringList values;
    for (const char *row :
        { "0001-01-01|00:00:01|0001-01-01 00:00:00", "1950-06-15|12:30:00|1950-06-15 23:59:58",
            "2100-01-01|23:59:59|2100-01-01 01:02:03", "9999-12-31|13:00:00|9999-12-31 12:00:00" })
        values.append(QString::fromLatin1(row).split(QLatin1Char('|')));
    QStringList lines = text.split(QRegularExpression(QStringLiteral("\\r?\\n")));
    if (ExportProfiles::hasHeader(ExportFormat(format)))
        lines.removeFirst();
    QCOMPARE(lines.size(), 5); // four records and the empty text after the last line end
    for (int i = 0; i < values.size(); ++i)
        QVERIFY2(lines.at(i / 3).contains(values.at(i)), qPrintable(lines.at(i / 3)));
}

void tst_exportprofiles::binaryReplayed_data()
{
    QTest::addColumn<QString>("dsn"); // where the rows come from and go back to; empty: no replay
    QTest::addColumn<int>("dialect");
    QTest::addColumn<QByteArray>("literal");
    QTest::newRow("PostgreSQL") << Pg << int(SqlDialect::PostgreSQL)
                                << QByteArray("(1, decode('00FF27', 'hex'));");
    QTest::newRow("SQLite") << Lite << int(SqlDialect::SQLite) << QByteArray("(1, X'00FF27');");
    QTest::newRow("DB2") << QString() << int(SqlDialect::DB2)
                         << QByteArray("(1, BLOB(X'00FF27'));");
}

// Binary values written as the target database reads them: replayed there, they give the same
// rows again.
void tst_exportprofiles::binaryReplayed()
{
    QFETCH(QString, dsn);
    QFETCH(int, dialect);
    QFETCH(QByteArray, literal);
    const QString source = QStringLiteral("select * from bin order by ID");
    const QByteArray inserts = exportFile(dsn.isEmpty() ? Lite : dsn, source,
        ExportProfile(ExportFormat::SqlInsert, QStringLiteral("bin_copy"), SqlDialect(dialect)));
    QVERIFY2(inserts.contains(literal), inserts.constData());
    if (dsn.isEmpty())
        return;
    // The window writes for the database the alias's driver leads to.
    QCOMPARE(ExportProfiles::dialectOfDataSource(dsn), SqlDialect(dialect));
    const QStringList statements = QStringList { QStringLiteral("drop table if exists bin_copy"),
        QStringLiteral("create table bin_copy (ID integer, Y %1)")
            .arg(dsn == Pg ? QStringLiteral("bytea") : QStringLiteral("blob")) }
        + QString::fromUtf8(inserts).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    if (dsn == Pg) {
        PgServer::instance().exec(statements.join(QLatin1Char(';')), QStringLiteral("profiles"));
    } else {
        for (const QString &statement : statements) {
            QueryDataset exec;
            exec.setConnection(dsn, sessionConnection(dsn));
            exec.setSql(statement);
            exec.ExecQuery();
        }
    }
    QCOMPARE(exportFile(dsn, "select * from bin_copy order by ID", ExportFormat::CommaQuote),
        exportFile(dsn, source, ExportFormat::CommaQuote));
}

STELVIK_TEST_MAIN(tst_exportprofiles)
#include "tst_exportprofiles.moc"
