#include "history/HistoryStore.h"
#include "support/SettingsFile.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QRect>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

using namespace HistoryStore;

namespace {

QStringList fullTexts(const HistoryItems &items)
{
    QStringList texts;
    for (const HistoryItem &item : items)
        texts << item.Object.FullText;
    return texts;
}

QStringList storedNames(QSettings &settings)
{
    QStringList names;
    for (int n = 0; n < ValueCount + 5; ++n)
        if (settings.contains(valueName(n)))
            names << valueName(n);
    return names;
}

} // namespace

class tst_history : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void addEntry_data();
    void addEntry();
    void cap();
    void loadNormalises_data();
    void loadNormalises();
    void roundTrip_data();
    void roundTrip();
    void gapsClose();
    void loadHasNoCap();
    void saveClearsStaleValues();
    void nonTextValue_data();
    void nonTextValue();
    void saveFailure();
};

void tst_history::init()
{
    SettingsFile settings;
    settings.clear();
    settings.sync();
}

void tst_history::addEntry_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<bool>("added");
    QTest::addColumn<QString>("display");
    QTest::addColumn<QString>("fullText");
    QTest::newRow("no line") << QStringList() << false << QString() << QString();
    QTest::newRow("first line empty")
        << QStringList { QString(), QStringLiteral("select 1") } << false << QString() << QString();
    QTest::newRow("one line") << QStringList { QStringLiteral("select 1") } << true
                              << QStringLiteral("select 1") << QStringLiteral("select 1\r\n");
    QTest::newRow("blank first line")
        << QStringList { QStringLiteral("  "), QStringLiteral("x") } << true << QStringLiteral("  ")
        << QStringLiteral("  \r\nx\r\n");
    QTest::newRow("empty last line")
        << QStringList { QStringLiteral("select *"), QStringLiteral("from t"), QString() } << true
        << QStringLiteral("select *") << QStringLiteral("select *\r\nfrom t\r\n\r\n");
}

void tst_history::addEntry()
{
    QFETCH(QStringList, lines);
    QFETCH(bool, added);
    QFETCH(QString, display);
    QFETCH(QString, fullText);

    HistoryItems items;
    items.append(HistoryItem { QStringLiteral("old"), TString(QStringLiteral("old\r\n")) });
    QCOMPARE(HistoryStore::addEntry(items, lines), added);
    QCOMPARE(items.size(), added ? 2 : 1);
    QCOMPARE(items.last().Display, QStringLiteral("old"));
    if (added) {
        QCOMPARE(items.first().Display, display);
        QCOMPARE(items.first().Object.FullText, fullText);
    }
}

void tst_history::cap()
{
    // 201 additions keep the newest 200; the same statement twice gives two entries.
    HistoryItems items;
    for (int i = 1; i <= 201; ++i)
        QVERIFY(HistoryStore::addEntry(items, { QStringLiteral("select %1").arg(i) }));
    QCOMPARE(items.size(), MaxEntries);
    QCOMPARE(items.first().Display, QStringLiteral("select 201"));
    QCOMPARE(items.last().Display, QStringLiteral("select 2"));
    QVERIFY(HistoryStore::addEntry(items, { QStringLiteral("select 201") }));
    QCOMPARE(items.at(0).Object.FullText, items.at(1).Object.FullText);
    QCOMPARE(items.last().Display, QStringLiteral("select 3"));

    SettingsFile settings;
    save(settings, items);
    SettingsFile reader;
    QCOMPARE(storedNames(reader).size(), MaxEntries);
    QVERIFY(!reader.contains(QStringLiteral("History200")));
    QCOMPARE(reader.value(QStringLiteral("History199")).toString(), QStringLiteral("select 3\r\n"));
}

void tst_history::loadNormalises_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("display");
    QTest::addColumn<QString>("fullText");
    QTest::newRow("no line break") << QStringLiteral("select 1") << QStringLiteral("select 1")
                                   << QStringLiteral("select 1\r\n");
    QTest::newRow("LF only") << QStringLiteral("select *\nfrom t\n") << QStringLiteral("select *")
                             << QStringLiteral("select *\r\nfrom t\r\n");
    QTest::newRow("CR only") << QStringLiteral("select *\rfrom t") << QStringLiteral("select *")
                             << QStringLiteral("select *\r\nfrom t\r\n");
    QTest::newRow("mixed") << QStringLiteral("a\r\nb\rc\nd") << QStringLiteral("a")
                           << QStringLiteral("a\r\nb\r\nc\r\nd\r\n");
    QTest::newRow("first line empty")
        << QStringLiteral("\r\nselect 1\r\n") << QString() << QStringLiteral("\r\nselect 1\r\n");
    QTest::newRow("line breaks only")
        << QStringLiteral("\n\n") << QString() << QStringLiteral("\r\n\r\n");
    QTest::newRow("ends at NUL") << QStringLiteral("select 1\r\n") + QChar(0) + QStringLiteral("x")
                                 << QStringLiteral("select 1") << QStringLiteral("select 1\r\n");
}

void tst_history::loadNormalises()
{
    QFETCH(QString, stored);
    QFETCH(QString, display);
    QFETCH(QString, fullText);

    {
        SettingsFile writer;
        writer.setValue(QStringLiteral("History0"), stored);
    }
    SettingsFile settings;
    HistoryItems items;
    load(settings, items);
    QCOMPARE(items.size(), 1);
    QCOMPARE(items.first().Display, display);
    QCOMPARE(items.first().Object.FullText, fullText);
}

void tst_history::roundTrip_data()
{
    // Texts that the settings file must escape or quote to give them back unchanged.
    QTest::addColumn<QString>("fullText");
    QTest::newRow("commas") << QStringLiteral("select a, b, c\r\nfrom t\r\n");
    QTest::newRow("quotes and semicolon") << QStringLiteral("select '\"x\";' from t;\r\n");
    QTest::newRow("leading at sign") << QStringLiteral("@ByteArray(x)\r\n");
    QTest::newRow("backslashes") << QStringLiteral("select 'C:\\tmp\\n' from t\r\n");
    QTest::newRow("blanks around") << QStringLiteral("  select 1  \r\n  \r\n");
    QTest::newRow("equals and brackets") << QStringLiteral("[General]\r\nHistory1=x\r\n");
    QTest::newRow("non-ASCII") << QStringLiteral("select 'Zürich €' from t\r\n");
}

void tst_history::roundTrip()
{
    QFETCH(QString, fullText);

    HistoryItems items;
    QVERIFY(HistoryStore::addEntry(items, splitLines(fullText)));
    QVERIFY(HistoryStore::addEntry(items, { QStringLiteral("select 2") }));
    {
        SettingsFile settings;
        save(settings, items);
    }
    SettingsFile settings;
    HistoryItems loaded;
    load(settings, loaded);
    QCOMPARE(fullTexts(loaded), fullTexts(items));
    QCOMPARE(loaded.at(1).Display, items.at(1).Display);
}

void tst_history::gapsClose()
{
    {
        SettingsFile writer;
        writer.setValue(QStringLiteral("History5"), QStringLiteral("select 5"));
        writer.setValue(QStringLiteral("History9"), QString());
        writer.setValue(QStringLiteral("History200"), QStringLiteral("select 200"));
        writer.setValue(QStringLiteral("ConnectParms"), QStringLiteral("kept"));
    }
    SettingsFile settings;
    HistoryItems items;
    load(settings, items);
    QCOMPARE(fullTexts(items),
        QStringList({ QStringLiteral("select 5\r\n"), QStringLiteral("select 200\r\n") }));

    QVERIFY(HistoryStore::addEntry(items, { QStringLiteral("select new") }));
    save(settings, items);
    SettingsFile reader;
    QCOMPARE(storedNames(reader),
        QStringList({ QStringLiteral("History0"), QStringLiteral("History1"),
            QStringLiteral("History2") }));
    QCOMPARE(reader.value(QStringLiteral("History1")).toString(), QStringLiteral("select 5\r\n"));
    QCOMPARE(reader.value(QStringLiteral("ConnectParms")).toString(), QStringLiteral("kept"));
}

void tst_history::loadHasNoCap()
{
    {
        SettingsFile writer;
        for (int n = 0; n < ValueCount; ++n)
            writer.setValue(valueName(n), QStringLiteral("select %1").arg(n));
    }
    SettingsFile settings;
    HistoryItems items;
    load(settings, items);
    QCOMPARE(items.size(), ValueCount);
    QCOMPARE(items.first().Display, QStringLiteral("select 0"));
    QCOMPARE(items.last().Display, QStringLiteral("select 200"));

    // The next addition drops the two oldest entries.
    QVERIFY(HistoryStore::addEntry(items, { QStringLiteral("select new") }));
    QCOMPARE(items.size(), MaxEntries);
    QCOMPARE(items.last().Display, QStringLiteral("select 198"));
}

void tst_history::saveClearsStaleValues()
{
    {
        SettingsFile writer;
        for (int n = 0; n < ValueCount; ++n)
            writer.setValue(valueName(n), QStringLiteral("stale %1").arg(n));
    }
    SettingsFile settings;
    HistoryItems items;
    QVERIFY(HistoryStore::addEntry(items, { QStringLiteral("a") }));
    QVERIFY(HistoryStore::addEntry(items, { QStringLiteral("b") }));
    save(settings, items);
    SettingsFile reader;
    QCOMPARE(storedNames(reader),
        QStringList({ QStringLiteral("History0"), QStringLiteral("History1") }));
    QCOMPARE(reader.value(QStringLiteral("History0")).toString(), QStringLiteral("b\r\n"));
}

void tst_history::nonTextValue_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::newRow("bytes") << QVariant(QByteArray("select 1"));
    QTest::newRow("list") << QVariant(QStringList { QStringLiteral("a"), QStringLiteral("b") });
    QTest::newRow("rectangle") << QVariant(QRect(1, 2, 3, 4));
}

void tst_history::nonTextValue()
{
    QFETCH(QVariant, value);
    {
        SettingsFile writer;
        writer.setValue(QStringLiteral("History7"), QStringLiteral("select 7"));
        writer.setValue(QStringLiteral("History3"), value);
        writer.setValue(QStringLiteral("History1"), QStringLiteral("select 1"));
    }
    SettingsFile settings;
    HistoryItems items;
    // The value is skipped and named; the newer and the older entries load all the same.
    QCOMPARE(load(settings, items), QStringList { QStringLiteral("History3") });
    QCOMPARE(fullTexts(items),
        QStringList({ QStringLiteral("select 1\r\n"), QStringLiteral("select 7\r\n") }));

    // What was not loaded is not deleted: it follows the entries, unchanged.
    QVERIFY(HistoryStore::addEntry(items, { QStringLiteral("select new") }));
    save(settings, items);
    SettingsFile reader;
    QCOMPARE(storedNames(reader),
        QStringList({ QStringLiteral("History0"), QStringLiteral("History1"),
            QStringLiteral("History2"), QStringLiteral("History3") }));
    QCOMPARE(reader.value(QStringLiteral("History2")).toString(), QStringLiteral("select 7\r\n"));
    QCOMPARE(reader.value(QStringLiteral("History3")), value);
    HistoryItems again;
    QCOMPARE(load(reader, again), QStringList { QStringLiteral("History3") });
    QCOMPARE(fullTexts(again), fullTexts(items));
}

void tst_history::saveFailure()
{
    // A settings file whose place is taken by a folder cannot be written.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("blocked.conf"));
    QVERIFY(QDir().mkpath(path));
    QSettings settings(path, QSettings::IniFormat);
    HistoryItems items;
    QVERIFY(HistoryStore::addEntry(items, { QStringLiteral("select 1") }));
    try {
        save(settings, items);
        QFAIL("a failed write was reported as success");
    } catch (const std::runtime_error &error) {
        QCOMPARE(
            QString::fromUtf8(error.what()), QStringLiteral("Failed to set data for 'History0'"));
    }
}

STELVIK_TEST_GUILESS_MAIN(tst_history)
#include "tst_history.moc"
