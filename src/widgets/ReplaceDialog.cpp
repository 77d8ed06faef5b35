#include "widgets/ReplaceDialog.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>
#include <QValidator>

#include <algorithm>

namespace {

constexpr int kMaxTextLength = 255;

// Keeps a field to one line: text inserted with a line break in it (a paste) is cut at its
// first break, as a single-line edit control does.
class OneLineValidator : public QValidator
{
public:
    using QValidator::QValidator;

    State validate(QString &input, int &pos) const override
    {
        qsizetype brk = input.indexOf(QLatin1Char('\n'));
        const qsizetype cr = input.indexOf(QLatin1Char('\r'));
        if (brk < 0 || (cr >= 0 && cr < brk))
            brk = cr;
        if (brk < 0)
            return Acceptable;
        // The cursor stands behind the inserted text: drop from the break up to it.
        const qsizetype end = std::max<qsizetype>(pos, brk + 1);
        input.remove(brk, end - brk);
        input.remove(QLatin1Char('\r'));
        input.remove(QLatin1Char('\n'));
        pos = int(brk);
        return Acceptable;
    }
};

} // namespace

TReplaceDialog::TReplaceDialog(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("ReplaceDialog1"));
    setWindowTitle(tr("Replace"));
    setModal(false);

    m_findEdit = new QLineEdit(this); // owned by the dialog
    m_findEdit->setObjectName(QStringLiteral("FindEdit"));
    m_findEdit->setMaxLength(kMaxTextLength);
    m_findEdit->setValidator(new OneLineValidator(m_findEdit)); // owned by the field
    m_replaceEdit = new QLineEdit(this); // owned by the dialog
    m_replaceEdit->setObjectName(QStringLiteral("ReplaceEdit"));
    m_replaceEdit->setMaxLength(kMaxTextLength);
    m_replaceEdit->setValidator(new OneLineValidator(m_replaceEdit)); // owned by the field

    auto *findLabel = new QLabel(tr("Fi&nd what:"), this); // owned by the dialog
    findLabel->setBuddy(m_findEdit);
    auto *replaceLabel = new QLabel(tr("Re&place with:"), this); // owned by the dialog
    replaceLabel->setBuddy(m_replaceEdit);

    auto makeButton = [this](const QString &name, const QString &caption) {
        auto *button = new QPushButton(caption, this); // owned by the dialog
        button->setObjectName(name);
        button->setAutoDefault(false);
        return button;
    };
    QPushButton *findNext = makeButton(QStringLiteral("FindNextButton"), tr("&Find Next"));
    QPushButton *replace = makeButton(QStringLiteral("ReplaceButton"), tr("&Replace"));
    QPushButton *replaceAll = makeButton(QStringLiteral("ReplaceAllButton"), tr("Replace &All"));
    QPushButton *cancel = makeButton(QStringLiteral("CancelButton"), tr("Cancel"));
    findNext->setDefault(true);

    auto *fields = new QGridLayout; // owned by the dialog's layout
    fields->addWidget(findLabel, 0, 0);
    fields->addWidget(m_findEdit, 0, 1);
    fields->addWidget(replaceLabel, 1, 0);
    fields->addWidget(m_replaceEdit, 1, 1);
    fields->setRowStretch(2, 1);

    auto *buttons = new QVBoxLayout; // owned by the dialog's layout
    buttons->addWidget(findNext);
    buttons->addWidget(replace);
    buttons->addWidget(replaceAll);
    buttons->addWidget(cancel);
    buttons->addStretch(1);

    auto *layout = new QHBoxLayout(this); // owned by the dialog
    layout->addLayout(fields, 1);
    layout->addLayout(buttons);
    m_findEdit->setMinimumWidth(200);

    setTabOrder(m_findEdit, m_replaceEdit);
    setTabOrder(m_replaceEdit, findNext);
    setTabOrder(findNext, replace);
    setTabOrder(replace, replaceAll);
    setTabOrder(replaceAll, cancel);

    connect(findNext, &QPushButton::clicked, this, &TReplaceDialog::Find);
    connect(replace, &QPushButton::clicked, this, [this] {
        m_replaceAll = false;
        emit Replace();
    });
    connect(replaceAll, &QPushButton::clicked, this, [this] {
        m_replaceAll = true;
        emit Replace();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

QString TReplaceDialog::FindText() const
{
    return m_findEdit->text();
}

QString TReplaceDialog::ReplaceText() const
{
    return m_replaceEdit->text();
}

void TReplaceDialog::setFindText(const QString &text)
{
    m_findEdit->setText(text);
}

void TReplaceDialog::setReplaceText(const QString &text)
{
    m_replaceEdit->setText(text);
}

void TReplaceDialog::setVisible(bool visible)
{
    if (!visible && isVisible()) {
        m_lastPos = pos();
        m_placed = true;
    } else if (visible && !isVisible() && m_placed) {
        move(m_lastPos); // a moved dialog is not centred again on its parent
    }
    QDialog::setVisible(visible);
}

void TReplaceDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    m_findEdit->setFocus(Qt::OtherFocusReason);
    m_findEdit->selectAll();
}
