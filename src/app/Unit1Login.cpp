#include "app/RoutingView.h"
#include "app/Transactions.h"
#include "app/ULogin.h"
#include "app/Unit1.h"
#include "connection/Connection.h"
#include "connection/ConnectionHandle.h"
#include "connection/DatabaseError.h"
#include "connection/Session.h"
#include "credentials/CredentialStore.h"
#include "query/QueryControl.h"
#include "query/Reaper.h"
#include "ui_Unit1.h"
#include "widgets/Glyphs.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

namespace {

void showConnectError(QWidget *parent, const QString &message)
{
    const QString text = QStringLiteral("Error Connecting to Database.  Error Message is: ")
        + message + QStringLiteral("\r\n\r\n")
        + QStringLiteral("But it's usually a bad password that causes this error");
    QMessageBox box(QMessageBox::NoIcon, TForm1::titleText(), text, QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("ConnectErrorBox"));
    box.exec();
}

} // namespace

QString TForm1::getDBParms()
{
    // The copy answers unless a store is under way; then the stored set, which the store has
    // reached by the time the credentials thread gets to this read.
    if (!CachedParms.isEmpty() && m_parmsStores == 0)
        return CachedParms;
    // An empty stored value leaves the cache empty, so the next call reads the settings again.
    CachedParms = CredentialStore::read();
    return CachedParms;
}

void TForm1::setDBParms(const QString &text)
{
    ++m_parmsVersion;
    CredentialStore::write(text);
    CachedParms = text;
}

void TForm1::readDBParms(std::function<void(const QString &)> then)
{
    // A store under way decides what the in-memory copy holds: the read waits for it.
    if (m_parmsStores > 0) {
        ++m_parmsReads;
        m_afterStores.push_back([this, then = std::move(then)] {
            --m_parmsReads;
            readDBParms(then);
        });
        return;
    }
    if (!CachedParms.isEmpty())
        return then(CachedParms);
    ++m_parmsReads;
    showBusy(m_control->state());
    CredentialStore::readLater(
        this, [this, then = std::move(then)](const QString &text, std::exception_ptr error) {
            --m_parmsReads;
            showBusy(m_control->state()); // before the login dialog, which may follow
            runGuarded(this, [&] {
                if (error)
                    std::rethrow_exception(error);
                // An empty stored value leaves the cache empty, so the next read asks again.
                CachedParms = text;
                then(CachedParms);
            });
        });
}

void TForm1::storeDBParms(const QString &text, std::function<void()> then)
{
    ++m_parmsStores;
    const bool command = bool(then); // a store nothing waits for leaves the buttons alone
    m_commandStores += command ? 1 : 0;
    showBusy(m_control->state());
    const int version = ++m_parmsVersion;
    CredentialStore::writeLater(text, this,
        [this, text, version, command, then = std::move(then)](std::exception_ptr error) {
            --m_parmsStores;
            m_commandStores -= command ? 1 : 0;
            showBusy(m_control->state());
            runGuarded(this, [&] {
                if (error)
                    std::rethrow_exception(error);
                if (version == m_parmsVersion)
                    CachedParms = text;
                if (then)
                    then();
            });
            if (m_parmsStores == 0) {
                const std::vector<std::function<void()>> waiting = std::move(m_afterStores);
                m_afterStores.clear();
                for (const std::function<void()> &read : waiting)
                    runGuarded(this, read);
            }
        });
}

void TForm1::ConnectDatabase(const QString &name, std::function<void(bool)> done)
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
    const int request = ++m_loginRequest;
    readDBParms([this, name, connection, request, done = std::move(done)](const QString &stored) {
        // Close Query, Close and Logout or a later Run came first: this connect is forgotten.
        if (request == m_loginRequest)
            openConnection(name, connection, stored, done);
    });
}

void TForm1::openConnection(const QString &name, Connection *connection, const QString &stored,
    std::function<void(bool)> done)
{
    if (!stored.isEmpty()) {
        connection->Params = stored.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    } else {
        TLogin login(this);
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
            runGuarded(this, [&] {
                if (!error) {
                    connection->adopt(std::move(handle));
                    if (!fromDialog)
                        return done(true);
                    storeDBParms(
                        connection->Params.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"),
                        [done] { done(true); });
                    return;
                }
                try {
                    std::rethrow_exception(error);
                } catch (const DatabaseError &failure) {
                    storeDBParms(QString(), [this, message = failure.message(), done] {
                        showConnectError(this, message);
                        done(false);
                    });
                }
            });
        });
}

void TForm1::SelectDatabaseFromSQL()
{
    selectDatabaseFor(EditorText());
}

void TForm1::selectDatabaseFor(const QString &text)
{
    const Routing::Choice choice = m_routing->refresh(text);
    if (choice.alias.isEmpty())
        return;
    // Exact comparison ignoring case: "DB2T301" finds the item "db2t301".
    const int index = ui->ComboBox1->findText(choice.alias, Qt::MatchFixedString);
    // The same index changes nothing, not even a name typed into the box.
    if (index != ui->ComboBox1->currentIndex())
        ui->ComboBox1->setCurrentIndex(index);
}

void TForm1::SpeedButton12Click(QObject *)
{
    // Open work is committed or rolled back first, or the command does nothing.
    if (!m_transactions->settle([this] { SpeedButton12Click(this); }))
        return;
    // A connect under way is abandoned: what it opens afterwards is neither used nor stored.
    if (m_control->state() == QueryControl::State::Connecting)
        m_control->abandon();
    // A disconnect talks to the server: the last hold on each connection goes on a reaper
    // thread, after the connection objects let go of theirs.
    auto held = std::make_unique<std::vector<std::shared_ptr<ConnectionHandle>>>();
    for (const std::unique_ptr<Connection> &connection : m_connections)
        held->push_back(connection->handle());
    Session::instance().CloseConnections();
    Reaper::dispose(std::move(held));
    ++m_loginRequest; // a connect still reading the stored login is forgotten too
    storeDBParms(QString(), nullptr);
}
