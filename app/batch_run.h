#pragma once

#include "app/batch_options.h"

// Runs the whole batch for parsed, valid `options` (not --help) and returns the exit status.
// The database is the one ChooseDatabase (app/database_choice.h) names; a database file that
// does not exist, or one without the tables, ends the run before it starts. Usage and database
// problems are reported on standard error. With --json the document is written at the end,
// whichever way the run ended. An interrupt (SIGINT) stops the run at the next line it reads.
int RunBatch(const BatchOptions& options);
