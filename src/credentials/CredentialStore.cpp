#include "credentials/CredentialStore.h"

#include "credentials/Keyring.h"
#include "settings/ParmStore.h"
#include "settings/UserSettings.h"
#include "threads/OffThread.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMutex>
#include <QRegularExpression>
#include <QThread>

#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <utility>

namespace {

// The parameter text as the login builds it, split into what goes where.
struct Login
{
    QString userLine; // "USER NAME=…" CR LF: kept in the settings
    QString password; // kept in the keyring
};

std::optional<Login> splitLogin(const QString &text)
{
    static const QRegularExpression shape(
        QStringLiteral("\\A(USER NAME=[^\\r\\n]*\\r\\n)PASSWORD=([^\\r\\n]*)\\r\\n\\z"));
    const QRegularExpressionMatch match = shape.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    return Login { match.captured(1), match.captured(2) };
}

// A stored value whose password lives in the keyring.
bool isUserLineOnly(const QString &text)
{
    static const QRegularExpression shape(QStringLiteral("\\AUSER NAME=[^\\r\\n]*\\r\\n\\z"));
    return shape.match(text).hasMatch();
}

QString joined(const QString &userLine, const QString &password)
{
    return userLine + QStringLiteral("PASSWORD=") + password + QStringLiteral("\r\n");
}

// The stored value as it stands, or the empty text when it cannot be read.
QString storedTextOrEmpty()
{
    try {
        return readConnectParms();
    } catch (const std::exception &) {
        return QString(); // a value of another type names no keyring entry
    }
}

// Held by the credentials thread while it carries out a request.
std::mutex &requestRunning()
{
    static std::mutex running;
    return running;
}

// The credentials thread: an event loop of its own, where the keyring's jobs run and are waited
// for, so that no wait ever spins the UI thread's loop. Requests run one after another in the
// order they were made: one that waits for the keyring in this thread's loop does not let the
// next one start inside that wait. Started at first use, stopped when the application object
// goes.
class CredentialsThread
{
public:
    static CredentialsThread &instance()
    {
        static CredentialsThread credentials;
        return credentials;
    }

    bool isCurrent() const
    {
        const QMutexLocker lock(&m_mutex);
        return m_thread && QThread::currentThread() == m_thread;
    }

    void post(std::function<void()> request)
    {
        const QMutexLocker lock(&m_mutex);
        if (!m_thread)
            start();
        m_requests.push_back(std::move(request));
        QMetaObject::invokeMethod(
            m_inThread, [this] { drain(); }, Qt::QueuedConnection);
    }

private:
    void start() // m_mutex held
    {
        m_thread = new QThread; // owned here, until the application object goes
        m_thread->setObjectName(QStringLiteral("credentials"));
        m_inThread = new QObject; // lives in m_thread; owned here
        m_inThread->moveToThread(m_thread);
        m_thread->start();
        qAddPostRoutine([] { instance().stop(); });
    }

    void stop()
    {
        QThread *thread = nullptr;
        QObject *inThread = nullptr;
        {
            // Not held while waiting: the thread takes it for each request it runs.
            const QMutexLocker lock(&m_mutex);
            std::swap(thread, m_thread);
            std::swap(inThread, m_inThread);
        }
        if (!thread)
            return;
        thread->quit(); // ends a keyring wait under way; the requests left get no keyring
        thread->wait();
        delete inThread;
        delete thread;
    }

    // On the credentials thread. A drain called inside a request's keyring wait returns at once:
    // the drain under way goes on with the next request once that one ends.
    void drain()
    {
        if (m_draining)
            return;
        m_draining = true;
        for (;;) {
            std::function<void()> request;
            {
                const QMutexLocker lock(&m_mutex);
                if (m_requests.empty())
                    break;
                request = std::move(m_requests.front());
                m_requests.pop_front();
            }
            const std::lock_guard<std::mutex> busy(requestRunning());
            request();
        }
        m_draining = false;
    }

    mutable QMutex m_mutex;
    QThread *m_thread = nullptr;
    QObject *m_inThread = nullptr;
    std::deque<std::function<void()>> m_requests;
    bool m_draining = false; // touched on the credentials thread only
};

// Runs work on the credentials thread and waits for it without handling events.
template <typename Work>
auto waitFor(Work work) -> decltype(work())
{
    CredentialsThread &credentials = CredentialsThread::instance();
    if (credentials.isCurrent())
        return work();
    std::optional<decltype(work())> result;
    std::exception_ptr error;
    std::promise<void> done;
    credentials.post([&] {
        try {
            result.emplace(work());
        } catch (...) {
            error = std::current_exception();
        }
        done.set_value();
    });
    done.get_future().wait();
    if (error)
        std::rethrow_exception(error);
    return std::move(*result);
}

// Runs work on the credentials thread; its outcome goes back to context's thread as a queued
// call, dropped when context is gone by then.
template <typename Work, typename Done>
void postTo(QObject *context, Work work, Done done)
{
    using Result = decltype(std::declval<Work &>()());
    CredentialsThread::instance().post([work = std::move(work), done = std::move(done),
                                           context = QPointer<QObject>(context)] {
        std::optional<Result> result;
        std::exception_ptr error;
        try {
            result.emplace(work());
        } catch (...) {
            error = std::current_exception();
        }
        OffThread::handBack(context, nullptr, std::make_pair(std::move(result), error),
            [done](auto answer) { done(answer.first ? *answer.first : Result(), answer.second); });
    });
}

QString readHere();
void writeHere(const QString &text);

} // namespace

namespace CredentialStore {

QString read()
{
    return waitFor([] { return readHere(); });
}

void write(const QString &text)
{
    waitFor([&] {
        writeHere(text);
        return true;
    });
}

void waitForPending()
{
    waitFor([] { return true; });
}

void readLater(QObject *context, std::function<void(QString, std::exception_ptr)> done)
{
    postTo(
        context, [] { return readHere(); }, std::move(done));
}

void writeLater(const QString &text, QObject *context, std::function<void(std::exception_ptr)> done)
{
    postTo(
        context,
        [text] {
            writeHere(text);
            return true;
        },
        [done = std::move(done)](bool, std::exception_ptr error) { done(error); });
}

void forgetStoredPassword()
{
    // Never beside a request of the credentials thread, whose checked write would fail (and put
    // back what it found) when the file changes under it: that request comes first, and the
    // store queued behind it clears the value anyway.
    const std::unique_lock<std::mutex> idle(requestRunning(), std::try_to_lock);
    if (!idle.owns_lock())
        return;
    const QString stored = storedTextOrEmpty();
    if (!stored.isEmpty() && !isUserLineOnly(stored))
        writeConnectParms(QString());
}

bool keyringChosen()
{
    return UserSettings::credentialsInKeyring();
}

} // namespace CredentialStore

namespace {

QString readHere()
{
    const QString stored = readConnectParms();
    const QDeadlineTimer deadline(Keyring::answerTimeoutMs);

    if (isUserLineOnly(stored)) {
        const std::optional<QString> password = Keyring::readPassword(deadline);
        // Without its password the set is no use: the login dialog asks, and the new login
        // replaces the value. The value stays until then, should the keyring answer later.
        if (!password)
            return QString();
        const QString text = joined(stored, *password);
        if (!CredentialStore::keyringChosen() && survivesScrambling(text)) {
            // The user chose the settings: the password moves back there, and leaves the keyring
            // only once the settings hold it.
            try {
                writeConnectParms(text);
                Keyring::deletePassword(deadline);
            } catch (const std::exception &) {
                // The settings keep the user line and the keyring the password; the move is
                // tried again at the next start, and this login works meanwhile.
            }
        }
        return text;
    }

    // A value that still holds its password: written by an older version, or while no keyring
    // answered. It works as it is; its password moves into the keyring when one answers.
    if (CredentialStore::keyringChosen()) {
        const std::optional<Login> login = splitLogin(stored);
        if (login && Keyring::writePassword(login->password, deadline)) {
            try {
                writeConnectParms(login->userLine);
            } catch (const std::exception &) {
                // The settings keep the whole text, which still works; the move is tried again
                // at the next start.
            }
        }
    }
    return stored;
}

void writeHere(const QString &text)
{
    const QDeadlineTimer deadline(Keyring::answerTimeoutMs);

    if (CredentialStore::keyringChosen()) {
        const std::optional<Login> login = splitLogin(text);
        if (login && survivesScrambling(login->userLine)
            && Keyring::writePassword(login->password, deadline)) {
            writeConnectParms(login->userLine);
            return;
        }
        writeConnectParms(text);
        if (text.isEmpty())
            Keyring::deletePassword(deadline);
        return;
    }

    // Only the settings are written; a password that an earlier store put in the keyring is
    // removed there, and the keyring is asked only when the stored value says it holds one.
    const bool keyringHeldPassword = isUserLineOnly(storedTextOrEmpty());
    writeConnectParms(text);
    if (keyringHeldPassword)
        Keyring::deletePassword(deadline);
}

} // namespace
