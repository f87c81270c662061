#pragma once

#include "app/batch_options.h"

// The batch tool's commands on recorded runs (app/run_record.h). Each returns the exit status.

// --runs: one line per record on standard output, newest first: its time, database, the files
// that stored rows, the rows stored, and the record's path.
int ListRuns();
// --undo RECORD: removes what the run added (app/run_undo.h) from the record's database, or
// from --db when it names the same one (another is refused). Says what was removed and what
// was kept on standard output, or as JSON with --json. 0 everything was removed (or had been),
// 1 something was kept, 2 usage or database error.
int UndoRun(const BatchOptions& options);
// --resume RECORD: imports the record's files that the run did not add, with its options and
// database. A file that stored part of itself is named and left; one changed since the run
// (size or SHA-256) is named and left unless --force. The exit status is the run's, at least 1
// when a file was left.
int ResumeRun(const BatchOptions& options);
