#include "records/recordset.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>

#include "core/error.h"
#include "records/connection.h"
#include "records/statements.h"
#include "tests/engine_fixture.h"

namespace {

using db::CursorType;
using db::LockType;
using db::Recordset;

// A database shaped unlike the demo: other column order, other widths, extra NOT NULL columns
// with defaults, no COLLATE clauses but the case-insensitive ID the store is expected to have.
const char* kOtherShape = R"(
CREATE TABLE TBLMANUFACTURERS (Notes TEXT NOT NULL DEFAULT '', DisplayInRouters INT DEFAULT 0,
    manufacturername NVARCHAR(12), MANUFACTURERID TEXT(8) COLLATE NOCASE PRIMARY KEY,
    DisplayInEquipment INT DEFAULT 0, displayInJackFields INT DEFAULT 0,
    DisplayInJboxes INT DEFAULT 0, displayInCabletypes INT DEFAULT 0);
CREATE TABLE tblequipment (Created TEXT NOT NULL DEFAULT 'now', EquipmentType VARCHAR(20),
    EquipmentDescription TEXT, ManufacturerID VARCHAR(8) COLLATE NOCASE,
    EquipmentName VARCHAR(30) COLLATE NOCASE, EquipmentID INTEGER PRIMARY KEY);
CREATE TABLE TblInputs (PinType TEXT, Conn TEXT, Type TEXT, Name TEXT, EquipmentID INT NOT NULL,
    Extra INT NOT NULL DEFAULT 7);
CREATE TABLE tbloutputs (EquipmentID INT, Name VARCHAR(5), Type TEXT, Conn TEXT, PinType TEXT);
INSERT INTO TBLMANUFACTURERS (MANUFACTURERID, manufacturername) VALUES ('ACME', 'Acme');
INSERT INTO tblequipment (EquipmentName, ManufacturerID) VALUES ('DA-100', 'ACME');
)";

// Statements that no program sends, for the refusals they provoke.
const char* const kNoColumns[] = {"Nope"};
constexpr sql::Statement kMissingTable{"Select * from tblNothing", "tblNothing", {}};
constexpr sql::Statement kMissingColumn{"Select Nope from tblEquipment", "tblEquipment",
                                        kNoColumns};

// The demo schema on every store, and on SQLite also a database shaped unlike it.
class RecordsetTest : public ::testing::TestWithParam<Store> {
  protected:
    std::vector<std::pair<const char*, std::unique_ptr<TempDb>>> Shapes() const {
        std::vector<std::pair<const char*, std::unique_ptr<TempDb>>> shapes;
        shapes.emplace_back("demo schema",
                            std::make_unique<TempDb>(GetParam(), DemoRowsSql(GetParam())));
        if (GetParam() == Store::kSqlite) {
            shapes.emplace_back("other shape", std::make_unique<TempDb>(kOtherShape, false));
        }
        return shapes;
    }
    TempDb Demo(const QString& extraSql = {}) const {
        return TempDb(GetParam(), DemoRowsSql(GetParam()) + ";\n" + extraSql);
    }
};

Recordset OpenOn(const TempDb& temp, const sql::Statement& statement,
                 const QVariantList& values = {}, CursorType cursor = CursorType::kStatic,
                 LockType lock = LockType::kOptimistic) {
    Recordset rs;
    rs.setActiveConnection(temp.connection());
    rs.Open(statement, values, cursor, lock);
    return rs;
}

long ErrorNumberOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const AppError& e) {
        return e.number();
    }
    return 0;
}

TEST_P(RecordsetTest, EveryStatementRunsOnEveryShape) {
    for (const auto& [label, db] : Shapes()) {
        SCOPED_TRACE(label);
        const TempDb& temp = *db;

        Recordset m;
        m.setActiveConnection(temp.connection());
        m.Open(sql::kManufacturerById, {"acme"}, CursorType::kStatic, LockType::kOptimistic);
        ASSERT_EQ(m.RecordCount(), 1);  // text equality of the store ignores case
        EXPECT_EQ(m.Field("manufacturerid").toString(), "ACME");
        m.Close();
        EXPECT_EQ(m.State(), 0);
        m.Open(sql::kManufacturerNameById, {"ACME"});
        EXPECT_EQ(m.RecordCount(), 1);
        EXPECT_EQ(m.Field("ManufacturerID").toString(), "ACME");

        Recordset e = OpenOn(temp, sql::kEquipmentByNameAndManufacturer, {"da-100", "Acme"});
        EXPECT_EQ(e.RecordCount(), 1);
        EXPECT_EQ(
            OpenOn(temp, sql::kEquipmentByNameAndManufacturer, {"DA-100", "OTHER"}).RecordCount(),
            0);
        EXPECT_EQ(OpenOn(temp, sql::kEquipmentForAdding).RecordCount(), 0);
        EXPECT_EQ(OpenOn(temp, sql::kResolvedManufacturer, {"ACME"}).RecordCount(), 1);
        EXPECT_EQ(OpenOn(temp, sql::kEquipmentConsistencyCheck).RecordCount(), 0);

        Recordset in;
        in.setActiveConnection(temp.connection());
        in.Open(sql::kInsertInput, {1, "In 'A'", "AES", "XLR", "Normal"});
        EXPECT_EQ(in.State(), 0);  // an action statement leaves the handle closed
        Recordset out;
        out.setActiveConnection(temp.connection());
        out.Open(sql::kInsertOutput, {1, "Out", "SDI", "BNC", "Normal"});
        EXPECT_EQ(temp.Rows("SELECT EquipmentID, Name, Type, Conn, PinType FROM tblInputs"),
                  QStringList{"1|In 'A'|AES|XLR|Normal"});
        EXPECT_EQ(temp.Rows("SELECT EquipmentID, Name, Type, Conn, PinType FROM tblOutputs"),
                  QStringList{"1|Out|SDI|BNC|Normal"});

        Recordset list =
            OpenOn(temp, sql::kManufacturerList, {}, CursorType::kStatic, LockType::kReadOnly);
        long walked = 0;
        while (!list.IsEOF()) {
            ++walked;
            list.MoveNext();
        }
        EXPECT_EQ(walked, list.RecordCount());
        EXPECT_EQ(OpenOn(temp, sql::kManufacturerTable).RecordCount(), walked);
    }
}

TEST_P(RecordsetTest, AddedEquipmentRowStaysCurrentWithItsAssignedKey) {
    for (const auto& [label, db] : Shapes()) {
        SCOPED_TRACE(label);
        const TempDb& temp = *db;
        Recordset rs = OpenOn(temp, sql::kEquipmentForAdding);
        for (const QString name : {"MX-1", "O'Brien \"Mk II\""}) {
            rs.AddNew();
            rs.SetField("EquipmentName", name);
            rs.SetField("EquipmentDescription", "Mixer");
            rs.SetField("ManufacturerID", "ACME");
            rs.SetField("EquipmentType", "Mixer");
            rs.UpdateBatch(db::kAffectAll);
            const QVariant id = rs.Field("EquipmentID");
            ASSERT_FALSE(id.isNull());
            EXPECT_EQ(temp.Scalar("SELECT EquipmentName FROM tblEquipment WHERE EquipmentID = " +
                                  id.toString())
                          .toString(),
                      name);
            EXPECT_EQ(rs.Field("equipmentname").toString(), name);
        }
        EXPECT_EQ(rs.RecordCount(), 2);
    }
}

// A Yes/No column of PostgreSQL may be a boolean (the demo schema) or a number; True goes in as
// the column holds it, and reads back as the SQLite store keeps it.
TEST_P(RecordsetTest, BooleansAreStoredAsTheColumnHoldsThemAndNullsStayNull) {
    for (const bool numeric : {false, true}) {
        SCOPED_TRACE(numeric ? "numeric flags" : "flags of the demo schema");
        const QString schema =
            numeric ? DemoSchemaSql(GetParam())
                          .replace("BOOLEAN NOT NULL DEFAULT FALSE", "SMALLINT NOT NULL DEFAULT 0")
                    : DemoSchemaSql(GetParam());
        TempDb temp(GetParam(), schema, false);
        Recordset rs = OpenOn(temp, sql::kManufacturerById, {"NEW"});
        ASSERT_EQ(rs.RecordCount(), 0);
        rs.AddNew();
        rs.SetField("ManufacturerID", "NEW");
        rs.SetField("DisplayInEquipment", true);
        rs.Update();
        EXPECT_TRUE(rs.Field("ManufacturerName").isNull());
        EXPECT_EQ(temp.Rows("SELECT DisplayInEquipment, DisplayInRouters, ManufacturerName FROM "
                            "tblManufacturers WHERE ManufacturerID = 'NEW'"),
                  QStringList{"-1|0|<null>"});
    }
}

TEST_P(RecordsetTest, DefinedSizeComesFromTheDeclaredWidth) {
    TempDb demo = Demo();
    EXPECT_EQ(OpenOn(demo, sql::kManufacturerTable).DefinedSize("manufacturerNAME"), 50);
    if (GetParam() != Store::kSqlite) {
        return;
    }
    TempDb other(kOtherShape, false);
    Recordset rs = OpenOn(other, sql::kManufacturerTable);
    EXPECT_EQ(rs.DefinedSize("ManufacturerName"), 12);
    EXPECT_EQ(rs.DefinedSize("Notes"), INT_MAX);
    EXPECT_EQ(ErrorNumberOf([&] { rs.DefinedSize("NoSuchColumn"); }), ErrNo::kItemNotFound);
}

TEST_P(RecordsetTest, RefusalsRaiseTheirOwnNumbers) {
    TempDb temp = Demo();
    struct Case {
        const char* label;
        std::function<void()> action;
        long number;
    };
    const Case cases[] = {
        {"duplicate manufacturer in other case",
         [&] {
             Recordset rs = OpenOn(temp, sql::kManufacturerTable);
             rs.AddNew();
             rs.SetField("manufacturerID", "acme");
             rs.Update();
         },
         ErrNo::kDbFail},
        // A row that a rule other than a key refuses is no duplicate.
        {"a value the table needs is missing",
         [&] {
             Recordset rs;
             rs.setActiveConnection(temp.connection());
             rs.Open(sql::kInsertInput, {QVariant(), "In", "A", "B", "Normal"});
         },
         ErrNo::kDbIntegrity},
        {"value too long for its column",
         [&] {
             Recordset rs;
             rs.setActiveConnection(temp.connection());
             rs.Open(sql::kInsertInput, {1, QString(51, 'n'), "A", "B", "Normal"});
         },
         ErrNo::kDbValueTooLong},
        {"too long on AddNew",
         [&] {
             Recordset rs = OpenOn(temp, sql::kEquipmentForAdding);
             rs.AddNew();
             rs.SetField("EquipmentName", QString(51, 'x'));
             rs.Update();
         },
         ErrNo::kDbValueTooLong},
        // SQLite compares text only up to a NUL: such values are neither stored nor looked up.
        {"NUL in a looked-up value",
         [&] { OpenOn(temp, sql::kManufacturerById, {QString::fromUtf16(u"AC\0ME", 5)}); },
         ErrNo::kDbRefused},
        {"NUL in an inserted value",
         [&] {
             Recordset rs;
             rs.setActiveConnection(temp.connection());
             rs.Open(sql::kInsertInput, {1, QString::fromUtf16(u"In\0 1", 5), "A", "B", "Normal"});
         },
         ErrNo::kDbRefused},
        {"NUL on AddNew",
         [&] {
             Recordset rs = OpenOn(temp, sql::kEquipmentForAdding);
             rs.AddNew();
             rs.SetField("EquipmentName", QString(1, QChar(u'\0')));
         },
         ErrNo::kDbRefused},
        {"missing table", [&] { OpenOn(temp, kMissingTable); }, ErrNo::kDbNoObject},
        {"missing column", [&] { OpenOn(temp, kMissingColumn); }, ErrNo::kDbNoObject},
        {"read-only result",
         [&] {
             Recordset rs =
                 OpenOn(temp, sql::kManufacturerList, {}, CursorType::kStatic, LockType::kReadOnly);
             rs.AddNew();
         },
         ErrNo::kNotUpdatable},
        {"no current row", [&] { OpenOn(temp, sql::kEquipmentForAdding).Field("EquipmentID"); },
         ErrNo::kNoCurrentRecord},
        {"unknown column", [&] { OpenOn(temp, sql::kManufacturerById, {"ACME"}).Field("Website"); },
         ErrNo::kItemNotFound},
        {"closed handle",
         [&] {
             Recordset rs;
             rs.RecordCount();
         },
         ErrNo::kObjectClosed},
        {"open twice",
         [&] {
             Recordset rs = OpenOn(temp, sql::kManufacturerList);
             rs.Open(sql::kManufacturerList);
         },
         ErrNo::kObjectOpen},
        {"no connection",
         [&] {
             Recordset rs;
             rs.Open(sql::kManufacturerList);
         },
         ErrNo::kNoConnection},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(ErrorNumberOf(c.action), c.number);
    }
    // None of the refused rows reached the database.
    EXPECT_EQ(temp.Scalar("SELECT COUNT(*) FROM tblManufacturers").toInt(), 4);
    EXPECT_EQ(temp.Scalar("SELECT COUNT(*) FROM tblEquipment").toInt(), 2);
    EXPECT_EQ(temp.Scalar("SELECT COUNT(*) FROM tblInputs").toInt(), 0);
}

INSTANTIATE_ON_EVERY_STORE(RecordsetTest);

}  // namespace
