#pragma once

#include <QString>

// Reads the RTF file `rtfPath` with a real RTF reader (LibreOffice, headless) and returns its
// plain text, line ends as "\n". `workDir` receives the reader's profile and output. Records a
// test failure and returns an empty text when the reader is missing, fails or hangs.
QString ReadWithOffice(const QString& rtfPath, const QString& workDir);
