#include "valuetext/DateTimeFormat.h"

#include <QtTest>

// The directly written date and time forms against QLocale::toString, which they replace on the
// hot path: the same text for every value, in several real locales' formats.
class tst_datetimeformat : public QObject
{
    Q_OBJECT

private:
    static QList<QDate> sampleDates()
    {
        QList<QDate> dates;
        for (const int year : { 1, 9, 10, 99, 100, 999, 1000, 1900, 1999, 2000, 2001, 2009, 2010,
                 2024, 2099, 9999 }) {
            for (int month = 1; month <= 12; ++month) {
                const int last = QDate(year, month, 1).daysInMonth();
                for (const int day : { 1, 2, 9, 10, 11, 19, 28, last })
                    dates << QDate(year, month, day);
            }
        }
        return dates;
    }

    static QList<QTime> sampleTimes()
    {
        QList<QTime> times;
        for (int hour = 0; hour < 24; ++hour)
            for (const int minute : { 0, 1, 9, 10, 30, 59 })
                for (const int second : { 0, 5, 10, 59 })
                    times << QTime(hour, minute, second);
        return times;
    }

    // A locale's long time form as the dataset uses it: without the time zone field.
    static QString withoutZone(QString format)
    {
        format.remove(QLatin1Char('t'));
        return format.trimmed();
    }

    static QStringList localeNames()
    {
        return { QStringLiteral("en_US"), QStringLiteral("de_DE"), QStringLiteral("fr_FR"),
            QStringLiteral("ja_JP"), QStringLiteral("en_GB"), QStringLiteral("C") };
    }

private slots:
    void dateMatchesLocale_data();
    void dateMatchesLocale();
    void timeMatchesLocale_data();
    void timeMatchesLocale();
};

void tst_datetimeformat::dateMatchesLocale_data()
{
    QTest::addColumn<QString>("localeName");
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("direct");
    for (const QString &name : localeNames()) {
        const QLocale locale(name);
        const QByteArray tag = name.toLatin1();
        // The dataset's date form must be written directly in every one of these locales.
        QTest::newRow(tag + " short date")
            << name << locale.dateFormat(QLocale::ShortFormat) << true;
        QTest::newRow(tag + " long date") << name << locale.dateFormat(QLocale::LongFormat) << true;
    }
    QTest::newRow("iso") << "de_DE"
                         << "yyyy-MM-dd" << true;
    QTest::newRow("single digits") << "en_US"
                                   << "d/M/yy" << true;
    QTest::newRow("quoted literals") << "fr_FR"
                                     << "'le' d 'du' M ''yy''" << true;
    QTest::newRow("quote inside quotes") << "en_GB"
                                         << "'it''s' dd.MM.yyyy" << true;
    QTest::newRow("unclosed quote") << "en_US"
                                    << "yyyy 'rest" << true;
    QTest::newRow("short month name") << "de_DE"
                                      << "dd. MMM yyyy" << true;
    QTest::newRow("short day name") << "fr_FR"
                                    << "ddd d MMMM" << true;
    QTest::newRow("long names") << "ja_JP"
                                << "yyyy MMMM d dddd" << true;
    QTest::newRow("five M") << "en_US"
                            << "MMMMM d" << true;
    QTest::newRow("milliseconds") << "en_US"
                                  << "yyyy-MM-dd zzz" << false;
    QTest::newRow("single y") << "en_US"
                              << "y-M-d" << false;
    QTest::newRow("three y") << "en_US"
                             << "yyy-M-d" << false;
}

void tst_datetimeformat::dateMatchesLocale()
{
    QFETCH(QString, localeName);
    QFETCH(QString, format);
    QFETCH(bool, direct);
    const QLocale locale(localeName);
    const ValueText::DateTimeFormat compiled(format, locale);
    QCOMPARE(compiled.isDirect(), direct);
    QString text = QStringLiteral("x");
    for (const QDate &date : sampleDates()) {
        text.resize(1); // appends to what is there
        compiled.appendDate(text, date.year(), date.month(), date.day());
        const QString expected = QLatin1Char('x') + locale.toString(date, format);
        QVERIFY2(text == expected,
            qPrintable(date.toString(Qt::ISODate) + ": " + text + " != " + expected));
    }
}

void tst_datetimeformat::timeMatchesLocale_data()
{
    QTest::addColumn<QString>("localeName");
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("direct");
    for (const QString &name : localeNames()) {
        const QLocale locale(name);
        const QByteArray tag = name.toLatin1();
        QTest::newRow(tag + " long time")
            << name << withoutZone(locale.timeFormat(QLocale::LongFormat)) << true;
        QTest::newRow(tag + " short time")
            << name << locale.timeFormat(QLocale::ShortFormat) << true;
        // The time zone field itself is not written directly.
        QTest::newRow(tag + " long time with zone")
            << name << locale.timeFormat(QLocale::LongFormat) << false;
    }
    QTest::newRow("12 hours upper") << "en_US"
                                    << "h:mm:ss AP" << true;
    QTest::newRow("12 hours lower two digits") << "en_US"
                                               << "hh:mm:ss ap" << true;
    QTest::newRow("single a") << "en_GB"
                              << "h.m.s a" << true;
    QTest::newRow("single A before h") << "en_US"
                                       << "A h:m" << true;
    QTest::newRow("quoted a does not make 12 hours") << "en_US"
                                                     << "h 'a' m" << true;
    QTest::newRow("H stays 24 hours") << "en_US"
                                      << "H:mm AP" << true;
    QTest::newRow("German markers") << "de_DE"
                                    << "hh:mm AP" << true;
    QTest::newRow("Japanese markers") << "ja_JP"
                                      << "ap h:mm:ss" << true;
    QTest::newRow("single digits") << "fr_FR"
                                   << "H'h'm's's" << true;
    QTest::newRow("quote inside quotes") << "en_US"
                                         << "h 'o''clock' mm" << true;
    QTest::newRow("mixed marker case") << "en_US"
                                       << "h:mm Ap" << false;
    QTest::newRow("milliseconds") << "en_US"
                                  << "HH:mm:ss.zzz" << false;
    QTest::newRow("three m") << "en_US"
                             << "HH:mmm" << false;
}

void tst_datetimeformat::timeMatchesLocale()
{
    QFETCH(QString, localeName);
    QFETCH(QString, format);
    QFETCH(bool, direct);
    const QLocale locale(localeName);
    const ValueText::DateTimeFormat compiled(format, locale);
    QCOMPARE(compiled.isDirect(), direct);
    QString text = QStringLiteral("x");
    for (const QTime &time : sampleTimes()) {
        text.resize(1);
        compiled.appendTime(text, time.hour(), time.minute(), time.second());
        const QString expected = QLatin1Char('x') + locale.toString(time, format);
        QVERIFY2(text == expected,
            qPrintable(time.toString(Qt::ISODate) + ": " + text + " != " + expected));
    }
}

QTEST_GUILESS_MAIN(tst_datetimeformat)
#include "tst_datetimeformat.moc"
