#pragma once

#include <QString>
#include <cstdint>

#include "core/host.h"
#include "core/outcome.h"
#include "flx/connector.h"

// Section states of the reader.
enum class SectionState : int { kOutside = 0, kDefinition = 1, kBlock = 2 };

// Reads and imports one FLX file and returns how it ended. Every error of the file's import is
// caught here: a message box shows its number, description and source, the file ends with
// FileStatus::kError, and the caller goes on.
FileOutcome ImportFile(ImportContext& ctx, const QString& path);

// Handles one line that is not a marker, by section state and section line number. Returns
// the connector row the line stored, if any.
ConnectorRow ProcessLine(ImportContext& ctx, SectionState state, std::int64_t lineNumber,
                         const QString& line);
