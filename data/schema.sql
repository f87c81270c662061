-- The equipment database's tables as importflx reads and writes them. Text compares without
-- regard to letter case, as the host product's store does; Booleans hold -1 (True) or 0.
CREATE TABLE tblManufacturers (
    ManufacturerID VARCHAR(50) COLLATE NOCASE NOT NULL PRIMARY KEY,
    ManufacturerName VARCHAR(50) COLLATE NOCASE,
    DisplayInEquipment BOOLEAN NOT NULL DEFAULT 0,
    displayInJackFields BOOLEAN NOT NULL DEFAULT 0,
    DisplayInRouters BOOLEAN NOT NULL DEFAULT 0,
    DisplayInJboxes BOOLEAN NOT NULL DEFAULT 0,
    displayInCabletypes BOOLEAN NOT NULL DEFAULT 0,
    Website VARCHAR(255) COLLATE NOCASE
);

CREATE TABLE tblEquipment (
    EquipmentID INTEGER PRIMARY KEY AUTOINCREMENT,
    EquipmentName VARCHAR(50) COLLATE NOCASE,
    ManufacturerID VARCHAR(50) COLLATE NOCASE,
    EquipmentType VARCHAR(50) COLLATE NOCASE,
    EquipmentDescription VARCHAR(255) COLLATE NOCASE,
    BlockRef VARCHAR(50) COLLATE NOCASE,
    RackUnits INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX idxEquipmentManufacturerName ON tblEquipment (ManufacturerID, EquipmentName);
CREATE INDEX idxEquipmentName ON tblEquipment (EquipmentName);

CREATE TABLE tblInputs (
    InputID INTEGER PRIMARY KEY AUTOINCREMENT,
    EquipmentID INTEGER NOT NULL,
    Name VARCHAR(50) COLLATE NOCASE,
    Type VARCHAR(20) COLLATE NOCASE,
    Conn VARCHAR(20) COLLATE NOCASE,
    PinType VARCHAR(10) COLLATE NOCASE
);
CREATE INDEX idxInputsEquipment ON tblInputs (EquipmentID);

CREATE TABLE tblOutputs (
    OutputID INTEGER PRIMARY KEY AUTOINCREMENT,
    EquipmentID INTEGER NOT NULL,
    Name VARCHAR(50) COLLATE NOCASE,
    Type VARCHAR(20) COLLATE NOCASE,
    Conn VARCHAR(20) COLLATE NOCASE,
    PinType VARCHAR(10) COLLATE NOCASE
);
CREATE INDEX idxOutputsEquipment ON tblOutputs (EquipmentID);
