#include "records/connection.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "core/error.h"
#include "records/recordset.h"
#include "records/statements.h"
#include "tests/temp_db.h"

namespace {

TEST(ConnectionString, BuildsTheProviderTextAndRoundTripsTheFolder) {
    const QString folders[] = {"/opt/importflx", "/home/eng/My Tools", "/srv/a;b", "/srv/x=y;z=w",
                               "/srv/ünïcode 'quoted'"};
    for (const QString& folder : folders) {
        SCOPED_TRACE(folder.toStdString());
        const QString text = db::BuildConnectionString(folder);
        EXPECT_EQ(text, "Provider = Microsoft.Jet.OLEDB.4.0;Data Source=" + folder +
                            "/dbEquip.MDB;Persist Security Info=False");
        EXPECT_EQ(db::DataSourceOf(text), folder + "/dbEquip.MDB");
    }
    EXPECT_EQ(db::BuildConnectionString("/"),
              "Provider = Microsoft.Jet.OLEDB.4.0;Data Source=/dbEquip.MDB;Persist Security "
              "Info=False");
    EXPECT_EQ(db::DataSourceOf("Data Source=/a/b.db"), "/a/b.db");
    EXPECT_EQ(db::DataSourceOf("Provider=x;Data Source=/a/b.db;Mode=Read"), "/a/b.db");
    EXPECT_EQ(db::DataSourceOf("Provider=x"), "");
}

// Opens the shared connection for `folder` and counts the demo manufacturers through it.
long CountManufacturers(const QString& folder) {
    db::Recordset rs;
    rs.setActiveConnection(db::BuildConnectionString(folder));
    rs.Open(sql::kManufacturerList, {}, db::CursorType::kStatic, db::LockType::kReadOnly);
    return rs.RecordCount();
}

TEST(Connection, FindsTheFileWhateverTheLetterCaseOfItsName) {
    for (const QString name : {"dbequip.mdb", "DBEQUIP.MDB", "dbEquip.mdb"}) {
        TempDb temp(DemoRowsSql(), true, name);
        EXPECT_EQ(CountManufacturers(temp.folder()), 4) << name.toStdString();
    }
    TempDb temp(DemoRowsSql(), true, "dbequip.mdb");
    // A second variant with one manufacturer fewer: the exact spelling "dbEquip.MDB" is absent,
    // so the first name in byte order ("DBEQUIP.MDB") is used every time.
    QFile::copy(temp.path(), QDir(temp.folder()).filePath("DBEQUIP.MDB"));
    TempDb::ExecOn(QDir(temp.folder()).filePath("DBEQUIP.MDB"),
                   "DELETE FROM tblManufacturers WHERE ManufacturerID = 'ACME'");
    EXPECT_EQ(CountManufacturers(temp.folder()), 3);
    db::Connection::CloseAll();
    EXPECT_EQ(CountManufacturers(temp.folder()), 3);
    // The exact spelling wins when present.
    QFile::copy(temp.path(), QDir(temp.folder()).filePath("dbEquip.MDB"));
    db::Connection::CloseAll();
    EXPECT_EQ(CountManufacturers(temp.folder()), 4);
}

TEST(Connection, WorksInFoldersWithSeparatorsOfTheConnectionString) {
    TempDb temp(DemoRowsSql());
    for (const QString sub : {"a;b", "x=y", "Data Source=z;Persist", "blank name"}) {
        SCOPED_TRACE(sub.toStdString());
        const QString folder = QDir(temp.folder()).filePath(sub);
        ASSERT_TRUE(QDir().mkpath(folder));
        ASSERT_TRUE(QFile::copy(temp.path(), QDir(folder).filePath("dbEquip.mdb")));
        EXPECT_EQ(CountManufacturers(folder), 4);
    }
}

struct OpenFailure {
    const char* label;
    QByteArray content;  // written as dbEquip.mdb; "<none>" means no file, "<dir>" a folder
    long number;
    const char* descriptionPart;
};

TEST(Connection, RefusesWhatItCannotOpenWithAClearError) {
    const OpenFailure cases[] = {
        {"missing file", "<none>", ErrNo::kDbFail, "Could not find the database file"},
        {"folder of that name", "<dir>", ErrNo::kDbFail, "is a folder"},
        {"another format",
         QByteArray("Standard Jet DB\0\0\0\0\0\0\0\0", 24) + QByteArray(2000, 'x'),
         ErrNo::kDbUnrecognized, "format that cannot be opened here"},
        {"text file", "hello, world\n", ErrNo::kDbUnrecognized, "not an SQLite database"},
        {"damaged SQLite", QByteArray("SQLite format 3\0", 16) + QByteArray(4080, '\xff'),
         ErrNo::kDbUnrecognized, "damaged"},
    };
    for (const OpenFailure& c : cases) {
        SCOPED_TRACE(c.label);
        QTemporaryDir dir;
        const QString path = QDir(dir.path()).filePath("dbEquip.mdb");
        if (c.content == "<dir>") {
            QDir().mkpath(path);
        } else if (c.content != "<none>") {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(c.content);
        }
        try {
            CountManufacturers(dir.path());
            ADD_FAILURE() << "no error raised";
        } catch (const AppError& e) {
            EXPECT_EQ(e.number(), c.number);
            EXPECT_TRUE(e.description().contains(c.descriptionPart))
                << e.description().toStdString();
            if (c.number == ErrNo::kDbUnrecognized) {
                EXPECT_TRUE(e.description().contains(path)) << e.description().toStdString();
            }
        }
        // Nothing was created in place of a missing database.
        if (c.content == "<none>") {
            EXPECT_FALSE(QFile::exists(path));
        }
        db::Connection::CloseAll();
    }
}

TEST(Connection, EmptyFileIsAnEmptyDatabaseWithoutTables) {
    TempDb temp({}, false);
    try {
        CountManufacturers(temp.folder());
        ADD_FAILURE() << "no error raised";
    } catch (const AppError& e) {
        EXPECT_EQ(e.number(), ErrNo::kDbNoObject);
        EXPECT_TRUE(e.description().contains("no table 'tblManufacturers'"))
            << e.description().toStdString();
    }
}

TEST(Connection, TransactionsCommitAndRollBack) {
    TempDb temp(DemoRowsSql());
    db::Connection& connection = db::Connection::ForString(temp.connection());
    db::Recordset rs;
    rs.setActiveConnection(temp.connection());
    connection.Begin();
    rs.Open(sql::kInsertInput, {1, "In 1", "AES", "XLR", "Normal"});
    connection.Rollback();
    connection.Begin();
    rs.Open(sql::kInsertInput, {1, "In 2", "AES", "XLR", "Normal"});
    EXPECT_TRUE(connection.InTransaction());
    connection.Commit();
    EXPECT_FALSE(connection.InTransaction());
    EXPECT_EQ(temp.Rows("SELECT Name FROM tblInputs"), QStringList{"In 2"});
}

}  // namespace
