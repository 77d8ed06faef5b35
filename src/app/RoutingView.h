#pragma once

#include "app/Routing.h"

#include <QObject>
#include <QPointer>
#include <QStringList>

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QTimer;

// Shows, right of the page tabs, where the statement in the editor will go and which name chose
// it ("db2t301 ← T301DBA.ORDERS, line 3"), warns when that name stands only in a comment or a
// string or when the statement names schemas of other databases too, and marks a production
// alias unmistakably: a red frame around the editor and the alias box, and the word PRODUCTION.
// A child of the window; UI thread only.
class RoutingView : public QObject
{
    Q_OBJECT

public:
    RoutingView(QPlainTextEdit *editor, QComboBox *aliases, QLabel *label, QObject *parent);

    // The aliases the setting "ProductionAliases" names (default DB2P201 and DB2P401), upper-cased.
    static QStringList productionAliases();
    bool isProduction(const QString &alias) const;

    // Routes the editor's text now (Run and Exec call it before they read the alias box).
    Routing::Choice refresh();
    Routing::Choice refresh(const QString &text); // a text about to run

protected:
    // The label's resizes and its holder's: the room for the text changes.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void show(const Routing::Choice &choice);
    void markProduction();
    void elide();
    int room() const; // the width the note's text may take

    QPlainTextEdit *m_editor; // not owned
    QComboBox *m_aliases; // not owned
    QPointer<QLabel> m_label; // not owned: the window's teardown may free it first
    QTimer *m_typing = nullptr; // owned (Qt parent): routes once typing pauses
    QStringList m_productionAliases;
    Routing::Choice m_choice;
    QString m_text;
    bool m_production = false;
};
