#include "app/Unit1.h"
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

namespace {

const QString Lite = QStringLiteral("PARMLITE");
const QString Pg = QStringLiteral("PARMPG");
const QString Select = QStringLiteral("SELECT NOTE FROM single WHERE NOTE = :note");
const QString Long = QString(100000, QLatin1Char('a'));
const QString Astral = QStringLiteral("\U0001D11E clef \U0001F600");

// Types the values into the prompt's fields (none: Esc) and presses Run; a value the prompt
// refuses keeps it open: its message goes to `said`, and Esc closes it.
ModalScript::Answer fill(const QStringList &values, QString *said = nullptr)
{
    return [values, said](QWidget *dialog) {
        const auto fields = dialog->findChildren<QComboBox *>(QStringLiteral("ParameterValue"));
        for (int i = 0; i < values.size(); ++i)
            fields.value(i)->setEditText(values.at(i));
        if (!values.isEmpty() && fields.size() == values.size())
            QMetaObject::invokeMethod(dialog, "accept");
        if (dialog->isVisible() && said)
            *said = dialog->findChild<QLabel *>("ParameterMessage")->text();
        if (dialog->isVisible())
            QMetaObject::invokeMethod(dialog, "reject");
    };
}

} // namespace

// Statements with markers run from the window on SQLite and PostgreSQL: the values are asked
// for, bound (never spliced), kept with the history and run again with Ctrl+F5.
class tst_parameters : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        const QStringList tables {
            QStringLiteral("create table single(ID int, NOTE varchar(200000), CODE varchar(3))"),
            QStringLiteral("insert into single(ID, NOTE) values (1, 'x'), (2, 'it''s')"),
            QStringLiteral("insert into single(ID, NOTE) values (3, '%1'), (4, '%2')")
                .arg(Long, Astral),
        };
        TestEnv::addSqliteDsn(Lite, tables);
        PgServer::instance().addDsn(Pg, QStringLiteral("parameters"));
        PgServer::instance().exec(tables.join(u';')
                + QStringLiteral(";create procedure bump(inout a int, inout b text, out c text) "
                                 "language plpgsql as $$ begin a := a + 1; c := b; end $$"),
            QStringLiteral("parameters"));
    }
    void init()
    {
        for (const char *suffix : { "", "-wal", "-shm" }) // each test reads its own runs
            QFile::remove(HistoryDb::defaultPath() + QLatin1String(suffix));
        QVERIFY(m_form.open(WindowFixture::Shown::Active));
        m_form->setDBParms(PgServer::instance().loginText());
    }
    void cleanup() { m_form.close(); }

    void values_data()
    {
        QTest::addColumn<QString>("alias");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QStringList>("values"); // one per field of the prompt; none: Esc
        // "=" and the result's first column when it ran, else what the prompt or error box said
        QTest::addColumn<QString>("shown");
        const QString in = QStringLiteral("SELECT NOTE FROM single WHERE ID IN (:ids) ORDER BY ID");
        for (const QString &alias : { Lite, Pg }) {
            const QByteArray a = alias.toLatin1();
            QTest::addRow("%s plain", a.data())
                << alias << Select << QStringList { "it's" } << "=it's";
            QTest::addRow("%s injection", a.data())
                << alias << Select << QStringList { "' OR ''='" } << "=";
            QTest::addRow("%s long", a.data())
                << alias << Select << QStringList { Long } << "=" + Long;
            QTest::addRow("%s non-BMP", a.data())
                << alias << Select << QStringList { Astral } << "=" + Astral;
            QTest::addRow("%s IN list", a.data())
                << alias << in << QStringList { "2\n1\n" } << "=x|it's";
            QTest::addRow("%s Esc", a.data()) << alias << Select << QStringList {} << "";
        }
        // The OUT parameter is bound as output and not asked for; the INOUT ones are.
        QTest::newRow("PARMPG call")
            << Pg << "CALL bump(:a, :b, ?)" << QStringList { "41", "hi" } << "=42";
        QTest::newRow("PARMPG integer field")
            << Pg << "SELECT ID FROM single WHERE ID = :id" << QStringList { "abc" }
            << "\"abc\": not a whole number";
        QTest::newRow("PARMPG too long")
            << Pg << "INSERT INTO single(CODE) VALUES (:code)" << QStringList { "abcd" }
            << "One of the values was refused: :code = 'abcd'";
    }
    void values()
    {
        QFETCH(QString, alias);
        QFETCH(QString, sql);
        QFETCH(QStringList, values);
        QFETCH(QString, shown);
        QString said;
        ModalScript script({ fill(values, &said) });
        script.setFallback([&](QWidget *box) { // the statement's error box
            for (const QLabel *label : box->findChildren<QLabel *>("DidYouMean"))
                said += label->text();
            QMetaObject::invokeMethod(box, "reject");
        });
        QCOMPARE(run(script, alias, sql) ? "=" + notes().join('|') : said, shown);
    }

    void remembered_data()
    {
        QTest::addColumn<QString>("alias");
        QTest::newRow("SQLite") << Lite;
        QTest::newRow("PostgreSQL") << Pg;
    }
    void remembered()
    {
        QFETCH(QString, alias);
        QVERIFY(ran(alias, Select, { fill({ "x" }) }));
        QVERIFY(ran(alias, Select, { fill({ "it's" }) }));
        QVERIFY(ran(alias, Select, {}, Qt::ControlModifier)); // Ctrl+F5: no prompt
        QCOMPARE(notes(), QStringList { "it's" });
        // A statement without remembered values asks.
        QVERIFY(ran(alias, Select + " AND ID = :id", { fill({ "x", "1" }) }, Qt::ControlModifier));
        // The history lists the values; an entry made current brings them back to Ctrl+F5.
        QVERIFY(m_form->historyDatabase()->flush(30000));
        m_form.child<QLineEdit>("HistorySearch")->setText("single alias:" + alias);
        auto *list = m_form.child<QComboBox>("ComboBox2");
        QCOMPARE(list->count(), 4);
        QVERIFY2(list->itemText(3).endsWith(" with :note = 'x'"), qPrintable(list->itemText(3)));
        list->setCurrentIndex(3); // the first run, with x
        emit list->activated(3);
        m_form.child<QToolButton>("SpeedButton10")->click();
        QCOMPARE(m_form.editor()->toPlainText(), Select);
        QVERIFY(ran(alias, Select, {}, Qt::ControlModifier));
        QCOMPARE(notes(), QStringList { "x" });
    }

private:
    // Presses F5 (with `key`) in the editor, the script answering: true when it ran to its end.
    bool run(ModalScript &script, const QString &alias, const QString &sql,
        Qt::KeyboardModifiers key = Qt::NoModifier)
    {
        m_form->setStatusText(1, QString());
        m_form.type(sql);
        m_form.chooseAlias(alias);
        m_form.pages()->setCurrentIndex(0); // the SQL page: a run shows the Results page
        if (!m_form.show(WindowFixture::Shown::Active)) // a prompt took the activation
            return false;
        m_form.editor()->setFocus();
        const bool asks = !script.done();
        QTest::keyClick(m_form.editor(), Qt::Key_F5, key);
        // The prompt comes once the markers were described, the statement starts as it closes;
        // unasked, it starts once they were described.
        if (!QTest::qWaitFor(
                [&] {
                    const QString state = m_form->statusText(1);
                    return script.done()
                        && (asks || (!state.isEmpty() && !state.startsWith("Conn")));
                },
                60000))
            return false;
        return m_form.waitIdle() && m_form->statusText(1).startsWith("Select Complete")
            && script.unexpected == 0;
    }
    bool ran(const QString &alias, const QString &sql, QList<ModalScript::Answer> answers,
        Qt::KeyboardModifiers key = Qt::NoModifier)
    {
        ModalScript script(std::move(answers));
        return run(script, alias, sql, key) && script.done();
    }
    QStringList notes() const // the first column of the shown result
    {
        QStringList notes;
        for (int row = 0; m_form->CurrentQuery && row < m_form->CurrentQuery->CountRecords(); ++row)
            notes << m_form->CurrentQuery->text(row, 0);
        return notes;
    }

    WindowFixture m_form;
};

QTEST_MAIN(tst_parameters)
#include "tst_parameters.moc"
