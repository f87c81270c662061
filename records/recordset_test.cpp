#include "records/recordset.h"

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

class RecordsetTest : public ::testing::TestWithParam<Store> {};

Recordset OpenOn(const TempDb& temp, const sql::Statement& statement,
                 const QVariantList& values = {}, CursorType cursor = CursorType::kStatic,
                 LockType lock = LockType::kOptimistic) {
    Recordset rs;
    rs.setActiveConnection(temp.connection());
    rs.Open(statement, values, cursor, lock);
    return rs;
}

// The engine's tests run every statement on the demo schema of every store; here they run on an
// SQLite database shaped unlike it.
TEST(Recordset, EveryStatementRunsOnAnotherShape) {
    const TempDb temp(kOtherShape, false);
    Recordset m = OpenOn(temp, sql::kManufacturerById, {"acme"});
    ASSERT_EQ(m.RecordCount(), 1);  // text equality of the store ignores case
    EXPECT_EQ(m.Field("manufacturerid").toString(), "ACME");
    m.Close();
    m.Open(sql::kManufacturerNameById, {"ACME"});
    EXPECT_EQ(m.Field("ManufacturerID").toString(), "ACME");
    const auto count = [&](const sql::Statement& statement, const QVariantList& values = {}) {
        return OpenOn(temp, statement, values).RecordCount();
    };
    EXPECT_EQ(count(sql::kEquipmentByNameAndManufacturer, {"da-100", "Acme"}), 1);
    EXPECT_EQ(count(sql::kEquipmentByNameAndManufacturer, {"DA-100", "OTHER"}), 0);
    EXPECT_EQ(count(sql::kEquipmentForAdding), 0);
    EXPECT_EQ(count(sql::kResolvedManufacturer, {"ACME"}), 1);
    EXPECT_EQ(count(sql::kEquipmentConsistencyCheck), 0);
    EXPECT_EQ(count(sql::kManufacturerTable), 1);
    EXPECT_EQ(OpenOn(temp, sql::kManufacturerTable).DefinedSize("manufacturerNAME"), 12);

    // An action statement leaves the handle closed.
    EXPECT_EQ(OpenOn(temp, sql::kInsertInput, {1, "In 'A'", "AES", "XLR", "Normal"}).State(), 0);
    OpenOn(temp, sql::kInsertOutput, {1, "Out", "SDI", "BNC", "Normal"});
    EXPECT_EQ(temp.Rows("SELECT EquipmentID, Name, Type, Conn, PinType FROM tblInputs UNION ALL "
                        "SELECT EquipmentID, Name, Type, Conn, PinType FROM tblOutputs"),
              QStringList({"1|In 'A'|AES|XLR|Normal", "1|Out|SDI|BNC|Normal"}));

    Recordset list =
        OpenOn(temp, sql::kManufacturerList, {}, CursorType::kStatic, LockType::kReadOnly);
    EXPECT_FALSE(list.IsEOF());
    list.MoveNext();
    EXPECT_TRUE(list.IsEOF());
    // Misuse raises rather than writing a read-only list or reading past the columns.
    EXPECT_TRUE(ErrorOf([&] { list.AddNew(); }).startsWith(QString::number(ErrNo::kNotUpdatable)));
    EXPECT_TRUE(
        ErrorOf([&] { m.Field("Website"); }).startsWith(QString::number(ErrNo::kItemNotFound)));

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

// A Yes/No column of PostgreSQL may be a number as well as a boolean (the demo schema, which the
// unattended add of the resolution test stores); True goes in as the column holds it.
TEST_P(RecordsetTest, BooleansAreStoredAsTheColumnHoldsThemAndNullsStayNull) {
    TempDb temp(GetParam(),
                DemoSchemaSql(GetParam())
                    .replace("BOOLEAN NOT NULL DEFAULT FALSE", "SMALLINT NOT NULL DEFAULT 0"),
                false);
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

INSTANTIATE_ON_EVERY_STORE(RecordsetTest);

}  // namespace
