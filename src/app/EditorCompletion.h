#pragma once

#include "catalog/Catalogs.h"
#include "catalog/Completion.h"

#include <QHash>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QSet>
#include <QVector>

class CompletionList;
class DetailPanel;
class ObjectBrowser;
class QComboBox;
class QPlainTextEdit;
class QWidget;

// What the SQL editor RE1 knows of the database: the list of names at the cursor (Ctrl+Space,
// or offered after "." and after a few letters typed; Tab or Return takes a name, Esc closes),
// F2's description of the table under the cursor, Ctrl+Shift+R's reload of the alias, and the
// "did you mean" of a failed statement, and the browser of the catalogs. The editor keeps the
// keyboard throughout. Owned by the window (Qt parent); UI thread only.
class EditorCompletion : public QObject
{
    Q_OBJECT

public:
    EditorCompletion(QWidget *window, QPlainTextEdit *editor, QComboBox *aliasBox);

    // The catalogs completion reads (not owned; null: keywords only).
    void setCatalogs(Catalog::Catalogs *catalogs);
    Catalog::Catalogs *catalogs() const { return m_catalogs; }
    // Letters typed of a word before the list offers itself; 0: only after "." and Ctrl+Space.
    void setAutoLetters(int letters) { m_autoLetters = letters; }
    // The setting "CompletionLetters" (default 3).
    static int autoLettersSetting();

    void ask(); // Ctrl+Space
    void describe(); // F2
    void reloadAlias(); // Ctrl+Shift+R
    bool isOpen() const;
    ObjectBrowser *browser() const { return m_browser; }

    // The alias a statement's names are looked up in: where the routing sends it, else the
    // alias box's.
    QString aliasFor(const QString &statement) const;
    Sql::Dialect dialectOf(const QString &alias) const;

    // The hint under a failed statement's error: the names nearest to the one the database
    // called undefined, and the aliases where it exists. Empty when there is none.
    QString didYouMean(const QString &message, const QVector<QPair<QString, QString>> &records,
        const QString &statement, const QString &alias) const;

signals:
    void message(const QString &text); // for the status bar

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    enum class Mode { Auto, Asked };
    void refresh(Mode mode);
    void accept(int row);
    void close();
    void typed(int position, int removed, int added);
    void snapshotChanged(const QString &alias);
    QVector<Catalog::SchemaEntry> schemaEntries(
        const QString &alias, const Catalog::SnapshotPtr &snapshot);
    void requestColumns(const QString &alias, const QVector<const Catalog::Object *> &tables);
    QRect cursorRect() const;

    QPlainTextEdit *m_editor; // not owned: RE1
    QComboBox *m_aliasBox; // not owned: ComboBox1
    QPointer<Catalog::Catalogs> m_catalogs; // not owned
    CompletionList *m_list; // owned by the window (Qt parent)
    DetailPanel *m_describe; // owned by the window (Qt parent)
    ObjectBrowser *m_browser; // the catalogs' browser, Ctrl+Shift+B; owned by the window
    int m_autoLetters = 3;

    // The list shown: its context, candidates, the alias it read and how it was asked for.
    Catalog::CompletionContext m_context;
    QVector<Catalog::Candidate> m_candidates;
    QString m_alias;
    Mode m_mode = Mode::Auto;
    bool m_keyDown = false; // a key press is under way: a change now is typing
    bool m_inserting = false; // the list's own insertion
    QPair<int, int> m_refreshedAt { -1, -1 }; // document revision and cursor of the last refresh
    bool m_starPending = false; // "*" waits for columns being read
    QString m_described; // alias of the table F2 shows, while its columns are read
    QSet<QString> m_requested; // alias + table key: columns asked for once
    QSet<QString> m_ensured; // aliases asked to load
    mutable QHash<QString, Sql::Dialect> m_dialects;
    struct SchemaCache
    {
        Catalog::SnapshotPtr snapshot;
        QVector<Catalog::SchemaEntry> entries;
    };
    QHash<QString, SchemaCache> m_schemaCache;
};
