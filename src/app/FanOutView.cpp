#include "app/FanOutView.h"

#include "app/ShownResult.h"
#include "connection/QueryDataset.h"
#include "history/HistoryRecorder.h"
#include "query/QueryControl.h"
#include "results/DataSource.h"

#include <QApplication>
#include <QDateTime>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>

FanOutView::FanOutView(
    QLabel *strip, ShownResult &shown, QueryControl &control, History history, QObject *parent)
    : QObject(parent)
    , m_strip(strip)
    , m_shown(shown)
    , m_control(control)
    , m_history(std::move(history))
{
    m_strip->setObjectName(QStringLiteral("FanOutStrip"));
    m_strip->setWordWrap(true);
    m_strip->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_strip->hide();
    // A statement of the window's own replaces what the strip speaks of.
    connect(&m_control, &QueryControl::stateChanged, this, [this](QueryControl::State state) {
        if (state == QueryControl::State::Connecting || state == QueryControl::State::Running)
            m_strip->hide();
    });
}

FanOutView::~FanOutView()
{
    if (m_filtering)
        qApp->removeEventFilter(this);
}

void FanOutView::start(const QVector<FanOutRun::Target> &targets, std::size_t storeBudget)
{
    if (m_run) {
        m_run->stop();
        m_run->disconnect(this);
        m_run->deleteLater();
    }
    m_run = new FanOutRun(storeBudget, this); // owned (Qt parent)
    m_serial = 0;
    m_historyRuns = QVector<qint64>(targets.size(), 0);
    connect(m_run, &FanOutRun::statusChanged, this, &FanOutView::statusChanged);
    connect(m_run, &FanOutRun::rowsArrived, this, &FanOutView::rowsArrived);
    connect(m_run, &FanOutRun::finished, this, &FanOutView::runEnded);
    connect(m_run, &FanOutRun::resultReady, this, [this] {
        std::unique_ptr<QueryDataset> result = m_run->takeResult();
        m_serial = result->serial();
        m_shown.show(std::move(result));
        emit shown();
    });
    // Esc belongs to the run while it lasts, wherever the focus is in the program.
    if (!m_filtering) {
        qApp->installEventFilter(this);
        m_filtering = true;
    }
    if (targets.size() > 1)
        m_strip->show();
    m_run->start(targets);
    showStrip();
}

void FanOutView::stop()
{
    if (m_run)
        m_run->stop();
}

bool FanOutView::isRunning() const
{
    return m_run && m_run->isRunning();
}

QString FanOutView::stripText() const
{
    return m_strip->text();
}

bool FanOutView::eventFilter(QObject *watched, QEvent *event)
{
    // Esc stops every alias. The override is taken first, so that the window's own Esc (which
    // would close the result) does not fire while the run lasts.
    if ((event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress)
        && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape
        && static_cast<QKeyEvent *>(event)->modifiers() == Qt::NoModifier && isRunning()
        && watched->isWidgetType()
        && static_cast<QWidget *>(watched)->window() == m_strip->window()) {
        event->accept();
        if (event->type() == QEvent::KeyPress)
            stop();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void FanOutView::statusChanged(int index)
{
    const FanOutRun::Status &status = m_run->statuses()[index];
    HistoryRecorder *history = m_history ? m_history() : nullptr;
    if (status.state == FanOutRun::State::Running && history) {
        m_historyRuns[index] =
            history->runStarted(status.sql, status.alias, QDateTime::currentMSecsSinceEpoch());
    } else if (status.state != FanOutRun::State::Running && m_historyRuns[index] && history) {
        const RunOutcome outcome = status.state == FanOutRun::State::Done ? RunOutcome::Completed
            : status.state == FanOutRun::State::Stopped                   ? RunOutcome::Abandoned
                                                                          : RunOutcome::Error;
        history->runEnded(m_historyRuns[index], status.elapsedMs, outcome, status.error);
        if (status.state == FanOutRun::State::Done)
            history->runCounted(m_historyRuns[index], status.rows);
        m_historyRuns[index] = 0;
    }
    showStrip();
}

void FanOutView::rowsArrived()
{
    // The grid takes what arrived when it holds the merged result; a walk that holds it (a sort,
    // Ctrl+End) takes the rows itself.
    QueryDataset *result = m_shown.get();
    if (result && m_serial && result->serial() == m_serial && result->IsOpen()) {
        result->fetchMore(); // on this thread: only what has arrived, nothing waits
        m_shown.source()->syncRows();
    }
    showStrip();
}

void FanOutView::runEnded()
{
    rowsArrived(); // the last rows
    if (m_filtering) {
        qApp->removeEventFilter(this);
        m_filtering = false;
    }
    int done = 0;
    for (const FanOutRun::Status &status : m_run->statuses())
        done += status.state == FanOutRun::State::Done;
    emit ended(QStringLiteral("Select Complete on %1 of %2 aliases")
                   .arg(done)
                   .arg(m_run->statuses().size()));
}

void FanOutView::showStrip()
{
    if (!m_run)
        return;
    const QLocale locale;
    QStringList parts;
    for (const FanOutRun::Status &status : m_run->statuses()) {
        QString part = status.alias + QStringLiteral(": ");
        switch (status.state) {
        case FanOutRun::State::Waiting:
            part += QStringLiteral("waiting");
            break;
        case FanOutRun::State::Running:
            part += QStringLiteral("%1 rows so far").arg(locale.toString(status.rows));
            break;
        case FanOutRun::State::Done:
            part += QStringLiteral("%1 rows in %2 s")
                        .arg(locale.toString(status.rows),
                            locale.toString(double(status.elapsedMs) / 1000.0, 'f', 2));
            break;
        case FanOutRun::State::Stopped:
            part += QStringLiteral("stopped after %1 rows").arg(locale.toString(status.rows));
            break;
        case FanOutRun::State::Skipped:
            part += QStringLiteral("skipped: ") + status.error;
            break;
        case FanOutRun::State::Failed:
            part += QStringLiteral("error: ") + status.error.simplified();
            if (status.rows > 0)
                part += QStringLiteral(" (after %1 rows)").arg(locale.toString(status.rows));
            break;
        }
        parts << part;
    }
    m_strip->setText(parts.join(QStringLiteral("  |  ")));
}
