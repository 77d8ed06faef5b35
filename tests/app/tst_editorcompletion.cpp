#include "app/EditorCompletion.h"
#include "app/ObjectBrowser.h"
#include "app/Unit1.h"
#include "support/ConnectWait.h"
#include "support/ModalScript.h"
#include "support/PgServer.h"
#include "support/SnapshotCatalogs.h"
#include "support/TestEnv.h"
#include "support/WaitIdle.h"
#include "support/WindowFixture.h"
#include "widgets/CompletionList.h"
#include "widgets/DetailPanel.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QShortcut>
#include <QSignalSpy>
#include <QtTest>

using namespace Catalog;

// Completion driven by keys through the real editor, over catalogs a test fills; and the
// "did you mean" of a statement that failed on the SQLite driver.
class tst_EditorCompletion : public QObject
{
    Q_OBJECT

    WindowFixture m_form;
    SnapshotCatalogs *m_catalogs = nullptr;

    CompletionList *list() const { return m_form.child<CompletionList>("CompletionList"); }
    QStringList labels() const
    {
        QStringList shown;
        for (int i = 0; list()->isVisible() && i < list()->topLevelItemCount(); ++i)
            shown << list()->topLevelItem(i)->text(0) + QLatin1Char('|')
                    + list()->topLevelItem(i)->text(1);
        return shown;
    }
    // Puts the text in the editor with the cursor at "|".
    void edit(QString text)
    {
        const int at = int(text.indexOf(QLatin1Char('|')));
        text.remove(at, 1);
        m_form.type(text);
        QTextCursor cursor = m_form.editor()->textCursor();
        cursor.setPosition(at);
        m_form.editor()->setTextCursor(cursor);
    }
    static Column column(const char *name, const char *type)
    {
        Column c;
        c.name = QLatin1String(name);
        c.type = QLatin1String(type);
        return c;
    }

private slots:
    void initTestCase()
    {
        TestEnv::addSqliteDsn(QStringLiteral("LITE"),
            { QStringLiteral("create table orders (id integer primary key, amount real)") });
        PgServer::instance().addDsn(QStringLiteral("COMPLETEPG"));
    }

    void init()
    {
        QVERIFY(m_form.open(WindowFixture::Shown::Active));
        m_catalogs = new SnapshotCatalogs(m_form.form()); // owned by the window
        const QString ordersKey = Snapshot::key(u"main", u"orders");
        m_catalogs->snapshots.insert(QStringLiteral("LITE"),
            std::make_shared<Snapshot>(QStringLiteral("LITE"), QDateTime(),
                QVector<Object> { { "main", "orders", Kind::Table, {} },
                    { "main", "customer", Kind::Table, {} } },
                QHash<QString, QVector<Column>> {
                    { ordersKey, { column("id", "INTEGER"), column("amount", "REAL") } } }));
        m_catalogs->snapshots.insert(QStringLiteral("DB2T301"),
            std::make_shared<Snapshot>(QStringLiteral("DB2T301"), QDateTime(),
                QVector<Object> { { "T301DBA", "ORDERS", Kind::Table, {} } }));
        m_catalogs->columnsOnRequest.insert(Snapshot::key(u"main", u"customer"),
            { column("id", "INTEGER"), column("name", "TEXT") });
        m_form->completion()->setCatalogs(m_catalogs);
        m_form->completion()->setAutoLetters(3);
        if (m_form.aliasBox()->findText(QStringLiteral("DB2T301"), Qt::MatchFixedString) < 0)
            m_form.aliasBox()->addItem(QStringLiteral("DB2T301"));
        m_form.chooseAlias(QStringLiteral("LITE"));
        m_form.editor()->setFocus();
    }

    void keys()
    {
        QPlainTextEdit *editor = m_form.editor();
        // A dot offers the columns; typing goes on into the editor and narrows them; Tab takes.
        edit(QStringLiteral("select | from orders o"));
        QTest::keyClicks(editor, QStringLiteral("o."));
        QCOMPARE(labels(), (QStringList { "id|INTEGER", "amount|REAL" }));
        QTest::keyClicks(editor, QStringLiteral("am"));
        QCOMPARE(labels(), QStringList { "amount|REAL" });
        QCOMPARE(QApplication::focusWidget(), editor);
        QTest::keyClick(editor, Qt::Key_Tab);
        QCOMPARE(m_form->EditorText(), QStringLiteral("select o.amount from orders o\r\n"));
        QVERIFY(!list()->isVisible());

        // Esc closes the list and is not the window's Esc; with the list closed it is again.
        QShortcut *windowEsc = nullptr;
        for (QShortcut *shortcut : m_form->findChildren<QShortcut *>())
            if (shortcut->key() == QKeySequence(Qt::Key_Escape))
                windowEsc = shortcut;
        QVERIFY(windowEsc);
        QSignalSpy escapes(windowEsc, &QShortcut::activated);
        QTest::keyClick(editor, Qt::Key_Space, Qt::ControlModifier);
        QVERIFY(list()->isVisible());
        QTest::keyClick(editor, Qt::Key_Escape);
        QVERIFY(!list()->isVisible());
        QCOMPARE(escapes.count(), 0);
        QTest::keyClick(editor, Qt::Key_Escape);
        QCOMPARE(escapes.count(), 1);

        // Three letters offer; a schema shows where it routes, Return takes it and its tables,
        // from the alias it routes to, come next.
        edit(QStringLiteral("select * from |"));
        QTest::keyClicks(editor, QStringLiteral("T30"));
        QCOMPARE(labels(), QStringList { "T301DBA|schema, DB2T301" });
        QTest::keyClick(editor, Qt::Key_Return);
        QCOMPARE(m_form->EditorText(), QStringLiteral("select * from T301DBA.\r\n"));
        QCOMPARE(labels(), QStringList { "ORDERS|table" });
        QTest::keyClick(editor, Qt::Key_Escape);

        // "*" then Ctrl+Space: the columns, read first when the catalog has none yet.
        edit(QStringLiteral("select *| from customer"));
        QTest::keyClick(editor, Qt::Key_Space, Qt::ControlModifier);
        QVERIFY(m_catalogs->calls.contains(QStringLiteral("columns LITE main.customer")));
        QTRY_COMPARE(m_form->EditorText(), QStringLiteral("select id, name from customer\r\n"));

        // F2 describes the table under the cursor; Esc closes the panel.
        edit(QStringLiteral("select * from ord|ers"));
        QTest::keyClick(editor, Qt::Key_F2);
        auto *panel = m_form.child<DetailPanel>("DescribePanel");
        QVERIFY(panel->isVisible());
        QCOMPARE(panel->title(), QStringLiteral("main.orders (table)"));
        QCOMPARE(panel->rows().value(1).mid(0, 2), (QStringList { "amount", "REAL" }));
        QTest::keyClick(editor, Qt::Key_Escape);
        QVERIFY(!panel->isVisible());
        QCOMPARE(escapes.count(), 1);

        // Ctrl+Shift+R reads the alias again.
        QTest::keyClick(editor, Qt::Key_R, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(m_catalogs->calls.contains(QStringLiteral("reload LITE")));
    }

    void browser()
    {
        // Hidden until Ctrl+Shift+B; the filter narrows as one types; a table opens to its columns.
        auto *dock = m_form.child<ObjectBrowser>("ObjectBrowser");
        QVERIFY(!dock->isVisible());
        QTest::keyClick(m_form.editor(), Qt::Key_B, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(dock->isVisible());
        QTest::keyClicks(m_form.child<QLineEdit>("ObjectFilter"), QStringLiteral("ord"));
        auto *tree = m_form.child<QTreeWidget>("ObjectTree");
        const QList<QTreeWidgetItem *> found =
            tree->findItems(QStringLiteral("main.orders"), Qt::MatchRecursive);
        QCOMPARE(found.size(), 1);
        QCOMPARE(found.first()->parent()->text(0), QStringLiteral("LITE"));
        found.first()->setExpanded(true);
        QCOMPARE(found.first()->childCount(), 2);
        QCOMPARE(found.first()->child(1)->text(0), QStringLiteral("amount"));

        Object table { QStringLiteral("S"), QStringLiteral("T"), Kind::Table, {} };
        const QVector<Column> columns { column("A", "INTEGER"), column("B", "INTEGER") };
        QCOMPARE(ObjectBrowser::selectText(table, columns, Sql::Dialect::Db2),
            QStringLiteral("SELECT A, B FROM S.T FETCH FIRST 100 ROWS ONLY"));
        QCOMPARE(ObjectBrowser::selectText(table, columns, Sql::Dialect::Sqlite),
            QStringLiteral("SELECT A, B FROM S.T LIMIT 100"));
    }

    void didYouMean_data()
    {
        QTest::addColumn<QString>("alias");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("expected");
        QTest::newRow("SQLite no such table") << "LITE"
                                              << "select amount from ordrs"
                                              << "Did you mean orders?";
        QTest::newRow("SQLite no such column") << "LITE"
                                               << "select amont from orders"
                                               << "Did you mean amount?";
        QTest::newRow("PostgreSQL 42P01") << "COMPLETEPG"
                                          << "select * from pg_clas"
                                          << "Did you mean pg_class?";
    }

    void didYouMean()
    {
        QFETCH(QString, alias);
        QFETCH(QString, sql);
        QFETCH(QString, expected);
        m_catalogs->snapshots.insert(QStringLiteral("COMPLETEPG"),
            std::make_shared<Snapshot>(QStringLiteral("COMPLETEPG"), QDateTime(),
                QVector<Object> { { "pg_catalog", "pg_class", Kind::Table, {} } }));
        QString note;
        ModalScript script;
        script.setFallback([&note](QWidget *modal) {
            QCOMPARE(modal->objectName(), QStringLiteral("QueryErrorBox"));
            if (auto *label = modal->findChild<QLabel *>(QStringLiteral("DidYouMean")))
                note = label->text();
            static_cast<QDialog *>(modal)->accept();
        });
        m_form->setDBParms(PgServer::instance().loginText());
        QVERIFY(connectAndWait(*m_form, alias));
        m_form.type(sql);
        m_form.chooseAlias(alias);
        m_form.runButton()->click();
        QVERIFY(waitForNoWorker(*m_form));
        QTRY_COMPARE(note, expected);
    }

    void cleanup() { m_form.close(); }
};

STELVIK_TEST_MAIN(tst_EditorCompletion)
#include "tst_editorcompletion.moc"
