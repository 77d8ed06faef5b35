#include "connection/QueryDataset.h"
#include "settings/ParmStore.h"

#include <QSettings>

std::size_t resultMemoryBudget()
{
    bool ok = false;
    const qlonglong megabytes =
        openUserSettings()->value(QStringLiteral("ResultMemoryMB")).toLongLong(&ok);
    if (ok && megabytes > 0 && megabytes < (qlonglong(1) << 30))
        return std::size_t(megabytes) * 1024 * 1024;
    return QueryDataset::DefaultStoreBudget;
}
