#include "app/ObjectBrowser.h"

#include "catalog/Completion.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QShortcut>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <climits>

using namespace Catalog;

namespace {

enum Role {
    LevelRole = Qt::UserRole,
    AliasRole,
    SchemaRole,
    NameRole,
    FilledRole,
};

QTreeWidgetItem *addItem(
    QTreeWidgetItem *parent, const QString &text, const QString &detail, int level, bool expandable)
{
    auto *item = new QTreeWidgetItem(parent, { text, detail }); // owned by its parent
    item->setData(0, LevelRole, level);
    item->setData(0, FilledRole, false);
    if (expandable)
        item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    return item;
}

} // namespace

ObjectBrowser::ObjectBrowser(
    QWidget *window, QPlainTextEdit *editor, QComboBox *aliasBox, DialectOf dialectOf)
    : QDockWidget(QStringLiteral("Database objects"), window)
    , m_editor(editor)
    , m_aliasBox(aliasBox)
    , m_dialectOf(std::move(dialectOf))
    , m_filter(new QLineEdit) // owned by the dock once laid out
    , m_tree(new QTreeWidget) // owned by the dock once laid out
    , m_findLater(new QTimer(this)) // owned by the dock
{
    setObjectName(QStringLiteral("ObjectBrowser"));
    m_filter->setObjectName(QStringLiteral("ObjectFilter"));
    m_filter->setPlaceholderText(QStringLiteral("Filter: name begins with"));
    m_filter->setClearButtonEnabled(true);
    m_tree->setObjectName(QStringLiteral("ObjectTree"));
    m_tree->setColumnCount(2);
    m_tree->setHeaderLabels({ QStringLiteral("Name"), QStringLiteral("Kind") });
    m_tree->setUniformRowHeights(true);
    m_tree->setContextMenuPolicy(Qt::CustomContextMenu);
    auto *body = new QWidget; // owned by the dock
    auto *layout = new QVBoxLayout(body); // owned by body
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(m_filter);
    layout->addWidget(m_tree);
    setWidget(body);
    m_findLater->setSingleShot(true);
    m_findLater->setInterval(300);
    connect(m_findLater, &QTimer::timeout, this, [this] {
        const QString alias = Sql::asciiUpper(m_aliasBox->currentText().trimmed());
        if (m_catalogs && !m_filter->text().isEmpty() && !m_catalogs->snapshot(alias))
            m_catalogs->findObjects(
                alias, Sql::asciiUpper(m_filter->text().trimmed()) + QLatin1Char('%'));
    });
    connect(m_filter, &QLineEdit::textChanged, this, [this] {
        rebuild();
        m_findLater->start();
    });
    connect(m_tree, &QTreeWidget::itemExpanded, this, &ObjectBrowser::expand);
    connect(m_tree, &QWidget::customContextMenuRequested, this, &ObjectBrowser::menu);
    if (auto *main = qobject_cast<QMainWindow *>(window))
        main->addDockWidget(Qt::RightDockWidgetArea, this);
    hide(); // the window's layout stays as it is until asked for
    auto *key = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_B), window); // owned
    key->setContext(Qt::WindowShortcut);
    connect(key, &QShortcut::activated, this, &ObjectBrowser::toggle);
}

void ObjectBrowser::setCatalogs(Catalog::Catalogs *catalogs)
{
    if (m_catalogs)
        disconnect(m_catalogs, nullptr, this, nullptr);
    m_catalogs = catalogs;
    if (catalogs) {
        connect(catalogs, &Catalogs::snapshotChanged, this, &ObjectBrowser::snapshotChanged);
        connect(catalogs, &Catalogs::objectsFound, this, &ObjectBrowser::objectsFound);
    }
    rebuild();
}

void ObjectBrowser::toggle()
{
    setVisible(!isVisible());
    if (isVisible()) {
        rebuild();
        m_filter->setFocus();
    } else {
        m_editor->setFocus();
    }
}

QStringList ObjectBrowser::aliases() const
{
    QStringList list { Sql::asciiUpper(m_aliasBox->currentText().trimmed()) };
    for (int i = 0; i < m_aliasBox->count(); ++i)
        list << Sql::asciiUpper(m_aliasBox->itemText(i).trimmed());
    list.removeAll(QString());
    list.removeDuplicates();
    return list;
}

void ObjectBrowser::rebuild()
{
    m_tree->clear();
    if (!isVisible())
        return;
    const QString filter = m_filter->text().trimmed();
    for (const QString &alias : aliases()) {
        auto *item = new QTreeWidgetItem(m_tree, { alias, QStringLiteral("alias") }); // owned
        item->setData(0, LevelRole, AliasLevel);
        item->setData(0, AliasRole, alias);
        item->setData(0, FilledRole, false);
        item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
        if (!filter.isEmpty()) {
            fill(item);
            item->setExpanded(item->childCount() > 0);
        }
    }
    m_tree->resizeColumnToContents(0);
}

void ObjectBrowser::expand(QTreeWidgetItem *item)
{
    if (!item->data(0, FilledRole).toBool())
        fill(item);
}

void ObjectBrowser::fill(QTreeWidgetItem *item)
{
    qDeleteAll(item->takeChildren());
    item->setData(0, FilledRole, true);
    const QString alias = item->data(0, AliasRole).toString();
    const SnapshotPtr snapshot = m_catalogs ? m_catalogs->snapshot(alias) : nullptr;
    const Sql::Dialect dialect = m_dialectOf(alias);
    const auto waiting = [item](const QString &text) {
        addItem(item, text, QString(), Leaf, false);
        item->setData(0, FilledRole, false); // filled again when the catalog has it
    };
    switch (item->data(0, LevelRole).toInt()) {
    case AliasLevel: {
        if (!snapshot) {
            if (m_catalogs)
                m_catalogs->ensureLoaded(alias);
            waiting(QStringLiteral("Reading the catalog..."));
            return;
        }
        const QString filter = m_filter->text().trimmed();
        if (!filter.isEmpty()) {
            // Narrowed: the objects whose name begins so, "S.T" straight under the alias.
            for (const Object *object : snapshot->objects(QString(), filter, 1000))
                if (object->kind != Kind::Routine)
                    objectItem(item, alias, *object)->setText(0, qualifiedName(*object, dialect));
            return;
        }
        for (const QString &schema : snapshot->schemas()) {
            QTreeWidgetItem *child =
                addItem(item, schema, QStringLiteral("schema"), SchemaLevel, true);
            child->setData(0, AliasRole, alias);
            child->setData(0, SchemaRole, schema);
        }
        return;
    }
    case SchemaLevel:
        if (snapshot)
            for (const Object *object :
                snapshot->objects(item->data(0, SchemaRole).toString(), QString(), INT_MAX))
                if (object->kind != Kind::Routine)
                    objectItem(item, alias, *object);
        return;
    case ObjectLevel: {
        const QString schema = item->data(0, SchemaRole).toString();
        const QString name = item->data(0, NameRole).toString();
        const QVector<Column> *columns = snapshot ? snapshot->columns(schema, name) : nullptr;
        if (!columns) {
            if (m_catalogs)
                m_catalogs->requestColumns(alias, schema, name);
            waiting(QStringLiteral("Reading the columns..."));
            return;
        }
        for (const Column &column : *columns)
            addItem(item, column.name,
                typeText(column) + (column.keySeq > 0 ? QStringLiteral(", key") : QString()), Leaf,
                false);
        if (const QVector<Index> *indexes = snapshot->indexes(schema, name))
            for (const Index &index : *indexes)
                addItem(item,
                    QStringLiteral("%1 (%2)").arg(
                        index.name, index.columns.join(QStringLiteral(", "))),
                    index.unique ? QStringLiteral("unique index") : QStringLiteral("index"), Leaf,
                    false);
        return;
    }
    default:
        return;
    }
}

QTreeWidgetItem *ObjectBrowser::objectItem(
    QTreeWidgetItem *parent, const QString &alias, const Catalog::Object &object)
{
    QTreeWidgetItem *item = addItem(parent, object.name, kindName(object.kind), ObjectLevel, true);
    item->setData(0, AliasRole, alias);
    item->setData(0, SchemaRole, object.schema);
    item->setData(0, NameRole, object.name);
    item->setToolTip(0, object.remarks);
    return item;
}

void ObjectBrowser::snapshotChanged(const QString &alias)
{
    // Levels opened while their names were being read are filled now.
    for (int i = 0; i < m_tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem *top = m_tree->topLevelItem(i);
        if (top->data(0, AliasRole).toString() != Sql::asciiUpper(alias))
            continue;
        QList<QTreeWidgetItem *> open { top };
        while (!open.isEmpty()) {
            QTreeWidgetItem *item = open.takeLast();
            if (item->isExpanded() && !item->data(0, FilledRole).toBool())
                fill(item);
            for (int c = 0; c < item->childCount(); ++c)
                if (item->child(c)->isExpanded())
                    open << item->child(c);
        }
    }
    const QVector<PendingSelect> pending = std::exchange(m_pendingSelects, {});
    for (const PendingSelect &select : pending)
        if (select.alias == Sql::asciiUpper(alias))
            insertSelect(select.alias, select.schema, select.name);
        else
            m_pendingSelects.append(select);
}

void ObjectBrowser::objectsFound(
    const QString &alias, const QString &pattern, const QVector<Catalog::Object> &objects)
{
    if (pattern != Sql::asciiUpper(m_filter->text().trimmed()) + QLatin1Char('%'))
        return; // an older filter's answer
    for (int i = 0; i < m_tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem *top = m_tree->topLevelItem(i);
        if (top->data(0, AliasRole).toString() != Sql::asciiUpper(alias))
            continue;
        qDeleteAll(top->takeChildren());
        for (const Object &object : objects)
            objectItem(top, top->data(0, AliasRole).toString(), object)
                ->setText(0, qualifiedName(object, m_dialectOf(alias)));
        top->setExpanded(true);
    }
}

QString ObjectBrowser::selectText(
    const Catalog::Object &table, const QVector<Catalog::Column> &columns, Sql::Dialect dialect)
{
    QStringList names;
    for (const Column &column : columns)
        names << quoteName(column.name, dialect);
    const bool limit = dialect == Sql::Dialect::PostgreSql || dialect == Sql::Dialect::Sqlite;
    return QStringLiteral("SELECT %1 FROM %2 %3")
        .arg(names.isEmpty() ? QStringLiteral("*") : names.join(QStringLiteral(", ")),
            qualifiedName(table, dialect),
            limit ? QStringLiteral("LIMIT 100") : QStringLiteral("FETCH FIRST 100 ROWS ONLY"));
}

void ObjectBrowser::insertSelect(const QString &alias, const QString &schema, const QString &name)
{
    const SnapshotPtr snapshot = m_catalogs ? m_catalogs->snapshot(alias) : nullptr;
    const Object *table = snapshot ? snapshot->find(schema, name) : nullptr;
    const QVector<Column> *columns = table ? snapshot->columns(schema, name) : nullptr;
    if (!columns) {
        if (m_catalogs) {
            m_pendingSelects.append({ alias, schema, name });
            m_catalogs->requestColumns(alias, schema, name);
        }
        return;
    }
    m_editor->textCursor().insertText(selectText(*table, *columns, m_dialectOf(alias)));
    m_editor->setFocus();
}

void ObjectBrowser::menu(const QPoint &at)
{
    QTreeWidgetItem *item = m_tree->itemAt(at);
    if (!item || item->data(0, LevelRole).toInt() != ObjectLevel)
        return;
    const QString alias = item->data(0, AliasRole).toString();
    Object object;
    object.schema = item->data(0, SchemaRole).toString();
    object.name = item->data(0, NameRole).toString();
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("ObjectMenu"));
    menu.addAction(QStringLiteral("SELECT with columns"), this,
        [&] { insertSelect(alias, object.schema, object.name); });
    menu.addAction(QStringLiteral("Copy qualified name"), this,
        [&] { QApplication::clipboard()->setText(qualifiedName(object, m_dialectOf(alias))); });
    menu.exec(m_tree->viewport()->mapToGlobal(at));
}
