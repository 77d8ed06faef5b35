#pragma once

#include <QByteArray>
#include <QDialog>
#include <QString>

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;

// A read-only viewer of one whole value, whatever its length: wrapped text with search, copy and
// "Save as…"; JSON and XML can be shown indented, binary values as a hex dump. Modal, on the
// stack of the handler that opens it; UI thread.
class ValueViewer : public QDialog
{
    Q_OBJECT

public:
    // A text value; title names the column.
    ValueViewer(const QString &title, const QString &text, QWidget *parent = nullptr);
    // A binary value.
    ValueViewer(const QString &title, const QByteArray &bytes, QWidget *parent = nullptr);

    // JSON or XML laid out with indentation, or an empty text when the value is neither.
    static QString indented(const QString &text);
    // Offset, sixteen bytes in hex and their printable ASCII, one line per sixteen bytes.
    static QString hexDump(const QByteArray &bytes);

    QString shownText() const;

private:
    void build(const QString &title, bool canIndent);
    void findNext();
    void copyValue();
    void saveAs();
    void showIndented(bool on);

    QString m_text; // the value as text (a hex dump for a binary value)
    QByteArray m_bytes; // a binary value's bytes, saved as they are
    bool m_binary = false;
    QPlainTextEdit *m_view = nullptr; // owned (Qt parent)
    QLineEdit *m_find = nullptr; // owned (Qt parent)
    QCheckBox *m_indent = nullptr; // owned (Qt parent)
};
