#pragma once

#include <QString>

#include "core/host.h"
#include "core/outcome.h"
#include "flx/flx_file.h"

// Reads and imports one FLX file and returns how it ended. The file is read whole into a value
// first (flx::ReadFile); then its sections are walked in order, with the window's events let
// through and the cancel flag tested at every line the import takes:
//   - a definition line sets sManuID, sEquipName or sEquipType and is logged (ProcessLine);
//   - a block resolves its manufacturer at its start (dialogs may show), and once its connector
//     lines are read its equipment row and connector rows are stored whole or not at all, in a
//     unit of work that holds the database for nothing but the writing. Its connector lines are
//     logged after that: every one when it was stored; up to the failing one when a row
//     failed, whose error then ends the file; the ones read before a cancel when the run was
//     cancelled in the middle of the block (nothing of it stored).
// Blocks stored before a failure stay stored. Every error of the file's import is caught here:
// a message box shows its number, description and source, the file ends with FileStatus::kError,
// and the caller goes on.
FileOutcome ImportFile(ImportContext& ctx, const QString& path);

// Takes one of a definition section's first three lines into the session and logs it.
void ProcessLine(ImportContext& ctx, const flx::HeaderLine& line);
