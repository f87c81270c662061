#include "records/connection.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "records/database.h"
#include "records/recordset.h"
#include "records/statements.h"
#include "records/target.h"
#include "tests/flx_builder.h"
#include "tests/temp_db.h"

namespace {

// Opens the database in `folder` and counts the demo manufacturers in it.
long CountManufacturers(const QString& folder) {
    db::Database database(db::BuildConnectionString(folder));
    db::Recordset rs;
    rs.setActiveConnection(database);
    rs.Open(sql::kManufacturerList, {}, db::CursorType::kStatic, db::LockType::kReadOnly);
    return rs.RecordCount();
}

TEST(Connection, WorksInFoldersWithSeparatorsOfTheConnectionString) {
    TempDb temp(DemoRowsSql());
    for (const QString sub : {"a;b", "x=y", "Data Source=z;Persist", "blank 'name'"}) {
        SCOPED_TRACE(sub.toStdString());
        const QString folder = QDir(temp.folder()).filePath(sub);
        ASSERT_TRUE(QDir().mkpath(folder));
        ASSERT_TRUE(QFile::copy(temp.path(), QDir(folder).filePath("dbEquip.mdb")));
        EXPECT_EQ(CountManufacturers(folder), 4);
    }
}

// (Files of another format and databases without the tables: the hostile imports.)
TEST(Connection, RefusesWhatItCannotOpenWithAClearError) {
    const struct {
        const char* label;
        QByteArray content;  // written as dbEquip.mdb; "<none>" means no file, "<dir>" a folder
        long number;
        QString part;  // of the description; %P% is the file's path
    } cases[] = {
        {"missing file", "<none>", ErrNo::kDbFail, "Could not find the database file"},
        {"folder of that name", "<dir>", ErrNo::kDbFail, "is a folder"},
        {"damaged SQLite", QByteArray("SQLite format 3\0", 16) + QByteArray(4080, '\xff'),
         ErrNo::kDbUnrecognized, "'%P%' is damaged"},
        {"empty file: an empty database", "", ErrNo::kDbNoObject, "no table 'tblManufacturers'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        QTemporaryDir dir;
        const QString path = QDir(dir.path()).filePath("dbEquip.mdb");
        if (c.content == "<dir>") {
            QDir().mkpath(path);
        } else if (c.content != "<none>") {
            flxtest::Write(dir.path(), "dbEquip.mdb", c.content);
        }
        const QString error = ErrorOf([&] { CountManufacturers(dir.path()); });
        EXPECT_TRUE(error.startsWith(QString::number(c.number) + ' ') &&
                    error.contains(QString(c.part).replace("%P%", path)))
            << error.toStdString();
        EXPECT_EQ(QFile::exists(path), c.content != "<none>");  // nothing made in its place
    }
}

}  // namespace
