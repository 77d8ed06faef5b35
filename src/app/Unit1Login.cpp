#include "app/LoginFlow.h"
#include "app/RoutingView.h"
#include "app/Transactions.h"
#include "app/Unit1.h"
#include "catalog/CatalogService.h"
#include "ui_Unit1.h"

#include <QComboBox>

QString TForm1::getDBParms()
{
    return m_login->get();
}

void TForm1::setDBParms(const QString &text)
{
    m_login->set(text);
}

bool TForm1::loginPending() const
{
    return m_login->pending();
}

void TForm1::ConnectDatabase(const QString &name, std::function<void(bool)> done)
{
    m_login->connect(name, std::move(done));
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
    if (!m_transactions->settle(
            [this] { SpeedButton12Click(this); }, QStringLiteral("Log out now")))
        return;
    m_login->logout();
    m_catalogs->forgetLogins(); // the cache file stays: it holds names, no data
}
