#include "app/StatementValues.h"

#include <QtTest>

// From the dialog's answers to what the driver runs, and from the driver's description and the
// history to what the dialog proposes.
class tst_StatementValues : public QObject
{
    Q_OBJECT

private slots:
    void bound_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("answers"); // "NULL" for a NULL
        QTest::addColumn<QString>("driverText");
        QTest::addColumn<QStringList>("values"); // per "?"
        QTest::newRow("repeated name, one value")
            << "SELECT 1 FROM T WHERE A = :a OR B = :a AND C = ?" << QStringList { "x'y", "NULL" }
            << "SELECT 1 FROM T WHERE A = ? OR B = ? AND C = ?"
            << QStringList { "x'y", "x'y", "NULL" };
        QTest::newRow("pasted column into IN")
            << "SELECT 1 FROM T WHERE ID IN (:ids)" << QStringList { "1\n 2\r\n\n3 \n" }
            << "SELECT 1 FROM T WHERE ID IN (?, ?, ?)" << QStringList { "1", "2", "3" };
        QTest::newRow("lines outside IN stay one value")
            << "VALUES (:memo)" << QStringList { "a\nb" } << "VALUES (?)" << QStringList { "a\nb" };
    }
    void bound()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, answers);
        QFETCH(QString, driverText);
        QFETCH(QStringList, values);
        QVector<ParameterAnswer> given;
        for (const QString &answer : answers)
            given.append({ answer == QLatin1String("NULL"),
                answer == QLatin1String("NULL") ? QString() : answer });
        const Sql::Markers markers = Sql::parameterMarkers(text, Sql::Dialect::Db2);
        const StatementValues::Bound bound = StatementValues::bind(text, markers, given);
        QCOMPARE(bound.driverText, driverText);
        QStringList sent;
        for (const ParameterValue &value : bound.values)
            sent << (value.isNull ? QStringLiteral("NULL") : value.text);
        QCOMPARE(sent, values);
        QCOMPARE(bound.remembered.size(), markers.names.size());
        // What the history keeps gives the same answers back.
        QCOMPARE(StatementValues::answersFrom(markers, bound.remembered).size(), answers.size());
    }

    void prompted()
    {
        const QString text = QStringLiteral("SELECT 1 FROM T WHERE D = :d AND N = :n AND X = ?");
        const Sql::Markers markers = Sql::parameterMarkers(text, Sql::Dialect::Db2);
        ParameterType date;
        date.described = true;
        date.sqlType = SQL_TYPE_DATE;
        const QVector<ParameterPrompt> prompts = StatementValues::prompts(markers, { date },
            { { ":d", false, "2024-02-29" }, { ":n", true, {} } }, [](const QString &name) {
                return name == QLatin1String(":d") ? QStringList { "2023-01-01", "2024-02-29" }
                                                   : QStringList {};
            });
        QCOMPARE(prompts.size(), 3);
        QCOMPARE(prompts[0].kind, ParameterKind::Date);
        QCOMPARE(prompts[0].recent, (QStringList { "2024-02-29", "2023-01-01" }));
        QCOMPARE(prompts[1].kind, ParameterKind::Text); // not described: text
        QVERIFY(prompts[1].lastWasNull);
        QCOMPARE(prompts[2].name, QStringLiteral("?1"));
    }
};

QTEST_APPLESS_MAIN(tst_StatementValues)
#include "tst_statementvalues.moc"
