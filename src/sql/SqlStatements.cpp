#include "sql/SqlStatements.h"

#include <QVarLengthArray>

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>

namespace Sql {

namespace {

// The words the statement model looks at; every other word is Kw::None.
enum class Kw : unsigned char {
    None,
    Abort,
    Alter,
    Analyse,
    Analyze,
    Atomic,
    Attach,
    Begin,
    Call,
    Case,
    Checkpoint,
    Close,
    Cluster,
    Comment,
    Commit,
    Constraints,
    Copy,
    Create,
    Deallocate,
    Declare,
    Delete,
    Describe,
    Detach,
    Discard,
    Do,
    Drop,
    Else,
    Elseif,
    Elsif,
    End,
    Execute,
    Explain,
    False,
    Fetch,
    For,
    From,
    Grant,
    If,
    Import,
    Insert,
    Integrity,
    Into,
    Listen,
    Load,
    Lock,
    Loop,
    Merge,
    Move,
    Not,
    Notify,
    Off,
    Perform,
    Pragma,
    Prepare,
    Refresh,
    Reindex,
    Release,
    Rename,
    Repeat,
    Replace,
    Reset,
    Revoke,
    Rollback,
    Savepoint,
    Security,
    Select,
    Set,
    Show,
    Start,
    Table,
    Then,
    To,
    Transaction,
    Truncate,
    Unlisten,
    Update,
    Upsert,
    Use,
    Vacuum,
    Values,
    While,
    Where,
    With,
    Work,
};

constexpr int LongestKeyword = 12;

// A word of letters and underscores, up to 12 of them, as one number (5 bits a letter, case
// folded); 0 for any other word. Words compare by number, without a string in sight.
std::uint64_t packWord(QStringView word)
{
    if (word.size() > LongestKeyword)
        return 0;
    std::uint64_t code = 0;
    for (const QChar ch : word) {
        const char16_t c = ch.unicode();
        unsigned v;
        if (c >= 'a' && c <= 'z')
            v = c - 'a' + 1;
        else if (c >= 'A' && c <= 'Z')
            v = c - 'A' + 1;
        else if (c == '_')
            v = 27;
        else
            return 0;
        code = code << 5 | v;
    }
    return code;
}

struct KeywordEntry
{
    std::uint64_t code;
    Kw kw;
};

const std::vector<KeywordEntry> &keywordTable()
{
    static const std::vector<KeywordEntry> table = [] {
        static const std::pair<const char16_t *, Kw> words[] = { { u"ABORT", Kw::Abort },
            { u"ALTER", Kw::Alter }, { u"ANALYSE", Kw::Analyse }, { u"ANALYZE", Kw::Analyze },
            { u"ATOMIC", Kw::Atomic }, { u"ATTACH", Kw::Attach }, { u"BEGIN", Kw::Begin },
            { u"CALL", Kw::Call }, { u"CASE", Kw::Case }, { u"CHECKPOINT", Kw::Checkpoint },
            { u"CLOSE", Kw::Close }, { u"CLUSTER", Kw::Cluster }, { u"COMMENT", Kw::Comment },
            { u"COMMIT", Kw::Commit }, { u"CONSTRAINTS", Kw::Constraints }, { u"COPY", Kw::Copy },
            { u"CREATE", Kw::Create }, { u"DEALLOCATE", Kw::Deallocate },
            { u"DECLARE", Kw::Declare }, { u"DELETE", Kw::Delete }, { u"DESCRIBE", Kw::Describe },
            { u"DETACH", Kw::Detach }, { u"DISCARD", Kw::Discard }, { u"DO", Kw::Do },
            { u"DROP", Kw::Drop }, { u"ELSE", Kw::Else }, { u"ELSEIF", Kw::Elseif },
            { u"ELSIF", Kw::Elsif }, { u"END", Kw::End }, { u"EXECUTE", Kw::Execute },
            { u"EXEC", Kw::Execute }, { u"EXPLAIN", Kw::Explain }, { u"FALSE", Kw::False },
            { u"FETCH", Kw::Fetch }, { u"FOR", Kw::For }, { u"FROM", Kw::From },
            { u"GRANT", Kw::Grant }, { u"IF", Kw::If }, { u"IMPORT", Kw::Import },
            { u"INSERT", Kw::Insert }, { u"INTEGRITY", Kw::Integrity }, { u"INTO", Kw::Into },
            { u"LISTEN", Kw::Listen }, { u"LOAD", Kw::Load }, { u"LOCK", Kw::Lock },
            { u"LOOP", Kw::Loop }, { u"MERGE", Kw::Merge }, { u"MOVE", Kw::Move },
            { u"NOT", Kw::Not }, { u"NOTIFY", Kw::Notify }, { u"OFF", Kw::Off },
            { u"PERFORM", Kw::Perform }, { u"PRAGMA", Kw::Pragma }, { u"PREPARE", Kw::Prepare },
            { u"REFRESH", Kw::Refresh }, { u"REINDEX", Kw::Reindex }, { u"RELEASE", Kw::Release },
            { u"RENAME", Kw::Rename }, { u"REPEAT", Kw::Repeat }, { u"REPLACE", Kw::Replace },
            { u"RESET", Kw::Reset }, { u"REVOKE", Kw::Revoke }, { u"ROLLBACK", Kw::Rollback },
            { u"SAVEPOINT", Kw::Savepoint }, { u"SECURITY", Kw::Security },
            { u"SELECT", Kw::Select }, { u"SET", Kw::Set }, { u"SHOW", Kw::Show },
            { u"START", Kw::Start }, { u"TABLE", Kw::Table }, { u"THEN", Kw::Then },
            { u"TO", Kw::To }, { u"TRANSACTION", Kw::Transaction }, { u"TRUNCATE", Kw::Truncate },
            { u"UNLISTEN", Kw::Unlisten }, { u"UPDATE", Kw::Update }, { u"UPSERT", Kw::Upsert },
            { u"USE", Kw::Use }, { u"VACUUM", Kw::Vacuum }, { u"VALUES", Kw::Values },
            { u"WHILE", Kw::While }, { u"WHERE", Kw::Where }, { u"WITH", Kw::With },
            { u"WORK", Kw::Work } };
        std::vector<KeywordEntry> entries;
        for (const auto &word : words)
            entries.push_back({ packWord(QStringView(word.first)), word.second });
        std::sort(entries.begin(), entries.end(),
            [](const KeywordEntry &a, const KeywordEntry &b) { return a.code < b.code; });
        return entries;
    }();
    return table;
}

Kw keywordOf(QStringView word)
{
    const std::uint64_t code = packWord(word);
    if (code == 0)
        return Kw::None;
    const std::vector<KeywordEntry> &table = keywordTable();
    const auto found = std::lower_bound(table.begin(), table.end(), code,
        [](const KeywordEntry &entry, std::uint64_t c) { return entry.code < c; });
    return found != table.end() && found->code == code ? found->kw : Kw::None;
}

// What a statement's first word makes it.
struct Verb
{
    StatementKind kind;
    Effects effects;
};

Verb verbOf(Kw kw)
{
    switch (kw) {
    case Kw::Select:
    case Kw::Values:
    case Kw::Table:
    case Kw::Show:
    case Kw::Describe:
    case Kw::Fetch:
    case Kw::Explain:
    case Kw::With:
    case Kw::Perform:
        return { StatementKind::Query, Reads };
    case Kw::Insert:
    case Kw::Update:
    case Kw::Delete:
    case Kw::Merge:
    case Kw::Replace:
    case Kw::Upsert:
    case Kw::Truncate:
    case Kw::Refresh:
    case Kw::Load:
    case Kw::Import:
        return { StatementKind::Change, ChangesData };
    case Kw::Copy:
        return { StatementKind::Change, 0 }; // FROM or TO decides
    case Kw::Create:
    case Kw::Alter:
    case Kw::Drop:
    case Kw::Rename:
    case Kw::Comment:
    case Kw::Grant:
    case Kw::Revoke:
    case Kw::Security:
        return { StatementKind::Definition, ChangesDefinitions };
    case Kw::Call:
    case Kw::Do:
        return { StatementKind::Call, CallsRoutine };
    case Kw::Commit:
    case Kw::Rollback:
    case Kw::Savepoint:
    case Kw::Release:
    case Kw::Start:
    case Kw::Abort:
    case Kw::Lock:
    case Kw::Begin:
    case Kw::End:
        return { StatementKind::Transaction, ControlsTransaction };
    case Kw::Set:
    case Kw::Reset:
    case Kw::Discard:
    case Kw::Listen:
    case Kw::Unlisten:
    case Kw::Notify:
    case Kw::Declare:
    case Kw::Use:
    case Kw::Attach:
    case Kw::Detach:
    case Kw::Deallocate:
    case Kw::Prepare:
    case Kw::Close:
    case Kw::Move:
        return { StatementKind::Session, SetsSession };
    default:
        break;
    }
    return { StatementKind::Other, UnknownEffect }; // EXECUTE, VACUUM, ANALYZE, unknown words
}

// The verbs that count when they stand where a statement may start inside another one (in a
// subquery, a common table expression, a data-change table reference, a body).
bool isInnerVerb(Kw kw)
{
    switch (kw) {
    case Kw::Select:
    case Kw::Insert:
    case Kw::Update:
    case Kw::Delete:
    case Kw::Merge:
    case Kw::Replace:
    case Kw::Upsert:
    case Kw::Truncate:
    case Kw::Refresh:
    case Kw::Call:
    case Kw::Execute:
    case Kw::Perform:
    case Kw::Create:
    case Kw::Alter:
    case Kw::Drop:
    case Kw::Rename:
    case Kw::Grant:
    case Kw::Revoke:
    case Kw::Commit:
    case Kw::Rollback:
        return true;
    default:
        return false;
    }
}

// SQLite's pragmas that read with an argument (pragma table_info(t)), and those that change
// something though they assign nothing.
bool isReadingPragma(QStringView name, bool withArgument)
{
    static const char16_t *const withArg[] = { u"table_info", u"table_xinfo", u"table_list",
        u"index_info", u"index_xinfo", u"index_list", u"foreign_key_list", u"foreign_key_check",
        u"integrity_check", u"quick_check" };
    static const char16_t *const acting[] = { u"optimize", u"shrink_memory", u"incremental_vacuum",
        u"wal_checkpoint" };
    const auto listed = [name](const auto &list) {
        return std::any_of(std::begin(list), std::end(list), [name](const char16_t *entry) {
            return name.compare(entry, Qt::CaseInsensitive) == 0;
        });
    };
    return withArgument ? listed(withArg) : !listed(acting);
}

// One statement at a time, token by token: its kind, every level's effect, each UPDATE or
// DELETE and whether a WHERE of its own came, and the bodies whose inner ";" do not end it.
class Analyzer
{
public:
    // body: the text is a routine's body (a DO block's): every ";" separates inner statements.
    Analyzer(QStringView text, Dialect dialect, bool body = false)
        : m_text(text)
        , m_dialect(dialect)
        , m_bodyText(body)
    {
        if (body) {
            m_top = Kw::Do;
            m_words = 1;
        }
    }

    void take(const Token &token)
    {
        m_afterAnalyze = m_explainOption;
        m_explainOption = false;
        if (m_pendingEnd && closeEnd(token))
            return;
        if (m_pendingBegin)
            resolveBegin(token);
        switch (token.kind) {
        case TokenKind::Word:
            word(token);
            break;
        case TokenKind::Operator:
        case TokenKind::Terminator:
            if (token.length == 1)
                punctuation(token, m_text[token.start].unicode());
            else
                m_position = false;
            break;
        case TokenKind::String:
            if (m_top == Kw::Do && !m_bodyText && !m_doneBody && m_paren == 0)
                doBlock(token);
            m_position = false;
            break;
        case TokenKind::Number:
            if (m_afterAnalyze && m_text.mid(token.start, token.length) == u"0")
                m_runs = false;
            m_position = false;
            break;
        default:
            m_position = false;
            break;
        }
    }

    // True when a ";" that comes now belongs to the statement (inside a body or, in
    // PostgreSQL, a parenthesis).
    bool holdsTerminator()
    {
        if (m_pendingEnd) {
            m_pendingEnd = false;
            closeBody();
        }
        m_pendingBegin = false; // "BEGIN;" is a transaction's start
        return m_body > 0 || (m_dialect == Dialect::PostgreSql && m_paren > 0);
    }

    void finish(Statement &statement)
    {
        holdsTerminator();
        while (!m_frames.isEmpty())
            popFrame();
        Verb verb = verbOf(m_top);
        if (m_top == Kw::Copy)
            verb.effects = m_copyDirection ? m_copyDirection : Effects(UnknownEffect);
        if (m_top == Kw::Pragma) {
            const bool reads = !m_pragmaAssigns && isReadingPragma(m_pragmaName, m_pragmaArgument);
            verb = reads ? Verb { StatementKind::Query, Reads }
                         : Verb { StatementKind::Other, UnknownEffect };
        }
        if (m_compound)
            verb = { StatementKind::Call, CallsRoutine };
        if (m_topOverride)
            verb = m_override;
        statement.kind = m_mainKindSet ? m_mainKind : verb.kind;
        statement.effects = m_effects | (m_words ? verb.effects : 0);
        statement.unfiltered = m_unfiltered;
        if (m_body > 0) {
            statement.open = QStringLiteral("a BEGIN ... END body");
            statement.openAt = m_bodyAt;
        } else if (m_dialect == Dialect::PostgreSql && m_paren > 0) {
            statement.open = QStringLiteral("a parenthesis");
            statement.openAt = m_parenAt;
        }
    }

    // A routine's body alone: what its statements do.
    void finishBody(Effects &effects, bool &unfiltered)
    {
        while (!m_frames.isEmpty())
            popFrame();
        effects |= m_effects;
        unfiltered = unfiltered || m_unfiltered;
    }

private:
    struct Frame
    {
        Kw verb;
        int depth; // the parenthesis level it stands at
        bool where;
    };

    bool inBody() const { return m_body > 0 || m_bodyText; }
    bool frameOpenHere() const { return !m_frames.isEmpty() && m_frames.back().depth == m_paren; }

    void pushFrame(Kw verb)
    {
        if (!m_runs)
            return; // a definition's body, a plain EXPLAIN: nothing in it runs now
        m_effects |= verb == Kw::Execute ? Effects(UnknownEffect) : verbOf(verb).effects;
        m_frames.append({ verb, m_paren, false });
    }

    void popFrame()
    {
        const Frame frame = m_frames.back();
        m_frames.removeLast();
        if ((frame.verb == Kw::Update || frame.verb == Kw::Delete) && !frame.where)
            m_unfiltered = true;
    }

    void popFramesFrom(int depth)
    {
        while (!m_frames.isEmpty() && m_frames.back().depth >= depth)
            popFrame();
    }

    void closeBody()
    {
        if (m_body > 0 && --m_body == 0)
            m_bodyAt = -1;
    }

    // After END: END IF, END LOOP, ... close what was never counted; END CASE and END alone
    // close a CASE or a BEGIN. True when the token was the END's own word.
    bool closeEnd(const Token &token)
    {
        m_pendingEnd = false;
        if (token.kind == TokenKind::Word) {
            switch (keywordOf(m_text.mid(token.start, token.length))) {
            case Kw::If:
            case Kw::Loop:
            case Kw::While:
            case Kw::Repeat:
            case Kw::For:
                m_position = false;
                return true;
            case Kw::Case:
                closeBody();
                m_position = false;
                return true;
            default:
                break;
            }
        }
        closeBody();
        return false;
    }

    // A BEGIN that starts a statement: a compound statement in DB2 and plain SQL when ATOMIC,
    // NOT ATOMIC or (DB2) anything but TRANSACTION or WORK follows; a transaction otherwise.
    void resolveBegin(const Token &token)
    {
        m_pendingBegin = false;
        if (token.kind != TokenKind::Word)
            return;
        const Kw kw = keywordOf(m_text.mid(token.start, token.length));
        const bool compound = kw == Kw::Atomic || kw == Kw::Not || kw == Kw::Declare
            || (m_dialect == Dialect::Db2 && kw != Kw::Transaction && kw != Kw::Work);
        if (!compound)
            return;
        m_compound = true;
        m_body = 1;
        m_bodyAt = m_beginAt;
        m_position = true;
    }

    void first(const Token &token, Kw kw)
    {
        m_top = kw;
        switch (kw) {
        case Kw::Create:
        case Kw::Alter:
        case Kw::Drop:
        case Kw::Comment:
        case Kw::Grant:
        case Kw::Revoke:
        case Kw::Rename:
            m_runs = false; // a body defined here runs later, if ever
            break;
        case Kw::Explain:
            m_runs = false; // until ANALYZE says it runs
            m_explain = true;
            break;
        case Kw::Begin:
            if (m_dialect == Dialect::Db2 || m_dialect == Dialect::Ansi) {
                m_pendingBegin = true;
                m_beginAt = token.start;
            }
            break;
        case Kw::Set:
        case Kw::Prepare:
            m_pendingSet = true;
            break;
        default:
            if (isInnerVerb(kw) && kw != Kw::Execute && kw != Kw::Perform)
                pushFrame(kw);
            break;
        }
        m_position = false;
    }

    void word(const Token &token)
    {
        const QStringView text = m_text.mid(token.start, token.length);
        const Kw kw = keywordOf(text);
        if (m_words++ == 0) {
            first(token, kw);
            return;
        }
        if (m_pendingSet) {
            m_pendingSet = false;
            if (kw == Kw::Transaction || kw == Kw::Constraints) {
                m_topOverride = true;
                m_override = { StatementKind::Transaction, ControlsTransaction };
            } else if (kw == Kw::Integrity) {
                m_topOverride = true;
                m_override = { StatementKind::Other, UnknownEffect };
            }
        }
        if (kw == Kw::Where) {
            if (frameOpenHere())
                m_frames.back().where = true;
            m_position = false;
            return;
        }
        if (m_top == Kw::Pragma && m_paren == 0 && !m_pragmaArgument && !m_pragmaAssigns)
            m_pragmaName = text;
        if (m_top == Kw::Copy && m_paren == 0 && !m_copyDirection) {
            if (kw == Kw::From)
                m_copyDirection = ChangesData;
            else if (kw == Kw::To)
                m_copyDirection = Reads;
        }
        if (m_top == Kw::Select && kw == Kw::Into && m_paren == 0 && m_frames.size() == 1
            && (m_dialect == Dialect::PostgreSql || m_dialect == Dialect::Ansi) && !inBody()) {
            // SELECT ... INTO t creates the table t.
            m_topOverride = true;
            m_override = { StatementKind::Definition, ChangesDefinitions };
        }
        if (m_explain && !m_explained) {
            if (kw == Kw::Analyze || kw == Kw::Analyse) {
                m_runs = true;
                m_explainOption = true;
                return;
            }
            if ((kw == Kw::False || kw == Kw::Off) && m_afterAnalyze) {
                m_runs = false;
                return;
            }
            if (m_paren == 0 && (isInnerVerb(kw) || kw == Kw::With)) {
                m_explained = true;
                if (kw != Kw::With)
                    pushFrame(kw);
                m_position = false;
                return;
            }
        }
        if (inBody()) {
            switch (kw) {
            case Kw::Begin:
                ++m_body;
                m_position = true;
                return;
            case Kw::Case:
                ++m_body;
                m_position = false;
                return;
            case Kw::End:
                popFramesFrom(m_paren);
                if (m_body > 0)
                    m_pendingEnd = true;
                m_position = false;
                return;
            case Kw::Atomic:
                m_position = true;
                return;
            case Kw::Then:
            case Kw::Else:
            case Kw::Do:
            case Kw::Loop:
            case Kw::Repeat:
                m_position = !frameOpenHere();
                return;
            default:
                break;
            }
        } else if (kw == Kw::Begin && m_top == Kw::Create) {
            // CREATE PROCEDURE / FUNCTION / TRIGGER ... BEGIN [ATOMIC] ... END
            m_body = 1;
            m_bodyAt = token.start;
            m_position = true;
            return;
        }
        if (m_position && isInnerVerb(kw)) {
            if (m_top == Kw::With && !m_mainKindSet && m_paren == 0) {
                m_mainKindSet = true;
                m_mainKind = verbOf(kw).kind;
            }
            pushFrame(kw);
        }
        m_position = false;
    }

    void punctuation(const Token &token, char16_t c)
    {
        switch (c) {
        case '(':
            if (m_paren++ == 0)
                m_parenAt = token.start;
            if (m_top == Kw::Pragma && m_paren == 1 && !m_pragmaAssigns)
                m_pragmaArgument = true;
            m_position = true;
            return;
        case ')':
            if (m_paren > 0) {
                popFramesFrom(m_paren);
                --m_paren;
            }
            m_position = true;
            return;
        case ';':
            if (inBody()) {
                popFramesFrom(m_paren);
                m_position = true;
                return;
            }
            break;
        case ':':
            if (inBody()) {
                m_position = true; // after a label
                return;
            }
            break;
        case '=':
            if (m_top == Kw::Pragma && m_paren == 0)
                m_pragmaAssigns = true;
            break;
        default:
            break;
        }
        m_position = false;
    }

    // DO $$ ... $$: the block's text is read as a body of its own.
    void doBlock(const Token &token)
    {
        m_doneBody = true;
        QStringView raw = m_text.mid(token.start, token.length);
        QString unquoted;
        if (raw.startsWith(u'$')) {
            const int tagEnd = int(raw.indexOf(u'$', 1)) + 1;
            const int closing = int(raw.size()) - tagEnd;
            unquoted = raw.mid(tagEnd, std::max(0, closing - tagEnd)).toString();
        } else {
            const bool escapes = raw.startsWith(u'E') || raw.startsWith(u'e');
            raw = raw.mid(escapes ? 2 : 1);
            if (raw.endsWith(u'\''))
                raw.chop(1);
            unquoted = raw.toString().replace(QStringLiteral("''"), QStringLiteral("'"));
            if (escapes)
                unquoted.replace(QStringLiteral("\\'"), QStringLiteral("'"));
        }
        Lexer lexer(unquoted, Dialect::PostgreSql);
        Analyzer body(unquoted, Dialect::PostgreSql, true);
        for (Token inner = lexer.next(); inner.kind != TokenKind::End; inner = lexer.next()) {
            if (inner.kind != TokenKind::LineComment && inner.kind != TokenKind::BlockComment)
                body.take(inner);
        }
        body.finishBody(m_effects, m_unfiltered);
    }

    QStringView m_text;
    Dialect m_dialect;
    bool m_bodyText;
    int m_words = 0;
    Kw m_top = Kw::None;
    Effects m_effects = 0;
    bool m_unfiltered = false;
    bool m_runs = true; // what is found now runs when the statement runs
    bool m_position = true; // the next word stands where a statement may start
    int m_paren = 0;
    int m_parenAt = -1;
    int m_body = 0; // BEGIN and CASE open in a body
    int m_bodyAt = -1;
    int m_beginAt = -1;
    bool m_pendingEnd = false;
    bool m_pendingBegin = false;
    bool m_pendingSet = false;
    bool m_compound = false;
    bool m_explain = false;
    bool m_explained = false;
    bool m_explainOption = false; // the token before was ANALYZE (of an EXPLAIN)
    bool m_afterAnalyze = false;
    bool m_doneBody = false;
    bool m_mainKindSet = false;
    StatementKind m_mainKind = StatementKind::Query;
    bool m_topOverride = false;
    Verb m_override { StatementKind::Other, 0 };
    Effects m_copyDirection = 0;
    QStringView m_pragmaName;
    bool m_pragmaAssigns = false;
    bool m_pragmaArgument = false;
    QVarLengthArray<Frame, 8> m_frames;
};

bool isSignificant(TokenKind kind)
{
    return kind != TokenKind::LineComment && kind != TokenKind::BlockComment;
}

} // namespace

QVector<Statement> splitStatements(QStringView text, Dialect dialect)
{
    QVector<Statement> statements;
    Lexer lexer(text, dialect);
    Analyzer analyzer(text, dialect);
    Statement current;
    bool started = false;
    int from = 0;
    int line = 1;
    int counted = 0; // the offset up to which newlines are counted into line

    const auto lineAt = [&](int offset) {
        line += int(std::count(text.begin() + counted, text.begin() + offset, u'\n'));
        counted = offset;
        return line;
    };
    const auto close = [&](int to) {
        if (started) {
            Statement statement = current;
            analyzer.finish(statement);
            statement.from = from;
            statement.to = to;
            statement.line = lineAt(statement.begin);
            statements.append(statement);
        } else if (!statements.isEmpty()) {
            statements.last().to = to; // an empty piece belongs to the statement before it
        } else {
            return; // an empty piece at the start belongs to the first statement
        }
        from = to;
        current = Statement();
        started = false;
        analyzer = Analyzer(text, dialect);
    };

    Token last;
    for (Token token = lexer.next(); token.kind != TokenKind::End; token = lexer.next()) {
        last = token;
        if (token.kind == TokenKind::Terminator) {
            if (started && lexer.terminator() == u";" && analyzer.holdsTerminator()) {
                analyzer.take(token);
                current.end = token.end();
                continue;
            }
            close(token.end());
        } else if (isSignificant(token.kind)) {
            if (!started) {
                started = true;
                current.begin = token.start;
            }
            current.end = token.end();
            analyzer.take(token);
        }
    }
    close(int(text.size()));
    if (!statements.isEmpty()) {
        Statement &end = statements.last();
        if (lexer.carry().isOpen()) {
            end.open = carryName(lexer.carry());
            end.openAt = last.start;
        }
        if (end.openAt >= 0)
            end.openLine = lineAt(std::max(end.openAt, counted));
    }
    return statements;
}

int statementAt(QStringView text, const QVector<Statement> &statements, int offset)
{
    for (int i = 0; i < statements.size(); ++i) {
        const Statement &statement = statements[i];
        if (offset >= statement.to && i + 1 < statements.size())
            continue;
        if (offset < statement.from || offset > statement.to)
            return -1;
        // A cursor just after a terminator, on the line where that statement ends, means the
        // statement before it (as after typing "select 1;").
        if (i > 0 && offset < statement.begin) {
            const int previousEnd = statements[i - 1].end;
            if (!text.mid(previousEnd, offset - previousEnd).contains(u'\n'))
                return i - 1;
        }
        return i;
    }
    return -1;
}

namespace {

QString identifier(QStringView text, const Token &token)
{
    const QStringView raw = text.mid(token.start, token.length);
    if (token.kind == TokenKind::QuotedName) {
        QString name =
            raw.mid(1, raw.size() >= 2 && raw.endsWith(u'"') ? raw.size() - 2 : -1).toString();
        return name.replace(QStringLiteral("\"\""), QStringLiteral("\""));
    }
    return asciiUpper(raw.toString());
}

bool isName(TokenKind kind)
{
    return kind == TokenKind::Word || kind == TokenKind::QuotedName;
}

} // namespace

QVector<QualifiedName> qualifiedNames(QStringView text, int from, int to)
{
    if (to < 0 || to > text.size())
        to = int(text.size());
    QVector<QualifiedName> names;
    // The lexer starts at the beginning so that a terminator set earlier in the text is known.
    Lexer lexer(text);
    Token previous[2]; // the two significant tokens before the current one
    for (Token token = lexer.next(); token.kind != TokenKind::End && token.start < to;
         token = lexer.next()) {
        if (!isSignificant(token.kind))
            continue;
        const Token &dot = previous[1];
        const Token &schema = previous[0];
        if (isName(token.kind) && dot.kind == TokenKind::Operator && dot.length == 1
            && text[dot.start] == u'.' && isName(schema.kind) && schema.start >= from) {
            names.append({ identifier(text, schema), identifier(text, token), schema.start });
        }
        previous[0] = previous[1];
        previous[1] = token;
    }
    return names;
}

QString kindName(StatementKind kind)
{
    switch (kind) {
    case StatementKind::Query:
        return QStringLiteral("query");
    case StatementKind::Change:
        return QStringLiteral("change");
    case StatementKind::Definition:
        return QStringLiteral("definition");
    case StatementKind::Call:
        return QStringLiteral("call");
    case StatementKind::Transaction:
        return QStringLiteral("transaction");
    case StatementKind::Session:
        return QStringLiteral("session");
    case StatementKind::Other:
        break;
    }
    return QStringLiteral("other");
}

QString effectsText(Effects effects)
{
    static const std::pair<Effect, const char *> names[] = {
        { ChangesDefinitions, "changes definitions" }, { ChangesData, "changes data" },
        { CallsRoutine, "calls a routine" }, { UnknownEffect, "has an effect not known here" },
        { ControlsTransaction, "controls the transaction" }, { SetsSession, "sets session state" },
        { Reads, "reads" }
    };
    QStringList parts;
    for (const auto &name : names) {
        if (effects & name.first)
            parts << QLatin1String(name.second);
    }
    return parts.join(QStringLiteral(", "));
}

} // namespace Sql
