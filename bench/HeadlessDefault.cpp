// Linked into every benchmark program: they run where there is no display (a build machine, a
// shell over ssh), so Qt's offscreen platform is the default unless QT_QPA_PLATFORM names
// another. Set before main(), hence before any application object reads it.

#include <QByteArray>

namespace {

struct HeadlessDefault
{
    HeadlessDefault()
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
    }
} headlessDefault;

} // namespace
