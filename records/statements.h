#pragma once

#include <span>

// Every statement that importflx sends to the equipment database, in the Jet SQL of the host
// product's own store. A `?` stands where a value is bound; values are never joined into the
// text. "JonkyWonderBoy" is a name that no sound database holds: the statements that compare
// with it yield an empty, updatable result.
//
// Beside its text each statement names the table it reads or writes and the columns it names
// (for an insert: the bound columns, in order), so that the database layer never has to read
// them out of the text. The form in which each kind of database receives a statement is decided
// by the database layer (records/dialect.h); a statement that no mechanical change of the Jet
// text can carry to a store gives that store's form beside the Jet one.
namespace sql {

enum class Kind { kSelect, kInsert };

struct Statement {
    const char* text;  // Jet SQL
    const char* table;
    std::span<const char* const> columns;
    Kind kind = Kind::kSelect;
    // The statement for SQLite and for PostgreSQL where the Jet text does not serve.
    const char* sqliteText = nullptr;
    const char* postgresText = nullptr;
};

inline constexpr const char* kManufacturerByIdColumns[] = {"ManufacturerID", "ManufacturerName",
                                                           "DisplayInEquipment"};
inline constexpr const char* kManufacturerNameColumns[] = {"ManufacturerName", "ManufacturerID"};
inline constexpr const char* kEquipmentNameColumns[] = {"EquipmentName", "ManufacturerID"};
inline constexpr const char* kEquipmentColumns[] = {
    "EquipmentName", "ManufacturerID", "EquipmentType", "EquipmentID", "EquipmentDescription"};
inline constexpr const char* kConnectorColumns[] = {"EquipmentID", "Name", "Type", "Conn",
                                                    "PinType"};

// Finds a manufacturer by ID; also the result on which an unattended manufacturer is added.
inline constexpr Statement kManufacturerById{
    "Select ManufacturerID, ManufacturerName, DisplayInEquipment from tblManufacturers "
    "Where ManufacturerID = ?",
    "tblManufacturers", kManufacturerByIdColumns};
// Reopens the resolved manufacturer before its ID is copied into the equipment row.
inline constexpr Statement kManufacturerNameById{
    "Select ManufacturerName, ManufacturerID FROM tblManufacturers Where ManufacturerID = ?",
    "tblManufacturers", kManufacturerNameColumns};
// Duplicate test of a model name for one manufacturer (NAME, ID).
inline constexpr Statement kEquipmentByNameAndManufacturer{
    "select EquipmentName, ManufacturerID from tblequipment where EquipmentName = ? and "
    "ManufacturerID = ?",
    "tblequipment", kEquipmentNameColumns};
// Empty result on which a new equipment row is added.
inline constexpr Statement kEquipmentForAdding{
    "Select EquipmentName, ManufacturerID, EquipmentType, EquipmentID, EquipmentDescription "
    "From TblEquipment Where EquipmentName = 'JonkyWonderBoy'",
    "TblEquipment", kEquipmentColumns};
// The resolved manufacturer, reopened after resolution (the text of kManufacturerById).
inline constexpr const Statement& kResolvedManufacturer = kManufacturerById;
// Consistency check: must yield no row.
inline constexpr Statement kEquipmentConsistencyCheck{
    "Select ManufacturerID, EquipmentName, EquipmentID, EquipmentDescription, EquipmentType "
    "from tblEquipment Where ManufacturerID = 'JonkyWonderBoy'",
    "tblEquipment", kEquipmentColumns};
// One input row (EquipmentID, Name, Type, Conn, PinType).
inline constexpr Statement kInsertInput{
    "Insert INTO tblInputs ([EquipmentID],[Name],[Type],[Conn],[PinType]) VALUES (?,?,?,?,?)",
    "tblInputs", kConnectorColumns, Kind::kInsert};
// One output row (EquipmentID, Name, Type, Conn, PinType).
inline constexpr Statement kInsertOutput{
    "Insert INTO tblOutputs ([EquipmentID],[Name],[Type],[Conn],[PinType]) VALUES (?,?,?,?,?)",
    "tblOutputs", kConnectorColumns, Kind::kInsert};
// Every manufacturer, for the selection list.
inline constexpr Statement kManufacturerList{
    "Select ManufacturerID, ManufacturerName from tblManufacturers Order by ManufacturerName",
    "tblManufacturers", kManufacturerNameColumns};
// Every manufacturer with all columns, for the add-manufacturer dialog.
inline constexpr Statement kManufacturerTable{
    "Select * from tblManufacturers order by ManufacturerName", "tblManufacturers", {}};

// The version numbers that one manufacturer's equipment names already take for a base name: 0
// for a row named base, n for a row named base_vn, one row each, in no order. The database
// itself compares the names, as the one-candidate-at-a-time test (kEquipmentByNameAndManufacturer)
// does, so that its rules for letter case and trailing blanks hold: each row's number is read
// out of its name and the row counts only when the database finds it equal to the candidate
// name built from that number. Only rows named base or sorting from base_v up to base_w are
// read, through the index on (ManufacturerID, EquipmentName).
// Values: base, p, base, p, p, manufacturer ID, base, base + "_v", base + "_w", where p is the
// position of the first digit after base_v (length of base + 3).
inline constexpr Statement kEquipmentVersionsTaken{
    "SELECT n FROM (SELECT IIf(EquipmentName = ?, 0, IIf(Val(Mid(EquipmentName, ?)) >= 1 And "
    "EquipmentName = ? & '_v' & CStr(Val(Mid(EquipmentName, ?))), Val(Mid(EquipmentName, ?)), "
    "Null)) AS n FROM tblEquipment WHERE ManufacturerID = ? AND (EquipmentName = ? OR "
    "(EquipmentName >= ? AND EquipmentName < ?))) AS t WHERE n IS NOT NULL",
    "tblEquipment",
    kEquipmentNameColumns,
    Kind::kSelect,
    "SELECT n FROM (SELECT CASE WHEN EquipmentName = ? THEN 0 WHEN CAST(SUBSTR(EquipmentName, ?) "
    "AS INTEGER) >= 1 AND EquipmentName = ? || '_v' || CAST(CAST(SUBSTR(EquipmentName, ?) AS "
    "INTEGER) AS TEXT) THEN CAST(SUBSTR(EquipmentName, ?) AS INTEGER) END AS n FROM tblEquipment "
    "WHERE ManufacturerID = ? AND (EquipmentName = ? OR (EquipmentName >= ? AND EquipmentName < "
    "?))) WHERE n IS NOT NULL",
    "SELECT n FROM (SELECT CASE WHEN EquipmentName = CAST(? AS VARCHAR) THEN 0 WHEN "
    "SUBSTRING(EquipmentName FROM CAST(? AS INTEGER)) COLLATE \"C\" ~ '^[1-9][0-9]{0,17}$' AND "
    "EquipmentName = CAST(? AS VARCHAR) || '_v' || SUBSTRING(EquipmentName FROM CAST(? AS "
    "INTEGER)) THEN CAST(SUBSTRING(EquipmentName FROM CAST(? AS INTEGER)) AS BIGINT) END AS n "
    "FROM tblEquipment WHERE ManufacturerID = CAST(? AS VARCHAR) AND (EquipmentName = CAST(? AS "
    "VARCHAR) OR (EquipmentName >= CAST(? AS VARCHAR) AND EquipmentName < CAST(? AS VARCHAR)))) "
    "AS t WHERE n IS NOT NULL"};

}  // namespace sql
