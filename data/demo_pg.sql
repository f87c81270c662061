-- Demo rows for PostgreSQL: the rows of demo.sql, with the Yes/No values as booleans.
INSERT INTO tblManufacturers (ManufacturerID, ManufacturerName, DisplayInEquipment,
    displayInJackFields, DisplayInRouters, DisplayInJboxes, displayInCabletypes) VALUES
    ('ACME', 'Acme Broadcast', TRUE, TRUE, TRUE, TRUE, TRUE),
    ('NORTHLN', 'Northline Audio', TRUE, FALSE, FALSE, FALSE, FALSE),
    ('VIDEOWRX', 'Videoworks', TRUE, FALSE, TRUE, FALSE, FALSE),
    ('KESTREL', 'Kestrel Systems', TRUE, FALSE, FALSE, FALSE, TRUE);

INSERT INTO tblEquipment (EquipmentName, ManufacturerID, EquipmentType, EquipmentDescription)
VALUES
    ('DA-100', 'ACME', 'Distribution Amplifier', 'Distribution Amplifier'),
    ('MX-8', 'NORTHLN', 'Audio Mixer', 'Audio Mixer');
