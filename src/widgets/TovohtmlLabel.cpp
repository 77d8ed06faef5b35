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
    const QUrl url(m_url, QUrl::TolerantMode);
    int code = 0;
    if (!url.isValid())
        code = ErrorFileNotFound;
    else if (!QDesktopServices::openUrl(url))
        code = ErrorNoAssociation;
    if (code != 0)
        emit OnExecuteError(code, this);
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
