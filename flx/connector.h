#pragma once

#include <QString>

#include "core/host.h"

// The row a connector line stored.
enum class ConnectorRow { kNone, kInput, kOutput };

// Cuts a connector line into its fixed columns, logs it and, for the codes "I", "L" and "O",
// stores a tblInputs or tblOutputs row for the block's equipment and counts it. Returns the
// row it stored; a row the store refuses raises (after it was counted, as the run's totals
// count every attempted row).
ConnectorRow AddConnector(ImportContext& ctx, const QString& line);
