#include "query/QThread.h"

#include "connection/DatabaseError.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <chrono>
#include <exception>

TQthread::TQthread(const QString &sql, const QString &databaseName, bool isExec)
    : Query(std::make_unique<QueryDataset>())
    , IsExec(isExec)
{
    // The alias is resolved to its connection here, on the UI thread: the session and the
    // connection objects belong to that thread.
    Query->setDatabaseName(databaseName);
    Query->setSql(sql);

    // Deleted on the thread the object lives on, after the thread has really ended; deleting a
    // QThread from inside its own run() would destroy a running thread.
    connect(this, &QThread::finished, this, [this] {
        if (m_freeOnTerminate)
            deleteLater();
    });
}

TQthread::~TQthread()
{
    Query.reset();
}

QString TQthread::ElapsedText() const
{
    return elapsedText(ElapsedMs);
}

QString TQthread::elapsedText(qint32 ms, const QLocale &locale)
{
    QLocale plain = locale;
    plain.setNumberOptions(QLocale::OmitGroupSeparator);
    return plain.toString(ms / 1000.0, 'f', 4) + QStringLiteral(" Seconds");
}

quint32 TQthread::tickCount()
{
    using namespace std::chrono;
    const auto now = duration_cast<milliseconds>(steady_clock::now().time_since_epoch());
    return static_cast<quint32>(now.count());
}

qint32 TQthread::tickDifference(quint32 start, quint32 now)
{
    return static_cast<qint32>(now - start);
}

void TQthread::runStatement()
{
    const quint32 startTick = tickCount();
    try {
        if (IsExec) {
            Query->ExecQuery();
        } else {
            Query->OpenQuery();
            Opened = true;
            if (WantCount)
                Query->CountRecords(); // walks the whole result here, not on the UI thread
        }
    } catch (const std::exception &error) {
        ErrorText = errorText(error);
        if (ErrorText.isEmpty())
            ErrorText = QStringLiteral("Unknown error");
    } catch (...) {
        ErrorText = QStringLiteral("Unknown error");
    }
    ElapsedMs = tickDifference(startTick, tickCount());
}

void TQthread::run()
{
    // A stop request is never read: once started, the statement runs to its end.
    runStatement();

    m_freeOnTerminate = FreeOnTerminate;
    auto handBack = [this] {
        // A copy: the handler may clear OnTerminate while it runs (a nested event loop of a
        // message box lets Close Query in).
        const auto handler = OnTerminate;
        if (handler) // cleared by the UI thread = worker abandoned
            handler(this);
    };
    if (QCoreApplication *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, handBack, Qt::BlockingQueuedConnection);
    Query.reset(); // not taken over: freed here, on the worker thread
}
