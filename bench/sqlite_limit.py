#!/usr/bin/env python3
"""The store's own speed for what an import writes: the rows that a run of the batch tool
stored, inserted again by prepared statements (executemany, which runs in SQLite's C library),
one transaction per equipment row with its inputs and outputs, under the import's journal
settings (write-ahead log, synchronous=NORMAL, a checkpoint every 4,096 pages).

usage: sqlite_limit.py STORED BASE TARGET
    STORED  the database the batch tool imported into
    BASE    the database as it was before (its rows are not inserted again)
    TARGET  a copy of BASE to insert into
Prints the seconds the inserts and commits took, the opening and closing of TARGET included.
"""
import sqlite3
import sys
import time

stored, base, target = sys.argv[1:4]
old = sqlite3.connect(base)
first = {table: old.execute("SELECT COALESCE(MAX(rowid), 0) FROM %s" % table).fetchone()[0]
         for table in ("tblEquipment", "tblInputs", "tblOutputs")}
known = {row[0] for row in old.execute("SELECT ManufacturerID FROM tblManufacturers")}
src = sqlite3.connect(stored)
manufacturers = [row for row in src.execute("SELECT * FROM tblManufacturers")
                 if row[0] not in known]
equipment = src.execute(
    "SELECT EquipmentID, EquipmentName, ManufacturerID, EquipmentType, EquipmentDescription "
    "FROM tblEquipment WHERE EquipmentID > ? ORDER BY EquipmentID",
    (first["tblEquipment"],)).fetchall()
connectors = {}
for table in ("tblInputs", "tblOutputs"):
    for row in src.execute("SELECT EquipmentID, Name, Type, Conn, PinType FROM %s WHERE rowid > ? "
                           "ORDER BY rowid" % table, (first[table],)):
        connectors.setdefault((table, row[0]), []).append(row[1:])

start = time.perf_counter()
db = sqlite3.connect(target, isolation_level=None)
db.execute("PRAGMA journal_mode=WAL")
db.execute("PRAGMA synchronous=NORMAL")
db.execute("PRAGMA wal_autocheckpoint=4096")
if manufacturers:
    db.execute("BEGIN IMMEDIATE")
    db.executemany("INSERT INTO tblManufacturers VALUES (%s)" % ",".join("?" * len(manufacturers[0])),
                   manufacturers)
    db.execute("COMMIT")
for row in equipment:
    db.execute("BEGIN IMMEDIATE")
    key = db.execute("INSERT INTO tblEquipment (EquipmentName, ManufacturerID, EquipmentType, "
                     "EquipmentDescription) VALUES (?, ?, ?, ?)", row[1:]).lastrowid
    for table in ("tblInputs", "tblOutputs"):
        db.executemany("INSERT INTO %s (EquipmentID, Name, Type, Conn, PinType) VALUES "
                       "(?, ?, ?, ?, ?)" % table,
                       [(key,) + c for c in connectors.get((table, row[0]), [])])
    db.execute("COMMIT")
db.execute("PRAGMA journal_mode=DELETE")
db.close()
print("%.4f" % (time.perf_counter() - start))
