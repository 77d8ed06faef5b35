#include "app/EditorRecovery.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <unistd.h>

// The recovery file: what it keeps, who may read it, and when a window's file counts as left
// behind (its process gone, however it ended) or as still in use.
class tst_EditorRecovery : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void leftBehindOnlyWhenTheWindowIsGone_data();
    void leftBehindOnlyWhenTheWindowIsGone();
    void killedProcessLeavesItsText();
    void everyOrphanOffered_data();
    void everyOrphanOffered();
};

void tst_EditorRecovery::roundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("encoding");
    QTest::newRow("empty") << QString() << QString() << QByteArray();
    QTest::newRow("CR LF and non-ASCII") << QStringLiteral("select 'Łódź → ✓ 𝒜'\r\nfrom t\r\n")
                                         << QStringLiteral("/tmp/q.sql") << QByteArray("UTF-8");
    QTest::newRow("lone surrogate, NUL") << QString(QChar(0xd800)) + QChar(0) + QStringLiteral("x")
                                         << QString() << QByteArray("windows-1252");
    QTest::newRow("4 MB") << QString(4 << 20, QLatin1Char('y')) << QString() << QByteArray();
}

void tst_EditorRecovery::roundTrip()
{
    QFETCH(QString, text);
    QFETCH(QString, fileName);
    QFETCH(QByteArray, encoding);
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("recovery"));
    {
        EditorRecovery recovery(folder);
        recovery.save({ text, fileName, encoding, 7, {}, {} });
        recovery.flush();
        QCOMPARE(
            QFileInfo(recovery.path()).permissions() & 0x0777, QFile::ReadUser | QFile::WriteUser);
        QCOMPARE(QFileInfo(folder).permissions() & 0x0777,
            QFile::ReadUser | QFile::WriteUser | QFile::ExeUser);
    } // ended without a normal close: the file stays
    EditorRecovery next(folder);
    const QList<RecoveredQuery> found = next.orphans();
    QCOMPARE(found.size(), 1);
    QCOMPARE(found.first().text, text);
    QCOMPARE(found.first().fileName, fileName);
    QCOMPARE(found.first().encoding, encoding);
    QCOMPARE(found.first().cursor, 7);
}

void tst_EditorRecovery::leftBehindOnlyWhenTheWindowIsGone_data()
{
    QTest::addColumn<QString>("end"); // how the first window ends
    QTest::addColumn<int>("offered");
    QTest::newRow("still running") << "running" << 0;
    QTest::newRow("normal close") << "discard" << 0;
    QTest::newRow("text saved to a file") << "clear" << 0;
    QTest::newRow("ended any other way") << "destroyed" << 1;
}

void tst_EditorRecovery::leftBehindOnlyWhenTheWindowIsGone()
{
    QFETCH(QString, end);
    QFETCH(int, offered);
    QTemporaryDir dir;
    auto first = std::make_unique<EditorRecovery>(dir.path());
    first->save({ QStringLiteral("select 1"), {}, {}, 0, {}, {} });
    if (end == u"discard") {
        first->discard();
    } else if (end == u"clear") {
        first->clear();
        first->flush();
    }
    first->flush();
    if (end != u"running")
        first.reset();
    EditorRecovery second(dir.path());
    QCOMPARE(second.orphans().size(), offered);
    // A third window never gets what the second holds, answered or not.
    EditorRecovery third(dir.path());
    QCOMPARE(third.orphans().size(), 0);
    second.discard(); // held, never answered: it stays for the next start
    QCOMPARE(QDir(dir.path()).entryList({ QStringLiteral("*.recovery") }, QDir::Files).size(),
        end == u"running" || end == u"destroyed" ? 1 : 0);
}

// A process that saved its text and was killed with SIGKILL leaves it to the next start.
void tst_EditorRecovery::killedProcessLeavesItsText()
{
    QTemporaryDir dir;
    const QString text = QStringLiteral("update t set a = 'ä'\r\nwhere b = 1");
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(),
        { QStringLiteral("--hold"), dir.path(), QString::fromLatin1(text.toUtf8().toHex()) });
    QVERIFY(child.waitForReadyRead(60000)); // the child says it saved, then waits
    {
        EditorRecovery running(dir.path());
        QCOMPARE(running.orphans().size(), 0); // its owner lives
    }
    ::kill(pid_t(child.processId()), SIGKILL);
    QVERIFY(child.waitForFinished(60000));
    EditorRecovery next(dir.path());
    const QList<RecoveredQuery> found = next.orphans();
    QCOMPARE(found.size(), 1);
    QCOMPARE(found.first().text, text);
}

void tst_EditorRecovery::everyOrphanOffered_data()
{
    QTest::addColumn<QString>("answers"); // newest orphan first
    QTest::addColumn<bool>("dies"); // the window ends without a normal close
    QTest::addColumn<QString>("nextStart"); // the orphans offered then
    QTest::newRow("Yes to the newest") << "Y" << false << "23";
    QTest::newRow("No, then Yes") << "NY" << false << "3";
    QTest::newRow("No to all") << "NNN" << false << "";
    QTest::newRow("Yes, then a crash") << "Y" << true << "123";
    QTest::newRow("No to all, then a crash") << "NNN" << true << "123";
}

// Three windows died with unsaved text, a fourth while writing: each text is offered until one
// is restored, a normal close removes only the declined ones, the unfinished write goes.
void tst_EditorRecovery::everyOrphanOffered()
{
    QFETCH(QString, answers);
    QFETCH(bool, dies);
    QFETCH(QString, nextStart);
    QTemporaryDir dir;
    QString error;
    for (int i = 1; i <= 3; ++i)
        QVERIFY(EditorRecovery::write(dir.filePath(QStringLiteral("dead%1.recovery").arg(i)),
            { QString::number(i), {}, {}, 0, QDateTime::currentDateTimeUtc().addSecs(-i), {} },
            &error));
    const QString unfinished = dir.filePath(QStringLiteral("dead4.recovery.tmp-XyZ789"));
    QVERIFY(QFile(unfinished).open(QIODevice::WriteOnly));
    auto window = std::make_unique<EditorRecovery>(dir.path());
    QString asked;
    window->offerOrphans([&](const RecoveredQuery &orphan, int index, int) {
        asked += orphan.text;
        return answers.at(index) == u'Y';
    });
    QCOMPARE(asked, QStringLiteral("123").left(answers.size()));
    QVERIFY(!QFile::exists(unfinished));
    if (!dies)
        window->discard();
    window.reset();
    QString offered;
    for (const RecoveredQuery &orphan : EditorRecovery(dir.path()).orphans())
        offered += orphan.text;
    QCOMPARE(offered, nextStart);
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 4 && qstrcmp(argv[1], "--hold") == 0) {
        EditorRecovery recovery(QString::fromLocal8Bit(argv[2]));
        recovery.save({ QString::fromUtf8(QByteArray::fromHex(argv[3])), {}, {}, 0, {}, {} });
        recovery.flush();
        std::puts("saved");
        std::fflush(stdout);
        for (;;)
            ::pause();
    }
    tst_EditorRecovery test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_editorrecovery.moc"
