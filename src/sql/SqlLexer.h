#pragma once

#include <QString>
#include <QStringView>

// The lexical rules of the SQL we speak (DB2's): strings with '' inside, X'..', G'..', N'..',
// "delimited identifiers" with "" inside, -- and /* */ comments, numbers, parameter markers,
// operators and the statement terminator, which a line "--#SET TERMINATOR x" changes for the rest
// of the text as DB2's command-line processor does. Any text lexes in one pass, each token at
// least one character long, so the time grows linearly with the text whatever it holds.
namespace Sql {

enum class TokenKind : unsigned char {
    End, // no more tokens
    Word, // keyword or ordinary identifier
    QuotedName, // "delimited identifier"
    String, // '...', X'...', G'...', N'...' and the other prefixed strings
    Number,
    Parameter, // ? or :name
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
enum class Carry : unsigned char {
    None,
    BlockComment,
    String,
    QuotedName,
};

// Pulls tokens from a text it does not own; whitespace is skipped. Any thread; one object per
// thread.
class Lexer
{
public:
    explicit Lexer(QStringView text, Carry carry = Carry::None);

    Token next();
    // The construct left open at the end of the text; meaningful once next() returned End.
    Carry carry() const { return m_carry; }

    QStringView terminator() const { return m_terminator; }
    void setTerminator(const QString &terminator) { m_terminator = terminator; }

    QStringView text() const { return m_text; }
    QStringView text(const Token &token) const { return m_text.mid(token.start, token.length); }

    // The terminator a comment sets ("--#SET TERMINATOR @" gives "@"), or an empty text when the
    // comment is no such line.
    static QString terminatorDirective(QStringView comment);

private:
    Token quoted(int start, char16_t quote, TokenKind kind, Carry open);
    Token blockComment(int start);
    int wordEnd(int from) const;
    int numberEnd(int from) const;
    bool terminatorAt(int at) const;

    QStringView m_text;
    int m_pos = 0;
    Carry m_carry = Carry::None;
    QString m_terminator = QStringLiteral(";");
};

// The letters a to z in upper case and every other character as it is: how DB2 folds an
// ordinary identifier, and how aliases and schema names are compared.
QString asciiUpper(QString text);

} // namespace Sql
