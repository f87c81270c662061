-- The equipment database's tables for PostgreSQL, as importflx reads and writes them. Names are
-- unquoted, so the server folds them to lower case (tblEquipment is tblequipment) as it folds the
-- statements. Text compares without regard to letter case, as the host product's store does,
-- through a case-insensitive collation; the Yes/No columns are booleans.
CREATE COLLATION IF NOT EXISTS nocase (provider = icu, locale = 'und-u-ks-level2',
    deterministic = false);

CREATE TABLE tblManufacturers (
    ManufacturerID VARCHAR(50) COLLATE nocase NOT NULL PRIMARY KEY,
    ManufacturerName VARCHAR(50) COLLATE nocase,
    DisplayInEquipment BOOLEAN NOT NULL DEFAULT FALSE,
    displayInJackFields BOOLEAN NOT NULL DEFAULT FALSE,
    DisplayInRouters BOOLEAN NOT NULL DEFAULT FALSE,
    DisplayInJboxes BOOLEAN NOT NULL DEFAULT FALSE,
    displayInCabletypes BOOLEAN NOT NULL DEFAULT FALSE,
    Website VARCHAR(255) COLLATE nocase
);

CREATE TABLE tblEquipment (
    EquipmentID SERIAL PRIMARY KEY,
    EquipmentName VARCHAR(50) COLLATE nocase,
    ManufacturerID VARCHAR(50) COLLATE nocase,
    EquipmentType VARCHAR(50) COLLATE nocase,
    EquipmentDescription VARCHAR(255) COLLATE nocase,
    BlockRef VARCHAR(50) COLLATE nocase,
    RackUnits INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX idxEquipmentManufacturerName ON tblEquipment (ManufacturerID, EquipmentName);
CREATE INDEX idxEquipmentName ON tblEquipment (EquipmentName);

CREATE TABLE tblInputs (
    InputID SERIAL PRIMARY KEY,
    EquipmentID INTEGER NOT NULL,
    Name VARCHAR(50) COLLATE nocase,
    Type VARCHAR(20) COLLATE nocase,
    Conn VARCHAR(20) COLLATE nocase,
    PinType VARCHAR(10) COLLATE nocase
);
CREATE INDEX idxInputsEquipment ON tblInputs (EquipmentID);

CREATE TABLE tblOutputs (
    OutputID SERIAL PRIMARY KEY,
    EquipmentID INTEGER NOT NULL,
    Name VARCHAR(50) COLLATE nocase,
    Type VARCHAR(20) COLLATE nocase,
    Conn VARCHAR(20) COLLATE nocase,
    PinType VARCHAR(10) COLLATE nocase
);
CREATE INDEX idxOutputsEquipment ON tblOutputs (EquipmentID);
