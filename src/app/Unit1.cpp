#include "app/Unit1.h"

#include "app/Aliases.h"
#include "app/ClipboardHandover.h"
#include "app/FileDialogs.h"
#include "app/QueryFiles.h"
#include "app/RoutingView.h"
#include "app/SqlHighlighter.h"
#include "app/WindowPlacement.h"
#include "connection/Connection.h"
#include "connection/QueryDataset.h"
#include "connection/Session.h"
#include "ui_Unit1.h"
#include "widgets/Glyphs.h"
#include "widgets/PaintBox.h"
#include "widgets/ReplaceDialog.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QCompleter>
#include <QEvent>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontDialog>
#include <QHelpEvent>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QStyle>
#include <QTabBar>
#include <QTimer>
#include <QToolTip>

#include <algorithm>
#include <cstdlib>

bool TForm1::ExitOnDestroy = true;

namespace {

constexpr int kHintHidePause = 30000; // a hint stays up for 30 seconds
constexpr int kDesignWidth = 639; // the toolbar's width as laid out in the form

// Keeps the hint of every widget up for kHintHidePause. Qt hides a tool tip after a time computed
// from its length unless the widget names a duration, so the duration is set on each widget that
// is about to show its hint; the event itself then takes its normal course.
class HintHidePause : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::ToolTip && watched->isWidgetType()) {
            auto *widget = static_cast<QWidget *>(watched);
            if (!widget->toolTip().isEmpty() && widget->toolTipDuration() < 0)
                widget->setToolTipDuration(kHintHidePause);
        }
        return false;
    }
};

// Keeps widgets at a fixed distance from their parent's right edge; stretching ones keep their
// left edge and grow with the parent instead.
class RightAnchors : public QObject
{
public:
    struct Anchor
    {
        QWidget *widget; // not owned
        int rightGap;
        bool stretch;
    };

    RightAnchors(QWidget *container, std::vector<Anchor> anchors)
        : QObject(container)
        , m_anchors(std::move(anchors))
    {
        container->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Resize) {
            const int width = static_cast<QWidget *>(watched)->width();
            for (const Anchor &a : m_anchors) {
                QRect r = a.widget->geometry();
                if (a.stretch)
                    r.setRight(std::max(r.left(), width - a.rightGap - 1));
                else
                    r.moveLeft(width - a.rightGap - r.width());
                a.widget->setGeometry(r);
            }
        }
        return false;
    }

private:
    std::vector<Anchor> m_anchors;
};

// Tells which page changes come from the user: input to the page control or its tab bar (a
// click, the wheel, Ctrl+Tab, arrow keys) marks the change it causes; a change from code does
// not pass through here. The mark is dropped once the input event has been handled.
class UserInputWatch : public QObject
{
public:
    UserInputWatch(QObject *parent, bool &flag)
        : QObject(parent)
        , m_flag(flag)
    { }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::KeyPress:
            m_flag = true;
            QTimer::singleShot(0, this, [this] { m_flag = false; });
            break;
        default:
            break;
        }
        return false;
    }

private:
    bool &m_flag;
};

// "Courier New" bold 12 pt, or the platform's fixed-pitch face where that one is missing.
QFont editorFont()
{
    QFont font = QFontDatabase::hasFamily(QStringLiteral("Courier New"))
        ? QFont(QStringLiteral("Courier New"))
        : QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setBold(true);
    font.setPointSize(12);
    return font;
}

QFont aboutFont(bool link)
{
    QFont font(QStringLiteral("Comic Sans MS"));
    font.setBold(true);
    font.setPixelSize(13);
    font.setUnderline(link);
    return font;
}

} // namespace

TForm1::TForm1(QWidget *parent)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui::TForm1>())
{
    ui->setupUi(this);
    setWindowIcon(glyph(QStringLiteral("app")));
    // The form is laid out for an 8 point face; the platform's own one stands in when the
    // classic face is missing.
    QFont formFont = QFontDatabase::hasFamily(QStringLiteral("MS Sans Serif"))
        ? QFont(QStringLiteral("MS Sans Serif"))
        : QApplication::font();
    formFont.setPointSize(8);
    setFont(formFont);
    // A wider face than the form was laid out for must not cut the caption short.
    ui->CheckBox1->resize(std::max(ui->CheckBox1->width(), ui->CheckBox1->sizeHint().width()),
        ui->CheckBox1->height());

    const std::pair<QToolButton *, const char *> glyphs[] = {
        { ui->SpeedButton7, "load" },
        { ui->SpeedButton8, "save" },
        { ui->SpeedButton9, "print" },
        { ui->SpeedButton1, "run" },
        { ui->SpeedButton2, "exec" },
        { ui->SpeedButton4, "close" },
        { ui->SpeedButton12, "logout" },
        { ui->SpeedButton3, "fields" },
        { ui->SpeedButton5, "commaquote" },
        { ui->SpeedButton6, "report" },
        { ui->SpeedButton10, "makecurrent" },
        { ui->SpeedButton11, "print" },
    };
    for (const auto &[button, name] : glyphs)
        button->setIcon(glyph(QLatin1String(name)));

    // The three result buttons follow the window's right edge; the history list stretches.
    std::vector<RightAnchors::Anchor> toolbar;
    for (QToolButton *button : { ui->SpeedButton3, ui->SpeedButton5, ui->SpeedButton6 })
        toolbar.push_back({ button, kDesignWidth - button->x() - button->width(), false });
    toolbar.push_back({ ui->RoutingLabel,
        kDesignWidth - ui->RoutingLabel->x() - ui->RoutingLabel->width(), true });
    new RightAnchors(ui->Panel3, std::move(toolbar)); // owned by Panel3
    new RightAnchors(ui->Panel1, { { ui->ComboBox2, 10, true } }); // owned by Panel1

    ui->RE1->setFont(editorFont());
    ui->HistFullSQL->setFont(editorFont());
    new SqlHighlighter(ui->RE1); // owned by RE1
    new SqlHighlighter(ui->HistFullSQL); // owned by HistFullSQL
    m_routing = new RoutingView(ui->RE1, ui->ComboBox1, ui->RoutingLabel, this); // owned (parent)
    ui->Aboutlabel->setFont(aboutFont(false));
    for (QLabel *link :
        { static_cast<QLabel *>(ui->TovohtmlLabel1), static_cast<QLabel *>(ui->TovohtmlLabel2) }) {
        link->setFont(aboutFont(true));
        QPalette palette = link->palette();
        palette.setColor(QPalette::WindowText, Qt::blue);
        link->setPalette(palette);
    }

    // Status bar: panel 0 of 75 pixels, panel 1 to the right edge, both empty.
    ui->StatusBar1->setFixedHeight(21);
    for (int i = 0; i < 2; ++i) {
        m_statusPanels[i] = new QLabel(ui->StatusBar1); // owned by StatusBar1
        m_statusPanels[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        ui->StatusBar1->addWidget(m_statusPanels[i], i);
    }
    m_statusPanels[0]->setFixedWidth(75);

    PopupMenu1 = new QMenu(this); // owned by the window
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    PopupMenu1->addAction(ui->Undo1);
    PopupMenu1->addSeparator()->setObjectName(QStringLiteral("N1"));
    PopupMenu1->addActions({ ui->Copy1, ui->Cut1, ui->Paste1, ui->SelectAll1 });
    PopupMenu1->addSeparator()->setObjectName(QStringLiteral("Font1"));
    PopupMenu1->addActions({ ui->Font2, ui->Print1, ui->FindReplace1 });
    PopupMenu2 = new QMenu(this); // owned by the window
    PopupMenu2->setObjectName(QStringLiteral("PopupMenu2"));
    PopupMenu2->addActions(
        { ui->CopyFieldtoClipboard1, ui->CopyEntireRowtoclipboard1, ui->CopyEntireRowCommaQuote1 });
    // Positions come in viewport coordinates for scroll areas.
    connect(ui->RE1, &QWidget::customContextMenuRequested, this,
        [this](const QPoint &pos) { PopupMenu1->popup(ui->RE1->viewport()->mapToGlobal(pos)); });
    connect(ui->DBGrid1, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        PopupMenu2->popup(ui->DBGrid1->viewport()->mapToGlobal(pos));
    });

    SaveDialog1 = FileDialogs::make(this, QStringLiteral("SaveDialog1"),
        { tr("Text Files (*.txt)"), tr("AnyFile (*.*)") }, QStringLiteral("txt"), true);
    m_queryFiles = new QueryFiles(this, ui->RE1); // owned by the window (Qt parent)
    ReplaceDialog1 = new TReplaceDialog(this); // owned by the window
    Timer1 = new QTimer(this); // owned by the window
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1);

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
    wire(PopupMenu2, &QMenu::aboutToShow, &TForm1::PopupMenu2Popup);
    wire(ui->CopyFieldtoClipboard1, &QAction::triggered, &TForm1::CopyFieldtoClipboard1Click);
    wire(ui->CopyEntireRowtoclipboard1, &QAction::triggered,
        &TForm1::CopyEntireRowtoclipboard1Click);
    wire(ui->CopyEntireRowCommaQuote1, &QAction::triggered, &TForm1::CopyEntireRowCommaQuote1Click);
    wire(ui->ComboBox2, qOverload<int>(&QComboBox::activated), &TForm1::ComboBox2Change);
    wire(Timer1, &QTimer::timeout, &TForm1::Timer1Timer);

    // The page handler runs for a page the user selects, never for one selected from code.
    auto *watch = new UserInputWatch(this, m_userTabInput); // owned by the window
    ui->PageControl1->installEventFilter(watch);
    ui->PageControl1->tabBar()->installEventFilter(watch);
    connect(ui->PageControl1, &QTabWidget::currentChanged, this, [this] {
        if (!m_userTabInput)
            return;
        m_userTabInput = false; // one input selects one page
        runGuarded(this, [this] { PageControl1Change(ui->PageControl1); });
    });

    setupEditor();
    setupGrid();
    setupExport();
    setupHistory();
    setupAbout();

    // Centred on the desktop: placed before the first show.
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        setGeometry(QStyle::alignedRect(
            Qt::LeftToRight, Qt::AlignCenter, size(), screen->availableGeometry()));
    // Where the user left it last time, when that is on a screen now.
    WindowPlacement::restore(this);

    // An error in any step ends start-up there; the window opens all the same.
    runGuarded(this, [this] { FormCreate(this); });
}

TForm1::~TForm1()
{
    FormDestroy(this);
}

QString TForm1::titleText()
{
    return QStringLiteral("Morvane version .99M");
}

QString TForm1::statusText(int panel) const
{
    if (panel < 0 || panel > 1)
        return QString();
    return m_statusPanels[panel]->text();
}

void TForm1::setStatusText(int panel, const QString &text)
{
    if (panel >= 0 && panel <= 1)
        m_statusPanels[panel]->setText(text);
}

void TForm1::FormCreate(QObject *)
{
    Randomize();
    ui->Aboutlabel->setText(titleText());
    HistoryList.clear();
    qApp->installEventFilter(new HintHidePause(this)); // owned by the window
    setWindowTitle(titleText());
    QueryChanged = false;

    // Each step that can fail on its own is guarded on its own: its message is shown and the
    // later steps still run, so a DB2 client or a data source file that the user may not change
    // costs neither the alias list nor the history.
    runGuarded(this, [] {
        for (const char *alias : { "db2p201", "db2t301", "db2t302", "db2t303" })
            EnsureAlias(QLatin1String(alias), QLatin1String(alias));
    });

    ui->ComboBox1->clear();
    runGuarded(this, [this] {
        QStringList aliases;
        Session::instance().ListAliasNames(aliases);
        ui->ComboBox1->addItems(aliases);
    });
    ui->ComboBox1->setCurrentIndex(-1); // filling the list chooses no alias

    runGuarded(this, [] { SetDB2Isolation(); });

    // Alphabetical order, as a sorted list box keeps it: case does not decide, except between
    // names that differ only in case.
    QStringList items;
    for (int i = 0; i < ui->ComboBox1->count(); ++i)
        items << ui->ComboBox1->itemText(i);
    std::stable_sort(items.begin(), items.end(), [](const QString &a, const QString &b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    const QString text = ui->ComboBox1->currentText();
    ui->ComboBox1->clear();
    ui->ComboBox1->addItems(items);
    ui->ComboBox1->setCurrentIndex(-1);
    ui->ComboBox1->setEditText(text);

    runGuarded(this, [this] { LoadHistory(); });
}

void TForm1::FormDestroy(QObject *)
{
    historyClosing();
    HistoryList.clear();
    // The process ends here, whatever worker still runs: nothing else is cleaned up or written.
    // Only a text on the clipboard is handed to the desktop's clipboard manager first, as the
    // toolkit's own teardown would, so that what was copied last outlives the program.
    if (ExitOnDestroy) {
        Clipboard::handOver();
        std::_Exit(0);
    }
}

void TForm1::closeEvent(QCloseEvent *event)
{
    WindowPlacement::save(this);
    cancelForExit();
    event->accept();
    FormDestroy(this);
}
