#include "app/WindowLifecycle.h"

#include "app/Aliases.h"
#include "app/Guard.h"
#include "app/SqlHighlighter.h"
#include "app/WindowPlacement.h"
#include "connection/Session.h"
#include "ui_Unit1.h"
#include "widgets/Glyphs.h"

#include <QApplication>
#include <QEvent>
#include <QFontDatabase>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QScreen>
#include <QStyle>
#include <QTabBar>
#include <QTimer>

#include <algorithm>

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

WindowLifecycle::WindowLifecycle(QMainWindow *window, Ui::TForm1 &ui)
    : QObject(window)
    , m_window(window)
    , m_ui(ui)
{ }

QString WindowLifecycle::titleText()
{
    return QStringLiteral("Morvane version .99M");
}

void WindowLifecycle::dress()
{
    m_window->setWindowIcon(glyph(QStringLiteral("app")));
    // The form is laid out for an 8 point face; the platform's own one stands in when the
    // classic face is missing.
    QFont formFont = QFontDatabase::hasFamily(QStringLiteral("MS Sans Serif"))
        ? QFont(QStringLiteral("MS Sans Serif"))
        : QApplication::font();
    formFont.setPointSize(8);
    m_window->setFont(formFont);
    // A wider face than the form was laid out for must not cut the caption short.
    m_ui.CheckBox1->resize(std::max(m_ui.CheckBox1->width(), m_ui.CheckBox1->sizeHint().width()),
        m_ui.CheckBox1->height());

    const std::pair<QToolButton *, const char *> glyphs[] = {
        { m_ui.SpeedButton7, "load" },
        { m_ui.SpeedButton8, "save" },
        { m_ui.SpeedButton9, "print" },
        { m_ui.SpeedButton1, "run" },
        { m_ui.SpeedButton2, "exec" },
        { m_ui.SpeedButton4, "close" },
        { m_ui.SpeedButton12, "logout" },
        { m_ui.SpeedButton3, "fields" },
        { m_ui.SpeedButton5, "commaquote" },
        { m_ui.SpeedButton6, "report" },
        { m_ui.SpeedButton10, "makecurrent" },
        { m_ui.SpeedButton11, "print" },
    };
    for (const auto &[button, name] : glyphs)
        button->setIcon(glyph(QLatin1String(name)));

    // The transaction button and the three result buttons follow the window's right edge; the
    // history list stretches.
    std::vector<RightAnchors::Anchor> toolbar;
    for (QToolButton *button :
        { m_ui.TransactionButton, m_ui.SpeedButton3, m_ui.SpeedButton5, m_ui.SpeedButton6 })
        toolbar.push_back({ button, kDesignWidth - button->x() - button->width(), false });
    new RightAnchors(m_ui.Panel3, std::move(toolbar)); // owned by Panel3
    // The toolbar has no room left for where the statement goes: the note stands in the row of
    // the page tabs, right of them, on every page.
    m_ui.PageControl1->setCornerWidget(m_ui.RoutingLabel, Qt::TopRightCorner);
    new RightAnchors(m_ui.Panel1, { { m_ui.ComboBox2, 10, true } }); // owned by Panel1

    m_ui.RE1->setFont(editorFont());
    m_ui.HistFullSQL->setFont(editorFont());
    new SqlHighlighter(m_ui.RE1); // owned by RE1
    new SqlHighlighter(m_ui.HistFullSQL); // owned by HistFullSQL
    m_ui.Aboutlabel->setFont(aboutFont(false));
    for (QLabel *link : { static_cast<QLabel *>(m_ui.TovohtmlLabel1),
             static_cast<QLabel *>(m_ui.TovohtmlLabel2) }) {
        link->setFont(aboutFont(true));
        QPalette palette = link->palette();
        palette.setColor(QPalette::WindowText, Qt::blue);
        link->setPalette(palette);
    }

    // Status bar: panel 0 of 75 pixels, panel 1 to the right edge, both empty.
    m_ui.StatusBar1->setFixedHeight(21);
    for (int i = 0; i < 2; ++i) {
        m_statusPanels[i] = new QLabel(m_ui.StatusBar1); // owned by StatusBar1
        m_statusPanels[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        m_ui.StatusBar1->addWidget(m_statusPanels[i], i);
    }
    m_statusPanels[0]->setFixedWidth(75);

    m_editorMenu = new QMenu(m_window); // owned by the window
    m_editorMenu->setObjectName(QStringLiteral("PopupMenu1"));
    m_editorMenu->addAction(m_ui.Undo1);
    m_editorMenu->addSeparator()->setObjectName(QStringLiteral("N1"));
    m_editorMenu->addActions({ m_ui.Copy1, m_ui.Cut1, m_ui.Paste1, m_ui.SelectAll1 });
    m_editorMenu->addSeparator()->setObjectName(QStringLiteral("Font1"));
    m_editorMenu->addActions({ m_ui.Font2, m_ui.Print1, m_ui.FindReplace1 });
    m_gridMenu = new QMenu(m_window); // owned by the window
    m_gridMenu->setObjectName(QStringLiteral("PopupMenu2"));
    m_gridMenu->addActions({ m_ui.CopyFieldtoClipboard1, m_ui.CopyEntireRowtoclipboard1,
        m_ui.CopyEntireRowCommaQuote1 });
    // Positions come in viewport coordinates for scroll areas.
    connect(m_ui.RE1, &QWidget::customContextMenuRequested, this,
        [this](const QPoint &pos) { m_editorMenu->popup(m_ui.RE1->viewport()->mapToGlobal(pos)); });
    connect(m_ui.DBGrid1, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        m_gridMenu->popup(m_ui.DBGrid1->viewport()->mapToGlobal(pos));
    });
}

void WindowLifecycle::place()
{
    // Centred on the desktop: placed before the first show.
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        m_window->setGeometry(QStyle::alignedRect(
            Qt::LeftToRight, Qt::AlignCenter, m_window->size(), screen->availableGeometry()));
    // Where the user left it last time, when that is on a screen now.
    WindowPlacement::restore(m_window);
}

void WindowLifecycle::watchUserPageChanges(std::function<void()> handler)
{
    // The page handler runs for a page the user selects, never for one selected from code.
    auto *watch = new UserInputWatch(this, m_userTabInput); // owned by this room
    m_ui.PageControl1->installEventFilter(watch);
    m_ui.PageControl1->tabBar()->installEventFilter(watch);
    connect(
        m_ui.PageControl1, &QTabWidget::currentChanged, this, [this, handler = std::move(handler)] {
            if (!m_userTabInput)
                return;
            m_userTabInput = false; // one input selects one page
            handler();
        });
}

void WindowLifecycle::keepHintsUp()
{
    qApp->installEventFilter(new HintHidePause(this)); // owned by this room
}

void WindowLifecycle::prepareAliases()
{
    // Each step that can fail on its own is guarded on its own: its message is shown and the
    // later steps still run, so a DB2 client or a data source file that the user may not change
    // costs neither the alias list nor the history.
    runGuarded(m_window, [] {
        for (const char *alias : { "db2p201", "db2t301", "db2t302", "db2t303" })
            EnsureAlias(QLatin1String(alias), QLatin1String(alias));
    });

    m_ui.ComboBox1->clear();
    runGuarded(m_window, [this] {
        QStringList aliases;
        Session::instance().ListAliasNames(aliases);
        m_ui.ComboBox1->addItems(aliases);
    });
    m_ui.ComboBox1->setCurrentIndex(-1); // filling the list chooses no alias

    runGuarded(m_window, [] { SetDB2Isolation(); });

    // Alphabetical order, as a sorted list box keeps it: case does not decide, except between
    // names that differ only in case.
    QStringList items;
    for (int i = 0; i < m_ui.ComboBox1->count(); ++i)
        items << m_ui.ComboBox1->itemText(i);
    std::stable_sort(items.begin(), items.end(), [](const QString &a, const QString &b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    const QString text = m_ui.ComboBox1->currentText();
    m_ui.ComboBox1->clear();
    m_ui.ComboBox1->addItems(items);
    m_ui.ComboBox1->setCurrentIndex(-1);
    m_ui.ComboBox1->setEditText(text);
}

QLabel *WindowLifecycle::statusPanel(int panel) const
{
    return panel >= 0 && panel <= 1 ? m_statusPanels[panel] : nullptr;
}
