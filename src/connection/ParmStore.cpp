#include "connection/ParmStore.h"

#include "connection/crypt.h"

#include <QSettings>
#include <QVariant>

#include <stdexcept>

namespace {

const QString valueName = QStringLiteral("ConnectParms");

} // namespace

QString readConnectParms()
{
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Varnholt"),
        QStringLiteral("Stelvik"));
    // Settings that cannot be read count as no stored set: the user is asked to log in.
    if (settings.status() != QSettings::NoError)
        return QString();
    const QVariant value = settings.value(valueName);
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
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Varnholt"),
        QStringLiteral("Stelvik"));
    settings.setValue(valueName, stored);
    settings.sync();
    if (settings.status() != QSettings::NoError)
        throw std::runtime_error("Failed to set data for '" + valueName.toStdString() + "'");
}
