#include "app/RoutingView.h"

#include "settings/UserSettings.h"
#include "sql/SqlLexer.h"

#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>

namespace {

// Above this size the text is routed only when a statement runs: routing means scanning it all.
constexpr int kLiveRoutingLimit = 2 * 1024 * 1024;

const char *const kProductionFrame = "border: 3px solid #c00000;";

// Space between the note and its neighbours.
constexpr int kNoteGap = 6;

} // namespace

RoutingView::RoutingView(QPlainTextEdit *editor, QComboBox *aliases, QLabel *label, QObject *parent)
    : QObject(parent)
    , m_editor(editor)
    , m_aliases(aliases)
    , m_label(label)
    , m_typing(new QTimer(this)) // owned (Qt parent)
    , m_productionAliases(productionAliases())
{
    m_typing->setSingleShot(true);
    m_typing->setInterval(300);
    connect(m_typing, &QTimer::timeout, this, [this] { refresh(); });
    connect(editor, &QPlainTextEdit::textChanged, this, [this] {
        if (m_editor->document()->characterCount() <= kLiveRoutingLimit)
            m_typing->start();
    });
    connect(aliases, &QComboBox::currentTextChanged, this, [this] { show(m_choice); });
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setContentsMargins(kNoteGap, 0, kNoteGap, 0);
    label->installEventFilter(this);
    if (QWidget *holder = label->parentWidget())
        holder->installEventFilter(this);
    show(m_choice);
}

QStringList RoutingView::productionAliases()
{
    QStringList names;
    for (const QString &name : UserSettings::productionAliases())
        names << Sql::asciiUpper(name.trimmed());
    return names;
}

bool RoutingView::isProduction(const QString &alias) const
{
    return !alias.isEmpty() && m_productionAliases.contains(Sql::asciiUpper(alias.trimmed()));
}

Routing::Choice RoutingView::refresh()
{
    return refresh(m_editor->toPlainText());
}

Routing::Choice RoutingView::refresh(const QString &text)
{
    m_typing->stop();
    m_productionAliases = productionAliases();
    m_choice = Routing::route(text);
    show(m_choice);
    return m_choice;
}

void RoutingView::show(const Routing::Choice &choice)
{
    const QString alias = m_aliases->currentText();
    QString text;
    if (!choice.alias.isEmpty()) {
        text = QStringLiteral("%1 ← %2, line %3")
                   .arg(choice.alias.toLower(), choice.name)
                   .arg(choice.line);
    } else if (!alias.isEmpty()) {
        text = alias + QStringLiteral(" (alias box)");
    }
    QStringList warnings;
    if (!choice.alias.isEmpty() && choice.onlyInCommentOrString)
        warnings << QStringLiteral("%1 stands only in a comment or string").arg(choice.schema);
    if (!choice.otherAliases.isEmpty())
        warnings << QStringLiteral("also names schemas of %1")
                        .arg(choice.otherAliases.join(QStringLiteral(", ")));
    // The database the statement will go to: the routed one, else the alias box's.
    m_production = isProduction(choice.alias.isEmpty() ? alias : choice.alias);
    if (m_production)
        text = QStringLiteral("PRODUCTION  ") + text;
    if (!warnings.isEmpty())
        text += QStringLiteral("  ⚠ ") + warnings.join(QStringLiteral("; "));
    m_text = text;
    m_label->setToolTip(text);
    if (m_production)
        m_label->setStyleSheet(
            QStringLiteral("color: white; background: #c00000; font-weight: bold;"));
    else if (!warnings.isEmpty())
        m_label->setStyleSheet(QStringLiteral("color: #8a4b00; font-weight: bold;"));
    else
        m_label->setStyleSheet(QString());
    elide(); // in the face the style gives
    markProduction();
}

bool RoutingView::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Resize && m_label
        && (watched == m_label || watched == m_label->parentWidget()))
        elide();
    return QObject::eventFilter(watched, event);
}

int RoutingView::room() const
{
    // Beside the page tabs the note is as wide as its text, so the text must fit what the tabs
    // leave; anywhere else the label's own width is the room.
    const auto *tabs = qobject_cast<const QTabWidget *>(m_label->parentWidget());
    const int width = tabs ? tabs->width() - tabs->tabBar()->sizeHint().width() : m_label->width();
    return std::max(0, width - 2 * kNoteGap);
}

void RoutingView::elide()
{
    // The whole text stays in the tool tip; the label shows what fits.
    m_label->ensurePolished();
    const QString shown = m_label->fontMetrics().elidedText(m_text, Qt::ElideRight, room());
    if (shown != m_label->text())
        m_label->setText(shown);
}

void RoutingView::markProduction()
{
    if (m_editor->property("productionFrame").toBool() == m_production)
        return; // a style sheet set again would lay the editor out again for nothing
    m_editor->setProperty("productionFrame", m_production);
    const QString frame = m_production ? QLatin1String(kProductionFrame) : QString();
    m_editor->setStyleSheet(
        frame.isEmpty() ? QString() : QStringLiteral("QPlainTextEdit { %1 }").arg(frame));
    m_aliases->setStyleSheet(
        frame.isEmpty() ? QString() : QStringLiteral("QComboBox { %1 }").arg(frame));
}
