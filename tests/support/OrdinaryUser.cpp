#include "support/OrdinaryUser.h"

#include "support/TestEnv.h"

#include <QDirIterator>
#include <QFile>
#include <QtTest>

#include <grp.h>
#include <pwd.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

bool handOver(const QString &path, uid_t uid, gid_t gid, const QStringList &keep)
{
    if (::lchown(QFile::encodeName(path).constData(), uid, gid) != 0)
        return false;
    QDirIterator it(path, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        if (!keep.contains(file) && ::lchown(QFile::encodeName(file).constData(), uid, gid) != 0)
            return false;
    }
    return true;
}

} // namespace

namespace OrdinaryUser {

bool switches()
{
    return ::geteuid() == 0;
}

bool run(const std::function<void()> &body, const QStringList &othersFiles)
{
    if (!switches()) {
        body();
        return true;
    }
    const passwd *user = ::getpwnam("nobody");
    if (!user) {
        QTest::qFail("no user nobody to run as", __FILE__, __LINE__);
        return false;
    }
    const uid_t uid = user->pw_uid;
    const gid_t gid = user->pw_gid;
    if (!handOver(TestEnv::root(), uid, gid, othersFiles)) {
        QTest::qFail("cannot hand the test folder over to nobody", __FILE__, __LINE__);
        return false;
    }
    // Groups first: only root may set them, and the effective user is given up last.
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(size_t(count > 0 ? count : 0));
    if (count > 0)
        ::getgroups(count, groups.data());
    const gid_t ordinaryGroups[] = { gid };
    if (::setgroups(1, ordinaryGroups) != 0 || ::setegid(gid) != 0 || ::seteuid(uid) != 0) {
        QTest::qFail("cannot take the identity of nobody", __FILE__, __LINE__);
        return false;
    }
    struct Restore
    {
        std::vector<gid_t> &groups;
        ~Restore()
        {
            // Back to root: each call can only fail if the saved identity were not root's.
            if (::seteuid(0) != 0 || ::setegid(0) != 0
                || ::setgroups(groups.size(), groups.data()) != 0)
                qFatal("cannot return to the test's own identity");
        }
    } restore { groups };
    body();
    return true;
}

} // namespace OrdinaryUser
