#pragma once

// Every statement that importflx sends to the equipment database. A `?` stands where a value is
// bound; values are never joined into the text. "JonkyWonderBoy" is a name that no sound
// database holds: the statements that compare with it yield an empty, updatable result.
namespace sql {

// Finds a manufacturer by ID; also the result on which an unattended manufacturer is added.
inline constexpr const char* kManufacturerById =
    "Select ManufacturerID, ManufacturerName, DisplayInEquipment from tblManufacturers "
    "Where ManufacturerID = ?";
// Reopens the resolved manufacturer before its ID is copied into the equipment row.
inline constexpr const char* kManufacturerNameById =
    "Select ManufacturerName, ManufacturerID FROM tblManufacturers Where ManufacturerID = ?";
// Duplicate test of a model name for one manufacturer (NAME, ID).
inline constexpr const char* kEquipmentByNameAndManufacturer =
    "select EquipmentName, ManufacturerID from tblequipment where EquipmentName = ? and "
    "ManufacturerID = ?";
// Empty result on which a new equipment row is added.
inline constexpr const char* kEquipmentForAdding =
    "Select EquipmentName, ManufacturerID, EquipmentType, EquipmentID, EquipmentDescription "
    "From TblEquipment Where EquipmentName = 'JonkyWonderBoy'";
// The resolved manufacturer, reopened after resolution (the text of kManufacturerById).
inline constexpr const char* kResolvedManufacturer = kManufacturerById;
// Consistency check: must yield no row.
inline constexpr const char* kEquipmentConsistencyCheck =
    "Select ManufacturerID, EquipmentName, EquipmentID, EquipmentDescription, EquipmentType "
    "from tblEquipment Where ManufacturerID = 'JonkyWonderBoy'";
// One input row (EquipmentID, Name, Type, Conn, PinType).
inline constexpr const char* kInsertInput =
    "Insert INTO tblInputs ([EquipmentID],[Name],[Type],[Conn],[PinType]) VALUES (?,?,?,?,?)";
// One output row (EquipmentID, Name, Type, Conn, PinType).
inline constexpr const char* kInsertOutput =
    "Insert INTO tblOutputs ([EquipmentID],[Name],[Type],[Conn],[PinType]) VALUES (?,?,?,?,?)";
// Every manufacturer, for the selection list.
inline constexpr const char* kManufacturerList =
    "Select ManufacturerID, ManufacturerName from tblManufacturers Order by ManufacturerName";
// Every manufacturer with all columns, for the add-manufacturer dialog.
inline constexpr const char* kManufacturerTable =
    "Select * from tblManufacturers order by ManufacturerName";

}  // namespace sql
