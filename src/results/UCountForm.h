#pragma once

#include "results/ExportProfile.h"

#include <QDialog>
#include <QIcon>

#include <memory>

namespace Ui {
class TCountForm;
}

// The extract dialog: asks how many records an export writes, whether they go to the clipboard
// instead of a file, and in which format (the button's own by default). Each export creates one
// (parent: the main window), reads its controls after OK and frees it on every path. The caller
// hands in the OK and Cancel buttons' glyphs. UI thread only.
class TCountForm : public QDialog
{
    Q_OBJECT

public:
    explicit TCountForm(QWidget *parent = nullptr, const QIcon &okGlyph = QIcon(),
        const QIcon &cancelGlyph = QIcon());
    ~TCountForm() override;

    // The answer, read after the dialog closed with OK.
    bool allRecords() const; // AllRecords chosen
    int amount() const; // ExtractCount's text as a whole number; 1 when it is not one
    bool toClipboardChecked() const; // toClipboard ticked
    // The format chosen in ExportProfile, with the table name typed for SQL INSERT.
    ExportProfile exportProfile() const;

    // Chooses the format the dialog opens with: the one of the button that opened it.
    void setExportFormat(ExportFormat format);
    // Says which rows the export takes when the grid shows them sorted or filtered ("Sorted by
    // NAME; filtered: 12 of 40 rows"); empty: every row in fetched order.
    void setViewNote(const QString &note);
    // The database that SQL INSERT statements are written for (the alias's driver), said under
    // the other controls while that format is chosen.
    void setSqlTarget(SqlDialect dialect);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    // Both radio buttons: the amount box is enabled exactly while "Amount Specified:" is chosen.
    void EXTtoCountClick(QObject *Sender);
    // The table name is asked for SQL INSERT only, and OK waits for one there.
    void ExportProfileChange(QObject *Sender);

    std::unique_ptr<Ui::TCountForm> ui;
    SqlDialect m_sqlTarget = SqlDialect::Standard;
};

// The dialog of the export that is running, or null: set when an export creates it, reset when
// that export frees it.
extern TCountForm *CountForm; // not owned: the export that created it frees it
