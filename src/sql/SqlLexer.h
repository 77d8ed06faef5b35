#pragma once

#include <QString>
#include <QStringView>

// The lexical rules of the SQL each database speaks. Common to all: strings with '' inside,
// "delimited identifiers" with "" inside, -- and /* */ comments, numbers, parameter markers,
// operators and the statement terminator, which a line "--#SET TERMINATOR x" changes for the rest
// of the text as DB2's command-line processor does. On top of that each dialect has its own:
// DB2 X'..', G'..', N'..' strings and @ # $ in names; PostgreSQL $$..$$ and $tag$..$tag$
// strings, E'..' with backslash escapes, nested block comments and $1 parameters; SQLite
// [names] and `names`, X'..' blobs and $ @ : parameters. Any text lexes in one pass, each token
// at least one character long, so the time grows linearly with the text whatever it holds.
namespace Sql {

// Which database's rules; chosen from the alias's ODBC driver (dialectOfDriver).
enum class Dialect : unsigned char {
    Ansi, // any other driver: the rules every database shares
    Db2,
    PostgreSql,
    Sqlite,
};

// The dialect of an ODBC driver, by the name or library file the data source names.
Dialect dialectOfDriver(QStringView driver);

enum class TokenKind : unsigned char {
    End, // no more tokens
    Word, // keyword or ordinary identifier
    QuotedName, // "delimited identifier", [name], `name`
    String, // '...', prefixed strings, E'...', $$...$$
    Number,
    Parameter, // ?, :name, $1, @name
    Operator, // punctuation and operators, ( and ) included
    Terminator, // the statement terminator now in force
    LineComment,
    BlockComment,
    Unknown, // a character that belongs to no token of SQL
};

struct Token
{
    TokenKind kind = TokenKind::End;
    int start = 0; // offset in the lexed text
    int length = 0;
    int end() const { return start + length; }
};

// A construct that runs on past the end of the lexed text: the highlighter lexes one line at a
// time and hands the state of one line's end to the next.
struct Carry
{
    enum Kind : unsigned char {
        None,
        BlockComment,
        String, // '...'
        QuotedName, // "..."
        EscapeString, // E'...' (PostgreSQL)
        DollarString, // $tag$...$tag$ (PostgreSQL)
        BracketName, // [...] (SQLite)
        BacktickName, // `...` (SQLite)
    };
    Kind kind = None;
    int depth = 0; // block comments open (PostgreSQL nests them)
    QString tag; // a dollar string's delimiter, "$$" or "$tag$"

    bool isOpen() const { return kind != None; }
    friend bool operator==(const Carry &a, const Carry &b)
    {
        return a.kind == b.kind && a.depth == b.depth && a.tag == b.tag;
    }
    friend bool operator!=(const Carry &a, const Carry &b) { return !(a == b); }
};

// What a carry leaves open, for messages: "a string", "a block comment", ...
QString carryName(const Carry &carry);

// Pulls tokens from a text it does not own; whitespace is skipped. Any thread; one object per
// thread.
class Lexer
{
public:
    explicit Lexer(QStringView text, Dialect dialect = Dialect::Db2, Carry carry = {});

    Token next()
    {
        // Filled in place: a token handed back from many return paths costs a stall.
        Token token;
        read(token);
        return token;
    }
    // The construct left open at the end of the text; meaningful once next() returned End.
    const Carry &carry() const { return m_carry; }
    Dialect dialect() const { return m_dialect; }

    QStringView terminator() const { return m_terminator; }
    QStringView text(const Token &token) const { return m_text.mid(token.start, token.length); }

    // The terminator a comment sets ("--#SET TERMINATOR @" gives "@"), or an empty text when the
    // comment is no such line.
    static QString terminatorDirective(QStringView comment);

private:
    void read(Token &token);
    Token quoted(int start, char16_t quote, TokenKind kind, Carry::Kind open);
    Token bracketName(int start);
    Token escapeString(int start);
    Token dollarString(int start, int bodyFrom);
    Token blockComment(int start);
    int wordEnd(int from) const;
    int numberEnd(int from) const;
    int dollarTagEnd(int from) const; // just past a "$tag$" starting at from, or -1
    bool terminatorAt(int at) const;
    bool isStringPrefix(QStringView word) const;

    QStringView m_text;
    const unsigned char *m_classes; // the dialect's ASCII character classes
    int m_pos = 0;
    Dialect m_dialect;
    Carry m_carry;
    QString m_terminator = QStringLiteral(";");
};

// The letters a to z in upper case and every other character as it is: how DB2 folds an
// ordinary identifier, and how aliases and schema names are compared.
QString asciiUpper(QString text);

} // namespace Sql
