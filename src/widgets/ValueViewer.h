#pragma once

#include <QByteArray>
#include <QDialog>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QThread;
class QToolButton;

// A read-only viewer of one whole value, whatever its length: wrapped text with search, copy and
// "Save as…"; JSON and XML can be shown indented, binary values as a hex dump. A long value is
// shown a part at a time, so that opening it costs the same for any length; search, copy and save
// take the whole value. Indenting runs on a thread of its own. Modal, on the stack of the handler
// that opens it; UI thread.
class ValueViewer : public QDialog
{
    Q_OBJECT

public:
    // Writes the value to the file the user chose; returns an empty text when it was written,
    // else the message to show. Without one the viewer offers no "Save as…".
    using FileWriter = std::function<QString(const QString &path, const QByteArray &bytes)>;

    // A text value; title names the column.
    ValueViewer(const QString &title, const QString &text, FileWriter writer = {},
        QWidget *parent = nullptr);
    // A binary value.
    ValueViewer(const QString &title, const QByteArray &bytes, FileWriter writer = {},
        QWidget *parent = nullptr);
    ~ValueViewer() override;

    // Characters of text, and bytes of a binary value, shown in one part.
    static constexpr qsizetype partChars = 64 * 1024;
    static constexpr qsizetype partBytes = 16 * 1024;

    // JSON or XML laid out with indentation, or an empty text when the value is neither.
    static QString indented(const QString &text);
    // Offset, sixteen bytes in hex and their printable ASCII, one line per sixteen bytes.
    static QString hexDump(const QByteArray &bytes);

    QString shownText() const; // the part shown

signals:
    void indentEnded(); // the indented layout is shown, or the note says why not

private:
    void build(const QString &title, bool canIndent, bool canSave);
    qsizetype total() const; // characters, or bytes of a binary value
    qsizetype partStart(int part) const;
    int partCount() const;
    void showPart(int part, qsizetype selectFrom = -1, qsizetype selectTo = -1);
    void findNext();
    void copyValue();
    void saveAs();
    void showIndented(bool on);
    void indentFinished();

    QString m_text; // the value as text
    QByteArray m_bytes; // a binary value's bytes, saved as they are
    bool m_binary = false;
    FileWriter m_writer;
    QString m_indented; // once made
    bool m_showIndented = false;
    int m_part = 0;

    struct IndentJob;
    std::shared_ptr<IndentJob> m_job; // shared with its thread
    std::unique_ptr<QThread> m_thread; // waited for on destruction

    QPlainTextEdit *m_view = nullptr; // owned (Qt parent)
    QLineEdit *m_find = nullptr; // owned (Qt parent)
    QCheckBox *m_indent = nullptr; // owned (Qt parent)
    QLabel *m_note = nullptr; // owned (Qt parent)
    QLabel *m_partLabel = nullptr; // owned (Qt parent)
    QToolButton *m_previous = nullptr; // owned (Qt parent)
    QToolButton *m_next = nullptr; // owned (Qt parent)
};
