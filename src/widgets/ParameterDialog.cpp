#include "widgets/ParameterDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QTime>
#include <QVBoxLayout>

#include <limits>

namespace {

bool isTime(const QString &text)
{
    for (const char *format : { "HH:mm:ss", "HH:mm", "HH.mm.ss" })
        if (QTime::fromString(text, QLatin1String(format)).isValid())
            return true;
    return false;
}

bool isTimestamp(const QString &text)
{
    // "2024-02-29 13:45:00", with T or DB2's "-" and "." between the parts, fractions allowed.
    static const QRegularExpression shape(
        QStringLiteral("^(\\d{4}-\\d{2}-\\d{2})(?:[ "
                       "T-](\\d{2})[:.](\\d{2})(?:[:.](\\d{2})(?:\\.\\d{1,12})?)?)?$"));
    const QRegularExpressionMatch match = shape.match(text);
    if (!match.hasMatch() || !QDate::fromString(match.captured(1), Qt::ISODate).isValid())
        return false;
    if (match.captured(2).isEmpty())
        return true;
    return QTime(match.captured(2).toInt(), match.captured(3).toInt(), match.captured(4).toInt())
        .isValid();
}

} // namespace

QString ParameterDialog::problem(ParameterKind kind, const QString &text)
{
    const QString value = text.trimmed();
    switch (kind) {
    case ParameterKind::Text:
        return {};
    case ParameterKind::Integer: {
        static const QRegularExpression integer(QStringLiteral("^[+-]?\\d+$"));
        return integer.match(value).hasMatch() ? QString() : tr("not a whole number");
    }
    case ParameterKind::Decimal:
    case ParameterKind::Float: {
        static const QRegularExpression number(
            QStringLiteral("^[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?$"));
        const bool exponent = value.contains(QLatin1Char('e'), Qt::CaseInsensitive);
        return number.match(value).hasMatch() && !(kind == ParameterKind::Decimal && exponent)
            ? QString()
            : tr("not a number (digits with a point: 1234.5)");
    }
    case ParameterKind::Date:
        return QDate::fromString(value, Qt::ISODate).isValid() && value.size() == 10
            ? QString()
            : tr("not a date (yyyy-mm-dd)");
    case ParameterKind::Time:
        return isTime(value) ? QString() : tr("not a time (hh:mm:ss)");
    case ParameterKind::Timestamp:
        return isTimestamp(value) ? QString() : tr("not a timestamp (yyyy-mm-dd hh:mm:ss)");
    }
    return {};
}

ParameterDialog::ParameterDialog(
    const QString &statement, const QVector<ParameterPrompt> &prompts, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("ParameterDialog"));
    setWindowTitle(tr("Parameters"));
    auto *layout = new QVBoxLayout(this);

    auto *shown = new QLabel(this);
    shown->setObjectName(QStringLiteral("ParameterStatement"));
    shown->setText(statement.simplified().left(200));
    shown->setToolTip(statement.left(4000));
    shown->setTextFormat(Qt::PlainText);
    shown->setWordWrap(true);
    layout->addWidget(shown);

    auto *note = new QLabel(tr("Values are sent as they stand: text needs no quotes."), this);
    note->setObjectName(QStringLiteral("ParameterNote"));
    layout->addWidget(note);

    auto *area = new QScrollArea(this);
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    auto *inner = new QWidget(area);
    auto *form = new QFormLayout(inner);
    for (const ParameterPrompt &prompt : prompts) {
        auto *row = new QWidget(inner);
        auto *rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(0, 0, 0, 0);
        auto *value = new QComboBox(row);
        value->setObjectName(QStringLiteral("ParameterValue"));
        value->setEditable(true);
        value->setInsertPolicy(QComboBox::NoInsert);
        value->setMinimumContentsLength(30);
        value->lineEdit()->setMaxLength(std::numeric_limits<int>::max()); // long values whole
        value->addItems(prompt.recent);
        value->setCurrentIndex(prompt.recent.isEmpty() ? -1 : 0);
        value->lineEdit()->selectAll();
        auto *null = new QCheckBox(tr("NULL"), row);
        null->setObjectName(QStringLiteral("ParameterNull"));
        null->setChecked(prompt.lastWasNull);
        value->setEnabled(!prompt.lastWasNull);
        connect(null, &QCheckBox::toggled, value, [value](bool on) { value->setEnabled(!on); });
        rowLayout->addWidget(value, 1);
        rowLayout->addWidget(null);
        const QString label = prompt.typeName.isEmpty()
            ? prompt.name
            : QStringLiteral("%1 (%2)").arg(prompt.name, prompt.typeName);
        form->addRow(label, row);
        m_fields.append({ prompt.kind, prompt.list, value, null });
    }
    area->setWidget(inner);
    layout->addWidget(area, 1);

    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("ParameterMessage"));
    m_message->setStyleSheet(QStringLiteral("color: #b00020"));
    m_message->hide();
    layout->addWidget(m_message);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    QPushButton *run = buttons->addButton(tr("Run"), QDialogButtonBox::AcceptRole);
    run->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    if (!m_fields.isEmpty())
        (m_fields.first().value->isEnabled() ? static_cast<QWidget *>(m_fields.first().value)
                                             : m_fields.first().null)
            ->setFocus();
}

QVector<ParameterAnswer> ParameterDialog::answers() const
{
    QVector<ParameterAnswer> answers;
    for (const Field &field : m_fields)
        answers.append({ field.null->isChecked(),
            field.null->isChecked() ? QString() : field.value->currentText() });
    return answers;
}

void ParameterDialog::accept()
{
    QStringList problems;
    QWidget *first = nullptr;
    for (const Field &field : m_fields) {
        QString why;
        const QString text = field.value->currentText();
        if (!field.null->isChecked() && field.list) {
            for (const QString &line : text.split(QLatin1Char('\n')))
                if (why.isEmpty() && !line.trimmed().isEmpty())
                    why = problem(field.kind, line);
        } else if (!field.null->isChecked()) {
            why = problem(field.kind, text);
        }
        field.value->setProperty("invalid", !why.isEmpty());
        field.value->setStyleSheet(
            why.isEmpty() ? QString() : QStringLiteral("QComboBox { border: 1px solid #b00020; }"));
        field.value->setToolTip(why);
        if (!why.isEmpty()) {
            problems << QStringLiteral("\"%1\": %2").arg(field.value->currentText(), why);
            if (!first)
                first = field.value;
        }
    }
    if (first) {
        m_message->setText(problems.join(QLatin1Char('\n')));
        m_message->show();
        first->setFocus();
        return;
    }
    QDialog::accept();
}
