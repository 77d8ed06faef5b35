#include "widgets/FanOutDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

FanOutDialog::FanOutDialog(const QStringList &aliases, const QStringList &ticked, QWidget *parent)
    : QDialog(parent)
    , m_list(new QListWidget(this)) // owned by the dialog (Qt parent)
{
    setObjectName(QStringLiteral("FanOutDialog"));
    setWindowTitle(QStringLiteral("Run on several aliases"));
    auto *layout = new QVBoxLayout(this); // owned by the dialog (Qt parent)
    auto *label = new QLabel(
        QStringLiteral("Run the query on the ticked aliases (Space ticks, Return runs):"), this);
    layout->addWidget(label);
    m_list->setObjectName(QStringLiteral("FanOutAliases"));
    for (const QString &alias : aliases) {
        auto *item = new QListWidgetItem(alias, m_list); // owned by the list
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        const bool wasTicked = ticked.contains(alias.trimmed(), Qt::CaseInsensitive);
        item->setCheckState(wasTicked ? Qt::Checked : Qt::Unchecked);
    }
    m_list->setCurrentRow(0);
    label->setBuddy(m_list);
    layout->addWidget(m_list);
    auto *buttons = new QDialogButtonBox(this); // owned by the dialog (Qt parent)
    QPushButton *run = buttons->addButton(QStringLiteral("Run"), QDialogButtonBox::AcceptRole);
    run->setObjectName(QStringLiteral("FanOutRun"));
    run->setDefault(true);
    buttons->addButton(QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    m_list->setFocus();
}

QStringList FanOutDialog::tickedAliases() const
{
    QStringList ticked;
    for (int row = 0; row < m_list->count(); ++row) {
        if (m_list->item(row)->checkState() == Qt::Checked)
            ticked << m_list->item(row)->text();
    }
    return ticked;
}

void FanOutDialog::accept()
{
    if (tickedAliases().isEmpty())
        return; // nothing to run on: the dialog stays
    QDialog::accept();
}
