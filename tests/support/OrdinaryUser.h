#pragma once

#include <QStringList>

#include <functional>

// Runs part of a test with the file rights of an ordinary user, so that a refusal of access is a
// real one: root may write anywhere, so a test process of root takes on the identity of the user
// "nobody" for the length of `body` (effective user, group and groups, handed back afterwards)
// and first hands the test's private folder (TestEnv::root()) over to that user, as a user owns
// their home. A test process of an ordinary user runs `body` as it is. Files that the test
// creates itself (outside the private folder) stay the test's own: for an ordinary user, as
// for the owner of a DB2 client installed by root, they are another user's files.
namespace OrdinaryUser {

// True when `body` runs as another user than the test's own (the test runs as root).
bool switches();

// Runs body; returns false (after a test failure message) when the identity could not be taken.
// The files named in `othersFiles` stay with their owner (a file root left in a user's home).
bool run(const std::function<void()> &body, const QStringList &othersFiles = {});

} // namespace OrdinaryUser
