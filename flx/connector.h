#pragma once

#include <QString>

#include "core/host.h"

// Cuts a connector line into its fixed columns, logs it and, for the codes "I", "L" and "O",
// stores a tblInputs or tblOutputs row for the block's equipment and counts it.
void AddConnector(ImportContext& ctx, const QString& line);
