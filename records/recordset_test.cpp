#include "records/recordset.h"

#include "records/database.h"
#include "records/device.h"
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

Recordset OpenOn(db::Database& database, const sql::Statement& statement,
                 const QVariantList& values = {}, CursorType cursor = CursorType::kStatic,
                 LockType lock = LockType::kOptimistic) {
    Recordset rs;
    rs.setActiveConnection(database);
    rs.Open(statement, values, cursor, lock);
    return rs;
}

// The engine's tests run every statement on the demo schema of every store; here they run on an
// SQLite database shaped unlike it.
TEST(Recordset, EveryStatementRunsOnAnotherShape) {
    const TempDb temp(kOtherShape, false);
    db::Database database(temp.connection());
    Recordset m = OpenOn(database, sql::kManufacturerById, {"acme"});
    ASSERT_EQ(m.RecordCount(), 1);  // text equality of the store ignores case
    EXPECT_EQ(m.Field("manufacturerid").toString(), "ACME");
    m.Close();
    m.Open(sql::kManufacturerNameById, {"ACME"});
    EXPECT_EQ(m.Field("ManufacturerID").toString(), "ACME");
    const auto count = [&](const sql::Statement& statement, const QVariantList& values = {}) {
        return OpenOn(database, statement, values).RecordCount();
    };
    EXPECT_EQ(count(sql::kEquipmentByNameAndManufacturer, {"da-100", "Acme"}), 1);
    EXPECT_EQ(count(sql::kEquipmentByNameAndManufacturer, {"DA-100", "OTHER"}), 0);
    EXPECT_EQ(count(sql::kResolvedManufacturer, {"ACME"}), 1);
    EXPECT_EQ(count(sql::kEquipmentConsistencyCheck), 0);
    EXPECT_EQ(count(sql::kManufacturerTable), 1);
    EXPECT_EQ(OpenOn(database, sql::kManufacturerTable).DefinedSize("manufacturerNAME"), 12);

    // A device goes in whole, its rows in its columns whatever their order, with the ID of
    // the manufacturer as the database holds it and the key the store gives it.
    const db::DeviceResult device = db::StoreDevice(
        database, {"acme",
                   "O'Brien \"Mk II\"",
                   "Amp",
                   {{db::ConnectorTable::kInputs, "In 'A'", "AES", "XLR", "Normal"},
                    {db::ConnectorTable::kOutputs, "Out", "SDI", "BNC", "Normal"}}});
    ASSERT_EQ(device.status, db::DeviceResult::Status::kStored) << device.error->what();
    EXPECT_EQ(temp.Rows("SELECT EquipmentID, EquipmentName, ManufacturerID, EquipmentType FROM "
                        "tblEquipment WHERE EquipmentName LIKE 'O%'"),
              QStringList({device.equipmentId.toString() + "|O'Brien \"Mk II\"|ACME|Amp"}));
    const QString id = device.equipmentId.toString() + '|';
    EXPECT_EQ(temp.Rows("SELECT EquipmentID, Name, Type, Conn, PinType, Extra FROM tblInputs"),
              QStringList({id + "In 'A'|AES|XLR|Normal|7"}));
    EXPECT_EQ(temp.Rows("SELECT EquipmentID, Name, Type, Conn, PinType FROM tblOutputs"),
              QStringList({id + "Out|SDI|BNC|Normal"}));

    Recordset list =
        OpenOn(database, sql::kManufacturerList, {}, CursorType::kStatic, LockType::kReadOnly);
    EXPECT_FALSE(list.IsEOF());
    list.MoveNext();
    EXPECT_TRUE(list.IsEOF());
    // Misuse raises rather than writing a read-only list or reading past the columns.
    EXPECT_TRUE(ErrorOf([&] { list.AddNew(); }).startsWith(QString::number(ErrNo::kNotUpdatable)));
    EXPECT_TRUE(
        ErrorOf([&] { m.Field("Website"); }).startsWith(QString::number(ErrNo::kItemNotFound)));
}

// A Yes/No column of PostgreSQL may be a number as well as a boolean (the demo schema, which the
// unattended add of the resolution test stores); True goes in as the column holds it.
TEST_P(RecordsetTest, BooleansAreStoredAsTheColumnHoldsThemAndNullsStayNull) {
    TempDb temp(GetParam(),
                DemoSchemaSql(GetParam())
                    .replace("BOOLEAN NOT NULL DEFAULT FALSE", "SMALLINT NOT NULL DEFAULT 0"),
                false);
    db::Database database(temp.connection());
    Recordset rs = OpenOn(database, sql::kManufacturerById, {"NEW"});
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
