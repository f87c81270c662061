#pragma once

#include "app/host.h"

// The import window's commands, free of widgets. A run walks the host's file list, hands each
// chosen file to ImportFile, shows progress and logs the totals line at its normal end.
// A run clears bCancel at its start and locks the window (SetRunActive) while it lasts.

// Imports the selected entries of the file list.
void cmdOne_Click(ImportContext& ctx);
// Imports every entry of the file list.
void cmdAll_Click(ImportContext& ctx);
// Asks whether to cancel; Yes sets bCancel.
void cmdCancel_Click(ImportContext& ctx);

// True while a run started by cmdOne_Click or cmdAll_Click is in progress.
bool RunInProgress();
