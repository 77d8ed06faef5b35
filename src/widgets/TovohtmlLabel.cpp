#include "widgets/TovohtmlLabel.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QUrl>

namespace {

// Blanks and control characters at either end do not make an address.
bool isBlankOrControl(QChar c)
{
    return c.unicode() <= 32 || c.category() == QChar::Other_Control;
}

bool hasAddress(const QString &url)
{
    for (QChar c : url) {
        if (!isBlankOrControl(c))
            return true;
    }
    return false;
}

} // namespace

void TTovohtmlLabel::Click()
{
    emit clicked();
    if (!hasAddress(m_url))
        return;
    // The address goes to the desktop exactly as given, blanks included.
    const int code = ShellOpen(m_url);
    if (code < 32)
        emit OnExecuteError(code, this);
}

int TTovohtmlLabel::ShellOpen(const QString &address)
{
    const QUrl url(address, QUrl::TolerantMode);
    if (!url.isValid())
        return ErrorFileNotFound;
    if (!QDesktopServices::openUrl(url))
        return ErrorNoAssociation;
    return Opened;
}

void TTovohtmlLabel::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_pressed = true;
    QLabel::mousePressEvent(event);
}

void TTovohtmlLabel::mouseReleaseEvent(QMouseEvent *event)
{
    const bool click = m_pressed && event->button() == Qt::LeftButton
        && rect().contains(event->position().toPoint());
    m_pressed = false;
    QLabel::mouseReleaseEvent(event);
    if (click)
        Click();
}
