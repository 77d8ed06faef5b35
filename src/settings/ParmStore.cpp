#include "settings/ParmStore.h"

#include "settings/UserSettings.h"
#include "settings/crypt.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QVariant>

#include <atomic>
#include <stdexcept>

#if defined(Q_OS_UNIX)
#include <unistd.h>
#endif

namespace {

const QString valueName = QStringLiteral("ConnectParms");

// QSettings writes through QSaveFile, whose commit lets a short write of the buffered tail pass
// (a full disk) and puts the cut file in place of the whole old one, with no error. A write that
// may have gone so is therefore checked: the old file is kept under a second name (a hard link:
// no space needed) until the new one reads back with every value, and is put back when it does
// not.
class KeptCopy
{
public:
    explicit KeptCopy(const QString &path)
#if defined(Q_OS_UNIX)
        : m_file(QFile::encodeName(path))
        , m_kept(m_file + ".kept")
    {
        ::unlink(m_kept.constData());
        m_keeping = ::link(m_file.constData(), m_kept.constData()) == 0;
    }
    ~KeptCopy()
    {
        if (m_keeping)
            ::unlink(m_kept.constData());
    }
    void restore()
    {
        if (m_keeping)
            m_keeping = ::rename(m_kept.constData(), m_file.constData()) != 0;
    }

private:
    QByteArray m_file;
    QByteArray m_kept;
    bool m_keeping = false;
#else
    {
        Q_UNUSED(path);
    }
    void restore() { }
#endif
};

// Whether the file of the settings holds every value the settings object holds.
// A value as the file holds it: the native format keeps no type for text, so a list of one and a
// number read back as text, and are the same value for this check.
QStringList asStored(const QVariant &value)
{
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList();
    if (value.typeId() == QMetaType::QByteArray)
        return { QString::fromLatin1(value.toByteArray().toHex()) };
    return { value.toString() };
}

bool fileHoldsAll(const QSettings &settings)
{
#if defined(Q_OS_UNIX)
    // Read back under a name of its own: QSettings shares what it read of a file between the
    // objects of one process, and would answer from memory instead of the disk.
    static std::atomic<int> checks { 0 };
    const QByteArray file = QFile::encodeName(settings.fileName());
    const QByteArray check = file + ".check" + QByteArray::number(++checks);
    if (::link(file.constData(), check.constData()) != 0)
        return false;
    const QStringList keys = settings.allKeys();
    const QSettings written(QFile::decodeName(check), settings.format());
    bool whole = written.allKeys().size() == keys.size();
    for (qsizetype i = 0; whole && i < keys.size(); ++i)
        whole = written.value(keys.at(i)) == settings.value(keys.at(i))
            || asStored(written.value(keys.at(i))) == asStored(settings.value(keys.at(i)));
    ::unlink(check.constData());
    return whole;
#else
    Q_UNUSED(settings);
    return true;
#endif
}

} // namespace

bool syncWhole(QSettings &settings)
{
    if (settings.format() != QSettings::NativeFormat && settings.format() != QSettings::IniFormat) {
        settings.sync();
        return settings.status() == QSettings::NoError;
    }
    KeptCopy kept(settings.fileName());
    settings.sync();
    const bool whole = settings.status() == QSettings::NoError && fileHoldsAll(settings);
    if (!whole)
        kept.restore();
    return whole;
}

std::unique_ptr<QSettings> openUserSettings()
{
    auto settings = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
        UserSettings::organization(), UserSettings::application());
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
    if (!syncWhole(*settings))
        throw std::runtime_error("Failed to set data for '" + valueName.toStdString() + "'");
}
