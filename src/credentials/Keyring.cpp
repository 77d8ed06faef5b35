#include "credentials/Keyring.h"

#include <QEventLoop>
#include <QTimer>
#include <qt6keychain/keychain.h>

namespace {

const QString serviceName = QStringLiteral("Stelvik");
const QString keyName = QStringLiteral("ConnectParms");

// Requests that ran past their deadline and have not finished yet; touched on the credentials
// thread only. QtKeychain runs its jobs one
// after another, so a new request would only queue behind them and time out as well.
int unansweredJobs = 0;

struct Answer
{
    bool arrived = false;
    QKeychain::Error error = QKeychain::OtherError;
    QString text;
};

// Starts the job (which deletes itself once finished) and waits for its answer until the
// deadline. The answer is taken only by this call's loop: a job that finishes after the deadline
// finds the loop gone and changes nothing but the count of unanswered jobs.
Answer run(QKeychain::Job *job, QDeadlineTimer deadline)
{
    Answer answer;
    if (unansweredJobs > 0 || deadline.hasExpired()) {
        delete job;
        return answer;
    }
    job->setKey(keyName);
    job->setInsecureFallback(false); // never a plain copy in some settings file

    QEventLoop loop;
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&](QKeychain::Job *done) {
        answer.arrived = true;
        answer.error = done->error();
        if (auto *read = qobject_cast<QKeychain::ReadPasswordJob *>(done))
            answer.text = read->textData();
        loop.quit();
    });
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(int(deadline.remainingTime()));
    job->start();
    // A job may finish inside start(), before the loop would run.
    if (!answer.arrived)
        loop.exec(); // the credentials thread's: no window and no user input here

    if (!answer.arrived) {
        ++unansweredJobs;
        QObject::connect(job, &QKeychain::Job::finished, job, [] { --unansweredJobs; });
    }
    return answer;
}

} // namespace

namespace Keyring {

std::optional<QString> readPassword(QDeadlineTimer deadline)
{
    auto *job = new QKeychain::ReadPasswordJob(serviceName); // owner: itself, once finished
    const Answer answer = run(job, deadline);
    if (!answer.arrived || answer.error != QKeychain::NoError)
        return std::nullopt;
    return answer.text;
}

bool writePassword(const QString &password, QDeadlineTimer deadline)
{
    auto *job = new QKeychain::WritePasswordJob(serviceName); // owner: itself, once finished
    job->setTextData(password);
    const Answer answer = run(job, deadline);
    return answer.arrived && answer.error == QKeychain::NoError;
}

bool deletePassword(QDeadlineTimer deadline)
{
    auto *job = new QKeychain::DeletePasswordJob(serviceName); // owner: itself, once finished
    const Answer answer = run(job, deadline);
    return answer.arrived
        && (answer.error == QKeychain::NoError || answer.error == QKeychain::EntryNotFound);
}

} // namespace Keyring
