#include "records/recordset.h"

#include <gtest/gtest.h>

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
};

Recordset OpenOn(const TempDb& temp, const sql::Statement& statement,
                 const QVariantList& values = {}, CursorType cursor = CursorType::kStatic,
                 LockType lock = LockType::kOptimistic) {
    Recordset rs;
    rs.setActiveConnection(temp.connection());
    rs.Open(statement, values, cursor, lock);
    return rs;
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

        // An action statement leaves the handle closed.
        EXPECT_EQ(OpenOn(temp, sql::kInsertInput, {1, "In 'A'", "AES", "XLR", "Normal"}).State(),
                  0);
        OpenOn(temp, sql::kInsertOutput, {1, "Out", "SDI", "BNC", "Normal"});
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
        Recordset table = OpenOn(temp, sql::kManufacturerTable);
        EXPECT_EQ(table.RecordCount(), walked);
        EXPECT_EQ(table.DefinedSize("manufacturerNAME"), label == QString("other shape") ? 12 : 50);

        // An added row stays current, with the key that the store gave it.
        Recordset rs = OpenOn(temp, sql::kEquipmentForAdding);
        rs.AddNew();
        rs.SetField("EquipmentName", "O'Brien \"Mk II\"");
        rs.SetField("ManufacturerID", "ACME");
        rs.UpdateBatch(db::kAffectAll);
        EXPECT_EQ(temp.Scalar("SELECT EquipmentName FROM tblEquipment WHERE EquipmentID = " +
                              rs.Field("EquipmentID").toString()),
                  rs.Field("equipmentname"));
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

TEST_P(RecordsetTest, RefusalsRaiseTheirOwnNumbers) {
    TempDb temp(GetParam(), DemoRowsSql(GetParam()));
    const std::pair<std::function<void()>, long> cases[] = {
        // A row that a rule other than a key refuses is no duplicate.
        {[&] {
             OpenOn(temp, sql::kInsertInput, {QVariant(), "In", "A", "B", "Normal"});
         },
         ErrNo::kDbIntegrity},
        // SQLite compares text only up to a NUL: such values are not even looked up.
        {[&] { OpenOn(temp, sql::kManufacturerById, {QString::fromUtf16(u"AC\0ME", 5)}); },
         ErrNo::kDbRefused},
        {[&] {
             OpenOn(temp, sql::kManufacturerList, {}, CursorType::kStatic, LockType::kReadOnly)
                 .AddNew();
         },
         ErrNo::kNotUpdatable},
        {[&] { OpenOn(temp, sql::kEquipmentForAdding).Field("EquipmentID"); },
         ErrNo::kNoCurrentRecord},
        {[&] { OpenOn(temp, sql::kManufacturerById, {"ACME"}).Field("Website"); },
         ErrNo::kItemNotFound},
        {[&] { OpenOn(temp, sql::kManufacturerTable).DefinedSize("NoSuchColumn"); },
         ErrNo::kItemNotFound},
        {[] { Recordset().RecordCount(); }, ErrNo::kObjectClosed},
        {[&] { OpenOn(temp, sql::kManufacturerList).Open(sql::kManufacturerList); },
         ErrNo::kObjectOpen},
        {[] { Recordset().Open(sql::kManufacturerList); }, ErrNo::kNoConnection},
    };
    for (const auto& [action, number] : cases) {
        EXPECT_TRUE(ErrorOf(action).startsWith(QString::number(number) + ' ')) << number;
    }
    EXPECT_EQ(temp.Scalar("SELECT COUNT(*) FROM tblInputs").toInt(), 0);
}

INSTANTIATE_ON_EVERY_STORE(RecordsetTest);

}  // namespace
