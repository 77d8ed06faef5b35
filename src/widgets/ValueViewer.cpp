#include "widgets/ValueViewer.h"

#include "widgets/ValueLayout.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QThread>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

// The indenting thread's input and outcome; the viewer sets `cancel` when it closes first.
struct ValueViewer::IndentJob
{
    QString text;
    std::atomic_bool cancel { false };
    ValueLayout::Indented result;
};

ValueViewer::ValueViewer(
    const QString &title, const QString &text, FileWriter writer, QWidget *parent)
    : QDialog(parent)
    , m_text(text)
    , m_writer(std::move(writer))
{
    build(title, ValueLayout::guess(text) != ValueLayout::Kind::None, bool(m_writer));
}

ValueViewer::ValueViewer(
    const QString &title, const QByteArray &bytes, FileWriter writer, QWidget *parent)
    : QDialog(parent)
    , m_bytes(bytes)
    , m_binary(true)
    , m_writer(std::move(writer))
{
    build(title, false, bool(m_writer));
}

ValueViewer::~ValueViewer()
{
    if (m_thread) {
        m_job->cancel = true; // polled often: the wait is short
        m_thread->wait();
    }
}

void ValueViewer::build(const QString &title, bool canIndent, bool canSave)
{
    setObjectName(QStringLiteral("ValueViewer"));
    setWindowTitle(title);
    resize(720, 480);

    m_view = new QPlainTextEdit(this); // owned (Qt parent)
    m_view->setObjectName(QStringLiteral("ValueText"));
    m_view->setReadOnly(true);
    m_view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    // Breaking anywhere keeps wrapping linear in a long line without blanks (a hex or base64
    // value), where breaking at words would take time growing with the square of its length.
    m_view->setWordWrapMode(m_binary ? QTextOption::NoWrap : QTextOption::WrapAnywhere);

    m_find = new QLineEdit(this); // owned (Qt parent)
    m_find->setObjectName(QStringLiteral("ValueFind"));
    m_find->setPlaceholderText(QStringLiteral("Find"));
    connect(m_find, &QLineEdit::returnPressed, this, &ValueViewer::findNext);
    m_indent = new QCheckBox(QStringLiteral("Indented"), this); // owned (Qt parent)
    m_indent->setObjectName(QStringLiteral("ValueIndented"));
    m_indent->setVisible(canIndent);
    connect(m_indent, &QCheckBox::toggled, this, &ValueViewer::showIndented);

    m_note = new QLabel(this); // owned (Qt parent)
    m_note->setObjectName(QStringLiteral("ValueNote"));
    m_partLabel = new QLabel(this); // owned (Qt parent)
    m_partLabel->setObjectName(QStringLiteral("ValuePart"));
    m_previous = new QToolButton(this); // owned (Qt parent)
    m_previous->setObjectName(QStringLiteral("ValuePrevious"));
    m_previous->setText(QStringLiteral("Previous part"));
    m_next = new QToolButton(this); // owned (Qt parent)
    m_next->setObjectName(QStringLiteral("ValueNext"));
    m_next->setText(QStringLiteral("Next part"));
    connect(m_previous, &QToolButton::clicked, this, [this] { showPart(m_part - 1); });
    connect(m_next, &QToolButton::clicked, this, [this] { showPart(m_part + 1); });

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this); // owned (Qt parent)
    QPushButton *copy = buttons->addButton(QStringLiteral("Copy"), QDialogButtonBox::ActionRole);
    copy->setObjectName(QStringLiteral("ValueCopy"));
    connect(copy, &QPushButton::clicked, this, &ValueViewer::copyValue);
    if (canSave) {
        QPushButton *save =
            buttons->addButton(QStringLiteral("Save as…"), QDialogButtonBox::ActionRole);
        save->setObjectName(QStringLiteral("ValueSaveAs"));
        connect(save, &QPushButton::clicked, this, &ValueViewer::saveAs);
    }
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *top = new QHBoxLayout; // owned by the layout below
    top->addWidget(m_find, 1);
    top->addWidget(m_indent);
    auto *parts = new QHBoxLayout; // owned by the layout below
    parts->addWidget(m_note, 1);
    parts->addWidget(m_partLabel);
    parts->addWidget(m_previous);
    parts->addWidget(m_next);
    auto *layout = new QVBoxLayout(this); // owned (Qt parent)
    layout->addLayout(top);
    layout->addWidget(m_view, 1);
    layout->addLayout(parts);
    layout->addWidget(buttons);
    showPart(0);
}

QString ValueViewer::shownText() const
{
    return m_view->toPlainText();
}

qsizetype ValueViewer::total() const
{
    return m_binary ? m_bytes.size() : (m_showIndented ? m_indented : m_text).size();
}

qsizetype ValueViewer::partStart(int part) const
{
    if (m_binary)
        return std::min(total(), qsizetype(part) * partBytes);
    const QString &text = m_showIndented ? m_indented : m_text;
    qsizetype start = std::min(text.size(), qsizetype(part) * partChars);
    // Never between the two halves of a character.
    if (start > 0 && start < text.size() && text[start].isLowSurrogate())
        --start;
    return start;
}

int ValueViewer::partCount() const
{
    const qsizetype size = m_binary ? partBytes : partChars;
    return int(std::max<qsizetype>(1, (total() + size - 1) / size));
}

void ValueViewer::showPart(int part, qsizetype selectFrom, qsizetype selectTo)
{
    const int count = partCount();
    m_part = std::clamp(part, 0, count - 1);
    const qsizetype start = partStart(m_part), end = partStart(m_part + 1);
    const QString shown = m_binary
        ? ValueLayout::hexRows(QByteArrayView(m_bytes).sliced(start, end - start), start)
        : (m_showIndented ? m_indented : m_text).mid(start, end - start);
    m_view->setPlainText(shown);
    if (selectFrom >= 0) {
        // A match that runs on into the next part is selected up to the end of this one.
        QTextCursor cursor = m_view->textCursor();
        cursor.setPosition(int(selectFrom));
        cursor.setPosition(int(std::min(selectTo, shown.size())), QTextCursor::KeepAnchor);
        m_view->setTextCursor(cursor);
    }
    const bool parted = count > 1;
    m_partLabel->setVisible(parted);
    m_previous->setVisible(parted);
    m_next->setVisible(parted);
    if (!parted)
        return;
    const QLocale locale;
    m_partLabel->setText(
        QStringLiteral("%1 %2–%3 of %4")
            .arg(m_binary ? QStringLiteral("Bytes") : QStringLiteral("Characters"),
                locale.toString(start + 1), locale.toString(end), locale.toString(total())));
    m_previous->setEnabled(m_part > 0);
    m_next->setEnabled(m_part < count - 1);
}

void ValueViewer::findNext()
{
    const QString wanted = m_find->text();
    if (wanted.isEmpty())
        return;
    const qsizetype after = m_view->textCursor().selectionEnd();
    if (m_binary) {
        // In the dump's text, a part at a time from the one shown, once round.
        const int count = partCount();
        for (int step = 0; step <= count; ++step) {
            const int part = (m_part + step) % count;
            const qsizetype start = partStart(part);
            const QString rows = ValueLayout::hexRows(
                QByteArrayView(m_bytes).sliced(start, partStart(part + 1) - start), start);
            const qsizetype at = rows.indexOf(wanted, step == 0 ? after : 0, Qt::CaseInsensitive);
            if (at >= 0 && (step > 0 || at >= after))
                return showPart(part, at, at + wanted.size());
        }
        return;
    }
    // In the whole value, from the end of the selection, then from the top once more, as a
    // search field of any editor does.
    const QString &text = m_showIndented ? m_indented : m_text;
    qsizetype at = text.indexOf(wanted, partStart(m_part) + after, Qt::CaseInsensitive);
    if (at < 0)
        at = text.indexOf(wanted, 0, Qt::CaseInsensitive);
    if (at < 0)
        return;
    int part = int(at / partChars);
    if (at < partStart(part))
        --part;
    const qsizetype start = partStart(part);
    showPart(part, at - start, at - start + wanted.size());
}

void ValueViewer::copyValue()
{
    // The whole value: a binary one as its bytes in hex, without the dump's layout.
    QApplication::clipboard()->setText(m_binary ? QString::fromLatin1(m_bytes.toHex()) : m_text);
}

void ValueViewer::saveAs()
{
    const QString name = QFileDialog::getSaveFileName(this, QStringLiteral("Save value as"));
    if (name.isEmpty())
        return;
    const QString failure = m_writer(name, m_binary ? m_bytes : m_text.toUtf8());
    if (!failure.isEmpty())
        QMessageBox::critical(this, windowTitle(), failure);
}

void ValueViewer::showIndented(bool on)
{
    if (!on || !m_indented.isEmpty() || m_thread) {
        m_showIndented = on && !m_indented.isEmpty();
        if (!m_thread)
            showPart(0);
        return;
    }
    // Made once, on a thread of its own: a long value takes seconds.
    m_job = std::make_shared<IndentJob>();
    m_job->text = m_text;
    m_thread.reset(QThread::create(
        [job = m_job] { job->result = ValueLayout::indent(job->text, &job->cancel); }));
    connect(m_thread.get(), &QThread::finished, this, &ValueViewer::indentFinished);
    m_note->setText(QStringLiteral("Indenting…"));
    m_thread->start();
}

void ValueViewer::indentFinished()
{
    m_thread->wait();
    m_thread.reset();
    m_indented = std::move(m_job->result.text);
    m_note->setText(m_job->result.error);
    m_job.reset();
    if (m_indented.isEmpty()) {
        // Not indentable: the value stays as it is, and the box cannot be ticked again.
        const QSignalBlocker blocker(m_indent);
        m_indent->setChecked(false);
        m_indent->setEnabled(false);
    }
    showIndented(m_indent->isChecked());
    emit indentEnded();
}

QString ValueViewer::indented(const QString &text)
{
    return ValueLayout::indent(text).text;
}

QString ValueViewer::hexDump(const QByteArray &bytes)
{
    return ValueLayout::hexRows(bytes);
}
