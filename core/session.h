#pragma once

#include <QHash>
#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

#include "core/outcome.h"

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

    // The manufacturers of the database as the current run knows them, by ID (exactly as a
    // file or the database writes it), with the ID and the name the database holds: read whole
    // at the first block of a run, so that a block of a known manufacturer asks the database
    // again only inside its own unit of work, and added to as the run finds or adds more.
    // Forgotten at the start of every run, so that a run sees what colleagues changed since the
    // last one.
    struct FoundManufacturer {
        QString id;
        QString name;
    };
    QHash<QString, FoundManufacturer> manufacturersFound;
    bool manufacturersListed = false;
    void ForgetManufacturers() {
        manufacturersFound.clear();
        manufacturersListed = false;
    }
    // The manufacturers the current run added (unattended or through the add-manufacturer
    // dialog), in the order added; emptied at the start of every run.
    std::vector<FoundManufacturer> manufacturersAdded;
    // Called right after each device's commit while a run is observed (app/import_commands.h).
    std::function<void(const StoredEquipment&)> deviceStored;
    // Counters of the current run; wide enough that no real run overflows them.
    std::int64_t iInputs = 0;
    std::int64_t iOutputs = 0;
    std::int64_t iParts = 0;
    // The action log has shown the report window, and the user has not closed it since.
    bool bReportShown = false;

    // The choices of the selection dialog for the rest of the program run. It starts with one
    // entry of empty texts (index 0, which an empty file ID matches); "Done" appends; choosing
    // another database starts it afresh, since its IDs belong to the old one.
    std::vector<ManuMapEntry> aManuMap = std::vector<ManuMapEntry>(1);
    // True while an import run is in progress; a second run is refused meanwhile.
    bool bRunActive = false;
};
