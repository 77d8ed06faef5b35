#include "app/ResultView.h"
#include "app/Unit1.h"
#include "connection/Connection.h"
#include "connection/QueryDataset.h"
#include "results/DataSource.h"
#include "support/ModalScript.h"
#include "support/SessionConnection.h"
#include "support/TestEnv.h"
#include "support/WindowFixture.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

// The grid's sort (header clicks) and filter (the field above the grid, Ctrl+F, Esc) in the
// window, over every row of a result fetched on demand: the rows shown, the count beside the
// field, and the copies and exports that follow the order shown; a sort refused when Esc stops
// the fetch of the rest.
class tst_sortfilter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { QVERIFY(m_form.open()); }
    void cleanup() { m_form.close(); }
    void shownRowsFollowed_data();
    void shownRowsFollowed();
    void stoppedFetchRefusesSort();
    void wishWhileUnbound_data();
    void wishWhileUnbound();

private:
    void run(const QString &sql);
    void clickHeader(int column);
    // The comma-quote lines of a statement's rows, read from the database itself.
    QStringList expectedLines(const QString &sql);
    QLineEdit *filter() const { return m_form.child<QLineEdit>("FilterEdit"); }
    QLabel *count() const { return m_form.child<QLabel>("FilterCount"); }
    QWidget *bar() const { return m_form.child<QWidget>("FilterBar"); }

    WindowFixture m_form;
    std::unique_ptr<Connection> m_lite;
};

namespace {
const QString Lite = QStringLiteral("SORTFILTER");
}

void tst_sortfilter::initTestCase()
{
    // Names of one form, so that the database's byte order is the collation's order too.
    TestEnv::addSqliteDsn(Lite,
        { "create table g (N integer, NAME varchar(12))",
            "insert into g with recursive s(n) as (select 1 union all select n + 1 from s where "
            "n < 3000) select n, 'item ' || printf('%04d', (n * 37) % 3001) from s" });
    m_lite = TestEnv::connection(Lite);
    m_lite->OpenConnection();
}

void tst_sortfilter::run(const QString &sql)
{
    m_form->setDBParms(QStringLiteral("USER NAME=u\r\nPASSWORD=p\r\n"));
    m_form.start(m_form.runButton(), Lite, sql);
    QVERIFY(m_form.waitIdle());
    QVERIFY(m_form->CurrentQuery);
}

void tst_sortfilter::clickHeader(int column)
{
    QHeaderView *header = m_form.grid()->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
        QPoint(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
            header->height() / 2));
}

QStringList tst_sortfilter::expectedLines(const QString &sql)
{
    QueryDataset query;
    query.setConnection(Lite, sessionConnection(Lite));
    query.setSql(sql);
    query.OpenQuery();
    QStringList lines { QStringLiteral("\"N\",\"NAME\"") };
    for (; !query.AtEof(); query.GoNext())
        lines << QStringLiteral("\"%1\",\"%2\"").arg(query.FieldString(0), query.FieldString(1));
    return lines;
}

void tst_sortfilter::shownRowsFollowed_data()
{
    QTest::addColumn<int>("clicks"); // on the NAME header
    QTest::addColumn<QString>("text"); // typed into the filter
    QTest::addColumn<QString>("order"); // the same rows from the database
    QTest::addColumn<QString>("note"); // in the extract dialog

    const QString all = QStringLiteral("The export writes the rows of the result as shown, in "
                                       "their order.");
    const QString these = QStringLiteral(". The export writes these rows, in the order shown.");
    QTest::newRow("ascending") << 1 << ""
                               << "order by NAME"
                               << "Sorted by NAME" + these;
    QTest::newRow("descending") << 2 << ""
                                << "order by NAME desc"
                                << "Sorted by NAME (descending)" + these;
    QTest::newRow("fetched order again") << 3 << ""
                                         << "" << all;
    QTest::newRow("filtered") << 0 << "EM 123"
                              << "where NAME like '%em 123%'"
                              << "Filtered: 10 of 3000 rows" + these;
    QTest::newRow("sorted and filtered")
        << 2 << "EM 123"
        << "where NAME like '%em 123%' order by NAME desc"
        << "Sorted by NAME (descending); filtered: 10 of 3000 rows" + these;
}

void tst_sortfilter::shownRowsFollowed()
{
    QFETCH(int, clicks);
    QFETCH(QString, text);
    QFETCH(QString, order);
    QFETCH(QString, note);

    run(QStringLiteral("select N, NAME from g"));
    QVERIFY(!m_form->CurrentQuery->allFetched()); // the rest is fetched for the sort or filter
    auto *view = m_form->findChild<ResultView *>();
    QSignalSpy settled(view, &ResultView::settled);
    for (int i = 0; i < clicks; ++i) {
        clickHeader(1);
        QTRY_COMPARE_WITH_TIMEOUT(settled.count(), i + 1, 60000);
    }
    const int top = m_form.grid()->y(); // the filter field takes no room until Ctrl+F
    QVERIFY(!bar()->isVisible());
    if (!text.isEmpty()) {
        QTest::keyClick(m_form.grid(), Qt::Key_F, Qt::ControlModifier);
        QVERIFY(filter()->hasFocus() && bar()->isVisible());
        QTest::keyClicks(filter(), text);
        QTRY_COMPARE_WITH_TIMEOUT(count()->text(), QStringLiteral("10 of 3000 rows"), 60000);
    }
    QHeaderView *header = m_form.grid()->horizontalHeader();
    QCOMPARE(header->isSortIndicatorShown(), clicks % 3 != 0);

    // The grid, the export and the copies take the rows shown, in their order.
    const QStringList lines = expectedLines("select N, NAME from g " + order);
    QCOMPARE(m_form.grid()->model()->rowCount(), lines.size() - 1);
    QCOMPARE(m_form.grid()->model()->index(1, 1).data().toString(), lines[2].section('"', 3, 3));
    QString shownNote;
    ModalScript script({ [&](QWidget *dialog) {
        shownNote = dialog->findChild<QLabel *>("ExportNote")->text();
        dialog->findChild<QCheckBox *>("toClipboard")->setChecked(true);
        dialog->findChild<QPushButton *>("BitBtn1")->click();
    } });
    m_form.child<QToolButton>("SpeedButton5")->click();
    QVERIFY(script.done());
    QCOMPARE(shownNote, note);
    QCOMPARE(QGuiApplication::clipboard()->text(), lines.join("\r\n") + "\r\n");
    m_form.grid()->setCurrentIndex(m_form.grid()->model()->index(2, 0));
    m_form.child<QAction>("CopyEntireRowCommaQuote1")->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), lines[3]);

    // Esc in the field clears it: every row again.
    if (!text.isEmpty()) {
        QTest::keyClick(filter(), Qt::Key_Escape);
        QVERIFY(m_form->CurrentQuery);
        QTRY_COMPARE_WITH_TIMEOUT(m_form.grid()->model()->rowCount(), 3000, 60000);
        QVERIFY(filter()->text().isEmpty());
        QVERIFY(count()->text().isEmpty() && bar()->isVisible());
        QTest::keyClick(filter(), Qt::Key_Escape); // the empty field goes, the result stays
        QVERIFY(
            !bar()->isVisible() && m_form->focusWidget() == m_form.grid() && m_form->CurrentQuery);
        QTRY_COMPARE(m_form.grid()->y(), top);
    }
}

void tst_sortfilter::stoppedFetchRefusesSort()
{
    // A result whose end is a billion rows away: Esc stops the fetch long before it.
    run(QStringLiteral("with recursive s(n) as (select 1 union all select n + 1 from s where n < "
                       "1000000000) select n, 'x' || n from s"));
    auto *view = m_form->findChild<ResultView *>();
    QSignalSpy settled(view, &ResultView::settled);
    clickHeader(0);
    QVERIFY(m_form->CurrentThread); // fetching the rest
    QTest::keyClick(m_form.grid(), Qt::Key_Escape);
    QTRY_COMPARE_WITH_TIMEOUT(settled.count(), 1, 60000);
    QVERIFY(m_form.waitIdle());
    QVERIFY(count()->text().startsWith(QStringLiteral("Not sorted")));
    QVERIFY(!m_form.grid()->horizontalHeader()->isSortIndicatorShown());
    QVERIFY(m_form->CurrentQuery && m_form->CurrentQuery->IsOpen());
    QVERIFY(!m_form->DataSource1->shownRecords());
    QCOMPARE(m_form.grid()->model()->index(0, 0).data().toString(), QStringLiteral("1"));
}

void tst_sortfilter::wishWhileUnbound_data()
{
    QTest::addColumn<bool>("sort"); // a header click, else a filter typed
    QTest::addColumn<bool>("closeQuery"); // Close Query at once, else the report's dialog
    for (const bool sort : { true, false })
        for (const bool close : { false, true })
            QTest::addRow("%s, %s", sort ? "sort" : "filter", close ? "Close Query" : "report")
                << sort << close;
}

// A sort or filter ending while the report's dialog has the grid unbound shows once it is bound
// again; Close Query during the work ends it, leaving no "Sorting…" over the empty grid.
void tst_sortfilter::wishWhileUnbound()
{
    QFETCH(bool, sort);
    QFETCH(bool, closeQuery);
    m_form.child<QCheckBox>("CheckBox1")->setChecked(true); // fetched whole: work starts at once
    run(QStringLiteral("select N, NAME from g"));
    QSignalSpy settled(m_form->findChild<ResultView *>(), &ResultView::settled);
    if (sort) // the wish and the next command in one go: the work's answer comes after it
        clickHeader(1);
    else
        QTest::keyClicks(filter(), QStringLiteral("EM 123"));
    if (closeQuery) {
        m_form.closeButton()->click();
        QTRY_VERIFY(count()->text().isEmpty());
        QVERIFY(!m_form.child<QLabel>("SortStatus")->isVisible() && settled.isEmpty());
        return;
    }
    ModalScript script({ [&](QWidget *dialog) {
        QTRY_COMPARE_WITH_TIMEOUT(settled.count(), 1, 60000);
        dialog->findChild<QPushButton *>("BitBtn2")->click();
    } });
    m_form.child<QToolButton>("SpeedButton6")->click();
    const QStringList lines =
        expectedLines(sort ? "select N, NAME from g order by NAME"
                           : "select N, NAME from g where NAME like '%em 123%'");
    QCOMPARE(m_form.grid()->model()->rowCount(), lines.size() - 1);
    QCOMPARE(m_form.grid()->horizontalHeader()->isSortIndicatorShown(), sort);
    QCOMPARE(m_form.grid()->model()->index(0, 1).data().toString(), lines[1].section('"', 3, 3));
}

QTEST_MAIN(tst_sortfilter)
#include "tst_sortfilter.moc"
