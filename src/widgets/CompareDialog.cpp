#include "widgets/CompareDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

CompareDialog::CompareDialog(const QStringList &names, const QList<QStringList> &columns, int left,
    int right, const QStringList &keys, QWidget *parent)
    : QDialog(parent)
    , m_columns(columns)
    , m_left(new QComboBox(this)) // the widgets are owned by the dialog (Qt parent)
    , m_right(new QComboBox(this))
    , m_keys(new QListWidget(this))
    , m_keepSame(new QCheckBox(QStringLiteral("Keep equal rows"), this))
{
    setObjectName(QStringLiteral("CompareDialog"));
    setWindowTitle(QStringLiteral("Compare results"));
    auto *layout = new QVBoxLayout(this); // owned by the dialog (Qt parent)
    auto *form = new QFormLayout; // owned by the layout
    m_left->setObjectName(QStringLiteral("CompareLeft"));
    m_right->setObjectName(QStringLiteral("CompareRight"));
    m_left->addItems(names);
    m_right->addItems(names);
    m_left->setCurrentIndex(left);
    m_right->setCurrentIndex(right);
    form->addRow(QStringLiteral("&Left:"), m_left);
    form->addRow(QStringLiteral("&Right:"), m_right);
    layout->addLayout(form);
    auto *label = new QLabel(QStringLiteral("&Key columns (Space ticks):"), this);
    label->setBuddy(m_keys);
    layout->addWidget(label);
    m_keys->setObjectName(QStringLiteral("CompareKeys"));
    layout->addWidget(m_keys);
    listColumns();
    for (int row = 0; row < m_keys->count(); ++row)
        if (keys.contains(m_keys->item(row)->text(), Qt::CaseInsensitive))
            m_keys->item(row)->setCheckState(Qt::Checked);
    m_keepSame->setObjectName(QStringLiteral("CompareKeepSame"));
    layout->addWidget(m_keepSame);
    auto *buttons = new QDialogButtonBox(this); // owned by the dialog (Qt parent)
    QPushButton *run = buttons->addButton(QStringLiteral("Compare"), QDialogButtonBox::AcceptRole);
    run->setObjectName(QStringLiteral("CompareRun"));
    run->setDefault(true);
    buttons->addButton(QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    connect(
        m_left, qOverload<int>(&QComboBox::currentIndexChanged), this, &CompareDialog::listColumns);
    m_left->setFocus();
}

void CompareDialog::listColumns()
{
    const QStringList ticked = keys();
    m_keys->clear();
    const int left = m_left->currentIndex();
    if (left < 0 || left >= m_columns.size())
        return;
    for (const QString &column : m_columns[left]) {
        auto *item = new QListWidgetItem(column, m_keys); // owned by the list
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(
            ticked.contains(column, Qt::CaseInsensitive) ? Qt::Checked : Qt::Unchecked);
    }
    m_keys->setCurrentRow(0);
}

int CompareDialog::left() const
{
    return m_left->currentIndex();
}

int CompareDialog::right() const
{
    return m_right->currentIndex();
}

QStringList CompareDialog::keys() const
{
    QStringList ticked;
    for (int row = 0; row < m_keys->count(); ++row)
        if (m_keys->item(row)->checkState() == Qt::Checked)
            ticked << m_keys->item(row)->text();
    return ticked;
}

bool CompareDialog::keepSame() const
{
    return m_keepSame->isChecked();
}

void CompareDialog::accept()
{
    if (left() < 0 || left() == right() || keys().isEmpty())
        return; // two different results and a key are needed: the dialog stays
    QDialog::accept();
}
