#include "valuetext/FetchedText.h"
#include "valuetext/ValueLocale.h"

#include <QtTest>

#include <cmath>
#include <cstring>
#include <limits>

// The text forms of fetched values: numbers against Qt's general form, and every form in the
// locale the one hook pins.
class tst_fetchedtext : public QObject
{
    Q_OBJECT

private slots:
    void floatMatchesGeneralForm_data();
    void floatMatchesGeneralForm();
    void pinnedLocale_data();
    void pinnedLocale();
};

// The general number form as QString::number writes it with 15 significant digits, with the
// exponent written "E", without a plus sign or leading zeros; the reference for floatText.
static QString referenceFloatText(double value)
{
    if (std::isnan(value))
        return QStringLiteral("NAN");
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
    if (value == 0)
        return QStringLiteral("0");
    QString text = QString::number(value, 'g', 15);
    const qsizetype e = text.indexOf(QLatin1Char('e'));
    if (e < 0)
        return text;
    QString exponent = text.mid(e + 1);
    const bool negative = exponent.startsWith(QLatin1Char('-'));
    if (negative || exponent.startsWith(QLatin1Char('+')))
        exponent.remove(0, 1);
    while (exponent.size() > 1 && exponent.startsWith(QLatin1Char('0')))
        exponent.remove(0, 1);
    return text.left(e) + QLatin1Char('E') + (negative ? QStringLiteral("-") : QString())
        + exponent;
}

void tst_fetchedtext::floatMatchesGeneralForm_data()
{
    QTest::addColumn<QList<double>>("values");
    QList<double> sevenths, cents, randomBits, powers, ties, small;
    for (int n = -2000; n <= 20000; ++n)
        sevenths << n / 7.0 << n / 3.0 << n * 1.1;
    for (qint64 n = 1; n <= 20000; ++n)
        cents << double(n * 7919 % 10000000) / 100.0 << double(n) / 1000.0;
    QRandomGenerator random(20240917);
    while (randomBits.size() < 50000) {
        const quint64 bits = random.generate64();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        if (std::isfinite(value))
            randomBits << value;
    }
    for (int k = -320; k <= 308; ++k) {
        const double power = std::pow(10.0, k);
        powers << power << -power << std::nextafter(power, 0.0)
               << std::nextafter(power, std::numeric_limits<double>::infinity())
               << 9.999999999999995 * power << 9.9999999999999995 * power << 1.5 * power
               << std::ldexp(1.0, k) << std::ldexp(1.0, k) * 3;
    }
    // Exact halves at the 16th digit, and their neighbours.
    for (qint64 n = 0; n < 3000; ++n) {
        const double whole = double(1000000000000000LL + n * 10 + 5);
        ties << whole << -whole << std::nextafter(whole, 0.0) << 123456789012344.5 + n
             << (n + 0.5) * 1e-3;
    }
    for (const double value : { 1e-4, 1e-5, 0.0001234, 0.00001234, 1e14, 1e15, 1e16,
             123456789012345.0, 1234567890123456.0, 0.1 + 0.2, 5e-324, 2.2250738585072014e-308,
             1.7976931348623157e308, -0.5, 0.5, 1.0, 100.0, 999999999999999.0, 999999999999999.9,
             -0.0, std::numeric_limits<double>::infinity(),
             -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN() })
        small << value;
    QTest::newRow("thirds, sevenths, tenths") << sevenths;
    QTest::newRow("cents and thousandths") << cents;
    QTest::newRow("random bit patterns") << randomBits;
    QTest::newRow("powers of ten and two, neighbours") << powers;
    QTest::newRow("halves at the sixteenth digit") << ties;
    QTest::newRow("edges of the plain form, zero, infinities") << small;
}

void tst_fetchedtext::floatMatchesGeneralForm()
{
    QFETCH(QList<double>, values);
    ValueText::setLocale(QLocale::c()); // the reference writes a decimal point
    int compared = 0;
    for (const double value : values) {
        const QString expected = referenceFloatText(value);
        const QString text = ValueText::floatText(value);
        QVERIFY2(text == expected,
            qPrintable(QString::number(value, 'g', 17) + ": " + text + " != " + expected));
        QString appended = QStringLiteral("x");
        ValueText::appendFloatText(appended, value);
        QCOMPARE(appended, QLatin1Char('x') + expected);
        ++compared;
    }
    QVERIFY(compared > 0);
}

void tst_fetchedtext::pinnedLocale_data()
{
    // One hook pins the date and time forms and the separators together; each row pins anew.
    QTest::addColumn<QString>("localeName");
    QTest::addColumn<QString>("decimal"); // decimalText of "-1234.56789"
    QTest::addColumn<QString>("number"); // floatText of 0.25
    QTest::addColumn<QString>("date"); // dateText of 31 December 2001
    QTest::addColumn<QString>("time"); // timeText of 13:05:09
    QTest::addColumn<QString>("dateTime"); // dateTimeText of both
    QTest::addColumn<QString>("midnight"); // dateTimeText of the date at 00:00:00
    QTest::newRow("en_US") << "en_US"
                           << "-1234.5679"
                           << "0.25"
                           << "12/31/01"
                           << "1:05:09 PM"
                           << "12/31/01 1:05:09 PM"
                           << "12/31/01";
    QTest::newRow("de_DE") << "de_DE"
                           << "-1234,5679"
                           << "0,25"
                           << "31.12.01"
                           << "13:05:09"
                           << "31.12.01 13:05:09"
                           << "31.12.01";
    QTest::newRow("C") << "C"
                       << "-1234.5679"
                       << "0.25"
                       << "31 Dec 2001"
                       << "13:05:09"
                       << "31 Dec 2001 13:05:09"
                       << "31 Dec 2001";
}

void tst_fetchedtext::pinnedLocale()
{
    QFETCH(QString, localeName);
    QFETCH(QString, decimal);
    QFETCH(QString, number);
    QFETCH(QString, date);
    QFETCH(QString, time);
    QFETCH(QString, dateTime);
    QFETCH(QString, midnight);
    ValueText::setLocale(QLocale(localeName));
    QCOMPARE(ValueText::localeForms().locale.name(), localeName);
    const char *exact = "-1234.56789";
    QCOMPARE(ValueText::decimalText(exact, qsizetype(std::strlen(exact))), decimal);
    QCOMPARE(ValueText::floatText(0.25), number);
    QCOMPARE(ValueText::dateText(2001, 12, 31), date);
    QCOMPARE(ValueText::timeText(13, 5, 9), time);
    QCOMPARE(ValueText::dateTimeText(2001, 12, 31, 13, 5, 9, 0), dateTime);
    QCOMPARE(ValueText::dateTimeText(2001, 12, 31, 0, 0, 0, 0), midnight);
}

QTEST_GUILESS_MAIN(tst_fetchedtext)
#include "tst_fetchedtext.moc"
