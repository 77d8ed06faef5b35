#include "connection/ParmStore.h"

#include "connection/crypt.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QVariant>

#include <stdexcept>

namespace {

const QString valueName = QStringLiteral("ConnectParms");

} // namespace

std::unique_ptr<QSettings> openUserSettings()
{
    auto settings = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
        QStringLiteral("Varnholt"), QStringLiteral("Stelvik"));
#ifndef Q_OS_WIN
    const QString path = settings->fileName();
    const QFile::Permissions ownerOnly = QFile::ReadOwner | QFile::WriteOwner;
    const QFile::Permissions modeBits = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
        | QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther
        | QFile::WriteOther | QFile::ExeOther;
    QFile file(path);
    if (!file.exists()) {
        // An empty file is an empty set of settings; created here, it never has a wider mode.
        QDir().mkpath(QFileInfo(path).absolutePath());
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly, ownerOnly))
            file.close();
    } else if (QFileInfo(path).isFile() && (file.permissions() & modeBits) != ownerOnly) {
        // Best effort: a file of another owner keeps its mode, and the settings report on use.
        file.setPermissions(ownerOnly);
    }
#endif
    return settings;
}

QString readConnectParms()
{
    const std::unique_ptr<QSettings> settings = openUserSettings();
    // Settings that cannot be read count as no stored set: the user is asked to log in.
    if (settings->status() != QSettings::NoError)
        return QString();
    const QVariant value = settings->value(valueName);
    if (!value.isValid())
        return QString();
    if (value.typeId() != QMetaType::QString)
        throw std::runtime_error("Invalid data type for '" + valueName.toStdString() + "'");
    return Decrypt(value.toString());
}

bool survivesScrambling(const QString &plain)
{
    return Decrypt(Encrypt(plain)) == plain;
}

void writeConnectParms(const QString &plain)
{
    // A character outside the alphabet would be stored corrupted and make every later start
    // fail with a misleading login error; such a set is not stored, so the next start asks.
    const QString stored = survivesScrambling(plain) ? Encrypt(plain) : QStringLiteral("");
    const std::unique_ptr<QSettings> settings = openUserSettings();
    settings->setValue(valueName, stored);
    settings->sync();
    if (settings->status() != QSettings::NoError)
        throw std::runtime_error("Failed to set data for '" + valueName.toStdString() + "'");
}
