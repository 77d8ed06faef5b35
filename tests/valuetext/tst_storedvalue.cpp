#include "valuetext/StoredValue.h"

#include <QtTest>

#include <limits>

using ValueText::StoredKind;

// The text of stored values that need no locale: whole numbers, booleans, bytes, and text cut
// for a grid cell (never inside a character, "…" for what is left out).
class tst_storedvalue : public QObject
{
    Q_OBJECT

private slots:
    void text_data();
    void text();
};

namespace {

template <typename T>
QByteArray bytesOf(T value)
{
    return QByteArray(reinterpret_cast<const char *>(&value), sizeof value);
}

} // namespace

void tst_storedvalue::text_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<int>("maxChars");
    QTest::addColumn<QString>("full");
    QTest::addColumn<QString>("shown");
    const auto minimum = std::numeric_limits<std::int64_t>::min();
    const QString grin = QString::fromUtf8("\xF0\x9F\x98\x80"); // two UTF-16 units
    QTest::newRow("smallest whole number")
        << int(StoredKind::Int64) << bytesOf(minimum) << 5 << "-9223372036854775808"
        << "-9223372036854775808";
    QTest::newRow("true") << int(StoredKind::Bit) << QByteArray(1, 1) << 2 << "True"
                          << "True";
    QTest::newRow("bytes cut by pairs") << int(StoredKind::Binary) << QByteArray("\x01\xAB\xFF", 3)
                                        << 5 << "01ABFF" << QString::fromUtf8("01AB…");
    QTest::newRow("text that fits") << int(StoredKind::Text) << QByteArray("Köln") << 4
                                    << QString::fromUtf8("Köln") << QString::fromUtf8("Köln");
    QTest::newRow("text cut") << int(StoredKind::Text) << QByteArray("Grüße aus Köln") << 5
                              << QString::fromUtf8("Grüße aus Köln") << QString::fromUtf8("Grüße…");
    QTest::newRow("no half surrogate pair")
        << int(StoredKind::Text) << (QByteArray("ab") + grin.toUtf8() + "cd") << 3
        << "ab" + grin + "cd" << QString::fromUtf8("ab…");
    QTest::newRow("no half UTF-8 character")
        << int(StoredKind::Text) << QByteArray("東京東京") << 1 << QString::fromUtf8("東京東京")
        << QString::fromUtf8("東…");
}

void tst_storedvalue::text()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, stored);
    QFETCH(int, maxChars);
    QFETCH(QString, full);
    QFETCH(QString, shown);
    QString out = QStringLiteral(">");
    ValueText::appendStoredText(
        out, StoredKind(kind), stored.constData(), std::size_t(stored.size()));
    QCOMPARE(out, ">" + full);
    QCOMPARE(ValueText::storedDisplayText(
                 StoredKind(kind), stored.constData(), std::size_t(stored.size()), maxChars),
        shown);
}

QTEST_GUILESS_MAIN(tst_storedvalue)
#include "tst_storedvalue.moc"
