#include "app/Unit1.h"
#include "connection/QueryDataset.h"
#include "history/HistoryDb.h"
#include "support/ModalScript.h"
#include "support/PgServer.h"
#include "support/TestEnv.h"
#include "support/WindowFixture.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QtTest>

// Statements with markers run from the window on SQLite and PostgreSQL: the values are asked
// for, bound (never spliced), remembered with the history and run again with Ctrl+F5.
class tst_parameters : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup() { m_form.close(); }
    void boundValues_data();
    void boundValues();
    void escapeRunsNothing_data() { aliases(); }
    void escapeRunsNothing();
    void remembered_data() { aliases(); }
    void remembered();
    void refusedValues_data();
    void refusedValues();

private:
    static void aliases();
    // Presses the key in the editor; answers the prompts with `answers` (each fills the fields
    // of one prompt); true once the statement ran to its end (panel 1 says so).
    bool run(const QString &alias, const QString &sql, QList<ModalScript::Answer> answers,
        Qt::KeyboardModifiers key = Qt::NoModifier);
    QStringList notes() const; // the first column of the shown result
    WindowFixture m_form;
};

namespace {

const QString Lite = QStringLiteral("PARMLITE");
const QString Pg = QStringLiteral("PARMPG");
const QString Select = QStringLiteral("SELECT NOTE FROM single WHERE NOTE = :note");
const QString Long = QString(100000, QLatin1Char('a'));
const QString Astral = QStringLiteral("\U0001D11E clef \U0001F600");

// Types the values into the prompt's fields and presses Run; `proposed` gets what the first
// field offered before.
ModalScript::Answer fill(const QStringList &values, QString *proposed = nullptr)
{
    return [values, proposed](QWidget *dialog) {
        const QList<QComboBox *> fields =
            dialog->findChildren<QComboBox *>(QStringLiteral("ParameterValue"));
        QCOMPARE(fields.size(), values.size());
        if (proposed)
            *proposed = fields.first()->currentText();
        for (int i = 0; i < fields.size(); ++i)
            fields.at(i)->setEditText(values.at(i));
        QMetaObject::invokeMethod(dialog, "accept");
    };
}

} // namespace

void tst_parameters::initTestCase()
{
    const QStringList tables { QStringLiteral(
                                   "create table single(ID integer, NOTE varchar(200000), "
                                   "CODE varchar(3))"),
        QStringLiteral("insert into single(ID, NOTE) values (1, 'x'), (2, 'it''s')"),
        QStringLiteral("insert into single(ID, NOTE) values (3, '%1')").arg(Long),
        QStringLiteral("insert into single(ID, NOTE) values (4, '%1')").arg(Astral) };
    TestEnv::addSqliteDsn(Lite, tables);
    PgServer::instance().addDsn(Pg, QStringLiteral("parameters"));
    PgServer::instance().exec(tables.join(u';'), QStringLiteral("parameters"));
    PgServer::instance().exec(
        QStringLiteral("create procedure bump(inout a int, inout b text, out c text) language "
                       "plpgsql as $$ begin a := a + 1; b := b || '!'; c := 'out'; end $$"),
        QStringLiteral("parameters"));
}

void tst_parameters::init()
{
    for (const char *suffix : { "", "-wal", "-shm" }) // each test reads its own runs
        QFile::remove(HistoryDb::defaultPath() + QLatin1String(suffix));
    QVERIFY(m_form.open(WindowFixture::Shown::Active));
    m_form->setDBParms(PgServer::instance().loginText());
}

void tst_parameters::aliases()
{
    QTest::addColumn<QString>("alias");
    QTest::newRow("SQLite") << Lite;
    QTest::newRow("PostgreSQL") << Pg;
}

bool tst_parameters::run(const QString &alias, const QString &sql,
    QList<ModalScript::Answer> answers, Qt::KeyboardModifiers key)
{
    const int asked = int(answers.size());
    ModalScript script(std::move(answers));
    m_form->setStatusText(1, QString());
    m_form.type(sql);
    m_form.chooseAlias(alias);
    m_form.pages()->setCurrentIndex(0); // the SQL page: a run shows the Results page
    if (!m_form.show(WindowFixture::Shown::Active)) // the prompt before took the activation
        return false;
    m_form.editor()->setFocus();
    QTest::keyClick(m_form.editor(), Qt::Key_F5, key);
    // The prompt comes once the connection is open and the driver described the markers; the
    // statement starts as the prompt closes. Unasked, it starts once they were described.
    const auto started = [&] {
        const QString state = m_form->statusText(1);
        return script.done()
            && (asked > 0 || (!state.isEmpty() && !state.startsWith(QLatin1String("Connecting"))));
    };
    if (!QTest::qWaitFor(started, 60000) || !m_form.waitIdle())
        return false;
    return m_form->statusText(1).startsWith(QLatin1String("Select Complete"))
        && script.unexpected == 0 && script.seen.size() == asked;
}

QStringList tst_parameters::notes() const
{
    QStringList notes;
    if (!m_form->CurrentQuery)
        return notes;
    m_form->CurrentQuery->CountRecords();
    for (int row = 0; row < m_form->CurrentQuery->fetchedCount(); ++row)
        notes << m_form->CurrentQuery->text(row, 0);
    return notes;
}

void tst_parameters::boundValues_data()
{
    QTest::addColumn<QString>("alias");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QStringList>("values"); // one per field of the prompt
    QTest::addColumn<QStringList>("found");
    for (const QString &alias : { Lite, Pg }) {
        const QByteArray a = alias.toLatin1();
        QTest::addRow("%s plain", a.data())
            << alias << Select << QStringList { "x" } << QStringList { "x" };
        QTest::addRow("%s quote", a.data())
            << alias << Select << QStringList { "it's" } << QStringList { "it's" };
        QTest::addRow("%s injection", a.data())
            << alias << Select << QStringList { "' OR ''='" } << QStringList {};
        QTest::addRow("%s 100000 characters", a.data())
            << alias << Select << QStringList { Long } << QStringList { Long };
        QTest::addRow("%s beyond the BMP", a.data())
            << alias << Select << QStringList { Astral } << QStringList { Astral };
        QTest::addRow("%s pasted column into IN", a.data())
            << alias << "SELECT NOTE FROM single WHERE ID IN (:ids) ORDER BY ID"
            << QStringList { "2\n1\n" } << QStringList { "x", "it's" };
    }
    // The procedure's OUT parameter is bound as output, never asked for; the INOUT ones are.
    QTest::newRow("PARMPG call") << Pg << "CALL bump(:a, :b, ?)" << QStringList { "41", "hi" }
                                 << QStringList { "42" };
}

void tst_parameters::boundValues()
{
    QFETCH(QString, alias);
    QFETCH(QString, sql);
    QFETCH(QStringList, values);
    QFETCH(QStringList, found);
    QVERIFY(run(alias, sql, { fill(values) }));
    QCOMPARE(notes(), found);
    // The history keeps the statement as written and the values beside it, whole.
    QVERIFY(m_form->historyDatabase()->flush(30000));
    const HistoryRecord newest = HistoryDb(HistoryDb::defaultPath()).search({}, 1).value(0);
    QCOMPARE(newest.text, sql + QStringLiteral("\r\n"));
    QStringList kept;
    for (const HistoryParameter &parameter : newest.parameters)
        kept << parameter.value;
    QCOMPARE(kept, values);
}

void tst_parameters::escapeRunsNothing()
{
    QFETCH(QString, alias);
    QVERIFY(!run(alias, Select, { ModalScript::reject() }));
    QVERIFY(m_form->statusText(1).isEmpty());
    QVERIFY(!m_form->CurrentQuery);
    QVERIFY(!m_form->CurrentThread);
}

void tst_parameters::remembered()
{
    QFETCH(QString, alias);
    QString proposed;
    QVERIFY(run(alias, Select, { fill({ "x" }) }));
    QVERIFY(run(alias, Select, { fill({ "it's" }, &proposed) }));
    QCOMPARE(proposed, QStringLiteral("x")); // the last value is proposed
    QVERIFY(run(alias, Select, {}, Qt::ControlModifier)); // Ctrl+F5: no prompt
    QCOMPARE(notes(), QStringList { "it's" });
    // Statements other than this one's have no say in what Ctrl+F5 takes; a new statement asks.
    QVERIFY(run(alias, Select + QStringLiteral(" AND ID = :id"), { fill({ "x", "1" }) },
        Qt::ControlModifier));
    QCOMPARE(notes(), QStringList { "x" });

    // The history lists the values beside the statement; its entry made current brings them
    // back, and Ctrl+F5 runs with them.
    QVERIFY(m_form->historyDatabase()->flush(30000));
    m_form.child<QLineEdit>("HistorySearch")->setText(QStringLiteral("single alias:") + alias);
    auto *list = m_form.child<QComboBox>("ComboBox2");
    QCOMPARE(list->count(), 4);
    QVERIFY2(list->itemText(0).endsWith(QLatin1String(" with :note = 'x', :id = '1'")),
        qPrintable(list->itemText(0)));
    QVERIFY2(list->itemText(1).endsWith(QLatin1String(" with :note = 'it''s'")),
        qPrintable(list->itemText(1)));
    list->setCurrentIndex(3); // the first run, with x
    emit list->activated(3);
    m_form.child<QToolButton>("SpeedButton10")->click();
    QCOMPARE(m_form.editor()->toPlainText(), Select);
    QVERIFY(run(alias, Select, {}, Qt::ControlModifier));
    QCOMPARE(notes(), QStringList { "x" });
}

void tst_parameters::refusedValues_data()
{
    QTest::addColumn<QString>("alias");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("marked"); // what the prompt says of the value, empty: accepted
    QTest::addColumn<QString>("note"); // what the error box adds, empty: the statement ran
    QTest::newRow("PostgreSQL integer field") << Pg << "SELECT NOTE FROM single WHERE ID = :id"
                                              << "abc"
                                              << "not a whole number"
                                              << "";
    QTest::newRow("PostgreSQL too long for the column")
        << Pg << "INSERT INTO single(ID, CODE) VALUES (9, :code)"
        << "abcdef"
        << ""
        << "One of the values was refused: :code = 'abcdef'";
}

void tst_parameters::refusedValues()
{
    QFETCH(QString, alias);
    QFETCH(QString, sql);
    QFETCH(QString, value);
    QFETCH(QString, marked);
    QFETCH(QString, note);
    QString message;
    QStringList boxNotes;
    ModalScript script(
        { [&](QWidget *dialog) {
             dialog->findChild<QComboBox *>(QStringLiteral("ParameterValue"))->setEditText(value);
             QMetaObject::invokeMethod(dialog, "accept");
             if (dialog->isVisible()) {
                 message = dialog->findChild<QLabel *>(QStringLiteral("ParameterMessage"))->text();
                 QMetaObject::invokeMethod(dialog, "reject");
             }
         },
            [&](QWidget *box) {
                for (const QLabel *label :
                    box->findChildren<QLabel *>(QStringLiteral("DidYouMean")))
                    boxNotes << label->text();
                QMetaObject::invokeMethod(box, "reject");
            } });
    if (note.isEmpty())
        script.setFallback([](QWidget *) { QFAIL("no error box was expected"); });
    m_form->setStatusText(1, QString());
    m_form.type(sql);
    m_form.chooseAlias(alias);
    m_form.editor()->setFocus();
    QTest::keyClick(m_form.editor(), Qt::Key_F5, Qt::ShiftModifier); // Exec
    QTRY_VERIFY_WITH_TIMEOUT(!script.seen.isEmpty(), 60000);
    QVERIFY(m_form.waitIdle());
    QVERIFY2(message.contains(marked), qPrintable(message));
    if (!marked.isEmpty()) {
        QVERIFY(m_form->statusText(1).isEmpty()); // nothing ran
        return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(script.done(), 60000);
    QCOMPARE(boxNotes, QStringList { note });
}

QTEST_MAIN(tst_parameters)
#include "tst_parameters.moc"
