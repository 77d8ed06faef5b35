#include "app/EditorCompletion.h"

#include "app/AliasDialect.h"
#include "app/Guard.h"
#include "app/ObjectBrowser.h"
#include "app/Routing.h"
#include "catalog/DidYouMean.h"
#include "settings/UserSettings.h"
#include "widgets/CompletionList.h"
#include "widgets/DetailPanel.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QShortcut>
#include <QTextBlock>
#include <QTextDocument>

using namespace Catalog;

namespace {

QString upperAlias(const QString &alias)
{
    return Sql::asciiUpper(alias.trimmed());
}

bool isWordChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('$')
        || c == QLatin1Char('#') || c == QLatin1Char('@');
}

} // namespace

EditorCompletion::EditorCompletion(QWidget *window, QPlainTextEdit *editor, QComboBox *aliasBox)
    : QObject(window)
    , m_editor(editor)
    , m_aliasBox(aliasBox)
    , m_list(new CompletionList(window)) // owned by the window
    , m_describe(new DetailPanel(window)) // owned by the window
    , m_browser(new ObjectBrowser(window, editor, aliasBox, // owned by the window
          [this](const QString &alias) { return dialectOf(alias); }))
{
    setObjectName(QStringLiteral("EditorCompletion"));
    m_describe->setObjectName(QStringLiteral("DescribePanel"));
    m_autoLetters = autoLettersSetting();
    // Installed after the editor's own key filter, so this one sees the keys first.
    editor->installEventFilter(this);
    connect(editor->document(), &QTextDocument::contentsChange, this, &EditorCompletion::typed);
    connect(editor, &QPlainTextEdit::cursorPositionChanged, this, [this] {
        // Typing moves the cursor too: the list is refreshed once per keystroke.
        const QPair<int, int> now { m_editor->document()->revision(),
            m_editor->textCursor().position() };
        if (m_list->isVisible() && !m_inserting && now != m_refreshedAt)
            refresh(m_mode); // moved out of the word: closes
    });
    connect(editor->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
        close();
        m_describe->hide();
    });
    connect(m_list, &CompletionList::chosen, this, &EditorCompletion::accept);
    auto *reload = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R), window); // owned
    reload->setContext(Qt::WindowShortcut);
    connect(reload, &QShortcut::activated, this,
        [this, window] { runGuarded(window, [this] { reloadAlias(); }); });
}

void EditorCompletion::setCatalogs(Catalog::Catalogs *catalogs)
{
    if (m_catalogs)
        disconnect(m_catalogs, nullptr, this, nullptr);
    m_catalogs = catalogs;
    m_browser->setCatalogs(catalogs);
    m_requested.clear();
    m_ensured.clear();
    m_schemaCache.clear();
    if (catalogs)
        connect(catalogs, &Catalogs::snapshotChanged, this, &EditorCompletion::snapshotChanged);
}

int EditorCompletion::autoLettersSetting()
{
    return UserSettings::completionLetters();
}

bool EditorCompletion::isOpen() const
{
    return m_list->isVisible();
}

QString EditorCompletion::aliasFor(const QString &statement) const
{
    const QString routed = Routing::route(statement).alias;
    return routed.isEmpty() ? upperAlias(m_aliasBox->currentText()) : upperAlias(routed);
}

Sql::Dialect EditorCompletion::dialectOf(const QString &alias) const
{
    // The driver manager reads its ini files for this: once per alias, not once per keystroke.
    const auto known = m_dialects.constFind(alias);
    if (known != m_dialects.cend())
        return *known;
    return *m_dialects.insert(alias, aliasDialect(alias));
}

bool EditorCompletion::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_editor)
        return false;
    switch (event->type()) {
    case QEvent::ShortcutOverride: {
        // Esc closes what is open here and does nothing else: the window's Esc must not see it.
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier
            && (m_list->isVisible() || m_describe->isVisible())) {
            event->accept();
            return true;
        }
        return false;
    }
    case QEvent::KeyPress: {
        const auto *key = static_cast<QKeyEvent *>(event);
        const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
        auto *window = static_cast<QWidget *>(parent());
        if (key->key() == Qt::Key_Space && modifiers == Qt::ControlModifier) {
            runGuarded(window, [this] { ask(); });
            return true;
        }
        if (key->key() == Qt::Key_F2 && modifiers == Qt::NoModifier) {
            runGuarded(window, [this] { describe(); });
            return true;
        }
        if (m_list->isVisible() && modifiers == Qt::NoModifier) {
            if (m_list->moveKey(key->key()))
                return true;
            switch (key->key()) {
            case Qt::Key_Tab:
            case Qt::Key_Return:
            case Qt::Key_Enter:
                runGuarded(window, [this] { accept(m_list->currentRowIndex()); });
                return true;
            case Qt::Key_Escape:
                close();
                return true;
            default:
                break;
            }
        }
        if (m_describe->isVisible() && key->key() == Qt::Key_Escape) {
            m_describe->hide();
            m_described.clear();
            return true;
        }
        m_keyDown = true;
        return false;
    }
    case QEvent::KeyRelease:
        m_keyDown = false;
        return false;
    case QEvent::FocusOut:
        close();
        m_describe->hide();
        return false;
    default:
        return false;
    }
}

void EditorCompletion::ask()
{
    m_describe->hide();
    refresh(Mode::Asked);
}

void EditorCompletion::typed(int position, int removed, int added)
{
    if (m_inserting)
        return;
    if (m_describe->isVisible()) {
        m_describe->hide();
        m_described.clear();
    }
    if (m_list->isVisible()) {
        refresh(m_mode);
        return;
    }
    // A list offers itself to typing only: one character typed, a dot or the word's n-th letter.
    if (!m_keyDown || removed != 0 || added != 1)
        return;
    const QTextDocument *document = m_editor->document();
    const QChar typedChar = document->characterAt(position);
    if (typedChar == QLatin1Char('.')) {
        refresh(Mode::Auto);
    } else if (m_autoLetters > 0 && isWordChar(typedChar)) {
        const QTextBlock block = document->findBlock(position);
        const QString line = block.text();
        int start = position - block.position();
        int letters = 0;
        while (start >= 0 && start < line.size() && isWordChar(line[start])
            && letters <= m_autoLetters) {
            ++letters;
            --start;
        }
        if (letters == m_autoLetters)
            refresh(Mode::Auto);
    }
}

void EditorCompletion::refresh(Mode mode)
{
    using Want = CompletionContext::Want;
    const bool refilter = m_list->isVisible();
    const QTextCursor cursor = m_editor->textCursor();
    if (cursor.hasSelection()) {
        close();
        return;
    }
    const QString text = m_editor->toPlainText();
    const int position = cursor.position();
    m_refreshedAt = { m_editor->document()->revision(), position };
    QString alias = upperAlias(m_aliasBox->currentText());
    Sql::Dialect dialect = dialectOf(alias);
    CompletionContext context = completionContext(text, position, dialect);
    if (context.want != Want::Nothing) {
        // The names are those of the database the statement would go to.
        const QString routed =
            aliasFor(text.mid(context.statementFrom, context.statementTo - context.statementFrom));
        if (routed != alias) {
            alias = routed;
            if (dialectOf(alias) != dialect) {
                dialect = dialectOf(alias);
                context = completionContext(text, position, dialect);
            }
        }
    }
    const bool afterDot = context.from > 0 && text[context.from - 1] == QLatin1Char('.');
    // Offered unasked only for a word begun or a name's dot typed; refiltered while in the word.
    const bool unasked =
        mode == Mode::Auto && !refilter && context.prefix.isEmpty() && context.qualifier.isEmpty();
    if (context.want == Want::Nothing || (context.want == Want::StarColumns && mode != Mode::Asked)
        || unasked || (refilter && context.from != m_context.from && !afterDot)) {
        close();
        return;
    }
    SnapshotPtr snapshot = m_catalogs ? m_catalogs->snapshot(alias) : nullptr;
    if (m_catalogs && !snapshot && !m_ensured.contains(alias)) {
        m_ensured.insert(alias);
        m_catalogs->ensureLoaded(alias);
    }
    const bool wantsSchemas = context.want == Want::Objects && context.qualifier.isEmpty();
    const Completion result = complete(context, snapshot.get(), dialect,
        wantsSchemas ? schemaEntries(alias, snapshot) : QVector<SchemaEntry>());
    requestColumns(alias, result.missingColumns);
    m_context = context;
    m_alias = alias;
    m_mode = mode;
    m_candidates = result.candidates;
    const bool waiting = !result.missingColumns.isEmpty() || (m_catalogs && !snapshot);
    if (context.want == Want::StarColumns) {
        close();
        if (!m_candidates.isEmpty())
            accept(0);
        else
            m_starPending = waiting;
        return;
    }
    const QString typedWord = text.mid(context.from, context.to - context.from);
    const bool nothingToOffer = m_candidates.isEmpty()
        || (mode == Mode::Auto && m_candidates.size() == 1
            && m_candidates.first().insert.compare(typedWord, Qt::CaseInsensitive) == 0);
    if (nothingToOffer) {
        m_list->hide();
        m_starPending = false;
        return;
    }
    QVector<CompletionList::Row> rows;
    rows.reserve(m_candidates.size());
    for (const Candidate &candidate : qAsConst(m_candidates))
        rows.append({ candidate.label, candidate.detail });
    m_list->setRows(rows);
    m_list->showAt(m_editor->viewport(), m_editor->cursorRect());
}

void EditorCompletion::accept(int row)
{
    if (row < 0 || row >= m_candidates.size())
        return;
    const Candidate candidate = m_candidates[row];
    QTextCursor cursor = m_editor->textCursor();
    cursor.setPosition(m_context.from);
    cursor.setPosition(m_context.to, QTextCursor::KeepAnchor);
    m_inserting = true;
    cursor.insertText(candidate.insert);
    m_editor->setTextCursor(cursor);
    m_inserting = false;
    close();
    if (candidate.continues())
        refresh(Mode::Auto); // a schema or correlation name: its names come next
}

void EditorCompletion::close()
{
    m_list->hide();
    m_starPending = false;
}

void EditorCompletion::snapshotChanged(const QString &alias)
{
    m_schemaCache.remove(upperAlias(alias));
    if (upperAlias(alias) != m_alias && upperAlias(alias) != upperAlias(m_described))
        return;
    if (m_list->isVisible()) {
        refresh(m_mode);
    } else if (m_starPending) {
        refresh(Mode::Asked);
    }
    if (m_describe->isVisible() && !m_described.isEmpty())
        describe();
}

void EditorCompletion::requestColumns(const QString &alias, const QVector<const Object *> &tables)
{
    if (!m_catalogs)
        return;
    for (const Object *table : tables) {
        const QString key = alias + QChar(0x1e) + Snapshot::key(table->schema, table->name);
        if (m_requested.contains(key))
            continue;
        m_requested.insert(key);
        m_catalogs->requestColumns(alias, table->schema, table->name);
    }
}

QVector<SchemaEntry> EditorCompletion::schemaEntries(
    const QString &alias, const SnapshotPtr &snapshot)
{
    // Each alias's schemas with the alias their names route to, worked out once per snapshot.
    const auto routed = [this](const QString &owner,
                            const SnapshotPtr &shot) -> const QVector<SchemaEntry> & {
        SchemaCache &cache = m_schemaCache[owner];
        if (cache.snapshot != shot) {
            cache.snapshot = shot;
            cache.entries.clear();
            for (const QString &schema : shot->schemas())
                cache.entries.append({ schema, upperAlias(Routing::route(schema).alias) });
        }
        return cache.entries;
    };
    QVector<SchemaEntry> entries;
    if (snapshot)
        entries = routed(alias, snapshot);
    // The schemas that route to another alias whose catalog is known: choosing one moves the
    // statement there.
    QSet<QString> seen { alias };
    for (int i = 0; m_catalogs && i < m_aliasBox->count(); ++i) {
        const QString other = upperAlias(m_aliasBox->itemText(i));
        if (seen.contains(other))
            continue;
        seen.insert(other);
        const SnapshotPtr shot = m_catalogs->snapshot(other);
        if (!shot)
            continue;
        for (const SchemaEntry &entry : routed(other, shot))
            if (entry.routesTo == other)
                entries.append(entry);
    }
    return entries;
}

void EditorCompletion::describe()
{
    close();
    const QString text = m_editor->toPlainText();
    const int position = m_editor->textCursor().position();
    QString alias = upperAlias(m_aliasBox->currentText());
    const CompletionContext context = completionContext(text, position, dialectOf(alias));
    alias = aliasFor(text.mid(context.statementFrom, context.statementTo - context.statementFrom));
    const Sql::Dialect dialect = dialectOf(alias);
    const SnapshotPtr snapshot = m_catalogs ? m_catalogs->snapshot(alias) : nullptr;
    if (!snapshot) {
        if (m_catalogs && !m_ensured.contains(alias)) {
            m_ensured.insert(alias);
            m_catalogs->ensureLoaded(alias);
        }
        emit message(QStringLiteral("The catalog of %1 is not read yet.").arg(alias));
        return;
    }
    bool missing = false;
    const Object *object = tableAt(text, position, dialect, *snapshot, &missing);
    if (!object) {
        if (missing) {
            QVector<const Object *> tables;
            for (const TableRef &ref : context.tables)
                if (const Object *table = resolveTable(*snapshot, ref, dialect))
                    tables.append(table);
            requestColumns(alias, tables);
        }
        emit message(QStringLiteral("No table or view of %1 is named at the cursor.").arg(alias));
        m_describe->hide();
        return;
    }
    QString title =
        QStringLiteral("%1 (%2)").arg(qualifiedName(*object, dialect), kindName(object->kind));
    if (!object->remarks.isEmpty())
        title += QStringLiteral(": ") + object->remarks;
    QVector<QStringList> rows;
    QStringList notes;
    const QVector<Column> *columns = snapshot->columns(object->schema, object->name);
    if (columns) {
        for (const Column &column : *columns)
            rows.append({ column.name, typeText(column),
                column.nullable ? QString() : QStringLiteral("not null"),
                column.keySeq > 0 ? QStringLiteral("key %1").arg(column.keySeq) : QString(),
                column.remarks });
        if (const QVector<Index> *indexes = snapshot->indexes(object->schema, object->name))
            for (const Index &index : *indexes)
                notes << QStringLiteral("%1 index %2 (%3)")
                             .arg(index.unique ? QStringLiteral("Unique") : QStringLiteral("Plain"),
                                 index.name, index.columns.join(QStringLiteral(", ")));
        m_described.clear();
    } else {
        requestColumns(alias, { object });
        notes << QStringLiteral("Reading the columns from %1...").arg(alias);
        m_described = alias; // shown again when they are in
    }
    m_describe->setContents(title,
        { QStringLiteral("Column"), QStringLiteral("Type"), QStringLiteral("Null"),
            QStringLiteral("Key"), QStringLiteral("Remarks") },
        rows, notes.join(QLatin1Char('\n')));
    m_describe->showAt(m_editor->viewport(), m_editor->cursorRect());
}

void EditorCompletion::reloadAlias()
{
    const QString text = m_editor->toPlainText();
    const QString boxAlias = upperAlias(m_aliasBox->currentText());
    const CompletionContext context =
        completionContext(text, m_editor->textCursor().position(), dialectOf(boxAlias));
    const QString alias =
        aliasFor(text.mid(context.statementFrom, context.statementTo - context.statementFrom));
    if (alias.isEmpty() || !m_catalogs)
        return;
    // Columns asked for before are asked for again once the names are in.
    const QString prefix = alias + QChar(0x1e);
    for (auto at = m_requested.begin(); at != m_requested.end();)
        at = at->startsWith(prefix) ? m_requested.erase(at) : std::next(at);
    m_catalogs->reloadAlias(alias);
    emit message(QStringLiteral("Reading the catalog of %1 again.").arg(alias));
}

QString EditorCompletion::didYouMean(const QString &message,
    const QVector<QPair<QString, QString>> &records, const QString &statement,
    const QString &alias) const
{
    const UndefinedName name = undefinedName(message, records);
    if (name.kind == UndefinedName::Kind::None || !m_catalogs)
        return QString();
    const QString own = upperAlias(alias);
    QVector<SnapshotPtr> others;
    QSet<QString> seen { own };
    for (int i = 0; i < m_aliasBox->count(); ++i) {
        const QString other = upperAlias(m_aliasBox->itemText(i));
        if (!seen.contains(other))
            if (SnapshotPtr shot = m_catalogs->snapshot(other))
                others.append(shot);
        seen.insert(other);
    }
    const SnapshotPtr snapshot = m_catalogs->snapshot(own);
    return suggest(name, statement, snapshot.get(), dialectOf(own), others).text(name);
}
