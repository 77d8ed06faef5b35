#include "settings/UserSettings.h"

#include "settings/ParmStore.h"

#include <QRegularExpression>
#include <QSettings>

#include <algorithm>
#include <stdexcept>

namespace UserSettings {

namespace {

// Rows of the table, in its order.
enum Row {
    AutoCommit,
    CatalogDriverFunctions,
    CatalogMaxAgeMinutes,
    CatalogSchemas,
    CatalogTimeout,
    CompletionLetters,
    ConfirmUnfilteredChanges,
    ConnectParms,
    CredentialStore,
    FanOutAliases,
    History,
    HistoryKeep,
    LoginTimeout,
    ProductionAliases,
    ResultMemoryMB,
    SchemaMap,
    ScriptContinueOnError,
    WindowGeometry,
    Db2PathName,
};

const Key &key(Row row)
{
    return table().at(row);
}

// A value as today's readers read it: with the table's fallback when one is given.
QVariant stored(Row row)
{
    const Key &entry = key(row);
    return openUserSettings()->value(entry.name, entry.fallback);
}

} // namespace

QString organization()
{
    return QStringLiteral("Varnholt");
}

QString application()
{
    return QStringLiteral("Stelvik");
}

const QList<Key> &table()
{
    static const QList<Key> keys {
        { QStringLiteral("AutoCommit"), true, Type::Text },
        { QStringLiteral("CatalogDriverFunctions/%1"), false, Type::PerAlias },
        { QStringLiteral("CatalogMaxAgeMinutes"), 720, Type::Whole },
        { QStringLiteral("CatalogSchemas/%1"), QVariant(), Type::PerAlias },
        { QStringLiteral("CatalogTimeout"), 30, Type::Whole },
        { QStringLiteral("CompletionLetters"), 3, Type::Whole },
        { QStringLiteral("ConfirmUnfilteredChanges"), QVariant(), Type::Bool },
        { QStringLiteral("ConnectParms"), QVariant(), Type::Text }, // scrambled: ParmStore
        { QStringLiteral("CredentialStore"), QStringLiteral("keyring"), Type::Text },
        { QStringLiteral("FanOutAliases"), QVariant(), Type::Names },
        { QStringLiteral("History%1"), QVariant(), Type::Series }, // 0..200: HistoryStore
        { QStringLiteral("HistoryKeep"), QVariant(), Type::Whole },
        { QStringLiteral("LoginTimeout"), 30, Type::Whole },
        { QStringLiteral("ProductionAliases"),
            QStringList { QStringLiteral("DB2P201"), QStringLiteral("DB2P401") }, Type::Names },
        { QStringLiteral("ResultMemoryMB"), 256, Type::Whole },
        // Unset: the family's first schema names, which the routing rule knows.
        { QStringLiteral("SchemaMap"), QVariant(), Type::Text },
        { QStringLiteral("ScriptContinueOnError"), false, Type::Bool },
        { QStringLiteral("WindowGeometry"), QVariant(), Type::Bytes },
        { QStringLiteral("DB2 Path Name"), QVariant(), Type::Text, true },
    };
    return keys;
}

bool autoCommit()
{
    const QString text = stored(AutoCommit).toString().trimmed();
    return text.compare(QLatin1String("false"), Qt::CaseInsensitive) != 0 && text != u"0";
}

void setAutoCommit(bool on)
{
    const std::unique_ptr<QSettings> settings = openUserSettings();
    settings->setValue(key(AutoCommit).name, on);
    if (!syncWhole(*settings))
        throw std::runtime_error(
            "Failed to set data for '" + key(AutoCommit).name.toStdString() + "'");
}

bool confirmUnfilteredEverywhere()
{
    const QVariant value = stored(ConfirmUnfilteredChanges);
    return value.isValid() && value.toBool();
}

bool credentialsInKeyring()
{
    const QString choice = stored(CredentialStore).toString();
    return choice.trimmed().compare(QLatin1String("settings"), Qt::CaseInsensitive) != 0;
}

std::optional<int> historyKeep(std::optional<QString> *rejected)
{
    const QVariant value = stored(HistoryKeep);
    if (!value.isValid())
        return std::nullopt;
    bool ok = false;
    const int entries = value.toString().trimmed().toInt(&ok);
    if (ok && entries > 0)
        return entries;
    if (rejected)
        *rejected = value.toString();
    return std::nullopt;
}

int loginTimeout()
{
    const int fallback = key(LoginTimeout).fallback.toInt();
    bool ok = false;
    const int seconds = stored(LoginTimeout).toInt(&ok);
    return ok && seconds >= 0 ? seconds : fallback;
}

namespace {

// A list, or one text of names separated by commas or blanks, as a person may write it.
QStringList nameList(const QVariant &value)
{
    return value.typeId() == QMetaType::QStringList
        ? value.toStringList()
        : value.toString().split(
            QRegularExpression(QStringLiteral("[,;\\s]+")), Qt::SkipEmptyParts);
}

} // namespace

QStringList productionAliases()
{
    return nameList(stored(ProductionAliases));
}

QStringList fanOutAliases()
{
    return nameList(stored(FanOutAliases));
}

void setFanOutAliases(const QStringList &aliases)
{
    const std::unique_ptr<QSettings> settings = openUserSettings();
    settings->setValue(key(FanOutAliases).name, aliases.join(QStringLiteral(", ")));
    if (!syncWhole(*settings))
        throw std::runtime_error(
            "Failed to set data for '" + key(FanOutAliases).name.toStdString() + "'");
}

QStringList schemaMap()
{
    const QVariant value = stored(SchemaMap);
    if (!value.isValid())
        return {};
    return value.typeId() == QMetaType::QStringList ? value.toStringList()
                                                    : QStringList { value.toString() };
}

std::size_t resultMemoryBytes()
{
    const qlonglong fallback = key(ResultMemoryMB).fallback.toLongLong();
    bool ok = false;
    const qlonglong megabytes = stored(ResultMemoryMB).toLongLong(&ok);
    const bool usable = ok && megabytes > 0 && megabytes < (qlonglong(1) << 30);
    return std::size_t(usable ? megabytes : fallback) * 1024 * 1024;
}

namespace {

QVariant perAlias(Row row, const QString &alias)
{
    const Key &entry = key(row);
    return openUserSettings()->value(entry.name.arg(aliasKey(alias)), entry.fallback);
}

} // namespace

QString aliasKey(const QString &alias)
{
    QString name = alias.trimmed();
    for (QChar &c : name)
        if (c.unicode() >= 'a' && c.unicode() <= 'z')
            c = QChar(c.unicode() - ('a' - 'A'));
    return name;
}

bool catalogDriverFunctions(const QString &alias)
{
    return perAlias(CatalogDriverFunctions, alias).toBool();
}

std::optional<int> catalogMaxAgeMinutes()
{
    bool ok = false;
    const int minutes = stored(CatalogMaxAgeMinutes).toInt(&ok);
    return ok && minutes >= 0 ? std::optional<int>(minutes) : std::nullopt;
}

QStringList catalogSchemas(const QString &alias)
{
    const QVariant schemas = perAlias(CatalogSchemas, alias);
    QStringList names;
    // An ini list comes back as a list, a single name as text.
    for (const QString &schema : schemas.typeId() == QMetaType::QStringList
            ? schemas.toStringList()
            : schemas.toString().split(QLatin1Char(',')))
        if (!schema.trimmed().isEmpty())
            names << schema.trimmed();
    return names;
}

std::optional<int> catalogTimeout()
{
    bool ok = false;
    const int seconds = stored(CatalogTimeout).toInt(&ok);
    return ok && seconds > 0 ? std::optional<int>(seconds) : std::nullopt;
}

int completionLetters()
{
    bool ok = false;
    const int letters = stored(CompletionLetters).toInt(&ok);
    return ok ? std::clamp(letters, 0, 50) : key(CompletionLetters).fallback.toInt();
}

bool scriptContinueOnError()
{
    return stored(ScriptContinueOnError).toBool();
}

QByteArray windowGeometry()
{
    const QVariant value = stored(WindowGeometry);
    return value.typeId() == QMetaType::QByteArray ? value.toByteArray() : QByteArray();
}

void setWindowGeometry(const QByteArray &geometry)
{
    const std::unique_ptr<QSettings> settings = openUserSettings();
    settings->setValue(key(WindowGeometry).name, geometry);
    syncWhole(*settings);
}

std::optional<QString> db2PathName()
{
    // The DB2 client's machine-wide settings; reading them never creates them.
    const QSettings db2(QSettings::NativeFormat, QSettings::SystemScope, QStringLiteral("IBM"),
        QStringLiteral("DB2"));
    const QString &name = key(Db2PathName).name;
    const QVariant value = db2.value(name);
    if (!value.isValid())
        return std::nullopt;
    if (value.typeId() != QMetaType::QString)
        throw std::runtime_error("Invalid data type for '" + name.toStdString() + "'");
    return value.toString();
}

} // namespace UserSettings
