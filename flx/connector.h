#pragma once

#include <optional>

#include "core/host.h"
#include "flx/flx_format.h"
#include "records/device.h"

// The row a connector line makes by its IO type code: "I" an input (pin type "Normal"), "L" an
// input (pin type "Loop"), "O" an output ("Normal"); any other code, a blank included, none.
std::optional<db::ConnectorRow> ConnectorRowOf(const flx::ConnectorFields& fields);

// Reports one connector line of a stored (or failed) block: its four fields go into sType,
// sSig, sConn and sName, the line "IOType = ..." is logged whatever its code, and a line that
// makes a row counts it in iInputs or iOutputs. Nothing while bCancel is set. Returns whether
// the line made a row.
bool AddConnector(ImportContext& ctx, const flx::ConnectorFields& fields);
