#include "app/ULogin.h"

#include "ui_ULogin.h"

#include <QGuiApplication>
#include <QScreen>

#ifdef Q_OS_WIN
#include <QtGlobal>
#else
#include <pwd.h>
#include <unistd.h>
#endif

TLogin *Login = nullptr;

TLogin::TLogin(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , ui(std::make_unique<Ui::TLogin>())
{
    ui->setupUi(this);
    UName = ui->UName;
    UPass = ui->UPass;
    BitBtn1 = ui->BitBtn1;
    setFixedSize(162, 140);
    // OK ends the dialog; nothing else does anything.
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    // Centred on the desktop rather than over the main window; moving it here keeps the
    // dialog from re-centring itself over its parent when shown.
    if (QScreen *screen = parent ? parent->screen() : QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

TLogin::~TLogin() = default;

QString WindowsUserName()
{
#ifdef Q_OS_WIN
    return qEnvironmentVariable("USERNAME");
#else
    // The account name of the real user; the environment is only a fallback (it can be
    // missing, or name someone else after su).
    if (const passwd *entry = getpwuid(getuid()); entry && entry->pw_name && *entry->pw_name)
        return QString::fromLocal8Bit(entry->pw_name);
    return qEnvironmentVariable("USER");
#endif
}
