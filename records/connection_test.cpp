#include "records/connection.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include "records/database.h"
#include "records/recordset.h"
#include "records/run_rows.h"
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

// A store's own codes, what they mean, and the kind of error the user is told: SQLite's extended
// result codes (the primary code in their low byte), PostgreSQL's SQLSTATE, and the SQLSTATE
// that any other store gives through ODBC.
TEST(Failure, EveryStoresCodesAreToldApartByKind) {
    using db::Failure;
    using K = ErrorKind;
    const db::System sqlite = db::System::kSqlite, pg = db::System::kPostgres,
                     odbc = db::System::kOther;
    const struct {
        db::System system;
        const char* codes;  // SQLite's numbers, or SQLSTATEs, separated by blanks
        Failure failure;
        ErrorKind kind;
    } cases[] = {
        {sqlite, "1555 2067", Failure::kDuplicateKey, K::kDuplicateKey},  // primary key, unique
        {sqlite, "19", Failure::kIntegrityUnknown, K::kRefusedByRule},
        {sqlite, "275 1299 787", Failure::kIntegrity, K::kRefusedByRule},  // check, not null, FK
        {sqlite, "1", Failure::kStatement, K::kOther},
        {sqlite, "5 6 517 262", Failure::kBusy, K::kLocked},
        {sqlite, "8 1032", Failure::kReadOnly, K::kReadOnly},
        {sqlite, "1544 14", Failure::kCannotWrite, K::kReadOnly},
        {sqlite, "23", Failure::kNoPrivilege, K::kReadOnly},
        {sqlite, "13", Failure::kDiskFull, K::kDiskFull},
        {sqlite, "11 26", Failure::kDamaged, K::kNotADatabase},
        {sqlite, "18", Failure::kValueTooLong, K::kTooLong},
        {sqlite, "10 3338 x", Failure::kOther, K::kOther},
        {pg, "23505", Failure::kDuplicateKey, K::kDuplicateKey},
        {pg, "23502 23503 23514", Failure::kIntegrity, K::kRefusedByRule},
        {pg, "22001", Failure::kValueTooLong, K::kTooLong},
        {pg, "42P01 42703", Failure::kNoObject, K::kMissing},
        {pg, "25006", Failure::kReadOnly, K::kReadOnly},
        {pg, "42501", Failure::kNoPrivilege, K::kReadOnly},
        {pg, "53100", Failure::kDiskFull, K::kDiskFull},
        {pg, "55P03 40P01 40001", Failure::kBusy, K::kLocked},
        {pg, "08006 08001 57P01 57P02 57P03", Failure::kConnectionLost, K::kConnectionLost},
        {pg, "42601 22P02 XX000", Failure::kOther, K::kOther},
        {odbc, "23000", Failure::kIntegrityUnknown, K::kRefusedByRule},
        {odbc, "42S02 42S22", Failure::kNoObject, K::kMissing},
        {odbc, "HYT00", Failure::kBusy, K::kLocked},
        {odbc, "08S01", Failure::kConnectionLost, K::kConnectionLost},
        {odbc, "HY000 x", Failure::kOther, K::kOther},
    };
    for (const auto& c : cases) {
        for (const QString& code : QString(c.codes).split(' ')) {
            SCOPED_TRACE(code.toStdString());
            db::Diagnostic diagnostic;
            (c.system == sqlite ? diagnostic.native : diagnostic.sqlState) = code;
            const Failure failure = db::Classify(c.system, diagnostic);
            EXPECT_EQ(failure, c.failure);
            EXPECT_EQ(db::DescribeFailure(failure, db::FailurePlace(), "").kind(), c.kind);
        }
    }
    // A broken connection often leaves PostgreSQL's driver without any SQLSTATE.
    EXPECT_EQ(db::Classify(pg, {}), Failure::kConnectionLost);
}

// The width of a text column that a store declares only in its type, or -1.
TEST(Dialect, TheWidthOfATextColumnIsReadFromItsDeclaredType) {
    const std::pair<const char*, int> cases[] = {
        {"VARCHAR(50)", 50},
        {" nvarchar ( 8 ) ", 8},
        {"TEXT(255)", 255},
        {"CHAR(1)", 1},
        {"VARCHAR2(20)", 20},
        {"VARCHAR", -1},
        {"INTEGER", -1},
        {"INT(11)", -1},
        {"DECIMAL(10,2)", -1},
        {"BLOB(100)", -1},
        {"", -1},
        {"CHARACTER VARYING(30)", 30},
        {"NATIVE CHARACTER (70)", 70},
    };
    for (const auto& [type, width] : cases) {
        EXPECT_EQ(db::Dialect::WidthOfDeclaredType(type), width) << type;
    }
}

}  // namespace

namespace {

// Rows go into a run's record as JSON text written by hand; read back, each value is the same.
TEST(RowsJson, TextsComeBackFromTheJsonTheyAreWrittenAs) {
    const QString texts[] = {QString(), QStringLiteral("plain"),
                             QStringLiteral("quote \" and backslash \\ and slash /"),
                             QString::fromUtf16(u"tab\tline\nreturn\r nul\u0001 \u001f end"),
                             QString::fromUtf16(u"\u00e9\u00fc \u20ac \u4e2d \U0001F600")};
    for (const QString& text : texts) {
        QByteArray json = "[";
        db::AppendJsonString(json, text);
        json += ',';
        db::AppendJsonValue(json, QVariant(text));
        json += ']';
        QJsonParseError error;
        const QJsonArray back = QJsonDocument::fromJson(json, &error).array();
        ASSERT_EQ(error.error, QJsonParseError::NoError) << json.constData();
        EXPECT_EQ(back.at(0).toString(), text);
        EXPECT_EQ(back.at(1).toString(), text);
    }
}

}  // namespace
