#pragma once

#include "catalog/Catalogs.h"
#include "sql/SqlLexer.h"

#include <QDockWidget>
#include <QPointer>

#include <functional>

class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

// The browser of the catalogs beside the editor: alias, schema, tables and their kin, columns
// and indexes, each level read when opened; a filter field narrows it as one types (asking the
// database with LIKE while an alias's catalog is not read yet). Its menu puts a SELECT of a
// table's columns at the editor's cursor or copies the table's qualified name. Hidden until
// asked for (Ctrl+Shift+B). A dock of the window (Qt parent); UI thread only.
class ObjectBrowser : public QDockWidget
{
    Q_OBJECT

public:
    using DialectOf = std::function<Sql::Dialect(const QString &alias)>;
    ObjectBrowser(
        QWidget *window, QPlainTextEdit *editor, QComboBox *aliasBox, DialectOf dialectOf);

    void setCatalogs(Catalog::Catalogs *catalogs); // not owned
    void toggle();

    // "SELECT c1, c2 FROM S.T FETCH FIRST 100 ROWS ONLY" (LIMIT 100 where the dialect says so).
    static QString selectText(const Catalog::Object &table, const QVector<Catalog::Column> &columns,
        Sql::Dialect dialect);

private:
    enum Level { AliasLevel, SchemaLevel, ObjectLevel, Leaf };
    void rebuild();
    void expand(QTreeWidgetItem *item);
    void fill(QTreeWidgetItem *item);
    void snapshotChanged(const QString &alias);
    void objectsFound(
        const QString &alias, const QString &pattern, const QVector<Catalog::Object> &objects);
    void menu(const QPoint &at);
    void insertSelect(const QString &alias, const QString &schema, const QString &name);
    QTreeWidgetItem *objectItem(
        QTreeWidgetItem *parent, const QString &alias, const Catalog::Object &object);
    QStringList aliases() const;

    QPlainTextEdit *m_editor; // not owned: RE1
    QComboBox *m_aliasBox; // not owned: ComboBox1
    DialectOf m_dialectOf;
    QPointer<Catalog::Catalogs> m_catalogs;
    QLineEdit *m_filter; // owned (Qt parent)
    QTreeWidget *m_tree; // owned (Qt parent)
    QTimer *m_findLater; // owned (Qt parent): a catalog LIKE once typing pauses
    struct PendingSelect
    {
        QString alias, schema, name;
    };
    QVector<PendingSelect> m_pendingSelects; // waiting for their columns
};
