#include "app/platform.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

void Touch(const QString& path) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
}

TEST(FindFileNoCase, PicksExactThenFirstInByteOrder) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const char* name : {"dbequip.MDB", "dbEquip.mdb", "DBEQUIP.MDB"}) {
        Touch(dir.filePath(name));
    }
    QDir(dir.path()).mkdir("Other.txt");

    struct Case {
        const char* wanted;
        const char* found;  // file name expected, empty for none
    };
    const Case cases[] = {
        {"dbEquip.mdb", "dbEquip.mdb"},  // an exact match wins over earlier variants
        {"dbequip.MDB", "dbequip.MDB"},
        {"DbEquip.Mdb", "DBEQUIP.MDB"},  // no exact match: 'D' sorts before 'd'
        {"dbequip.mdb", "DBEQUIP.MDB"},
        {"dbequip", ""},    // no partial matches
        {"other.txt", ""},  // a folder is not a file
        {"missing.mdb", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.wanted);
        const QString expected = QString(c.found).isEmpty()
                                     ? QString()
                                     : QDir::toNativeSeparators(dir.filePath(c.found));
        EXPECT_EQ(platform::FindFileNoCase(dir.path(), c.wanted), expected);
        EXPECT_EQ(platform::FileExistsNoCase(dir.path(), c.wanted), !expected.isEmpty());
    }
}

TEST(FindFileNoCase, MissingFolderFindsNothing) {
    QTemporaryDir dir;
    EXPECT_TRUE(platform::FindFileNoCase(dir.filePath("absent"), "x.mdb").isEmpty());
    EXPECT_FALSE(platform::FileExistsNoCase(dir.filePath("absent"), "x.mdb"));
}

TEST(JoinPath, NeverDoublesTheSeparator) {
    struct Case {
        const char* folder;
        const char* name;
        const char* joined;
    };
    const Case cases[] = {
        {"/data/flx", "a.flx", "/data/flx/a.flx"},
        {"/data/flx/", "a.flx", "/data/flx/a.flx"},
        {"/", "a.flx", "/a.flx"},
        {"", "a.flx", "a.flx"},
        {"/data/my flx", "b c.FLX", "/data/my flx/b c.FLX"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        EXPECT_EQ(platform::JoinPath(c.folder, c.name), QString(c.joined));
    }
}

TEST(AppFolder, OverrideAndRestore) {
    platform::SetAppFolderForTesting("/some/where");
    EXPECT_EQ(platform::AppFolder(), "/some/where");
    platform::SetAppFolderForTesting({});
    EXPECT_EQ(platform::AppFolder(),
              QDir::toNativeSeparators(QCoreApplication::applicationDirPath()));
}

}  // namespace
