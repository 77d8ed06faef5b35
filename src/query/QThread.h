#pragma once

#include "connection/QueryDataset.h"

#include <QLocale>
#include <QString>
#include <QThread>

#include <functional>
#include <memory>

// Runs one statement (a select that it opens, or an exec) on a thread of its own and hands the
// result to the UI thread. Created and configured on the UI thread; from start() until the
// completion handler only the worker thread touches its fields. Frees itself when told to.
class TQthread : public QThread
{
    Q_OBJECT

public:
    TQthread(const QString &sql, const QString &databaseName, bool isExec);
    ~TQthread() override; // frees Query unless the completion handler took it over

    std::unique_ptr<QueryDataset> Query; // owned until the completion handler moves it away
    bool Opened = false; // the select's dataset is open
    bool IsExec = false; // a statement without a result set
    QString ErrorText; // message of the error caught in the run; empty when none
    bool WantCount = false; // count the records after the open, on the worker thread
    qint32 ElapsedMs = 0; // milliseconds of the run, from a 32-bit tick count

    // Completion handler, run on the UI thread while the worker waits. It is read there at the
    // moment of the call, so clearing it on the UI thread abandons the worker for good.
    std::function<void(TQthread *)> OnTerminate;
    // Set by the creator before start(): the worker deletes itself once it has ended.
    bool FreeOnTerminate = false;

    // ElapsedMs in seconds with four decimals and the locale's separator, then " Seconds".
    QString ElapsedText() const;
    static QString elapsedText(qint32 ms, const QLocale &locale = QLocale());

    // The millisecond tick of a monotonic clock, truncated to 32 bits like the platform tick.
    static quint32 tickCount();
    // now - start in 32-bit arithmetic: right across one wrap of the tick counter.
    static qint32 tickDifference(quint32 start, quint32 now);

protected:
    void run() override;

private:
    void runStatement();
    bool m_freeOnTerminate = false; // FreeOnTerminate as noted when the run ended
};
