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
    void deadWritesSweptAway();
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
    QTest::addColumn<QString>("answers"); // per question, newest orphan first: Y or N
    QTest::addColumn<bool>("dies"); // the window ends without a normal close
    QTest::addColumn<QStringList>("nextStart"); // the texts offered at the next start
    QTest::newRow("Yes to the newest") << "Y" << false << QStringList { "select 2", "select 3" };
    QTest::newRow("No, then Yes") << "NY" << false << QStringList { "select 3" };
    QTest::newRow("No to all") << "NNN" << false << QStringList {};
    QTest::newRow("Yes, then a crash")
        << "Y" << true << QStringList { "select 1", "select 2", "select 3" };
    QTest::newRow("No to all, then a crash")
        << "NNN" << true << QStringList { "select 1", "select 2", "select 3" };
}

// Three windows died with unsaved text: each is offered in turn until one is restored; a normal
// close removes only what the user declined, and what was not offered waits for the next start.
void tst_EditorRecovery::everyOrphanOffered()
{
    QFETCH(QString, answers);
    QFETCH(bool, dies);
    QFETCH(QStringList, nextStart);
    QTemporaryDir dir;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (int i = 1; i <= 3; ++i) {
        const RecoveredQuery left { QStringLiteral("select %1").arg(i), {}, {}, 0, now.addSecs(-i),
            {} };
        QString error;
        QVERIFY2(EditorRecovery::write(
                     dir.filePath(QStringLiteral("dead%1.recovery").arg(i)), left, &error),
            qPrintable(error));
    }
    auto window = std::make_unique<EditorRecovery>(dir.path());
    QString asked;
    const auto taken = window->offerOrphans([&](const RecoveredQuery &orphan, int index, int) {
        asked += orphan.text.back();
        return answers.at(index) == u'Y';
    });
    QCOMPARE(asked, QStringLiteral("123").left(answers.size())); // newest first, one each
    QCOMPARE(taken.has_value(), answers.endsWith(u'Y'));
    if (taken)
        QCOMPARE(taken->text, QStringLiteral("select %1").arg(answers.size()));
    if (!dies)
        window->discard();
    window.reset();

    EditorRecovery next(dir.path());
    QStringList offered;
    for (const RecoveredQuery &orphan : next.orphans())
        offered << orphan.text;
    QCOMPARE(offered, nextStart);
}

// A window killed while writing leaves a temporary file (and, without any text, only its lock):
// both go once no window holds that lock; a living window's are left alone.
void tst_EditorRecovery::deadWritesSweptAway()
{
    QTemporaryDir dir;
    EditorRecovery living(dir.path());
    const QString livingTemporary = living.path() + QStringLiteral(".tmp-AbC123");
    const QStringList dead { dir.filePath(QStringLiteral("dead.recovery.tmp-XyZ789")),
        dir.filePath(QStringLiteral("dead.lock")) };
    for (const QString &path : dead + QStringList { livingTemporary }) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    EditorRecovery next(dir.path());
    QCOMPARE(next.orphans().size(), 0);
    for (const QString &path : dead)
        QVERIFY2(!QFile::exists(path), qPrintable(path));
    QVERIFY(QFile::exists(livingTemporary));
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
