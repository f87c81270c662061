#pragma once

#include <QString>

// Which equipment database the two programs work on, decided in this one place. In order:
//   1. the command line's --db TARGET (records/target.h), for that run only;
//   2. the database last chosen in the import window ("Database..."), remembered in the user's
//      settings;
//   3. dbEquip.mdb in the default folder: beside the executable when the program runs from its
//      build tree (found whatever the letter case of its name), and the user's data folder
//      (QStandardPaths::AppDataLocation) when it is installed.
// A program is installed when its packaged files lie in ../share/importflx from its executable's
// folder (see PackagedDataFolder).

enum class DatabaseSource { kCommandLine, kRemembered, kBesideProgram, kDataFolder };

struct DatabaseChoice {
    DatabaseSource source = DatabaseSource::kBesideProgram;
    QString connection;  // the session's connection string
    QString shown;       // the database as the user is told: a file's path, or an address
    QString folder;      // the folder of dbEquip.mdb (kBesideProgram, kDataFolder)
    // A database file that does not exist; a server is only found out when it is opened.
    bool missing = false;
};

// What the choice is made from; CurrentPlaces gathers it, tests give their own.
struct DatabasePlaces {
    QString programFolder;  // platform::AppFolder()
    QString dataFolder;     // the user's data folder; empty when run from the build tree
    QString remembered;     // the remembered TARGET; empty: none
};

DatabaseChoice ChooseDatabase(const QString& commandLineTarget, const DatabasePlaces& places);
DatabasePlaces CurrentPlaces();

// The folder of the packaged files (schemas, demo) when the program is installed; empty when it
// runs from its build tree.
QString PackagedDataFolder();

// The TARGET chosen in the window, kept in the user's settings; RememberDatabase keeps it
// without its password (TargetWithoutPassword).
QString RememberedDatabase();
void RememberDatabase(const QString& target);

// `target` without a password: a PostgreSQL URI loses the one after its user name and its
// password parameter, an ODBC connection string its PWD and Password keywords. A file path is
// returned as it is.
QString TargetWithoutPassword(const QString& target);
// `target` with `password` for this session only: a PostgreSQL URI gains a password parameter,
// an ODBC connection string a PWD keyword. An empty password or a file path leaves it as it is.
QString TargetWithPassword(const QString& target, const QString& password);
