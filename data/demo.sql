-- Demo rows: a few manufacturers and models, so that versioning and lookups have work to do.
INSERT INTO tblManufacturers (ManufacturerID, ManufacturerName, DisplayInEquipment,
    displayInJackFields, DisplayInRouters, DisplayInJboxes, displayInCabletypes) VALUES
    ('ACME', 'Acme Broadcast', -1, -1, -1, -1, -1),
    ('NORTHLN', 'Northline Audio', -1, 0, 0, 0, 0),
    ('VIDEOWRX', 'Videoworks', -1, 0, -1, 0, 0),
    ('KESTREL', 'Kestrel Systems', -1, 0, 0, 0, -1);

INSERT INTO tblEquipment (EquipmentName, ManufacturerID, EquipmentType, EquipmentDescription)
VALUES
    ('DA-100', 'ACME', 'Distribution Amplifier', 'Distribution Amplifier'),
    ('MX-8', 'NORTHLN', 'Audio Mixer', 'Audio Mixer');
