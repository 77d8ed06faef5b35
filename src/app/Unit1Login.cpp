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

void showConnectError(QWidget *parent, const DatabaseError &error)
{
    const QString text = QStringLiteral("Error Connecting to Database.  Error Message is: ")
        + error.message() + QStringLiteral("\r\n\r\n")
        + QStringLiteral("But it's usually a bad password that causes this error");
    QMessageBox box(QMessageBox::NoIcon, TForm1::titleText(), text, QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("ConnectErrorBox"));
    box.exec();
}

} // namespace

QString TForm1::getDBParms()
{
    if (!CachedParms.isEmpty())
        return CachedParms;
    // An empty stored value leaves the cache empty, so the next call reads the settings again.
    CachedParms = CredentialStore::read();
    return CachedParms;
}

void TForm1::setDBParms(const QString &text)
{
    CredentialStore::write(text);
    CachedParms = text;
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

    const QString stored = getDBParms();
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
    // parameters from the dialog are stored, failing ones are forgotten.
    const bool fromDialog = stored.isEmpty();
    m_control->startConnect(name, connection->opener(loginTimeout()),
        [this, connection, fromDialog, done = std::move(done)](
            std::shared_ptr<ConnectionHandle> handle, std::exception_ptr error) {
            runGuarded(this, [&] {
                if (!error) {
                    connection->adopt(std::move(handle));
                    if (fromDialog)
                        setDBParms(connection->Params.join(QStringLiteral("\r\n"))
                            + QStringLiteral("\r\n"));
                    done(true);
                    return;
                }
                try {
                    std::rethrow_exception(error);
                } catch (const DatabaseError &failure) {
                    setDBParms(QString());
                    showConnectError(this, failure);
                    done(false);
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
    setDBParms(QString());
}
