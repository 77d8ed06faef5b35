#include "app/WindowPlacement.h"

#include "settings/UserSettings.h"

#include <QDataStream>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace {

bool onSomeScreen(const QRect &frame)
{
    const QList<QScreen *> screens = QGuiApplication::screens();
    for (const QScreen *screen : screens) {
        // Enough of the title bar to take hold of: a window merely touching a screen is lost.
        const QRect shown = screen->availableGeometry().intersected(frame);
        if (shown.width() >= 100 && shown.height() >= 30)
            return true;
    }
    return false;
}

// The frame that a stored geometry puts the window in, read from the toolkit's own format (a
// magic number, a version, then the frame); empty when the value is no geometry.
QRect storedFrame(const QByteArray &geometry)
{
    QDataStream in(geometry);
    in.setVersion(QDataStream::Qt_4_0);
    quint32 magic = 0;
    quint16 major = 0, minor = 0;
    QRect frame;
    in >> magic >> major >> minor >> frame;
    if (in.status() != QDataStream::Ok || magic != 0x1D9D0CB || major != 3)
        return {};
    return frame;
}

} // namespace

namespace WindowPlacement {

void restore(QWidget *window)
{
    const QByteArray stored = UserSettings::windowGeometry();
    if (stored.isEmpty())
        return;
    // The toolkit would move a window from a screen that is gone onto one that is there; one
    // that no current screen shows keeps its centred place instead.
    const QRect frame = storedFrame(stored);
    if (frame.isValid() && onSomeScreen(frame))
        window->restoreGeometry(stored);
}

void save(const QWidget *window)
{
    UserSettings::setWindowGeometry(window->saveGeometry());
}

} // namespace WindowPlacement
