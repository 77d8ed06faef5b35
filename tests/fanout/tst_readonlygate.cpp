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
    for (const auto &[name, dialect] : files) {
        QFile file(QStringLiteral(STELVIK_CORPUS_DIR "/%1.txt").arg(QLatin1String(name)));
        QVERIFY(file.open(QIODevice::ReadOnly));
        // "### name", the text, then one ">>> kind effects [!] [open@n] | text" per statement.
        QString caseName;
        QStringList text;
        QStringList expected;
        const auto add = [&] {
            if (caseName.isEmpty())
                return;
            const QString separator = caseName.contains(QLatin1String("[crlf]"))
                ? QStringLiteral("\r\n")
                : caseName.contains(QLatin1String("[cr]")) ? QStringLiteral("\r")
                                                           : QStringLiteral("\n");
            bool runs = expected.size() == 1;
            if (runs) {
                const QStringList words = expected.front()
                                              .section(QLatin1Char('|'), 0, 0)
                                              .split(QLatin1Char(' '), Qt::SkipEmptyParts);
                runs = words.value(0) == QLatin1String("query")
                    && (words.size() == 1 || words.value(1) == QLatin1String("R"))
                    && words.size() <= 2;
            }
            (runs ? reads : refused)++;
            QTest::addRow("%s: %s", name, qPrintable(caseName))
                << text.join(separator) << int(dialect) << runs;
        };
        for (const QString &line : QString::fromUtf8(file.readAll()).split(u'\n')) {
            if (line.startsWith(QLatin1String("### "))) {
                add();
                caseName = line.mid(4);
                text.clear();
                expected.clear();
            } else if (line.startsWith(QLatin1String(">>> "))) {
                if (line != QLatin1String(">>> none"))
                    expected << line.mid(4);
            } else if (!caseName.isEmpty() && expected.isEmpty()) {
                text << line;
            }
        }
        add();
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
