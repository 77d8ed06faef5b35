#include "results/UCountForm.h"

#include "ui_UCountForm.h"

#include <QLabel>
#include <QResizeEvent>

TCountForm *CountForm = nullptr;

namespace {

// Space between the Cancel button and the right edge at the designed size.
constexpr int cancelRightGap = 381 - 227 - 113;

} // namespace

TCountForm::TCountForm(QWidget *parent, const QIcon &okGlyph, const QIcon &cancelGlyph)
    : QDialog(parent)
    , ui(std::make_unique<Ui::TCountForm>())
{
    ui->setupUi(this);
    move(233, 147);

    QFont base(QStringLiteral("MS Sans Serif"));
    base.setPointSize(8);
    setFont(base);
    // The panels' bold 13-pixel font (Designer files can only give point sizes).
    QFont bold(QStringLiteral("MS Sans Serif"));
    bold.setPixelSize(13);
    bold.setBold(true);
    ui->Panel2->setFont(bold);
    ui->Panel1->setFont(bold);

    ui->BitBtn1->setIcon(okGlyph);
    ui->BitBtn2->setIcon(cancelGlyph);
    ui->BitBtn1->setAutoDefault(true);
    ui->BitBtn2->setAutoDefault(false);
    connect(ui->BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui->BitBtn2, &QPushButton::clicked, this, &QDialog::reject);

    // toggled rather than clicked, so that a choice made with the arrow keys counts too.
    connect(
        ui->AllRecords, &QRadioButton::toggled, this, [this] { EXTtoCountClick(ui->AllRecords); });
    connect(
        ui->EXTtoCount, &QRadioButton::toggled, this, [this] { EXTtoCountClick(ui->EXTtoCount); });

    for (const ExportFormat format :
        { ExportFormat::CommaQuote, ExportFormat::Report, ExportFormat::Csv, ExportFormat::Excel,
            ExportFormat::JsonLines, ExportFormat::SqlInsert, ExportFormat::Xlsx })
        ui->ExportProfile->addItem(ExportProfiles::name(format), int(format));
    connect(ui->ExportProfile, &QComboBox::currentIndexChanged, this,
        [this] { ExportProfileChange(ui->ExportProfile); });
    connect(ui->ExportTable, &QLineEdit::textChanged, this,
        [this] { ExportProfileChange(ui->ExportTable); });

    // The keyboard starts on "All" and goes through the answer's own controls first (All, the
    // amount, OK, Cancel, the clipboard box), the format and table name after them. Without
    // this, the first control laid out, the format list, would take the focus, and an arrow key
    // meant for "All" would change the format.
    ui->AllRecords->setFocus();
}

TCountForm::~TCountForm() = default;

bool TCountForm::allRecords() const
{
    return !ui->EXTtoCount->isChecked();
}

int TCountForm::amount() const
{
    bool ok = false;
    const int value = ui->ExtractCount->cleanText().trimmed().toInt(&ok);
    if (!ok)
        return 1;
    return qBound(ui->ExtractCount->minimum(), value, ui->ExtractCount->maximum());
}

bool TCountForm::toClipboardChecked() const
{
    return ui->toClipboard->isChecked();
}

ExportProfile TCountForm::exportProfile() const
{
    const auto format = ExportFormat(ui->ExportProfile->currentData().toInt());
    return ExportProfile(format,
        format == ExportFormat::SqlInsert ? ui->ExportTable->text().trimmed() : QString(),
        m_sqlTarget);
}

void TCountForm::setExportFormat(ExportFormat format)
{
    ui->ExportProfile->setCurrentIndex(ui->ExportProfile->findData(int(format)));
}

void TCountForm::setViewNote(const QString &note)
{
    if (!note.isEmpty())
        ui->ExportNote->setText(
            note + QStringLiteral(". The export writes these rows, in the order shown."));
}

void TCountForm::setSqlTarget(SqlDialect dialect)
{
    m_sqlTarget = dialect;
    // A label only (no focus), after the other controls.
    auto *target = new QLabel(tr("The INSERT statements are written for %1 (the alias's driver).")
                                  .arg(ExportProfiles::dialectName(dialect)),
        ui->Panel3);
    target->setObjectName(QStringLiteral("ExportSqlTarget"));
    target->setWordWrap(true);
    ui->profileLayout->addWidget(target, ui->profileLayout->rowCount(), 0, 1, 2);
    const auto show = [this, target] {
        target->setVisible(exportProfile().format == ExportFormat::SqlInsert);
    };
    connect(ui->ExportProfile, &QComboBox::currentIndexChanged, target, show);
    show();
}

void TCountForm::ExportProfileChange(QObject *)
{
    const bool insert = exportProfile().format == ExportFormat::SqlInsert;
    ui->ExportTable->setEnabled(insert);
    // A workbook is a file, not text: the clipboard box is unticked and disabled meanwhile.
    const bool text = ExportProfiles::isText(exportProfile().format);
    if (!text)
        ui->toClipboard->setChecked(false);
    ui->toClipboard->setEnabled(text);
    ui->BitBtn1->setEnabled(!insert || !ui->ExportTable->text().trimmed().isEmpty());
}

void TCountForm::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    // The Cancel button keeps its distance to the right edge.
    QPushButton *cancel = ui->BitBtn2;
    cancel->move(width() - cancelRightGap - cancel->width(), cancel->y());
}

void TCountForm::EXTtoCountClick(QObject *)
{
    ui->ExtractCount->setEnabled(ui->EXTtoCount->isChecked());
}
