#include "valuetext/FetchedText.h"
#include "valuetext/FieldText.h"
#include "valuetext/ValueLocale.h"

#include <QtTest>

#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>

Q_DECLARE_METATYPE(FieldInfo)

class tst_fieldtext : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void fieldText_data();
    void fieldText();
    void padding_data();
    void padding();
    void formatMoney_data();
    void formatMoney();
    void formatMoneyRejects_data();
    void formatMoneyRejects();
    void formatMoneyFromNumber_data();
    void formatMoneyFromNumber();
    void cells_data();
    void cells();
    void nonNumberInMoneyColumnRaises();
    void reportLines_data();
    void reportLines();
    void commaQuote_data();
    void commaQuote();
};

namespace {

FieldInfo field(const QString &title, int type, int width, const QString &text, bool isNull = false)
{
    FieldInfo info;
    info.title = title;
    info.type = type;
    info.displayWidth = width;
    info.isNull = isNull;
    info.text = text;
    return info;
}

QString blanks(int count)
{
    return QString(count, QLatin1Char(' '));
}

// Pins the value locale to one whose separators are these: a decimal point with a group comma,
// or a decimal comma with a group point.
void pinSeparators(const QString &decimal, const QString &group)
{
    ValueText::setLocale(decimal == QLatin1String(".") ? QLocale::c() : QLocale(QLocale::German));
    QCOMPARE(ValueText::localeForms().decimal, decimal);
    QCOMPARE(ValueText::localeForms().group, group);
}

} // namespace

void tst_fieldtext::init()
{
    pinSeparators(QStringLiteral("."), QStringLiteral(","));
}

void tst_fieldtext::fieldText_data()
{
    QTest::addColumn<bool>("isNull");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("null") << true << QString() << QStringLiteral("<Null>");
    QTest::newRow("null hides stale text")
        << true << QStringLiteral("x") << QStringLiteral("<Null>");
    QTest::newRow("empty string is not null") << false << QString() << QString();
    QTest::newRow("value") << false << QStringLiteral("a,b") << QStringLiteral("a,b");
}

void tst_fieldtext::fieldText()
{
    QFETCH(bool, isNull);
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(FieldText(field(QStringLiteral("F"), FieldTypes::String, 10, text, isNull)), expected);
}

void tst_fieldtext::padding_data()
{
    QTest::addColumn<bool>("left");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("expected");
    QTest::newRow("right, longer than width") << false << "abc" << 2 << "abc";
    QTest::newRow("right, empty to 3") << false << "" << 3 << "   ";
    QTest::newRow("left, one char to 3") << true << "7" << 3 << "  7";
    QTest::newRow("left, width 0") << true << "ab" << 0 << "ab";
    QTest::newRow("right, negative width") << false << "ab" << -5 << "ab";
    QTest::newRow("left, negative width") << true << "" << -1 << "";
}

void tst_fieldtext::padding()
{
    QFETCH(bool, left);
    QFETCH(QString, text);
    QFETCH(int, width);
    QFETCH(QString, expected);
    QCOMPARE(left ? PadLeft(text, width) : PadRight(text, width), expected);
}

void tst_fieldtext::formatMoney_data()
{
    QTest::addColumn<QString>("decimal");
    QTest::addColumn<QString>("group");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    const QString point = QStringLiteral(".");
    const QString comma = QStringLiteral(",");
    QTest::newRow("millions") << point << comma << "1234567.891"
                              << "1,234,567.89";
    QTest::newRow("half") << point << comma << "0.5"
                          << "0.50";
    QTest::newRow("negative") << point << comma << "-1234.5"
                              << "-1,234.50";
    QTest::newRow("wider than ten") << point << comma << "12345678.9"
                                    << "12,345,678.90";
    QTest::newRow("zero") << point << comma << "0"
                          << "0.00";
    QTest::newRow("exactly a thousand") << point << comma << "1000"
                                        << "1,000.00";
    QTest::newRow("rounds half away from zero") << point << comma << "1.005"
                                                << "1.01";
    QTest::newRow("negative rounds away") << point << comma << "-2.675"
                                          << "-2.68";
    QTest::newRow("carry into a new group") << point << comma << "999999.995"
                                            << "1,000,000.00";
    QTest::newRow("tiny negative is zero") << point << comma << "-0.001"
                                           << "0.00";
    QTest::newRow("small rounds up") << point << comma << "0.005"
                                     << "0.01";
    QTest::newRow("exponent and sign") << point << comma << "+2.5E-1"
                                       << "0.25";
    QTest::newRow("large exponent, every digit") << point << comma << "1.5e20"
                                                 << "150,000,000,000,000,000,000.00";
    QTest::newRow("comma locale") << comma << point << "-1234567,891"
                                  << "-1.234.567,89";
}

void tst_fieldtext::formatMoney()
{
    QFETCH(QString, decimal);
    QFETCH(QString, group);
    QFETCH(QString, text);
    QFETCH(QString, expected);
    pinSeparators(decimal, group);
    QCOMPARE(FormatMoney(text), expected);
}

void tst_fieldtext::formatMoneyRejects_data()
{
    QTest::addColumn<QString>("decimal");
    QTest::addColumn<QString>("text");
    QTest::newRow("null text") << "."
                               << "<Null>";
    QTest::newRow("letters") << "."
                             << "abc";
    QTest::newRow("empty") << "."
                           << "";
    QTest::newRow("grouped") << "."
                             << "1,234.5";
    QTest::newRow("point under a comma locale") << ","
                                                << "1.5";
    QTest::newRow("overflow") << "."
                              << "1e999";
}

void tst_fieldtext::formatMoneyRejects()
{
    QFETCH(QString, decimal);
    QFETCH(QString, text);
    pinSeparators(decimal, decimal == QLatin1String(".") ? "," : ".");
    try {
        FormatMoney(text);
        QFAIL("no conversion error");
    } catch (const std::runtime_error &error) {
        QCOMPARE(QString::fromUtf8(error.what()),
            QStringLiteral("'%1' is not a valid floating point value").arg(text));
    }
}

void tst_fieldtext::formatMoneyFromNumber_data()
{
    // Formatting the fetched number gives what reading its text form back gave, halfway values
    // (a 16th significant digit 5 and nothing after it) and values that are not finite included.
    QTest::addColumn<QList<double>>("values");
    QTest::newRow("plain") << QList<double> { 1234.5, -1234.5, 0.5, 12345678.9, 0, -0.0, 1000 };
    QTest::newRow("decimal halves") << QList<double> { 1.005, -2.675, 999999.995, 0.005, 0.125 };
    QTest::newRow("halfway at 15 digits") << QList<double> { 1000000000000005.0, 100000000000000.5,
        -100000000000000.5, std::ldexp(1.0, -22), 123456789012345.5 };
    QTest::newRow("extremes") << QList<double> { 1.5e20, 1e300, -1e-300, 5e-324,
        std::numeric_limits<double>::max(), std::numeric_limits<double>::min() };
    QTest::newRow("not finite") << QList<double> { std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN() };
    std::mt19937_64 random(13);
    QList<double> many;
    for (int i = 0; i < 20000; ++i) {
        // Cents of every size, and halves of the last place that 15 digits keep.
        const double cents = double(random() % 100000000000000000ULL) / 100;
        many << cents << -cents / 7 << std::ldexp(double(random() % (1ULL << 53)), -(i % 60));
    }
    QTest::newRow("many") << many;
}

void tst_fieldtext::formatMoneyFromNumber()
{
    QFETCH(QList<double>, values);
    pinSeparators(QStringLiteral("."), QStringLiteral(","));
    for (const double value : values) {
        QString fromText, fromNumber;
        try {
            fromText = FormatMoney(ValueText::floatText(value));
        } catch (const std::runtime_error &error) {
            fromText = QString::fromUtf8(error.what());
        }
        try {
            fromNumber = FormatMoney(value);
        } catch (const std::runtime_error &error) {
            fromNumber = QString::fromUtf8(error.what());
        }
        QVERIFY2(fromNumber == fromText,
            qPrintable(QStringLiteral("%1: %2 against %3")
                           .arg(QString::number(value, 'g', 17), fromNumber, fromText)));
    }
}

void tst_fieldtext::cells_data()
{
    QTest::addColumn<FieldInfo>("info");
    QTest::addColumn<QString>("header");
    QTest::addColumn<QString>("data");
    QTest::addColumn<QString>("rowCopy");

    using namespace FieldTypes;
    QTest::newRow("integer") << field("ID", Integer, 10, "7") << blanks(8) + "ID" << blanks(9) + "7"
                             << blanks(9) + "7";
    QTest::newRow("integer null") << field("ID", Integer, 10, "", true) << blanks(8) + "ID"
                                  << blanks(4) + "<Null>" << blanks(4) + "<Null>";
    QTest::newRow("integer, title longer")
        << field("QUANTITY_ORDERED", SmallInt, 6, "-3") << "QUANTITY_ORDERED" << blanks(14) + "-3"
        << blanks(14) + "-3";
    QTest::newRow("BCD not reformatted") << field("PRICE", BCD, 10, "1234.5") << blanks(5) + "PRICE"
                                         << blanks(4) + "1234.5" << blanks(4) + "1234.5";
    QTest::newRow("string") << field("NAME", String, 20, "ABC") << "NAME" + blanks(16)
                            << "ABC" + blanks(17) << "ABC" + blanks(17);
    QTest::newRow("string longer than width") << field("N", String, 3, "ABCDEF") << "N  "
                                              << "ABCDEF"
                                              << "ABCDEF";
    QTest::newRow("date") << field("BORN", Date, 10, "12/31/2001") << "BORN" + blanks(6)
                          << "12/31/2001"
                          << "12/31/2001";
    QTest::newRow("date, one-letter title, null")
        << field("D", Date, 10, "", true) << "D" + blanks(9) << "<Null>" + blanks(4)
        << "<Null>" + blanks(4);
    QTest::newRow("date widened by the grid")
        << field("D", Date, 14, "1/2/2003") << "D" + blanks(9) << "1/2/2003  "
        << "1/2/2003" + blanks(6);
    QTest::newRow("time") << field("T", Time, 10, "11:59:59 PM") << "T" + blanks(12)
                          << "11:59:59 PM  "
                          << "11:59:59 PM";
    const QString title30 = QStringLiteral("A_DATE_TIME_TITLE_OF_30_CHARS_");
    QTest::newRow("date-time, 30-character title")
        << field(title30, DateTime, 18, "1/1/2001") << title30 << "1/1/2001" + blanks(22)
        << "1/1/2001" + blanks(22);
    QTest::newRow("float") << field("AMOUNT", Float, 10, "1234.5") << blanks(4) + "AMOUNT"
                           << blanks(2) + "1,234.50" << blanks(2) + "1,234.50";
    QTest::newRow("float wider than W")
        << field("AMOUNT", Float, 10, "12345678.9") << blanks(4) + "AMOUNT"
        << "12,345,678.90"
        << "12,345,678.90";
    QTest::newRow("float, 16-character title")
        << field("AMOUNT_IN_EUROS_", Float, 10, "0.5") << "AMOUNT_IN_EUROS_" << blanks(6) + "0.50"
        << blanks(6) + "0.50";
    QTest::newRow("currency negative") << field("C", Currency, 10, "-1234.5") << blanks(9) + "C"
                                       << " -1,234.50"
                                       << " -1,234.50";
    QTest::newRow("float null") << field("AMOUNT", Float, 10, "", true) << blanks(4) + "AMOUNT"
                                << blanks(4) + "<Null>" << blanks(4) + "<Null>";
}

void tst_fieldtext::cells()
{
    QFETCH(FieldInfo, info);
    QFETCH(QString, header);
    QFETCH(QString, data);
    QFETCH(QString, rowCopy);
    QCOMPARE(ReportHeaderCell(info), header);
    QCOMPARE(ReportDataCell(info), data);
    QCOMPARE(RowCopyCell(info), rowCopy);
}

void tst_fieldtext::nonNumberInMoneyColumnRaises()
{
    const FieldInfo info = field("AMOUNT", FieldTypes::Float, 10, "12a");
    const QString message = QStringLiteral("'12a' is not a valid floating point value");
    using Cell = QString (*)(const FieldInfo &);
    for (Cell cell : { Cell(&ReportDataCell), Cell(&RowCopyCell) }) {
        try {
            (void)cell(info);
            QFAIL("no conversion error");
        } catch (const std::runtime_error &error) {
            QCOMPARE(QString::fromUtf8(error.what()), message);
        }
    }
}

void tst_fieldtext::reportLines_data()
{
    QTest::addColumn<QList<FieldInfo>>("fields");
    QTest::addColumn<QString>("header");
    QTest::addColumn<QString>("data");

    using namespace FieldTypes;
    QTest::newRow("ID NAME BORN AMOUNT")
        << QList<FieldInfo> { field("ID", Integer, 10, "7"), field("NAME", String, 20, "ABC"),
               field("BORN", Date, 10, "12/31/2001"), field("AMOUNT", Float, 10, "1234.5") }
        << "        ID  NAME                  BORN            AMOUNT"
        << "         7  ABC                   12/31/2001    1,234.50";
    QTest::newRow("long value pushes the line right")
        << QList<FieldInfo> { field("N", String, 3, "ABCDEF"), field("ID", Integer, 4, "1") }
        << "N      ID"
        << "ABCDEF     1";
    QTest::newRow("long float title shifts data lines left")
        << QList<FieldInfo> { field("AMOUNT_IN_EUROS_", Float, 10, "2"),
               field("X", String, 2, "ab") }
        << "AMOUNT_IN_EUROS_  X "
        << "      2.00  ab";
    QTest::newRow("single field keeps its padding")
        << QList<FieldInfo> { field("NOTE", String, 6, "x") } << "NOTE  "
        << "x     ";
}

void tst_fieldtext::reportLines()
{
    QFETCH(QList<FieldInfo>, fields);
    QFETCH(QString, header);
    QFETCH(QString, data);
    QStringList headerCells;
    QStringList dataCells;
    for (const FieldInfo &info : fields) {
        headerCells << ReportHeaderCell(info);
        dataCells << ReportDataCell(info);
    }
    QCOMPARE(JoinCells(headerCells), header);
    QCOMPARE(JoinCells(dataCells), data);
}

void tst_fieldtext::commaQuote_data()
{
    QTest::addColumn<QStringList>("pieces");
    QTest::addColumn<QString>("expected");
    QTest::newRow("no fields") << QStringList() << QString();
    QTest::newRow("record with null")
        << QStringList { "7", "ABC", "<Null>" } << "\"7\",\"ABC\",\"<Null>\"";
    QTest::newRow("quote, comma and line break unchanged")
        << QStringList { "a\"b", "DE,F", "x\r\ny", "" } << "\"a\"b\",\"DE,F\",\"x\r\ny\",\"\"";
}

void tst_fieldtext::commaQuote()
{
    QFETCH(QStringList, pieces);
    QFETCH(QString, expected);
    QCOMPARE(CommaQuoteJoin(pieces), expected);
}

QTEST_GUILESS_MAIN(tst_fieldtext)
#include "tst_fieldtext.moc"
