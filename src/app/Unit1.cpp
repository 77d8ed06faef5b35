#include "app/Unit1.h"

#include "app/CatalogFreshness.h"
#include "app/ClipboardHandover.h"
#include "app/EditorCompletion.h"
#include "app/EditorRecovery.h"
#include "app/ExportCommands.h"
#include "app/LoginFlow.h"
#include "app/QueryFiles.h"
#include "app/RoutingView.h"
#include "app/Transactions.h"
#include "app/WindowLifecycle.h"
#include "app/WindowPlacement.h"
#include "catalog/CatalogCache.h"
#include "connection/Connection.h"
#include "connection/QueryDataset.h"
#include "credentials/CredentialStore.h"
#include "ui_Unit1.h"
#include "widgets/PaintBox.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QTextCursor>

#include <cstdlib>

TForm1::TForm1(QWidget *parent)
    : TForm1(Options(), parent)
{ }

TForm1::TForm1(const Options &options, QWidget *parent)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui::TForm1>())
    , m_options(options)
{
    ui->setupUi(this);
    m_lifecycle = new WindowLifecycle(this, *ui); // owned by the window (Qt parent)
    m_lifecycle->dress();
    m_routing = new RoutingView(ui->RE1, ui->ComboBox1, ui->RoutingLabel, this); // owned (parent)
    m_queryFiles = new QueryFiles(this, ui->RE1, editorAccess()); // owned (Qt parent)
    m_recovery = new EditorRecovery(EditorRecovery::defaultFolder(), this); // owned (parent)
    m_recovery->watch(ui->RE1, [this] { return m_queryFiles->recoverySnapshot(); });
    // Text that a query file now holds is no longer kept for recovery.
    connect(m_queryFiles, &QueryFiles::fileSaved, m_recovery, &EditorRecovery::fileSaved);
    // A recovery file that cannot be written is said, briefly, where the user looks anyway.
    connect(m_recovery, &EditorRecovery::writeFailed, this,
        [this](const QString &message) { ui->StatusBar1->showMessage(message, 15000); });
    m_catalogs = new Catalog::CatalogService(
        CatalogCache::defaultPath(), CatalogFreshness::settingsOf, this); // owned (parent)
    m_freshness = new CatalogFreshness(*m_catalogs, this); // owned by the window (Qt parent)
    connect(ui->ComboBox1, &QComboBox::currentTextChanged, m_freshness,
        &CatalogFreshness::aliasSelected);
    // A catalog that cannot be read is said once, where the user looks anyway; no box.
    connect(m_catalogs, &Catalog::Catalogs::loadFailed, this,
        [this](const QString &alias, const QString &message) {
            ui->StatusBar1->showMessage(
                QStringLiteral("The catalog of %1 was not read: %2").arg(alias, message), 15000);
        });
    wireHandlers();
    setupEditor();
    setupGrid();
    setupFanOut();
    setupCompare();
    setupExport();
    setupHistory();
    setupAbout();
    m_completion = new EditorCompletion(this, ui->RE1, ui->ComboBox1); // owned (Qt parent)
    m_completion->setCatalogs(m_catalogs);
    connect(m_completion, &EditorCompletion::message, this,
        [this](const QString &text) { ui->StatusBar1->showMessage(text, 15000); });
    m_lifecycle->place();
    // An error in any step ends start-up there; the window opens all the same.
    runGuarded(this, [this] { FormCreate(this); });
}

void TForm1::wireHandlers()
{
    wire(ui->SpeedButton7, &QToolButton::clicked, &TForm1::SpeedButton7Click);
    wire(ui->SpeedButton8, &QToolButton::clicked, &TForm1::SpeedButton8Click);
    wire(ui->SpeedButton9, &QToolButton::clicked, &TForm1::SpeedButton9Click);
    wire(ui->SpeedButton1, &QToolButton::clicked, &TForm1::Button1Click);
    wire(ui->SpeedButton2, &QToolButton::clicked, &TForm1::Button3Click);
    wire(ui->SpeedButton4, &QToolButton::clicked, &TForm1::Button2Click);
    wire(ui->SpeedButton12, &QToolButton::clicked, &TForm1::SpeedButton12Click);
    wire(ui->SpeedButton3, &QToolButton::clicked, &TForm1::Button4Click);
    wire(ui->SpeedButton5, &QToolButton::clicked, &TForm1::Button5Click);
    wire(ui->SpeedButton6, &QToolButton::clicked, &TForm1::Button6Click);
    wire(ui->SpeedButton10, &QToolButton::clicked, &TForm1::SpeedButton10Click);
    wire(ui->SpeedButton11, &QToolButton::clicked, &TForm1::SpeedButton11Click);
    wire(ui->RE1, &QPlainTextEdit::textChanged, &TForm1::RE1Change);
    wire(ui->Undo1, &QAction::triggered, &TForm1::Undo1Click);
    wire(ui->Copy1, &QAction::triggered, &TForm1::Copy1Click);
    wire(ui->Cut1, &QAction::triggered, &TForm1::Cut1Click);
    wire(ui->Paste1, &QAction::triggered, &TForm1::Paste1Click);
    wire(ui->SelectAll1, &QAction::triggered, &TForm1::SelectAll1Click);
    wire(ui->Font2, &QAction::triggered, &TForm1::Font2Click);
    wire(ui->Print1, &QAction::triggered, &TForm1::SpeedButton9Click);
    wire(ui->FindReplace1, &QAction::triggered, &TForm1::FindReplace1Click);
    wire(m_lifecycle->gridMenu(), &QMenu::aboutToShow, &TForm1::PopupMenu2Popup);
    wire(ui->CopyFieldtoClipboard1, &QAction::triggered, &TForm1::CopyFieldtoClipboard1Click);
    wire(ui->CopyEntireRowtoclipboard1, &QAction::triggered,
        &TForm1::CopyEntireRowtoclipboard1Click);
    wire(ui->CopyEntireRowCommaQuote1, &QAction::triggered, &TForm1::CopyEntireRowCommaQuote1Click);
    wire(ui->ComboBox2, qOverload<int>(&QComboBox::activated), &TForm1::ComboBox2Change);
}

TForm1::~TForm1()
{
    FormDestroy(this); // waits for the credentials thread too
}

QString TForm1::titleText()
{
    return WindowLifecycle::titleText();
}

QString TForm1::statusText(int panel) const
{
    const QLabel *label = m_lifecycle->statusPanel(panel);
    return label ? label->text() : QString();
}

void TForm1::setStatusText(int panel, const QString &text)
{
    if (QLabel *label = m_lifecycle->statusPanel(panel))
        label->setText(text);
}

void TForm1::FormCreate(QObject *)
{
    Randomize();
    ui->Aboutlabel->setText(titleText());
    HistoryList.clear();
    m_lifecycle->keepHintsUp();
    setWindowTitle(titleText());
    QueryChanged = false;
    m_lifecycle->prepareAliases();
    runGuarded(this, [this] { LoadHistory(); });
}

void TForm1::FormDestroy(QObject *)
{
    historyClosing();
    HistoryList.clear();
    // The process ends here, whatever worker still runs: nothing else is cleaned up or written.
    // Only a text on the clipboard is handed to the desktop's clipboard manager first, as the
    // toolkit's own teardown would, so that what was copied last outlives the program.
    // A login stored or forgotten just before is in place before the process ends: waits for
    // the credentials thread (each of its requests waits for the keyring a bounded time).
    CredentialStore::waitForPending();
    if (m_options.exitOnDestroy) {
        Clipboard::handOver();
        std::_Exit(0);
    }
}

void TForm1::closeEvent(QCloseEvent *event)
{
    // Open work is committed or rolled back first; the window closes once that is done. One
    // already at the server may be left to itself: the close never waits for a server.
    if (!m_transactions->settle([this] { close(); }, QStringLiteral("Close now"))) {
        event->ignore();
        return;
    }
    // A login stored or forgotten just before is written first: a write of the settings file
    // from this thread meanwhile (the placement) would make that checked write fail, and its
    // restore put the old login back.
    CredentialStore::waitForPending();
    WindowPlacement::save(this);
    m_recovery->discard(); // a normal close: nothing to offer at the next start
    cancelForExit();
    event->accept();
    FormDestroy(this);
}

void TForm1::offerRecovery()
{
    const auto taken =
        m_recovery->offerOrphans([this](const RecoveredQuery &orphan, int index, int count) {
            QMessageBox box(QMessageBox::Question, titleText(),
                QStringLiteral("Restore the unsaved query from %1?")
                    .arg(QLocale().toString(orphan.saved.toLocalTime(), QLocale::ShortFormat)),
                QMessageBox::Yes | QMessageBox::No, this);
            box.setObjectName(QStringLiteral("RecoveryQuestion"));
            // Which text it is, and that a Yes leaves the others for later rather than losing them.
            QString about = QLatin1Char('"')
                + fontMetrics().elidedText(
                    orphan.text.trimmed().section(QLatin1Char('\n'), 0, 0).trimmed(),
                    Qt::ElideRight, 40 * fontMetrics().averageCharWidth())
                + QLatin1Char('"');
            if (count > 1)
                about +=
                    QStringLiteral("\n\nUnsaved query %1 of %2. No offers the next one; after Yes "
                                   "the others are offered at the next start.")
                        .arg(index + 1)
                        .arg(count);
            box.setInformativeText(about);
            box.setDefaultButton(QMessageBox::Yes);
            return box.exec() == QMessageBox::Yes;
        });
    if (!taken)
        return;
    m_queryFiles->restore(*taken);
    QueryChanged = true;
    m_recovery->saveNow();
}

Catalog::Catalogs *TForm1::catalogs() const
{
    return m_catalogs;
}
