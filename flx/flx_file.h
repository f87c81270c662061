#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "core/error.h"
#include "flx/flx_format.h"

// An FLX file as a value: what the import takes from it, read before anything is stored, so that
// a block can be handed to the database in one piece. Lines the import never reads (outside any
// section, a block's first line, a definition's lines past the third) are not kept.
namespace flx {

// Where a definition section's line stands: its first three lines are read by position.
enum class HeaderField { kManufacturerId = 1, kModel = 2, kType = 3 };

// One of a definition section's first three lines, as read (blanks kept).
struct HeaderLine {
    HeaderField field;
    QString text;
    std::int64_t line;  // in the file, counted from 1
};

// A block's connector line (its second line or later), cut at its columns.
struct ConnectorLine {
    ConnectorFields fields;
    std::int64_t line;  // in the file, counted from 1
};

// A definition section or a block section, from its marker to the next marker or the end.
struct Section {
    enum class Kind { kDefinition, kBlock };
    Kind kind = Kind::kDefinition;
    std::int64_t line = 0;                  // of its marker
    std::vector<HeaderLine> header;         // kDefinition
    std::vector<ConnectorLine> connectors;  // kBlock
    // False for the section that the file's reading failed in (File::error).
    bool complete = true;
};

struct File {
    std::vector<Section> sections;  // in file order
    // The error that ended the reading, when the file could be opened but not read to its end:
    // the sections before it are whole, the last one is not complete.
    std::optional<AppError> error;
};

// Reads the FLX file at `path` (see LineReader for its encodings and line ends) into a File.
// Raises the reader's errors when the file cannot be opened. `keepGoing`, when given, is asked
// every few thousand lines and after every long line; when it answers false the reading stops
// and nothing is returned.
std::optional<File> ReadFile(const QString& path, const std::function<bool()>& keepGoing = {});

}  // namespace flx
