#include "app/LoginFlow.h"

#include "app/Guard.h"
#include "app/ULogin.h"
#include "app/WindowLifecycle.h"
#include "connection/Connection.h"
#include "connection/ConnectionHandle.h"
#include "connection/DatabaseError.h"
#include "connection/Session.h"
#include "credentials/CredentialStore.h"
#include "query/QueryControl.h"
#include "query/Reaper.h"
#include "settings/UserSettings.h"
#include "widgets/Glyphs.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

namespace {

void showConnectError(QWidget *parent, const QString &message)
{
    const QString text = QStringLiteral("Error Connecting to Database.  Error Message is: ")
        + message + QStringLiteral("\r\n\r\n")
        + QStringLiteral("But it's usually a bad password that causes this error");
    QMessageBox box(
        QMessageBox::NoIcon, WindowLifecycle::titleText(), text, QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("ConnectErrorBox"));
    box.exec();
}

} // namespace

LoginFlow::LoginFlow(
    QWidget *window, QueryControl *control, QString &cache, std::function<void()> busyChanged)
    : m_window(window)
    , m_control(control)
    , m_cache(cache)
    , m_busyChanged(std::move(busyChanged))
{ }

LoginFlow::~LoginFlow() = default;

QString LoginFlow::get()
{
    // The copy answers unless a store is under way; then the stored set, which the store has
    // reached by the time the credentials thread gets to this read.
    if (!m_cache.isEmpty() && m_stores == 0)
        return m_cache;
    // An empty stored value leaves the cache empty, so the next call reads the settings again.
    m_cache = CredentialStore::read();
    return m_cache;
}

void LoginFlow::set(const QString &text)
{
    ++m_version;
    CredentialStore::write(text);
    m_cache = text;
}

void LoginFlow::read(std::function<void(const QString &)> then)
{
    // A store under way decides what the in-memory copy holds: the read waits for it.
    if (m_stores > 0) {
        ++m_reads;
        m_afterStores.push_back([this, then = std::move(then)] {
            --m_reads;
            read(then);
        });
        return;
    }
    if (!m_cache.isEmpty())
        return then(m_cache);
    ++m_reads;
    m_busyChanged();
    CredentialStore::readLater(
        m_window, [this, then = std::move(then)](const QString &text, std::exception_ptr error) {
            --m_reads;
            m_busyChanged(); // before the login dialog, which may follow
            runGuarded(m_window, [&] {
                if (error)
                    std::rethrow_exception(error);
                // An empty stored value leaves the cache empty, so the next read asks again.
                m_cache = text;
                then(m_cache);
            });
        });
}

void LoginFlow::store(const QString &text, std::function<void()> then)
{
    ++m_stores;
    const bool command = bool(then); // a store nothing waits for leaves the buttons alone
    m_commandStores += command ? 1 : 0;
    m_busyChanged();
    const int version = ++m_version;
    CredentialStore::writeLater(text, m_window,
        [this, text, version, command, then = std::move(then)](std::exception_ptr error) {
            --m_stores;
            m_commandStores -= command ? 1 : 0;
            m_busyChanged();
            runGuarded(m_window, [&] {
                if (error)
                    std::rethrow_exception(error);
                if (version == m_version)
                    m_cache = text;
                if (then)
                    then();
            });
            if (m_stores == 0) {
                const std::vector<std::function<void()>> waiting = std::move(m_afterStores);
                m_afterStores.clear();
                for (const std::function<void()> &waitingRead : waiting)
                    runGuarded(m_window, waitingRead);
            }
        });
}

void LoginFlow::connect(const QString &name, std::function<void(bool)> done)
{
    Connection *connection = Session::instance().FindConnection(name);
    if (connection && connection->IsConnected()) {
        done(true);
        return;
    }
    if (!connection) {
        m_connections.push_back(std::make_unique<Connection>(Session::instance(), name));
        connection = m_connections.back().get();
    }
    const int request = ++m_request;
    read([this, name, connection, request, done = std::move(done)](const QString &stored) {
        // Close Query, Close and Logout or a later Run came first: this connect is forgotten.
        if (request == m_request)
            open(name, connection, stored, done);
    });
}

void LoginFlow::open(const QString &name, Connection *connection, const QString &stored,
    std::function<void(bool)> done)
{
    if (!stored.isEmpty()) {
        connection->Params = stored.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    } else {
        TLogin login(m_window);
        Login = &login;
        // Login refers to the dialog only while it exists, whatever leaves this block.
        struct ClearLogin
        {
            ~ClearLogin() { Login = nullptr; }
        } clearLogin;
        login.BitBtn1->setIcon(glyph(QStringLiteral("ok")));
        login.UName->setText(WindowsUserName());
        login.UPass->clear();
        login.exec(); // however the dialog ends, the boxes' texts are used as typed

        connection->Params.clear();
        connection->Params << QStringLiteral("USER NAME=") + login.UName->text()
                           << QStringLiteral("PASSWORD=") + login.UPass->text();
    }
    connection->LoginPrompt = false;

    // Opened off the UI thread; the window goes on handling events meanwhile. Working
    // parameters from the dialog are stored, failing ones are forgotten; what follows waits
    // for the store.
    const bool fromDialog = stored.isEmpty();
    m_control->startConnect(name, connection->opener(loginTimeout()),
        [this, connection, fromDialog, done = std::move(done)](
            std::shared_ptr<ConnectionHandle> handle, std::exception_ptr error) {
            runGuarded(m_window, [&] {
                if (!error) {
                    connection->adopt(std::move(handle));
                    if (!fromDialog)
                        return done(true);
                    store(connection->Params.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"),
                        [done] { done(true); });
                    return;
                }
                try {
                    std::rethrow_exception(error);
                } catch (const DatabaseError &failure) {
                    store(QString(), [this, message = failure.message(), done] {
                        showConnectError(m_window, message);
                        done(false);
                    });
                }
            });
        });
}

void LoginFlow::logout()
{
    // A connect under way is abandoned: what it opens afterwards is neither used nor stored. A
    // commit or rollback under way runs on at the server, on its own thread, which then lets go
    // of the connection; its outcome is still told.
    if (m_control->state() == QueryControl::State::Connecting
        || m_control->state() == QueryControl::State::Ending)
        m_control->abandon();
    // A disconnect talks to the server: the last hold on each connection goes on a reaper
    // thread, after the connection objects let go of theirs.
    auto held = std::make_unique<std::vector<std::shared_ptr<ConnectionHandle>>>();
    for (const std::unique_ptr<Connection> &connection : m_connections)
        held->push_back(connection->handle());
    Session::instance().CloseConnections();
    Reaper::dispose(std::move(held));
    // Work still open (the user logged out without waiting for its end) went with its
    // connection: the panel no longer shows it, and it is not told as lost later.
    m_control->forgetWork();
    ++m_request; // a connect still reading the stored login is forgotten too
    store(QString(), nullptr);
    // A password kept in the settings is gone before the command returns, whatever happens to
    // the process next; one in the keyring goes with the store above.
    CredentialStore::forgetStoredPassword();
}

int LoginFlow::loginTimeout()
{
    return UserSettings::loginTimeout();
}
