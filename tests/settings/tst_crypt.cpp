#include "settings/crypt.h"
#include "support/TestEnv.h"

#include <QtTest>

class tst_crypt : public QObject
{
    Q_OBJECT

private:
    static QChar lastSymbol()
    {
        for (ushort code = 0; code < 128; ++code) {
            if (SymbolIndex(QChar(code)) == 67)
                return QChar(code);
        }
        return QChar();
    }

private slots:
    void alphabetMembers();
    void roundTrip_data();
    void roundTrip();
    void nonMember_data();
    void nonMember();
    void keyRepeatsEvery18();
    void pinnedValues_data();
    void pinnedValues();
};

void tst_crypt::alphabetMembers()
{
    // Exactly letters, digits, blank, CR, LF, '=' and '-', each at its own position 1..67.
    const QString expected = QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                            "0123456789 \r\n=-");
    QList<bool> used(68, false);
    for (ushort code = 0; code < 0x3000; ++code) {
        const QChar c(code);
        const int index = SymbolIndex(c);
        QCOMPARE(index > 0, expected.contains(c));
        if (index == 0)
            continue;
        QVERIFY2(index <= 67, qPrintable(QString::number(index)));
        QVERIFY2(!used.at(index), "two characters share a position");
        used[index] = true;
    }
    QCOMPARE(used.count(true), 67);
    QVERIFY(SymbolIndex(QLatin1Char('a')) != SymbolIndex(QLatin1Char('A')));
}

void tst_crypt::roundTrip_data()
{
    QTest::addColumn<QString>("plain");
    QTest::newRow("empty") << QString();
    QTest::newRow("login text") << QStringLiteral("USER NAME=ab1\r\nPASSWORD=x-9\r\n");
    QTest::newRow("empty user and password") << QStringLiteral("USER NAME=\r\nPASSWORD=\r\n");
    QTest::newRow("every member") << QStringLiteral(
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 \r\n=-");
    QTest::newRow("longer than the key twice")
        << QStringLiteral("USER NAME=a very long user name\r\nPASSWORD=Secret-2024 == x\r\n");
}

void tst_crypt::roundTrip()
{
    QFETCH(QString, plain);
    const QString scrambled = Encrypt(plain);
    QCOMPARE(scrambled.size(), plain.size());
    if (plain.size() > 4)
        QVERIFY(scrambled != plain);
    for (QChar c : scrambled)
        QVERIFY(SymbolIndex(c) > 0);
    QCOMPARE(Decrypt(scrambled), plain);
}

void tst_crypt::nonMember_data()
{
    QTest::addColumn<QString>("plain");
    QTest::addColumn<int>("position"); // of the one non-member
    QTest::newRow("hash") << QStringLiteral("PASSWORD=ab#cd\r\n") << 11;
    QTest::newRow("underscore first") << QStringLiteral("_x") << 0;
    QTest::newRow("full stop last") << QStringLiteral("abc.") << 3;
    QTest::newRow("non-ASCII letter") << QStringLiteral("pass\u00e9word") << 4;
    QTest::newRow("NUL") << QString(QChar(0)) << 0;
    QTest::newRow("past the key") << QStringLiteral("0123456789012345678901234567@9") << 28;
}

void tst_crypt::nonMember()
{
    QFETCH(QString, plain);
    QFETCH(int, position);
    const QString scrambled = Encrypt(plain);
    QCOMPARE(scrambled.size(), plain.size());
    for (QChar c : scrambled)
        QVERIFY(SymbolIndex(c) > 0);
    QString expected = plain;
    expected[position] = lastSymbol();
    QCOMPARE(Decrypt(scrambled), expected);
}

void tst_crypt::keyRepeatsEvery18()
{
    // The same character at positions 1, 19 and 37 is shifted by the same key symbol, and
    // the key is not one repeated symbol.
    const QString plain(40, QLatin1Char('k'));
    const QString scrambled = Encrypt(plain);
    QCOMPARE(scrambled.size(), 40);
    for (int i = 0; i + 18 < 40; ++i)
        QCOMPARE(scrambled.at(i + 18), scrambled.at(i));
    QVERIFY(QString(scrambled.left(18)).count(scrambled.at(0)) < 18);
}

void tst_crypt::pinnedValues_data()
{
    // Values scrambled by earlier releases must keep reading back: alphabet order and key are
    // a stored format.
    QTest::addColumn<QString>("plain");
    QTest::addColumn<QString>("scrambled");
    QTest::newRow("login text") << QStringLiteral("USER NAME=ab1\r\nPASSWORD=x-9\r\n")
                                << QStringLiteral("3TSni8pVXhHs2mZ AynqKnQWJekj8");
    QTest::newRow("key stream") << QStringLiteral("qqqqqqqqqqqqqqqqqq")
                                << QStringLiteral("XiR7d\rmrDzMUw2Kaqv");
    QTest::newRow("blanks") << QStringLiteral("   ") << QStringLiteral("MeO");
}

void tst_crypt::pinnedValues()
{
    QFETCH(QString, plain);
    QFETCH(QString, scrambled);
    QCOMPARE(Encrypt(plain), scrambled);
    QCOMPARE(Decrypt(scrambled), plain);
}

STELVIK_TEST_GUILESS_MAIN(tst_crypt)
#include "tst_crypt.moc"
