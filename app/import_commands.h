#pragma once

#include "core/host.h"
#include "core/outcome.h"

// The import window's commands, free of widgets. A run walks the host's file list, hands each
// chosen file to ImportFile, tells the host how each file ended (FileImported), shows progress
// and logs the totals line at its normal end. A run clears bCancel at its start and locks the
// window (SetRunActive) while it lasts; a command that arrives during a run (from the event
// processing) is refused and returns a RunOutcome that was not started.

// Imports the selected entries of the file list.
RunOutcome cmdOne_Click(ImportContext& ctx);
// Imports every entry of the file list.
RunOutcome cmdAll_Click(ImportContext& ctx);
// Asks whether to cancel; Yes sets bCancel.
void cmdCancel_Click(ImportContext& ctx);
