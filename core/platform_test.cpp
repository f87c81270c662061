#include "core/platform.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

TEST(Platform, FindFileNoCasePicksExactThenFirstInByteOrder) {
    QTemporaryDir dir;
    for (const char* name : {"dbequip.MDB", "dbEquip.mdb", "DBEQUIP.MDB"}) {
        ASSERT_TRUE(QFile(dir.filePath(name)).open(QIODevice::WriteOnly)) << name;
    }
    QDir(dir.path()).mkdir("Other.txt");
    // clang-format off
    const char* cases[][2] = {{"dbEquip.mdb", "dbEquip.mdb"}, {"dbequip.MDB", "dbequip.MDB"},
        {"DbEquip.Mdb", "DBEQUIP.MDB"}, {"dbequip.mdb", "DBEQUIP.MDB"},  // 'D' sorts before 'd'
        {"dbequip", ""}, {"other.txt", ""}, {"missing.mdb", ""}};  // no partial match, no folder
    // clang-format on
    for (const auto& [wanted, found] : cases) {
        const QString path = *found ? QDir::toNativeSeparators(dir.filePath(found)) : "";
        EXPECT_EQ(platform::FindFileNoCase(dir.path(), wanted), path) << wanted;
        EXPECT_EQ(platform::FileExistsNoCase(dir.path(), wanted), !path.isEmpty()) << wanted;
    }
    EXPECT_EQ(platform::FindFileNoCase(dir.filePath("absent"), "dbEquip.mdb"), "");
    // SQLite's write-ahead log needs memory that all its users share: a local disk gives it.
    EXPECT_FALSE(platform::OnNetworkFileSystem(dir.path()));
}

}  // namespace
