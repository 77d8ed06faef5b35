#pragma once

#include <QDateTime>
#include <QMessageBox>
#include <QString>
#include <QVector>

// What a failed statement leaves for the person who must fix it or hand it on.
struct StatementError
{
    struct Record
    {
        QString sqlState;
        int nativeError = 0; // DB2's SQLCODE
        QString message;
    };
    QString message; // the driver's message, as the box shows it
    QVector<Record> records; // every diagnostic record
    QString statement;
    QString alias;
    QString userId; // never the password
    QDateTime time;
};

// The box a failed statement shows: the driver's message as its text, the SQLSTATE and native
// code of each record under it, every record in its details, and "Copy details" (Ctrl+C too),
// which puts the statement, alias, user ID, time and records, each labelled, on the clipboard and
// leaves the box open; Esc and the close button close it as OK does. Lives on its handler's stack;
// UI thread.
class StatementErrorBox : public QMessageBox
{
    Q_OBJECT

public:
    StatementErrorBox(const StatementError &error, QWidget *parent = nullptr);

    // A line under the buttons (a hint such as "Did you mean ORDERS?"); nothing when empty.
    void addNote(const QString &text);

    // The text "Copy details" puts on the clipboard.
    static QString detailsText(const StatementError &error);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void copyDetails();
    StatementError m_error;
};
