#pragma once

#include "connection/DatabaseError.h"
#include "connection/QueryDataset.h"

#include <QLocale>
#include <QString>
#include <QVector>

#include <memory>
#include <vector>

// What one statement (or one walk to the end of a result) came to: handed to the done call of
// its start on the UI thread, while its worker waits. The call may take `result`; what it leaves
// there is freed on the worker's thread afterwards, since a free may talk to the server.
struct StatementOutcome
{
    // The select's dataset, open unless it failed; the walked result; an exec's statement.
    std::unique_ptr<QueryDataset> result;
    // The statement's further results (a batch, a procedure's result sets), in order, each
    // fetched whole like result then; empty for a statement with one result.
    std::vector<std::unique_ptr<QueryDataset>> moreResults;
    // What the statement's OUT and INOUT parameters held once it ran and its results were read.
    QVector<ParameterOutput> parameterOutputs;
    bool isExec = false; // a statement without a result set
    bool opened = false; // the select's dataset was opened
    bool fetchToEnd = false; // a walk to the end of an open result, not a statement
    bool counted = false; // every record of the result was fetched by the worker
    QString errorText; // the error caught in the run; empty when none
    QVector<DiagnosticRecord> errorRecords; // the driver's records of that error, when it gave any
    qint32 elapsedMs = 0; // of the statement itself (a count after it is not included)
    qint64 rowsAffected = -1; // of an exec, when the driver knows it

    bool failed() const { return !errorText.isEmpty(); }
    QString elapsedText() const { return elapsedText(elapsedMs); }
    // Milliseconds as seconds with four decimals and the locale's separator, then " Seconds".
    static QString elapsedText(qint32 ms, const QLocale &locale = QLocale())
    {
        QLocale plain = locale;
        plain.setNumberOptions(QLocale::OmitGroupSeparator);
        return plain.toString(ms / 1000.0, 'f', 4) + QStringLiteral(" Seconds");
    }
};
