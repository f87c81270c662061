#pragma once

#include <span>

// The equipment database as importflx knows it: the four tables and the columns it reads or
// writes, spelled as the host product spells them. The store compares these names without
// regard to letter case. Every statement (records/statements.h), the table check before a run,
// the dry run's key counters and the messages that name a column take them from here.
namespace schema {

struct Table {
    const char* name;
    // The columns the import reads or writes; a database without one of them cannot take a file.
    std::span<const char* const> columns;
};

inline constexpr const char* kManufacturerID = "ManufacturerID";
inline constexpr const char* kManufacturerName = "ManufacturerName";
inline constexpr const char* kDisplayInEquipment = "DisplayInEquipment";
// The five Yes/No columns that tell the host product where a manufacturer is offered, in the
// order of the add-manufacturer dialog's boxes.
inline constexpr const char* kDisplayFlags[] = {kDisplayInEquipment, "displayInJackFields",
                                                "DisplayInRouters", "DisplayInJboxes",
                                                "displayInCabletypes"};

inline constexpr const char* kEquipmentID = "EquipmentID";
inline constexpr const char* kEquipmentName = "EquipmentName";
inline constexpr const char* kEquipmentType = "EquipmentType";
inline constexpr const char* kEquipmentDescription = "EquipmentDescription";

inline constexpr const char* kConnectorName = "Name";
inline constexpr const char* kConnectorType = "Type";
inline constexpr const char* kConnectorConn = "Conn";
inline constexpr const char* kPinType = "PinType";

inline constexpr const char* kManufacturerColumns[] = {kManufacturerID, kManufacturerName,
                                                       kDisplayInEquipment};
inline constexpr const char* kEquipmentColumns[] = {kEquipmentID, kEquipmentName, kManufacturerID,
                                                    kEquipmentType, kEquipmentDescription};
// A connector row, in the order in which its values are bound.
inline constexpr const char* kConnectorColumns[] = {kEquipmentID, kConnectorName, kConnectorType,
                                                    kConnectorConn, kPinType};

inline constexpr Table kManufacturers{"tblManufacturers", kManufacturerColumns};
inline constexpr Table kEquipment{"tblEquipment", kEquipmentColumns};
inline constexpr Table kInputs{"tblInputs", kConnectorColumns};
inline constexpr Table kOutputs{"tblOutputs", kConnectorColumns};

// Every table an import writes, in the order in which a device's rows reach them.
inline constexpr const Table* kTables[] = {&kManufacturers, &kEquipment, &kInputs, &kOutputs};

}  // namespace schema
