#include "sql/SqlStatements.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTest>

using Sql::Dialect;
using Sql::Statement;

// The statement model against a corpus of statements per dialect (tests/sql/corpus/*.txt, whose
// head says how a case is written), and against text cut and garbled at random.
class tst_sqlcorpus : public QObject
{
    Q_OBJECT

private slots:
    void corpus_data();
    void corpus();
    void tenMegabytes_data();
    void tenMegabytes();
    void fuzz_data();
    void fuzz();
};

namespace {

struct Case
{
    QString name;
    QString sql;
    QStringList expected;
};

const std::pair<const char *, Dialect> dialects[] = { { "db2", Dialect::Db2 },
    { "postgresql", Dialect::PostgreSql }, { "sqlite", Dialect::Sqlite },
    { "ansi", Dialect::Ansi } };

QVector<Case> readCorpus(const QString &name)
{
    QFile file(QStringLiteral(STELVIK_CORPUS_DIR "/%1.txt").arg(name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read corpus %s", qPrintable(file.fileName()));
    QVector<Case> cases;
    QStringList text;
    for (const QString &line : QString::fromUtf8(file.readAll()).split(u'\n')) {
        if (line.startsWith(QLatin1String("### "))) {
            cases.append({ line.mid(4), QString(), {} });
            text.clear();
        } else if (cases.isEmpty()) {
            continue; // the file's head
        } else if (line.startsWith(QLatin1String(">>> "))) {
            Case &c = cases.last();
            if (c.expected.isEmpty() && c.sql.isNull()) {
                c.sql = text.join(c.name.contains(QLatin1String("[crlf]")) ? QStringLiteral("\r\n")
                        : c.name.contains(QLatin1String("[cr]"))           ? QStringLiteral("\r")
                                                                           : QStringLiteral("\n"));
            }
            if (line != QLatin1String(">>> none"))
                c.expected << line.mid(4);
        } else if (!line.isEmpty() || cases.last().sql.isNull()) {
            text << line;
        }
    }
    return cases;
}

QString effectLetters(Sql::Effects effects)
{
    QString letters;
    const char *names = "RDFCTSU";
    for (int bit = 0; bit < 7; ++bit) {
        if (effects & (1u << bit))
            letters += QLatin1Char(names[bit]);
    }
    return letters;
}

QStringList describe(const QString &sql, Dialect dialect)
{
    QStringList out;
    for (const Statement &s : Sql::splitStatements(sql, dialect)) {
        QString line = Sql::kindName(s.kind) + u' ' + effectLetters(s.effects);
        if (s.unfiltered)
            line += QStringLiteral(" !");
        if (!s.open.isEmpty())
            line += QStringLiteral(" open@%1").arg(s.openLine);
        out << line + QStringLiteral(" | ") + sql.mid(s.begin, s.end - s.begin).simplified();
    }
    return out;
}

// The pieces of all statements, joined, are the text; every statement lies inside its piece.
bool piecesGiveBackTheText(const QString &text, Dialect dialect)
{
    const QVector<Statement> statements = Sql::splitStatements(text, dialect);
    QString joined;
    int at = 0;
    for (const Statement &s : statements) {
        if (s.from != at || s.to < s.from || s.begin < s.from || s.end > s.to || s.begin > s.end)
            return false;
        joined += text.mid(s.from, s.to - s.from);
        at = s.to;
    }
    return statements.isEmpty() || joined == text;
}

} // namespace

void tst_sqlcorpus::corpus_data()
{
    QTest::addColumn<int>("dialect");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QStringList>("expected");
    int statements = 0;
    for (const auto &[name, dialect] : dialects) {
        for (const Case &c : readCorpus(QLatin1String(name))) {
            QTest::addRow("%s: %s", name, qPrintable(c.name))
                << int(dialect) << c.sql << c.expected;
            statements += c.expected.size();
        }
    }
    QVERIFY2(statements >= 150, "the corpus holds too few statements");
}

void tst_sqlcorpus::corpus()
{
    QFETCH(int, dialect);
    QFETCH(QString, sql);
    QFETCH(QStringList, expected);
    QCOMPARE(describe(sql, Dialect(dialect)), expected);
    QVERIFY(piecesGiveBackTheText(sql, Dialect(dialect)));
}

void tst_sqlcorpus::tenMegabytes_data()
{
    QTest::addColumn<int>("dialect");
    for (const auto &[name, dialect] : dialects)
        QTest::newRow(name) << int(dialect);
}

// The corpus's closed cases over and over up to 10 MB: the same statements, the same count.
void tst_sqlcorpus::tenMegabytes()
{
    QFETCH(int, dialect);
    const QString name = QLatin1String(dialects[0].first);
    QString block;
    for (const auto &[file, d] : dialects) {
        if (int(d) != dialect)
            continue;
        for (const Case &c : readCorpus(QLatin1String(file))) {
            if (!c.expected.join(QString()).contains(QLatin1String(" open@"))
                && !c.sql.contains(QLatin1String("TERMINATOR")))
                block += c.sql + QStringLiteral("\n;\n");
        }
    }
    const int perBlock = int(Sql::splitStatements(block, Dialect(dialect)).size());
    const int copies = int(10 * 1000 * 1000 / block.size()) + 1;
    const QString script = block.repeated(copies);
    const QVector<Statement> statements = Sql::splitStatements(script, Dialect(dialect));
    QCOMPARE(statements.size(), perBlock * copies);
    QVERIFY(statements.last().open.isEmpty());
    QVERIFY(piecesGiveBackTheText(script, Dialect(dialect)));
}

void tst_sqlcorpus::fuzz_data()
{
    QTest::addColumn<int>("dialect");
    for (const auto &[name, dialect] : dialects)
        QTest::newRow(name) << int(dialect);
}

// Corpus text cut at random places, with random code units thrown in: whatever comes, the
// splitter ends, loses no character, and the lexer's tokens lie in order inside the text.
void tst_sqlcorpus::fuzz()
{
    QFETCH(int, dialect);
    QString all;
    for (const auto &[name, d] : dialects)
        for (const Case &c : readCorpus(QLatin1String(name)))
            all += c.sql + u'\n';
    QRandomGenerator random(quint32(20261210 + dialect));
    for (int round = 0; round < 1500; ++round) {
        const int from = random.bounded(int(all.size()));
        QString text = all.mid(from, random.bounded(400));
        for (int i = random.bounded(4); i > 0; --i)
            text.insert(
                random.bounded(int(text.size()) + 1), QChar(char16_t(random.bounded(0x10000))));
        QVERIFY2(piecesGiveBackTheText(text, Dialect(dialect)), qPrintable(text));
        Sql::Lexer lexer(text, Dialect(dialect));
        int at = 0;
        for (Sql::Token token = lexer.next(); token.kind != Sql::TokenKind::End;
             token = lexer.next()) {
            QVERIFY2(token.start >= at && token.length > 0 && token.end() <= text.size(),
                qPrintable(text));
            at = token.end();
        }
    }
}

QTEST_GUILESS_MAIN(tst_sqlcorpus)
#include "tst_sqlcorpus.moc"
