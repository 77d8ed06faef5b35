#include "app/Unit1.h"
#include "connection/QueryDataset.h"
#include "support/ModalScript.h"
#include "support/PgServer.h"
#include "support/TestEnv.h"
#include "support/WindowFixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QPointer>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>

#include <memory>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer's allocator keeps freed memory in a quarantine and in caches of its own, and
// records the stack of every allocation, so resident memory grows under it without a leak: the
// memory check applies to the plain build, and LeakSanitizer checks for leaks at exit here.
constexpr bool residentMemoryMeaningful = false;
#else
constexpr bool residentMemoryMeaningful = true;
#endif

namespace {

// The process's resident memory in bytes, from the kernel's own count.
qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toLongLong() * ::sysconf(_SC_PAGESIZE) : -1;
}

constexpr int cycleCount = 1000;
constexpr int settleCycle = 100; // memory is compared with its value after this cycle
constexpr qint64 allowedGrowth = 10 * 1024 * 1024;

} // namespace

// The real main window under load: a thousand cycles per database of Run, Close Query while the
// result is partly fetched, Run again, then Close Query and Logout while a statement runs.
// Nothing may crash, every Run must show its result, and memory must not keep growing.
class tst_stress : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cycles_data();
    void cycles();

private:
    QToolButton *button(const char *name) const { return m_form.child<QToolButton>(name); }
    void start(const char *buttonName, const QString &sql);
    bool waitIdle();

    WindowFixture m_form;
    QString m_alias;
};

void tst_stress::initTestCase()
{
    TestEnv::addSqliteDsn(QStringLiteral("STRESSLITE"),
        { QStringLiteral("create table big as with recursive s(n) as (select 1 union all "
                         "select n + 1 from s where n < 20000) select n, 'row ' || n as label "
                         "from s") });
    PgServer::instance().addDsn(QStringLiteral("STRESSPG"));
}

void tst_stress::start(const char *buttonName, const QString &sql)
{
    m_form->setEditorText(sql);
    m_form.chooseAlias(m_alias);
    button(buttonName)->click();
}

bool tst_stress::waitIdle()
{
    return m_form.waitIdle();
}

void tst_stress::cycles_data()
{
    QTest::addColumn<QString>("alias");
    QTest::addColumn<QString>("large"); // more rows than the first fetch brings
    QTest::addColumn<QString>("busy"); // a statement that keeps the worker busy a while

    QTest::newRow("sqlite") << "stresslite"
                            << "select n, label from big"
                            << "select count(*) from big where label like '%9%'";
    QTest::newRow("postgres") << "stresspg"
                              << "select n, 'row ' || n as label from generate_series(1, 20000) n"
                              << "select count(*) from generate_series(1, 100000)";
}

void tst_stress::cycles()
{
    QFETCH(QString, alias);
    QFETCH(QString, large);
    QFETCH(QString, busy);

    m_alias = alias;
    QVERIFY(m_form.open());
    m_form.child<QCheckBox>("CheckBox1")->setChecked(false);
    const QString login = PgServer::instance().loginText();

    ModalScript noDialogs; // any box (an error, a login) is unexpected
    qint64 settled = -1;
    for (int cycle = 1; cycle <= cycleCount; ++cycle) {
        m_form->setDBParms(login); // Logout of the cycle before forgot it

        // Run, then Close Query while the result is only partly fetched.
        start("SpeedButton1", large);
        QVERIFY(waitIdle());
        QVERIFY2(m_form->CurrentQuery, qPrintable(QString::number(cycle)));
        QVERIFY(!m_form->CurrentQuery->allFetched());
        button("SpeedButton4")->click();
        QVERIFY(!m_form->CurrentQuery);

        // Run again: a whole result.
        start("SpeedButton1", QStringLiteral("select %1 as cycle").arg(cycle));
        QVERIFY(waitIdle());
        QVERIFY(m_form->CurrentQuery);
        QCOMPARE(m_form->CurrentQuery->FieldString(0), QString::number(cycle));

        // Close Query and Logout while a statement runs: the abandoned worker ends on its own.
        start("SpeedButton1", busy);
        QPointer<QObject> worker = m_form->CurrentThread;
        QVERIFY(worker);
        QSignalSpy ended(worker.data(), &QObject::destroyed);
        button("SpeedButton4")->click();
        button("SpeedButton12")->click();
        QVERIFY(!m_form->CurrentThread);
        QVERIFY(ended.count() || ended.wait(60000));

        QCOMPARE(noDialogs.seen.size(), 0);
        if (cycle == settleCycle)
            settled = residentBytes();
        if (cycle % 100 == 0)
            qInfo("%s: cycle %d, resident memory %lld KB", qPrintable(alias), cycle,
                residentBytes() / 1024);
    }
    const qint64 last = residentBytes();
    qInfo("%s: resident memory %lld KB after cycle %d, %lld KB after cycle %d", qPrintable(alias),
        settled / 1024, settleCycle, last / 1024, cycleCount);
    QVERIFY(settled > 0 && last > 0);
    m_form.close();
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    if (!residentMemoryMeaningful)
        QSKIP("resident memory is checked in the build without AddressSanitizer");
    QVERIFY2(last - settled <= allowedGrowth,
        qPrintable(QStringLiteral("grew by %1 KB").arg((last - settled) / 1024)));
}

STELVIK_TEST_MAIN(tst_stress)
#include "tst_stress.moc"
