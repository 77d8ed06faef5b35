#include "sql/SqlLexer.h"

#include <QRandomGenerator>
#include <QTest>

using Sql::Carry;
using Sql::Lexer;
using Sql::Token;
using Sql::TokenKind;

// Tokens written as "kind:text" joined by blanks, so a table row reads like the SQL it checks.
static QString describe(QStringView text, Carry carry = {}, Carry *left = nullptr,
    Sql::Dialect dialect = Sql::Dialect::Db2)
{
    Lexer lexer(text, dialect, carry);
    QStringList parts;
    static const char *names[] = { "end", "word", "name", "str", "num", "param", "op", "term",
        "line", "block", "unknown" };
    for (Token token = lexer.next(); token.kind != TokenKind::End; token = lexer.next())
        parts << QStringLiteral("%1:%2").arg(
            QLatin1String(names[int(token.kind)]), lexer.text(token).toString());
    if (left)
        *left = lexer.carry();
    return parts.join(u' ');
}

class tst_sqllexer : public QObject
{
    Q_OBJECT

private slots:
    void tokens_data();
    void tokens();
    void carriedLines_data();
    void carriedLines();
    void terminatorDirective_data();
    void terminatorDirective();
    void anyInputLexesInOnePass_data();
    void anyInputLexesInOnePass();
};

void tst_sqllexer::tokens_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("dialect");
    const int db2 = int(Sql::Dialect::Db2);
    QTest::newRow("select") << "select a,b from T301DBA.ORDERS;"
                            << "word:select word:a op:, word:b word:from word:T301DBA op:. "
                               "word:ORDERS term:;"
                            << db2;
    QTest::newRow("doubled quote in string") << "'it''s;'"
                                             << "str:'it''s;'" << db2;
    QTest::newRow("doubled quote in name") << "\"a\"\";b\"."
                                           << "name:\"a\"\";b\" op:." << db2;
    QTest::newRow("prefixed strings")
        << "X'0aff' g'x' N'y' GX'00' x 'z'"
        << "str:X'0aff' str:g'x' str:N'y' str:GX'00' word:x str:'z'" << db2;
    QTest::newRow("numbers") << "1 2.5 .5 3. 1e10 1.5E-3 7e x2"
                             << "num:1 num:2.5 num:.5 num:3. num:1e10 num:1.5E-3 num:7 word:e "
                                "word:x2"
                             << db2;
    QTest::newRow("parameters") << "? :name :: :1"
                                << "param:? param::name op::: op:: num:1" << db2;
    QTest::newRow("operators") << "a<>b<=c>=d!=e||f"
                               << "word:a op:<> word:b op:<= word:c op:>= "
                                  "word:d op:!= word:e op:|| word:f"
                               << db2;
    QTest::newRow("comments") << "a -- c;d\r\nb /* x;\n */ c"
                              << "word:a line:-- c;d word:b block:/* x;\n */ word:c" << db2;
    QTest::newRow("comment at the end, no newline") << "select 1 -- done"
                                                    << "word:select num:1 line:-- done" << db2;
    QTest::newRow("DB2 identifier characters") << "#tmp @x $y_1"
                                               << "word:#tmp word:@x word:$y_1" << db2;
    QTest::newRow("letters of any script") << "SELECT ĳzer, ꞯꞰ, 𝒜b FROM t"
                                           << "word:SELECT word:ĳzer op:, word:ꞯꞰ op:, "
                                              "word:𝒜b word:FROM word:t"
                                           << db2;
    QTest::newRow("unterminated string") << "select 'abc"
                                         << "word:select str:'abc" << db2;
    QTest::newRow("stray characters")
        << QString::fromUtf8("a \u00a7 \x7f b")
        << QString::fromUtf8("word:a unknown:\u00a7 unknown:\x7f word:b") << db2;
    QTest::newRow("new terminator ends a word") << "--#SET TERMINATOR @\nend@ a;b@"
                                                << "line:--#SET TERMINATOR @ word:end term:@ "
                                                   "word:a op:; word:b term:@"
                                                << db2;
    const int pg = int(Sql::Dialect::PostgreSql), lite = int(Sql::Dialect::Sqlite),
              ansi = int(Sql::Dialect::Ansi);
    QTest::newRow("PostgreSQL dollar strings")
        << "$$a;'b$$ $t$ $$ $t$ $1 a$b $ x"
        << "str:$$a;'b$$ str:$t$ $$ $t$ param:$1 word:a$b op:$ word:x" << pg;
    QTest::newRow("PostgreSQL E string") << "E'it\\'s;' e'\\\\' 'a\\' x"
                                         << "str:E'it\\'s;' str:e'\\\\' str:'a\\' word:x" << pg;
    QTest::newRow("PostgreSQL nested comment") << "/* a /* b */ c */ d"
                                               << "block:/* a /* b */ c */ word:d" << pg;
    QTest::newRow("PostgreSQL casts and names")
        << "@x #y a::int"
        << "op:@ word:x op:# word:y word:a op::: word:int" << pg;
    QTest::newRow("DB2 comments do not nest") << "/* a /* b */ c */"
                                              << "block:/* a /* b */ word:c op:* op:/" << db2;
    QTest::newRow("SQLite names, blobs, parameters")
        << "[a;b] `c``d` X'0f' ?12 $v @w :x"
        << "name:[a;b] name:`c``d` str:X'0f' param:?12 param:$v param:@w param::x" << lite;
    QTest::newRow("plain SQL has no brackets or dollars")
        << "[a] $$ N'x'"
        << "op:[ word:a op:] op:$ op:$ str:N'x'" << ansi;
}

void tst_sqllexer::tokens()
{
    QFETCH(QString, sql);
    QFETCH(QString, expected);
    QFETCH(int, dialect);
    QCOMPARE(describe(sql, {}, nullptr, Sql::Dialect(dialect)), expected);
}

void tst_sqllexer::carriedLines_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("carryIn");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("carryOut");
    const int none = Carry::None, block = Carry::BlockComment, string = Carry::String,
              name = Carry::QuotedName;
    QTest::newRow("opens a comment") << "a /* b" << none << "word:a block:/* b" << block;
    QTest::newRow("inside a comment") << "still ;" << block << "block:still ;" << block;
    QTest::newRow("empty line in a comment") << "" << block << "" << block;
    QTest::newRow("closes a comment") << "x */ y" << block << "block:x */ word:y" << none;
    QTest::newRow("string goes on") << "b'' c" << string << "str:b'' c" << string;
    QTest::newRow("string ends") << "b' c" << string << "str:b' word:c" << none;
    QTest::newRow("name ends") << "x\" d" << name << "name:x\" word:d" << none;
}

void tst_sqllexer::carriedLines()
{
    QFETCH(QString, line);
    QFETCH(int, carryIn);
    QFETCH(QString, expected);
    QFETCH(int, carryOut);
    Carry in;
    in.kind = Carry::Kind(carryIn);
    Carry left;
    QCOMPARE(describe(line, in, &left), expected);
    QCOMPARE(int(left.kind), carryOut);
}

void tst_sqllexer::terminatorDirective_data()
{
    QTest::addColumn<QString>("comment");
    QTest::addColumn<QString>("terminator");
    QTest::newRow("at") << "--#SET TERMINATOR @"
                        << "@";
    QTest::newRow("lower case, blanks") << "--#set   terminator  !!  "
                                        << "!!";
    QTest::newRow("back to semicolon") << "--#SET TERMINATOR ;"
                                       << ";";
    QTest::newRow("too long") << "--#SET TERMINATOR abc"
                              << "";
    QTest::newRow("missing") << "--#SET TERMINATOR"
                             << "";
    QTest::newRow("not the directive") << "-- #SET TERMINATOR @"
                                       << "";
    QTest::newRow("glued") << "--#SETTERMINATOR @"
                           << "";
}

void tst_sqllexer::terminatorDirective()
{
    QFETCH(QString, comment);
    QFETCH(QString, terminator);
    QCOMPARE(Lexer::terminatorDirective(comment), terminator);
}

void tst_sqllexer::anyInputLexesInOnePass_data()
{
    QTest::addColumn<bool>("tokenSoup");
    QTest::newRow("random code units") << false;
    QTest::newRow("random token soup") << true;
}

// Untrusted text: whatever it holds, the tokens lie in order inside the text, each at least one
// unit long, and the lexer ends; so it cannot loop and its time is linear in the text.
void tst_sqllexer::anyInputLexesInOnePass()
{
    QFETCH(bool, tokenSoup);
    static const char *pieces[] = { "'", "''", "\"", "\"\"", "--", "/*", "*/", "\n", "\r", ";", "@",
        "--#SET TERMINATOR @\n", "--#SET TERMINATOR ;\n", "x'", "N'", ":", "?", "1.5e", ".",
        "select", " ", "(", ")", "\xed\xa0\x80", "\xf0\x9d\x92\x9c" };
    QRandomGenerator random(20261209);
    for (int round = 0; round < 400; ++round) {
        QString text;
        if (tokenSoup) {
            for (int i = random.bounded(200); i > 0; --i)
                text += QString::fromUtf8(pieces[random.bounded(int(std::size(pieces)))]);
        } else {
            for (int i = random.bounded(200); i > 0; --i)
                text += QChar(char16_t(random.bounded(0x10000)));
        }
        for (const Carry::Kind carry : { Carry::None, Carry::BlockComment, Carry::String }) {
            Carry in;
            in.kind = carry;
            Lexer lexer(text, Sql::Dialect::Db2, in);
            int at = 0;
            int count = 0;
            for (Token token = lexer.next(); token.kind != TokenKind::End; token = lexer.next()) {
                QVERIFY2(token.start >= at && token.length > 0 && token.end() <= text.size(),
                    qPrintable(text));
                at = token.end();
                QVERIFY(++count <= text.size());
            }
        }
    }
}

QTEST_GUILESS_MAIN(tst_sqllexer)
#include "tst_sqllexer.moc"
