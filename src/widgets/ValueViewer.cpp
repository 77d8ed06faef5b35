#include "widgets/ValueViewer.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QJsonDocument>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

ValueViewer::ValueViewer(const QString &title, const QString &text, QWidget *parent)
    : QDialog(parent)
    , m_text(text)
{
    build(title, !indented(text).isEmpty());
}

ValueViewer::ValueViewer(const QString &title, const QByteArray &bytes, QWidget *parent)
    : QDialog(parent)
    , m_text(hexDump(bytes))
    , m_bytes(bytes)
    , m_binary(true)
{
    build(title, false);
}

void ValueViewer::build(const QString &title, bool canIndent)
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
    m_view->setPlainText(m_text);

    m_find = new QLineEdit(this); // owned (Qt parent)
    m_find->setObjectName(QStringLiteral("ValueFind"));
    m_find->setPlaceholderText(QStringLiteral("Find"));
    connect(m_find, &QLineEdit::returnPressed, this, &ValueViewer::findNext);
    m_indent = new QCheckBox(QStringLiteral("Indented"), this); // owned (Qt parent)
    m_indent->setObjectName(QStringLiteral("ValueIndented"));
    m_indent->setVisible(canIndent);
    connect(m_indent, &QCheckBox::toggled, this, &ValueViewer::showIndented);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this); // owned (Qt parent)
    QPushButton *copy = buttons->addButton(QStringLiteral("Copy"), QDialogButtonBox::ActionRole);
    copy->setObjectName(QStringLiteral("ValueCopy"));
    QPushButton *save =
        buttons->addButton(QStringLiteral("Save as…"), QDialogButtonBox::ActionRole);
    save->setObjectName(QStringLiteral("ValueSaveAs"));
    connect(copy, &QPushButton::clicked, this, &ValueViewer::copyValue);
    connect(save, &QPushButton::clicked, this, &ValueViewer::saveAs);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *top = new QHBoxLayout; // owned by the layout below
    top->addWidget(m_find, 1);
    top->addWidget(m_indent);
    auto *layout = new QVBoxLayout(this); // owned (Qt parent)
    layout->addLayout(top);
    layout->addWidget(m_view, 1);
    layout->addWidget(buttons);
}

QString ValueViewer::shownText() const
{
    return m_view->toPlainText();
}

void ValueViewer::findNext()
{
    const QString wanted = m_find->text();
    if (wanted.isEmpty())
        return;
    if (!m_view->find(wanted)) {
        // From the top once more, as a search field of any editor does.
        QTextCursor cursor = m_view->textCursor();
        cursor.movePosition(QTextCursor::Start);
        m_view->setTextCursor(cursor);
        m_view->find(wanted);
    }
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
    QSaveFile file(name);
    const QByteArray bytes = m_binary ? m_bytes : m_text.toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        QMessageBox::critical(this, windowTitle(),
            QStringLiteral("Cannot write %1: %2").arg(name, file.errorString()));
}

void ValueViewer::showIndented(bool on)
{
    m_view->setPlainText(on ? indented(m_text) : m_text);
}

QString ValueViewer::indented(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.startsWith(u'{') || trimmed.startsWith(u'[')) {
        QJsonParseError error;
        const QJsonDocument json = QJsonDocument::fromJson(trimmed.toUtf8(), &error);
        if (error.error == QJsonParseError::NoError)
            return QString::fromUtf8(json.toJson(QJsonDocument::Indented));
        return {};
    }
    if (!trimmed.startsWith(u'<'))
        return {};
    QXmlStreamReader reader(trimmed);
    QString out;
    QXmlStreamWriter writer(&out);
    writer.setAutoFormatting(true);
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isWhitespace())
            continue; // the writer lays the value out anew
        if (reader.isStartDocument() && reader.documentVersion().isEmpty())
            continue; // no declaration is added to a value that had none
        if (!reader.hasError())
            writer.writeCurrentToken(reader);
    }
    if (reader.hasError())
        return {};
    // Auto-formatting starts the first element on a line of its own.
    return out.startsWith(u'\n') ? out.mid(1) : out;
}

QString ValueViewer::hexDump(const QByteArray &bytes)
{
    QString out;
    out.reserve(bytes.size() / 16 * 78 + 78);
    for (qsizetype at = 0; at < bytes.size(); at += 16) {
        const QByteArray row = bytes.mid(at, 16);
        out += QStringLiteral("%1  ").arg(at, 8, 16, QLatin1Char('0'));
        for (int i = 0; i < 16; ++i) {
            out += i < row.size()
                ? QStringLiteral("%1 ").arg(uchar(row[i]), 2, 16, QLatin1Char('0'))
                : QStringLiteral("   ");
            if (i == 7)
                out += QLatin1Char(' ');
        }
        out += QLatin1Char(' ');
        for (const char c : row)
            out += (uchar(c) >= 0x20 && uchar(c) < 0x7f) ? QLatin1Char(c) : QLatin1Char('.');
        out += QLatin1Char('\n');
    }
    return out;
}
