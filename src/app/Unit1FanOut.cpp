#include "app/AliasDialect.h"
#include "app/EditorRecovery.h"
#include "app/FanOutView.h"
#include "app/LoginFlow.h"
#include "app/Routing.h"
#include "app/Unit1.h"
#include "connection/Connection.h"
#include "connection/Session.h"
#include "fanout/ReadOnlyGate.h"
#include "fanout/SchemaMap.h"
#include "history/HistoryStore.h"
#include "query/QueryControl.h"
#include "settings/UserSettings.h"
#include "ui_Unit1.h"
#include "widgets/FanOutDialog.h"
#include "widgets/Glyphs.h"

#include <QLabel>
#include <QShortcut>
#include <QTextCursor>
#include <QToolButton>

#include <functional>
#include <memory>

// Run on several aliases (Ctrl+Shift+F5 and its toolbar button): the aliases ticked in a dialog,
// the read-only rule, the schema names rewritten for each alias, a login per alias as for any
// Run; the run itself and what it shows are FanOutView's.

void TForm1::setupFanOut()
{
    // After the toolbar's own controls, in the free room left of the transaction button.
    m_fanOutButton = new QToolButton(ui->Panel3); // owned by the toolbar (Qt parent)
    m_fanOutButton->setObjectName(QStringLiteral("FanOutButton"));
    m_fanOutButton->setGeometry(470, 4, 25, 25);
    m_fanOutButton->setFocusPolicy(Qt::NoFocus);
    m_fanOutButton->setAutoRaise(true);
    m_fanOutButton->setIcon(glyph(QStringLiteral("run")));
    m_fanOutButton->setToolTip(QStringLiteral("Run Query on several aliases (Ctrl+Shift+F5)"));
    wire(m_fanOutButton, &QToolButton::clicked, &TForm1::FanOut1Click);
    auto *key = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F5), this); // owned
    key->setContext(Qt::WindowShortcut);
    connect(key, &QShortcut::activated, m_fanOutButton, &QToolButton::click);

    auto *strip = new QLabel(ui->TabSheet2); // owned by the page (Qt parent)
    ui->TabSheet2Layout->insertWidget(0, strip);
    m_fanOut = new FanOutView(
        strip, m_shown, *m_control, [this] { return historyDatabase(); },
        this); // owned by the window (Qt parent)
    connect(m_fanOut, &FanOutView::shown, this, [this] {
        ui->PageControl1->setCurrentWidget(ui->TabSheet2);
        ui->DBGrid1->setFocus();
    });
    connect(m_fanOut, &FanOutView::ended, this,
        [this](const QString &summary) { setStatusText(1, summary); });
}

void TForm1::FanOut1Click(QObject *)
{
    if (m_control->state() != QueryControl::State::Idle || m_fanOut->isRunning()
        || m_login->holdsCommands())
        return; // as Run: nothing while a statement is under way
    refuseNulCharacter();
    const QTextCursor cursor = ui->RE1->textCursor();
    const QString text = cursor.hasSelection()
        ? cursor.selectedText().replace(QChar::ParagraphSeparator, QLatin1Char('\n'))
        : HistoryStore::joinLines(EditorLines());

    QStringList aliases;
    for (int i = 0; i < ui->ComboBox1->count(); ++i)
        aliases << ui->ComboBox1->itemText(i);
    FanOutDialog dialog(aliases, UserSettings::fanOutAliases(), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QStringList ticked = dialog.tickedAliases();
    UserSettings::setFanOutAliases(ticked);

    // Refused before anything closes, connects or runs, in the words of each alias's SQL.
    for (const QString &alias : ticked) {
        const QString refusal = ReadOnlyGate::refusal(text, aliasDialect(alias));
        if (!refusal.isEmpty()) {
            setStatusText(1, QStringLiteral("Not run on several aliases"));
            showError(this, refusal);
            return;
        }
    }
    QList<QStringList> rows = SchemaMap::parseRows(UserSettings::schemaMap());
    if (rows.isEmpty())
        rows.append(Routing::firstSchemas());
    const SchemaMap map(rows, Routing::aliasOfSchema);
    auto targets = std::make_shared<QVector<FanOutRun::Target>>();
    for (const QString &alias : ticked) {
        const SchemaMap::Rewrite rewrite = map.forAlias(text, alias, aliasDialect(alias));
        targets->append({ Sql::asciiUpper(alias), nullptr, rewrite.text, rewrite.skipped });
    }

    m_recovery->saveNow(); // whatever happens to the statement, the text is kept
    CloseCurrentQuery();
    const bool wasChanged = QueryChanged;
    const QStringList lines = text.split(QLatin1Char('\n'));
    AddToHistory(lines);
    if (lines != EditorLines())
        QueryChanged = wasChanged; // a selection in the history is not the editor's text

    // One alias after another is connected (a login asked as for any Run); the run starts once
    // each has answered. A failed connect has reported itself, and its alias is passed over.
    auto connectFrom = std::make_shared<std::function<void(int)>>();
    std::weak_ptr<std::function<void(int)>> self = connectFrom;
    *connectFrom = [this, targets, self](int index) {
        while (index < targets->size() && !(*targets)[index].skipped.isEmpty())
            ++index;
        if (index < targets->size()) {
            // The pending connect holds this function alive; nothing else does.
            ConnectDatabase(
                (*targets)[index].alias, [targets, index, next = self.lock()](bool connected) {
                    if (!connected)
                        (*targets)[index].skipped = QStringLiteral("not connected");
                    (*next)(index + 1);
                });
            return;
        }
        for (FanOutRun::Target &target : *targets) {
            if (!target.skipped.isEmpty())
                continue;
            Connection *connection = Session::instance().FindConnection(target.alias);
            if (connection && connection->IsConnected())
                target.connection = connection->handle();
            else
                target.skipped = QStringLiteral("not connected");
            // The run ends the transaction its read opens; open work of the user's stays alone.
            if (target.connection && m_control->transaction().holds(target.connection)) {
                target.skipped = QStringLiteral("work is open here: Commit or Roll back first");
                target.connection.reset();
            }
        }
        setStatusText(1, QStringLiteral("Running Query on %1 aliases").arg(targets->size()));
        m_fanOut->start(*targets, UserSettings::resultMemoryBytes());
    };
    (*connectFrom)(0);
}
