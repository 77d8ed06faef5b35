#pragma once

#include <QLabel>
#include <QString>

// A text label that opens an address (web page, mail message, anything the desktop can open)
// when clicked. The look comes from the font each instance is given; the class sets no cursor
// and no colours. UI thread only; owned by its Qt parent.
class TTovohtmlLabel : public QLabel
{
    Q_OBJECT
    Q_PROPERTY(QString URL READ URL WRITE setURL)

public:
    using QLabel::QLabel;

    // Error codes reported by OnExecuteError; like the desktop shell's, always below 32.
    enum ExecuteError : int {
        ErrorFileNotFound = 2, // the address cannot be read as an address at all
        ErrorNoAssociation = 31, // no program accepted the address
        Opened = 42 // any result of 32 or more means success
    };

    QString URL() const { return m_url; }
    void setURL(const QString &url) { m_url = url; }

    // Runs on every click: the inherited click (clicked()) first, then the open of URL.
    virtual void Click();

signals:
    void clicked();
    // The desktop reported a failure to open URL; code is below 32.
    void OnExecuteError(int code, QObject *sender);

protected:
    // Hands the address, exactly as given, to the desktop; returns an ExecuteError below 32 on
    // failure, 32 or more on success.
    virtual int ShellOpen(const QString &address);

    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QString m_url;
    bool m_pressed = false;
};
