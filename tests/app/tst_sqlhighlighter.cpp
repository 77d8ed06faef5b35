#include "app/SqlHighlighter.h"

#include <QPlainTextEdit>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>

// The colour of the text at offset, or an invalid colour when it has none of its own.
static QColor colourAt(QPlainTextEdit &edit, int offset)
{
    const QTextBlock block = edit.document()->findBlock(offset);
    const int at = offset - block.position();
    for (const QTextLayout::FormatRange &range : block.layout()->formats()) {
        if (at >= range.start && at < range.start + range.length)
            return range.format.foreground().color();
    }
    return {};
}

class tst_SqlHighlighter : public QObject
{
    Q_OBJECT

private slots:
    void classes_data();
    void classes();
    void editRecoloursTheLinesBelow();
    void darkPaletteGetsLightColours();
};

void tst_SqlHighlighter::classes_data()
{
    // Each fragment is "class=text": texts of one class share a colour, classes differ, and
    // "plain" texts have no colour of their own.
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QStringList>("fragments");
    QTest::addColumn<int>("dialect");
    const int db2 = int(Sql::Dialect::Db2);
    QTest::newRow("PostgreSQL body and strings over lines")
        << "select $b$ x\nselect ' $b$, E'a\\'\nb', 1 /* a /* b */\nc */ from t"
        << QStringList { "keyword=select", "string=$b$ x", "string=select ' $b$", "string=E'a",
               "string=b'", "number=1", "comment=/* a", "comment=c */", "keyword=from", "plain=t" }
        << int(Sql::Dialect::PostgreSql);
    QTest::newRow("SQLite names") << "select [a b\nc], `d` from t"
                                  << QStringList { "keyword=select", "name=[a b", "name=c]",
                                         "name=`d`", "keyword=from" }
                                  << int(Sql::Dialect::Sqlite);
    QTest::newRow("one line")
        << "select x, 'it''s', \"Na me\", 12.5e3, ? from t where y = :p -- done"
        << QStringList { "keyword=select", "plain=x", "string='it''s'", "name=\"Na me\"",
               "number=12.5e3", "parameter=?", "keyword=from", "plain=t", "keyword=where",
               "parameter=:p", "comment=-- done" }
        << db2;
    QTest::newRow("constructs over lines")
        << "select /* one\ntwo */ a, 'x\ny' from \"b\nc\" -- z"
        << QStringList { "keyword=select", "comment=/* one", "comment=two */", "plain=a",
               "string='x", "string=y'", "keyword=from", "name=\"b", "name=c\"", "comment=-- z" }
        << db2;
}

void tst_SqlHighlighter::classes()
{
    QFETCH(QString, sql);
    QFETCH(QStringList, fragments);
    QFETCH(int, dialect);
    QPlainTextEdit edit;
    (new SqlHighlighter(&edit))->setDialect(Sql::Dialect(dialect));
    edit.setPlainText(sql);
    edit.show();
    QVERIFY(QTest::qWaitForWindowExposed(&edit));

    QTRY_VERIFY(colourAt(edit, 0).isValid()); // every row starts with a keyword
    QHash<QString, QColor> classColour;
    int from = 0;
    for (const QString &fragment : fragments) {
        const QString kind = fragment.section(u'=', 0, 0);
        const QString text = fragment.section(u'=', 1);
        from = int(sql.indexOf(text, from));
        QVERIFY2(from >= 0, qPrintable(text));
        const QColor colour = colourAt(edit, from);
        QVERIFY2(kind == u"plain" ? !colour.isValid() : colour.isValid(), qPrintable(text));
        if (kind == u"plain")
            continue;
        if (classColour.contains(kind)) {
            QCOMPARE(colour, classColour.value(kind));
        } else {
            for (const QColor &other : std::as_const(classColour))
                QVERIFY2(other != colour, qPrintable(kind));
            classColour.insert(kind, colour);
        }
        from += int(text.size());
    }
}

// Opening a comment on the first line turns the lines below into comment; closing it turns them
// back, without touching the lines themselves.
void tst_SqlHighlighter::editRecoloursTheLinesBelow()
{
    QPlainTextEdit edit;
    new SqlHighlighter(&edit);
    edit.setPlainText(QStringLiteral("x\nselect 1\nfrom t"));
    edit.show();
    QVERIFY(QTest::qWaitForWindowExposed(&edit));
    const int from = int(edit.toPlainText().indexOf(QStringLiteral("from")));
    QTRY_VERIFY(colourAt(edit, from).isValid());
    const QColor keyword = colourAt(edit, from);

    QTextCursor cursor(edit.document());
    cursor.insertText(QStringLiteral("/*"));
    QTRY_VERIFY(colourAt(edit, from + 2) != keyword);
    const QColor comment = colourAt(edit, from + 2);
    QCOMPARE(colourAt(edit, 0), comment);

    cursor.insertText(QStringLiteral("*/"));
    QTRY_COMPARE(colourAt(edit, from + 4), keyword);
}

void tst_SqlHighlighter::darkPaletteGetsLightColours()
{
    QPlainTextEdit edit;
    new SqlHighlighter(&edit);
    edit.setPlainText(QStringLiteral("select 'a' -- c"));
    edit.show();
    QVERIFY(QTest::qWaitForWindowExposed(&edit));
    for (const QColor base : { QColor(Qt::white), QColor(30, 30, 30) }) {
        QPalette palette = edit.palette();
        palette.setColor(QPalette::Base, base);
        edit.setPalette(palette);
        // Readable: at least a third of the lightness scale between text and background.
        for (int offset : { 0, 7, 11 })
            QTRY_VERIFY(colourAt(edit, offset).isValid()
                && qAbs(colourAt(edit, offset).lightness() - base.lightness()) > 85);
    }
}

QTEST_MAIN(tst_SqlHighlighter)
#include "tst_sqlhighlighter.moc"
