#pragma once

#include <QDialog>
#include <QPoint>

class QLineEdit;
class QPushButton;

// The modeless find-and-replace dialog of the SQL editor: a search text, a replacement text and
// the buttons Find Next, Replace, Replace All and Cancel. It only reports presses; the editor
// does the replacing. Keeps both texts and its place between uses. Owned by the main window;
// UI thread only.
class TReplaceDialog : public QDialog
{
    Q_OBJECT

public:
    explicit TReplaceDialog(QWidget *parent = nullptr);

    QString FindText() const;
    QString ReplaceText() const;
    void setFindText(const QString &text);
    void setReplaceText(const QString &text);
    // True when the last Replace signal came from Replace All, false when from Replace.
    bool ReplaceAllPressed() const { return m_replaceAll; }

    void setVisible(bool visible) override;

signals:
    void Replace(); // Replace or Replace All was pressed
    void Find(); // Find Next was pressed

protected:
    void showEvent(QShowEvent *event) override;

private:
    QLineEdit *m_findEdit; // owned by the dialog (Qt parent)
    QLineEdit *m_replaceEdit; // owned by the dialog (Qt parent)
    bool m_replaceAll = false;
    bool m_placed = false; // m_lastPos holds where the dialog was last closed
    QPoint m_lastPos;
};
