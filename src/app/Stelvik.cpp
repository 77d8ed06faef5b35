#include "app/Unit1.h"
#include "settings/UserSettings.h"
#include "widgets/Glyphs.h"

#include <QApplication>

// The program entry: no command line of its own; the main window's closing ends the process.
int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(UserSettings::application());
    QApplication::setOrganizationName(UserSettings::organization());
    QApplication::setWindowIcon(glyph(QStringLiteral("app")));

    TForm1 Form1;
    Form1.show();
    Form1.offerRecovery(); // the text of a window that ended without closing
    return application.exec();
}
