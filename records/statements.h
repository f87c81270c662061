#pragma once

#include <span>

#include "records/schema.h"

// Every statement that importflx sends to the equipment database, in the Jet SQL of the host
// product's own store. A `?` stands where a value is bound; values are never joined into the
// text. "JonkyWonderBoy" is a name that no sound database holds: the statements that compare
// with it yield an empty result.
//
// Beside its text each statement names the table it reads or writes and the columns it names
// (for an insert: the bound columns, in order), taken from records/schema.h, so that the
// database layer never has to read them out of the text. The form in which each kind of
// database receives a statement is decided by records/dialect.h; a statement that no
// mechanical change of the Jet text can carry to a store gives that store's form beside it.
// The statements that the layer builds for a table it has read the columns of (an added
// manufacturer row, the catalog, the locks) are made by records/dialect.h.
namespace sql {

enum class Kind { kSelect, kInsert };

struct Statement {
    const char* text;  // Jet SQL
    const schema::Table* table;
    std::span<const char* const> columns;
    Kind kind = Kind::kSelect;
    // The statement for SQLite and for PostgreSQL where the Jet text does not serve.
    const char* sqliteText = nullptr;
    const char* postgresText = nullptr;
};

inline constexpr const char* kManufacturerNameColumns[] = {schema::kManufacturerName,
                                                           schema::kManufacturerID};
inline constexpr const char* kEquipmentNameColumns[] = {schema::kEquipmentName,
                                                        schema::kManufacturerID};
// The bound columns of a new equipment row, in order.
inline constexpr const char* kNewEquipmentColumns[] = {
    schema::kEquipmentName, schema::kEquipmentDescription, schema::kManufacturerID,
    schema::kEquipmentType};

// Finds a manufacturer by ID.
inline constexpr Statement kManufacturerById{
    "Select ManufacturerID, ManufacturerName, DisplayInEquipment from tblManufacturers "
    "Where ManufacturerID = ?",
    &schema::kManufacturers, schema::kManufacturerColumns};
// The resolved manufacturer, found again after resolution (the text of kManufacturerById).
inline constexpr const Statement& kResolvedManufacturer = kManufacturerById;
// The manufacturer row whose ID an equipment row takes, read again inside the device's unit.
inline constexpr Statement kManufacturerNameById{
    "Select ManufacturerName, ManufacturerID FROM tblManufacturers Where ManufacturerID = ?",
    &schema::kManufacturers, kManufacturerNameColumns};
// Duplicate test of a model name for one manufacturer (NAME, ID).
inline constexpr Statement kEquipmentByNameAndManufacturer{
    "select EquipmentName, ManufacturerID from tblequipment where EquipmentName = ? and "
    "ManufacturerID = ?",
    &schema::kEquipment, kEquipmentNameColumns};
// Consistency check: must yield no row.
inline constexpr Statement kEquipmentConsistencyCheck{
    "Select ManufacturerID, EquipmentName, EquipmentID, EquipmentDescription, EquipmentType "
    "from tblEquipment Where ManufacturerID = 'JonkyWonderBoy'",
    &schema::kEquipment, schema::kEquipmentColumns};
// A new equipment row (name, description, manufacturer ID, type); where the store can, it
// yields the row's new EquipmentID.
inline constexpr Statement kInsertEquipment{
    "Insert INTO tblEquipment ([EquipmentName],[EquipmentDescription],[ManufacturerID],"
    "[EquipmentType]) VALUES (?,?,?,?)",
    &schema::kEquipment,
    kNewEquipmentColumns,
    Kind::kInsert,
    "Insert INTO tblEquipment ([EquipmentName],[EquipmentDescription],[ManufacturerID],"
    "[EquipmentType]) VALUES (?,?,?,?) RETURNING EquipmentID",
    "Insert INTO tblEquipment (EquipmentName,EquipmentDescription,ManufacturerID,EquipmentType) "
    "VALUES (CAST(? AS VARCHAR),CAST(? AS VARCHAR),CAST(? AS VARCHAR),CAST(? AS VARCHAR)) "
    "RETURNING EquipmentID"};
// One input row (EquipmentID, Name, Type, Conn, PinType).
inline constexpr Statement kInsertInput{
    "Insert INTO tblInputs ([EquipmentID],[Name],[Type],[Conn],[PinType]) VALUES (?,?,?,?,?)",
    &schema::kInputs, schema::kConnectorColumns, Kind::kInsert};
// One output row (EquipmentID, Name, Type, Conn, PinType).
inline constexpr Statement kInsertOutput{
    "Insert INTO tblOutputs ([EquipmentID],[Name],[Type],[Conn],[PinType]) VALUES (?,?,?,?,?)",
    &schema::kOutputs, schema::kConnectorColumns, Kind::kInsert};
// Every manufacturer, for the selection list.
inline constexpr Statement kManufacturerList{
    "Select ManufacturerID, ManufacturerName from tblManufacturers Order by ManufacturerName",
    &schema::kManufacturers, kManufacturerNameColumns};
// Every manufacturer with all columns, for the add-manufacturer dialog.
inline constexpr Statement kManufacturerTable{
    "Select * from tblManufacturers order by ManufacturerName", &schema::kManufacturers, {}};

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
    &schema::kEquipment,
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

// PostgreSQL only: a whole device in one statement, run after the importers' lock is taken.
// It checks that no equipment belongs to "JonkyWonderBoy", takes the manufacturer's ID as the
// database holds it, chooses the first version of the model that the versions its names take
// (as kEquipmentVersionsTaken finds them) leave free, and adds the equipment row unless the
// database finds that name taken after all, then the connector rows in the order given, each
// list bound as one array. Yields one row: whether the check failed, whether the manufacturer
// was found, the name chosen, the new EquipmentID (null when nothing was added), the
// numbers of input and output rows added, and the rows as stored, every column of each, as JSON:
// the equipment row (an object) and the input and output rows (arrays), for the run's record.
// Values: manufacturer ID, base name, type, p (as for kEquipmentVersionsTaken), base + "_v",
// base + "_w", then the input rows' names, signal types, connectors and pin types as four
// arrays, the same four for the outputs, and the equipment row's EquipmentID, drawn from its
// sequence beforehand.
inline constexpr const char* kPostgresDevice =
    "WITH chk AS (SELECT EXISTS (SELECT 1 FROM tblEquipment WHERE ManufacturerID = "
    "'JonkyWonderBoy') AS bad), "
    "m AS (SELECT ManufacturerID FROM tblManufacturers WHERE ManufacturerID = $1::varchar "
    "LIMIT 1), "
    "taken AS (SELECT n FROM (SELECT CASE WHEN q.EquipmentName = $2::varchar THEN 0 WHEN "
    "SUBSTRING(q.EquipmentName FROM $4::integer) COLLATE \"C\" ~ '^[1-9][0-9]{0,17}$' AND "
    "q.EquipmentName = $2::varchar || '_v' || SUBSTRING(q.EquipmentName FROM $4::integer) THEN "
    "CAST(SUBSTRING(q.EquipmentName FROM $4::integer) AS BIGINT) END AS n FROM tblEquipment q, "
    "m WHERE q.ManufacturerID = m.ManufacturerID AND (q.EquipmentName = $2::varchar OR "
    "(q.EquipmentName >= $5::varchar AND q.EquipmentName < $6::varchar))) t WHERE n IS NOT "
    "NULL), "
    "nm AS (SELECT CASE WHEN v = 0 THEN $2::varchar ELSE $2::varchar || '_v' || v END AS name "
    "FROM (SELECT min(c) AS v FROM (SELECT CAST(0 AS BIGINT) AS c UNION ALL SELECT n + 1 FROM "
    "taken) s WHERE c NOT IN (SELECT n FROM taken)) f), "
    "e AS (INSERT INTO tblEquipment (EquipmentID, EquipmentName, EquipmentDescription, "
    "ManufacturerID, EquipmentType) SELECT $15::bigint, nm.name, $3::varchar, m.ManufacturerID, "
    "$3::varchar FROM nm, m, chk "
    "WHERE NOT chk.bad AND NOT EXISTS (SELECT 1 FROM tblEquipment x WHERE x.ManufacturerID = "
    "m.ManufacturerID AND x.EquipmentName = nm.name) RETURNING *), "
    "i AS (INSERT INTO tblInputs (EquipmentID, Name, Type, Conn, PinType) SELECT e.EquipmentID, "
    "r.n, r.t, r.c, r.p FROM e, unnest($7::varchar[], $8::varchar[], $9::varchar[], "
    "$10::varchar[]) WITH ORDINALITY AS r(n, t, c, p, k) ORDER BY r.k RETURNING *), "
    "o AS (INSERT INTO tblOutputs (EquipmentID, Name, Type, Conn, PinType) SELECT e.EquipmentID, "
    "r.n, r.t, r.c, r.p FROM e, unnest($11::varchar[], $12::varchar[], $13::varchar[], "
    "$14::varchar[]) WITH ORDINALITY AS r(n, t, c, p, k) ORDER BY r.k RETURNING *) "
    "SELECT (SELECT bad FROM chk), (SELECT count(*) FROM m), (SELECT name FROM nm), "
    "(SELECT EquipmentID FROM e), (SELECT count(*) FROM i), (SELECT count(*) FROM o), "
    "(SELECT row_to_json(e) FROM e)::text, (SELECT coalesce(json_agg(i), '[]') FROM i)::text, "
    "(SELECT coalesce(json_agg(o), '[]') FROM o)::text";

// An equipment row by its key, with the numbers of its input and output rows: how a device
// whose commit went unanswered is found.
inline constexpr const char* kDeviceByKeyColumns[] = {schema::kEquipmentID, schema::kEquipmentName};
inline constexpr Statement kDeviceByKey{
    "SELECT e.EquipmentName, (SELECT count(*) FROM tblInputs i WHERE i.EquipmentID = "
    "e.EquipmentID), (SELECT count(*) FROM tblOutputs o WHERE o.EquipmentID = e.EquipmentID) "
    "FROM tblEquipment e WHERE e.EquipmentID = ?",
    &schema::kEquipment, kDeviceByKeyColumns};

// PostgreSQL only: a manufacturer added unless the database already finds one of that ID.
// Values: ID, name, the value that means True in the DisplayInEquipment column.
inline constexpr const char* kPostgresAddManufacturer =
    "INSERT INTO tblManufacturers (ManufacturerID, ManufacturerName, DisplayInEquipment) "
    "SELECT $1::varchar, $2::varchar, $3 WHERE NOT EXISTS (SELECT 1 FROM tblManufacturers WHERE "
    "ManufacturerID = $1::varchar)";

// The rows of one device as stored, read back after an import and before removing it again
// (records/run_rows.h). Every column, whatever the table holds beside importflx's own. Values:
// an EquipmentID.
inline constexpr Statement kEquipmentRowById{
    "Select * from tblEquipment Where EquipmentID = ?", &schema::kEquipment, {}};
inline constexpr Statement kInputsOfEquipment{
    "Select * from tblInputs Where EquipmentID = ?", &schema::kInputs, {}};
inline constexpr Statement kOutputsOfEquipment{
    "Select * from tblOutputs Where EquipmentID = ?", &schema::kOutputs, {}};
inline constexpr Statement kDeleteInputsOfEquipment{
    "Delete from tblInputs Where EquipmentID = ?", &schema::kInputs, {}};
inline constexpr Statement kDeleteOutputsOfEquipment{
    "Delete from tblOutputs Where EquipmentID = ?", &schema::kOutputs, {}};
inline constexpr Statement kDeleteEquipment{
    "Delete from tblEquipment Where EquipmentID = ?", &schema::kEquipment, {}};
// Whether a manufacturer is there and how many equipment rows refer to it, and its removal.
// Values: a manufacturer ID (twice for the count).
inline constexpr Statement kManufacturerUse{
    "Select (Select count(*) from tblManufacturers Where ManufacturerID = ?), (Select count(*) "
    "from tblEquipment Where ManufacturerID = ?)",
    &schema::kManufacturers, kManufacturerNameColumns};
inline constexpr Statement kDeleteManufacturer{
    "Delete from tblManufacturers Where ManufacturerID = ?", &schema::kManufacturers, {}};

}  // namespace sql
