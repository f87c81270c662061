#pragma once

#include "core/host.h"
#include "core/outcome.h"

#include <QStringList>

// The import window's commands, free of widgets. A run walks the host's file list, hands each
// chosen file to ImportFile, tells the host how each file ended (FileImported), shows progress
// and logs the totals line at its normal end. A run clears bCancel at its start and locks the
// window (SetRunActive) while it lasts; a command that arrives during a run (from the event
// processing) is refused and returns a RunOutcome that was not started.

// Told what a run stores as it goes, so that a record of it is true however the run ends
// (app/run_record.h). Every call comes on the run's own thread, between two files or right after
// a device's commit.
class RunObserver {
  public:
    virtual ~RunObserver() = default;
    // The run begins; `paths` are the files it is to import, in order.
    virtual void RunStarting(ImportContext& ctx, const QStringList& paths) = 0;
    // A device of the current file was committed.
    virtual void DeviceStored(ImportContext& ctx, const StoredEquipment& equipment) = 0;
    // The current file ended with `outcome` (the next file of `paths`).
    virtual void FileDone(ImportContext& ctx, const FileOutcome& outcome) = 0;
};

// Imports the selected entries of the file list.
RunOutcome cmdOne_Click(ImportContext& ctx, RunObserver* observer = nullptr);
// Imports every entry of the file list.
RunOutcome cmdAll_Click(ImportContext& ctx, RunObserver* observer = nullptr);
// Asks whether to cancel; Yes sets bCancel.
void cmdCancel_Click(ImportContext& ctx);
