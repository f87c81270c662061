#pragma once

#include <QString>
#include <cstdio>

// Platform services that do not need a window: the application folder and file lookups that
// ignore the letter case of a file name, as the original platform's file system did.
namespace platform {

// The folder that holds the running executable, without a trailing separator.
QString AppFolder();

// Overrides AppFolder() (tests and the demo lay the program's folder out elsewhere).
// An empty folder restores the real one.
void SetAppFolderForTesting(const QString& folder);

// The existing file in `folder` whose name equals `name` without regard to letter case, as a
// full path; empty when there is none. An exact match wins; among several other matches the
// first name in byte order is taken, so the choice is stable.
QString FindFileNoCase(const QString& folder, const QString& name);

// True when FindFileNoCase finds a regular file.
bool FileExistsNoCase(const QString& folder, const QString& name);

// Joins a folder and a file name with the platform's separator, never doubling it when the
// folder already ends in one (a drive's root). An empty folder gives the name alone.
QString JoinPath(const QString& folder, const QString& name);

// True when `path` lies on a network file system (NFS, SMB/CIFS, AFS, Ceph, 9P, or a file system
// in user space such as sshfs), where processes of different machines may share a file.
bool OnNetworkFileSystem(const QString& path);
// The same decision for a file system type as Linux's statfs reports it.
bool IsNetworkFileSystemType(unsigned long type);

// True when this process may read `path`, by its effective rights (root without its override
// rights, a program installed setuid): what opening it for reading would find.
bool ReadableByThisProcess(const QString& path);

// True when `stream` goes to a terminal.
bool IsTerminal(std::FILE* stream);
// The width of the terminal `stream` goes to, in columns; 0 when it is no terminal or does not
// tell.
int TerminalColumns(std::FILE* stream);

// From now on an interrupt (SIGINT, Ctrl+C) is only recorded, for InterruptArrived to tell; a
// second one ends the program at once.
void RecordInterrupts();
bool InterruptArrived();

// Keeps the warnings that Qt's SQL drivers write for every failed statement (the ODBC driver) and
// for every statement they cannot free once a server has gone off the program's standard error:
// importflx reports each such failure itself, where it is handled. Every other message passes.
// A program calls it once, at its start.
void QuietSqlDriverWarnings();

// Keeps memory that the program frees for its own reuse instead of returning it to the system
// at once. An import allocates and frees a few hundred kilobytes for every file; handing them
// back each time costs a system call and a flush of every processor's address translations,
// about a tenth of a batch run. A program calls it once, at its start.
void KeepFreedMemoryForReuse();

}  // namespace platform
