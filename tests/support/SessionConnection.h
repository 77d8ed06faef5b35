#pragma once

#include "connection/Connection.h"
#include "connection/Session.h"
#include "support/TestEnv.h"

#include <QString>

#include <memory>

// The open connection of an alias as the tests' session holds it, or null: what a test or
// benchmark hands to a dataset it makes itself (QueryDataset::setConnection).
inline std::shared_ptr<ConnectionHandle> sessionConnection(const QString &alias)
{
    Connection *connection = TestEnv::session().FindConnection(alias);
    return connection ? connection->handle() : nullptr;
}
