#pragma once

#include <QList>
#include <QString>

// One remembered statement: the whole text, every line followed by CR LF. Never changed.
class TString
{
public:
    explicit TString(const QString &fullText)
        : FullText(fullText)
    { }
    QString FullText;
};

// An entry of the history: the statement's first line (what the drop-down shows) and its text.
struct HistoryItem
{
    QString Display;
    TString Object;
};

// The history, newest first.
using HistoryItems = QList<HistoryItem>;
