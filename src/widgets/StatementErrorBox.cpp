#include "widgets/StatementErrorBox.h"

#include <QApplication>
#include <QClipboard>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

namespace {

QString codes(const StatementError::Record &record)
{
    return QStringLiteral("SQLSTATE %1, native code %2")
        .arg(record.sqlState.isEmpty() ? QStringLiteral("(none)") : record.sqlState)
        .arg(record.nativeError);
}

} // namespace

StatementErrorBox::StatementErrorBox(const StatementError &error, QWidget *parent)
    : QMessageBox(QMessageBox::NoIcon, QApplication::applicationName(), error.message,
        QMessageBox::Ok, parent)
    , m_error(error)
{
    setObjectName(QStringLiteral("StatementErrorBox"));
    if (!error.records.isEmpty()) {
        QStringList lines;
        QStringList details;
        for (const StatementError::Record &record : error.records) {
            lines << codes(record);
            details << codes(record) + QLatin1Char('\n') + record.message;
        }
        setInformativeText(lines.join(QLatin1Char('\n')));
        setDetailedText(details.join(QStringLiteral("\n\n")));
    }
    // The box's own handling would close it on any button: this one copies and stays.
    QPushButton *copy = addButton(QStringLiteral("Copy details"), QMessageBox::ActionRole);
    copy->setObjectName(QStringLiteral("CopyDetails"));
    copy->disconnect();
    connect(copy, &QPushButton::clicked, this, &StatementErrorBox::copyDetails);
    setDefaultButton(QMessageBox::Ok);
    // With a second button the box no longer finds its escape button by itself; without one,
    // Esc and the close button would do nothing.
    setEscapeButton(QMessageBox::Ok);
}

void StatementErrorBox::addNote(const QString &text)
{
    auto *grid = qobject_cast<QGridLayout *>(layout());
    if (text.isEmpty() || !grid)
        return;
    auto *note = new QLabel(text, this); // owned by the box
    note->setObjectName(QStringLiteral("DidYouMean"));
    note->setTextFormat(Qt::PlainText);
    note->setWordWrap(true);
    note->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Below every control the box has, so that their order and keys stay as they are.
    grid->addWidget(note, grid->rowCount(), 0, 1, grid->columnCount());
}

QString StatementErrorBox::detailsText(const StatementError &error)
{
    QString text;
    const auto line = [&text](const QString &label, const QString &value) {
        text += label + QStringLiteral(": ") + value + QStringLiteral("\r\n");
    };
    line(QStringLiteral("Time"), error.time.toString(Qt::ISODate));
    line(QStringLiteral("Alias"), error.alias);
    line(QStringLiteral("User ID"), error.userId);
    line(QStringLiteral("Message"), error.message);
    for (int i = 0; i < error.records.size(); ++i) {
        const StatementError::Record &record = error.records[i];
        const QString n = QString::number(i + 1);
        line(QStringLiteral("Record ") + n + QStringLiteral(" SQLSTATE"), record.sqlState);
        line(QStringLiteral("Record ") + n + QStringLiteral(" native code"),
            QString::number(record.nativeError));
        line(QStringLiteral("Record ") + n + QStringLiteral(" message"), record.message);
    }
    text += QStringLiteral("Statement:\r\n") + error.statement;
    if (!error.statement.endsWith(QStringLiteral("\r\n")))
        text += QStringLiteral("\r\n");
    return text;
}

void StatementErrorBox::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Copy)) {
        copyDetails();
        return;
    }
    QMessageBox::keyPressEvent(event);
}

void StatementErrorBox::copyDetails()
{
    QApplication::clipboard()->setText(detailsText(m_error));
}
