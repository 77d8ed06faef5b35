#include "app/Routing.h"
#include "app/Unit1.h"
#include "settings/ParmStore.h"
#include "support/TestEnv.h"
#include "support/WindowFixture.h"

#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSettings>
#include <QTabBar>
#include <QTabWidget>

// Where a statement goes and why, as the window shows it before it runs.
class tst_Routing : public QObject
{
    Q_OBJECT

private slots:
    void route_data();
    void route();
    void shownBesideThePageTabs_data();
    void shownBesideThePageTabs();
};

void tst_Routing::route_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("expected"); // alias|name|line|comment-only|other aliases
    QTest::newRow("none") << "select 1 from sysibm.sysdummy1"
                          << "||0|0|";
    QTest::newRow("lower case") << "select *\nfrom t312dba.orders"
                                << "DB2T302|T312DBA.ORDERS|2|0|";
    QTest::newRow("first group wins, the other is named")
        << "select * from T302DBA.A join T301DBA.B on 1=1"
        << "DB2T301|T301DBA.B|1|0|DB2T302";
    QTest::newRow("inside a longer word counts as SQL") << "select XT303DBAY from t"
                                                        << "DB2T303|T303DBA|1|0|";
    QTest::newRow("only in a comment") << "-- was P201DBA\nselect * from orders"
                                       << "DB2P201|P201DBA|1|1|";
    QTest::newRow("only in a string, SQL names another") << "select 'T301DBA' from P401DBA.X"
                                                         << "DB2T301|T301DBA|1|1|DB2P401";
    QTest::newRow("comment first, then SQL: the SQL mention is shown")
        << "/* T311DBA */\n\nselect * from t311dba.x"
        << "DB2T301|T311DBA.X|3|0|";
}

void tst_Routing::route()
{
    QFETCH(QString, sql);
    QFETCH(QString, expected);
    const Routing::Choice c = Routing::route(sql);
    QCOMPARE(QStringLiteral("%1|%2|%3|%4|%5")
                 .arg(c.alias, c.name)
                 .arg(c.line)
                 .arg(int(c.onlyInCommentOrString))
                 .arg(c.otherAliases.join(u',')),
        expected);
}

void tst_Routing::shownBesideThePageTabs_data()
{
    QTest::addColumn<QVariant>("setting"); // "ProductionAliases"; invalid: not set
    QTest::addColumn<QString>("alias"); // chosen in the alias box
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("label");
    QTest::addColumn<bool>("framed");
    QTest::newRow("default list, routed to production")
        << QVariant() << ""
        << "select * from P201DBA.ORDERS"
        << "PRODUCTION  db2p201 ← P201DBA.ORDERS, line 1" << true;
    QTest::newRow("test database") << QVariant() << ""
                                   << "select * from T301DBA.ORDERS"
                                   << "db2t301 ← T301DBA.ORDERS, line 1" << false;
    QTest::newRow("alias box named in the setting")
        << QVariant(QStringList { "sample" }) << "SAMPLE"
        << "select 1"
        << "PRODUCTION  SAMPLE (alias box)" << true;
    QTest::newRow("setting as one text") << QVariant(QStringLiteral("other, Sample")) << "SAMPLE"
                                         << "select 1"
                                         << "PRODUCTION  SAMPLE (alias box)" << true;
    QTest::newRow("warning")
        << QVariant() << ""
        << "-- T302DBA\nselect 1"
        << "db2t302 ← T302DBA, line 1  ⚠ T302DBA stands only in a comment or string" << false;
}

void tst_Routing::shownBesideThePageTabs()
{
    QFETCH(QVariant, setting);
    QFETCH(QString, alias);
    QFETCH(QString, sql);
    QFETCH(QString, label);
    QFETCH(bool, framed);
    TestEnv::addSqliteDsn(QStringLiteral("SAMPLE"));
    if (setting.isValid())
        openUserSettings()->setValue(QStringLiteral("ProductionAliases"), setting);
    else
        openUserSettings()->remove(QStringLiteral("ProductionAliases"));
    TForm1 form(WindowFixture::options());
    auto *box = form.findChild<QComboBox *>(QStringLiteral("ComboBox1"));
    auto *editor = form.findChild<QPlainTextEdit *>(QStringLiteral("RE1"));
    auto *shown = form.findChild<QLabel *>(QStringLiteral("RoutingLabel"));
    const auto view = [shown] { return shown->toolTip(); }; // the whole text
    editor->setPlainText(sql);
    if (!alias.isEmpty())
        box->setCurrentIndex(box->findText(alias));
    QTRY_COMPARE(view(), label); // once typing pauses
    QCOMPARE(editor->styleSheet().contains(QStringLiteral("border")), framed);
    QCOMPARE(box->styleSheet().contains(QStringLiteral("border")), framed);

    // Readable at the designed width: whole, or cut only beyond the room the tabs leave, and
    // clear of the toolbar's controls and the tabs.
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QString fits = shown->fontMetrics().elidedText(label, Qt::ElideRight, 300);
    QTRY_VERIFY2(shown->text() == label
            || (label.startsWith(shown->text().chopped(1)) && shown->text().size() >= fits.size()),
        qPrintable(shown->text()));
    QList<QWidget *> others = form.findChild<QWidget *>(QStringLiteral("Panel3"))
                                  ->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    others << form.findChild<QTabWidget *>(QStringLiteral("PageControl1"))->tabBar();
    for (const QWidget *other : others)
        QVERIFY(!QRect(shown->mapTo(&form, QPoint()), shown->size())
                     .intersects(QRect(other->mapTo(&form, QPoint()), other->size())));
}

STELVIK_TEST_MAIN(tst_Routing)
#include "tst_routing.moc"
