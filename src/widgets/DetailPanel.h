#pragma once

#include <QFrame>
#include <QStringList>
#include <QVector>

class QLabel;
class QTreeWidget;

// A small panel laid over a window that describes one thing: a title, a table of rows and a
// note under it. It never takes the keyboard; whoever shows it closes it (Esc in the field that
// keeps the focus). A child of the window; UI thread.
class DetailPanel : public QFrame
{
    Q_OBJECT

public:
    explicit DetailPanel(QWidget *parent);

    void setContents(const QString &title, const QStringList &headers,
        const QVector<QStringList> &rows, const QString &note = QString());
    // Shows the panel below the rectangle (in `anchor`'s coordinates), kept inside the parent.
    void showAt(const QWidget *anchor, const QRect &rect);

    QString title() const;
    QVector<QStringList> rows() const;
    QString note() const;

private:
    QLabel *m_title; // owned by the panel (Qt parent)
    QTreeWidget *m_table; // owned by the panel (Qt parent)
    QLabel *m_note; // owned by the panel (Qt parent)
};
