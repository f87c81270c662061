#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

namespace db {
class Recordset;
}

// One remembered choice of the selection dialog: a manufacturer ID as a file gave it, and the
// database manufacturer the user chose for it.
struct ManuMapEntry {
    QString sFileID;
    QString sMapName;
    QString sMapID;
};

// The session state of the import window: the variables that all import code shares. It comes
// into being with the window, empty, and lives until the window closes. Nothing clears the
// header values between files or runs: a file without a header line keeps an earlier value.
struct SessionState {
    // Shared with the dialogs.
    QString sEquipConnection;  // connection string of the equipment database: load, Database...
    QString sManuID;           // manufacturer ID: as the file gives it, then as resolved
    QString sManuName;         // name of the manufacturer the current equipment resolves to
    QString sEquipName;        // model of the current definition, versioned when taken
    QString sEquipType;        // equipment type of the current definition
    QString sType;             // IO type code of the current connector line
    QString sSig;              // signal column of the current connector line
    QString sConn;             // connector column of the current connector line
    QString sName;             // name column of the current connector line
    bool bCancel = false;      // cancel flag of the running import

    // Import internals: replaced at every block start by manufacturer resolution. Shared
    // pointers, so that this header needs no database type.
    std::shared_ptr<db::Recordset> rsManufacturer;
    std::shared_ptr<db::Recordset> rsEquipment;
    std::shared_ptr<db::Recordset> rsInputs;
    std::shared_ptr<db::Recordset> rsOutputs;
    // Counters of the current run; wide enough that no real run overflows them.
    std::int64_t iInputs = 0;
    std::int64_t iOutputs = 0;
    std::int64_t iParts = 0;
    bool bReportShown = false;  // the action log has shown the report window once

    // The choices of the selection dialog for the rest of the program run. It starts with one
    // entry of empty texts (index 0, which an empty file ID matches); "Done" appends; choosing
    // another database starts it afresh, since its IDs belong to the old one.
    std::vector<ManuMapEntry> aManuMap = std::vector<ManuMapEntry>(1);
    // True while an import run is in progress; a second run is refused meanwhile.
    bool bRunActive = false;
};
