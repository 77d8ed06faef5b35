#include "fanout/ReadOnlyGate.h"

#include <QtTest>

// Only one statement that does nothing but read runs on several aliases: every case of the
// statement model's corpus, in its own dialect, is let through exactly when the corpus says it is
// one query that reads and nothing more.
class tst_readonlygate : public QObject
{
    Q_OBJECT

private slots:
    void corpus_data();
    void corpus();
};

void tst_readonlygate::corpus_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<int>("dialect");
    QTest::addColumn<bool>("runs");
    const std::pair<const char *, Sql::Dialect> files[] = { { "db2", Sql::Dialect::Db2 },
        { "postgresql", Sql::Dialect::PostgreSql }, { "sqlite", Sql::Dialect::Sqlite },
        { "ansi", Sql::Dialect::Ansi } };
    int reads = 0;
    int refused = 0;
    // Each case: "### name", the text, then one ">>> kind effects [!] [open@n] | text" per
    // statement; one that only reads says ">>> query R | ...".
    const QRegularExpression onlyReads(QStringLiteral("^>>> query R? *\\|"));
    for (const auto &[name, dialect] : files) {
        QFile file(QStringLiteral(STELVIK_CORPUS_DIR "/%1.txt").arg(QLatin1String(name)));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList cases = QString::fromUtf8(file.readAll()).split(QStringLiteral("\n### "));
        for (const QString &block : cases.mid(1)) {
            const QStringList lines = block.split(u'\n');
            const int end = int(lines.indexOf(QRegularExpression(QStringLiteral("^>>> .*"))));
            const QStringList expected = lines.mid(end).filter(QRegularExpression("^>>> (?!none)"));
            const bool runs = expected.size() == 1 && expected.front().contains(onlyReads);
            (runs ? reads : refused)++;
            QTest::addRow("%s: %s", name, qPrintable(lines.front()))
                << lines.mid(1, end - 1).join(u'\n') << int(dialect) << runs;
        }
    }
    QVERIFY2(reads >= 25 && refused >= 100, "the corpus holds too few cases");
}

void tst_readonlygate::corpus()
{
    QFETCH(QString, sql);
    QFETCH(int, dialect);
    QFETCH(bool, runs);
    const QString refusal = ReadOnlyGate::refusal(sql.trimmed(), Sql::Dialect(dialect));
    if (runs)
        QCOMPARE(refusal, QString());
    else
        QVERIFY2(!refusal.isEmpty(), qPrintable(sql));
}

QTEST_GUILESS_MAIN(tst_readonlygate)
#include "tst_readonlygate.moc"
