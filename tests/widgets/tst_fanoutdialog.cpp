#include "widgets/FanOutDialog.h"

#include <QListWidget>
#include <QtTest>

// The alias choice driven by keys alone: ticked as last time, Space ticks, Return runs (not
// without a ticked alias), Esc cancels.
class tst_fanoutdialog : public QObject
{
    Q_OBJECT

private slots:
    void byKeys_data();
    void byKeys();
};

void tst_fanoutdialog::byKeys_data()
{
    QTest::addColumn<QStringList>("lastTime");
    QTest::addColumn<QString>("keys"); // d: Down, s: Space, r: Return, e: Esc
    QTest::addColumn<int>("result"); // -1: still open
    QTest::addColumn<QStringList>("ticked");
    const QStringList none;
    QTest::newRow("as last time") << QStringList { "db2t302", "DB2P201" } << "r" << 1
                                  << QStringList { "DB2P201", "DB2T302" };
    QTest::newRow("space ticks and unticks")
        << QStringList { "DB2T302" } << "sdsdsr" << 1 << QStringList { "DB2P201", "DB2T301" };
    QTest::newRow("nothing ticked stays open") << none << "r" << -1 << none;
    QTest::newRow("esc cancels") << QStringList { "DB2T302" } << "se" << 0
                                 << QStringList { "DB2P201", "DB2T302" };
}

void tst_fanoutdialog::byKeys()
{
    QFETCH(QStringList, lastTime);
    QFETCH(QString, keys);
    QFETCH(int, result);
    QFETCH(QStringList, ticked);
    FanOutDialog dialog({ "DB2P201", "DB2T301", "DB2T302" }, lastTime);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto *list = dialog.findChild<QListWidget *>(QStringLiteral("FanOutAliases"));
    QTRY_VERIFY(list && list->hasFocus());
    int finished = -1;
    connect(&dialog, &QDialog::finished, this, [&](int code) { finished = code; });
    for (const QChar key : keys) {
        const Qt::Key code = key == u'd' ? Qt::Key_Down
            : key == u's'                ? Qt::Key_Space
            : key == u'r'                ? Qt::Key_Return
                                         : Qt::Key_Escape;
        QTest::keyClick(QApplication::focusWidget(), code);
    }
    QCOMPARE(finished, result);
    QCOMPARE(dialog.tickedAliases(), ticked);
}

QTEST_MAIN(tst_fanoutdialog)
#include "tst_fanoutdialog.moc"
