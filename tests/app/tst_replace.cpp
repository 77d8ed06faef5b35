#include "app/ReplaceText.h"
#include "support/TestEnv.h"

#include <QtTest>

namespace {

// The plain chain, step by step, as the users' description has it; gives up after `limit` steps.
std::optional<QString> chainResult(
    QString text, const QString &search, const QString &replacement, int limit)
{
    for (int step = 0; step < limit; ++step) {
        const qsizetype p = text.indexOf(search, 0, Qt::CaseInsensitive);
        if (search.isEmpty() || p < 0)
            return text;
        text.replace(p, search.size(), replacement);
    }
    return std::nullopt;
}

QStringList words(const QString &alphabet, int minLength, int maxLength)
{
    QStringList result;
    QStringList level { QString() };
    for (int length = 0; length <= maxLength; ++length) {
        if (length >= minLength)
            result += level;
        QStringList next;
        for (const QString &w : level)
            for (QChar c : alphabet)
                next << w + c;
        level = next;
    }
    return result;
}

} // namespace

class tst_replace : public QObject
{
    Q_OBJECT

private slots:
    void findMatch_data();
    void findMatch();
    void replaceFirst_data();
    void replaceFirst();
    void replaceAll_data();
    void replaceAll();
    void endingChainsAgreeWithThePlainChain();
};

void tst_replace::findMatch_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("search");
    QTest::addColumn<qsizetype>("from");
    QTest::addColumn<qsizetype>("position");
    QTest::newRow("lower finds upper")
        << QStringLiteral("SELECT x") << QStringLiteral("select") << qsizetype(0) << qsizetype(0);
    QTest::newRow("mixed case") << QStringLiteral("a FrOm b") << QStringLiteral("fRoM")
                                << qsizetype(0) << qsizetype(2);
    QTest::newRow("accented only itself")
        << QStringLiteral("\u00C9t\u00E9 ete") << QStringLiteral("\u00E9t\u00E9") << qsizetype(0)
        << qsizetype(-1);
    QTest::newRow("accented exact")
        << QStringLiteral("x \u00E9t\u00E9") << QStringLiteral("\u00E9T\u00E9") << qsizetype(0)
        << qsizetype(2);
    // Only a to z fold: the German sharp s and the dotless i stay themselves.
    QTest::newRow("no full case folding")
        << QStringLiteral("STRASSE") << QStringLiteral("stra\u00DFe") << qsizetype(0)
        << qsizetype(-1);
    QTest::newRow("brackets are not letters")
        << QStringLiteral("[{") << QStringLiteral("{[") << qsizetype(0) << qsizetype(-1);
    QTest::newRow("from skips earlier")
        << QStringLiteral("ab ab") << QStringLiteral("AB") << qsizetype(1) << qsizetype(3);
    QTest::newRow("empty search") << QStringLiteral("abc") << QString() << qsizetype(0)
                                  << qsizetype(-1);
    QTest::newRow("longer than text")
        << QStringLiteral("ab") << QStringLiteral("abc") << qsizetype(0) << qsizetype(-1);
}

void tst_replace::findMatch()
{
    QFETCH(QString, text);
    QFETCH(QString, search);
    QFETCH(qsizetype, from);
    QFETCH(qsizetype, position);
    QCOMPARE(ReplaceText::findMatch(text, search, from), position);
}

void tst_replace::replaceFirst_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("search");
    QTest::addColumn<QString>("replacement");
    QTest::addColumn<QString>("result");
    QTest::newRow("first of several") << QStringLiteral("a.x, A.y\r\n") << QStringLiteral("a.")
                                      << QStringLiteral("b.") << QStringLiteral("b.x, A.y\r\n");
    QTest::newRow("not found") << QStringLiteral("select 1\r\n") << QStringLiteral("from")
                               << QStringLiteral("x") << QStringLiteral("select 1\r\n");
    QTest::newRow("empty search") << QStringLiteral("abc\r\n") << QString() << QStringLiteral("x")
                                  << QStringLiteral("abc\r\n");
    QTest::newRow("empty replacement deletes")
        << QStringLiteral("abcabc") << QStringLiteral("B") << QString() << QStringLiteral("acabc");
    QTest::newRow("containing replacement once") << QStringLiteral("aa") << QStringLiteral("a")
                                                 << QStringLiteral("aa") << QStringLiteral("aaa");
}

void tst_replace::replaceFirst()
{
    QFETCH(QString, text);
    QFETCH(QString, search);
    QFETCH(QString, replacement);
    QFETCH(QString, result);
    QCOMPARE(ReplaceText::replaceFirst(text, search, replacement), result);
}

void tst_replace::replaceAll_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("search");
    QTest::addColumn<QString>("replacement");
    QTest::addColumn<QString>("result");

    // Chains that end: the search starts again from the top after every replacement.
    QTest::newRow("AAAA, AA to A") << QStringLiteral("AAAA") << QStringLiteral("AA")
                                   << QStringLiteral("A") << QStringLiteral("A");
    QTest::newRow("lower case search") << QStringLiteral("aaaa") << QStringLiteral("AA")
                                       << QStringLiteral("A") << QStringLiteral("A");
    QTest::newRow("every case") << QStringLiteral("Select x from T; SELECT y FROM t\r\n")
                                << QStringLiteral("from") << QStringLiteral("FROM")
                                << QStringLiteral("Select x FROM T; SELECT y FROM t\r\n");
    QTest::newRow("new match from the text around")
        << QStringLiteral("aabb") << QStringLiteral("ab") << QString() << QString();
    QTest::newRow("new match to the left") << QStringLiteral("xxxy") << QStringLiteral("xy")
                                           << QStringLiteral("y") << QStringLiteral("y");
    QTest::newRow("swap sorts") << QStringLiteral("bbbaaa") << QStringLiteral("ba")
                                << QStringLiteral("ab") << QStringLiteral("aaabbb");
    QTest::newRow("empty replacement")
        << QStringLiteral("a.x,a.y\r\nA.z\r\n") << QStringLiteral("a.") << QString()
        << QStringLiteral("x,y\r\nz\r\n");
    QTest::newRow("not found") << QStringLiteral("select 1\r\n") << QStringLiteral("from")
                               << QStringLiteral("x") << QStringLiteral("select 1\r\n");
    QTest::newRow("empty search") << QStringLiteral("abc\r\n") << QString() << QStringLiteral("x")
                                  << QStringLiteral("abc\r\n");
    QTest::newRow("accented only itself")
        << QStringLiteral("\u00C9 \u00E9 e") << QStringLiteral("\u00E9") << QStringLiteral("E")
        << QStringLiteral("\u00C9 E e");

    // Endless chains: the first replacement stays and the search goes on behind it.
    QTest::newRow("replacement contains search")
        << QStringLiteral("a x A") << QStringLiteral("a") << QStringLiteral("ab")
        << QStringLiteral("ab x ab");
    QTest::newRow("contains ignoring case")
        << QStringLiteral("tab tab") << QStringLiteral("TAB") << QStringLiteral("[tab]")
        << QStringLiteral("[tab] [tab]");
    QTest::newRow("contains at its end") << QStringLiteral("x") << QStringLiteral("x")
                                         << QStringLiteral("yx") << QStringLiteral("yx");
    // No containment: "bbaa" and the text before it form "ab" again and again.
    QTest::newRow("formed to the left") << QStringLiteral("aab") << QStringLiteral("ab")
                                        << QStringLiteral("bbaa") << QStringLiteral("abbaa");
    QTest::newRow("formed, rest still chained")
        << QStringLiteral("aab xaabb") << QStringLiteral("ab") << QStringLiteral("bbaa")
        << QStringLiteral("abbaa xabbaab");
    QTest::newRow("formed to the right") << QStringLiteral("baa") << QStringLiteral("ba")
                                         << QStringLiteral("aabb") << QStringLiteral("aabba");
    QTest::newRow("three letters") << QStringLiteral("aaba") << QStringLiteral("aba")
                                   << QStringLiteral("baab") << QStringLiteral("abaab");
}

void tst_replace::replaceAll()
{
    QFETCH(QString, text);
    QFETCH(QString, search);
    QFETCH(QString, replacement);
    QFETCH(QString, result);
    QCOMPARE(ReplaceText::replaceAll(text, search, replacement), result);
}

void tst_replace::endingChainsAgreeWithThePlainChain()
{
    // Every short text, search and replacement over a few letters (both cases): where the plain
    // chain ends, Replace All gives exactly its result; where it does not, Replace All still ends.
    const QStringList texts = words(QStringLiteral("aAb"), 0, 5);
    const QStringList searches = words(QStringLiteral("ab"), 1, 3);
    const QStringList replacements = words(QStringLiteral("aBb"), 0, 3);
    int ending = 0;
    int endless = 0;
    for (const QString &search : searches) {
        for (const QString &replacement : replacements) {
            for (const QString &text : texts) {
                const QString result = ReplaceText::replaceAll(text, search, replacement);
                if (const auto expected = chainResult(text, search, replacement, 400)) {
                    ++ending;
                    if (result != *expected)
                        QFAIL(qPrintable(QStringLiteral("%1 with %2 -> %3 gave %4, not %5")
                                             .arg(text, search, replacement, result, *expected)));
                } else {
                    ++endless;
                    // No match is left in front of the cut, and the rest follows the rule.
                    QVERIFY(result.size() <= text.size() * (replacement.size() + 1));
                }
            }
        }
    }
    QVERIFY(ending > 1000);
    QVERIFY(endless > 100);
}

STELVIK_TEST_GUILESS_MAIN(tst_replace)
#include "tst_replace.moc"
