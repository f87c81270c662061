#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <QStringList>

// Command lines of the two programs, parsed by QCommandLineParser. An option that takes a value
// accepts it as the next argument or after '=' (--db=PATH); "--" ends the options, so that a
// positional argument may start with '-'; a lone "-" is a positional argument.
namespace cli {

// What a valid command line asks for.
enum class Request {
    kRun,
    kHelp,     // --help or -h: print the help and do nothing else
    kVersion,  // --version: print the version and do nothing else
};

struct Parsed {
    Request request = Request::kRun;
    QString error;  // empty when the command line is valid

    bool ok() const { return error.isEmpty(); }
};

// Adds --help, --version and `options` to `parser` and parses `arguments` (without the program
// name). An error names the first argument at fault, in command-line order: "unknown option ARG"
// (also for an option that takes no value given one), "option NAME needs a value", and "option
// NAME needs a non-empty value" when any value is empty. --help or --version before the first
// fault ends the parse.
Parsed Parse(QCommandLineParser& parser, const QList<QCommandLineOption>& options,
             const QStringList& arguments);

// The help of `parser` with `program` as the name in its usage line, then `epilogue`; ends with
// a line end.
QString HelpText(const QCommandLineParser& parser, const QString& program,
                 const QString& epilogue = {});

// Which database the programs use without --db, for their help; ends with a line end.
QString DatabaseHelp();

// "PROGRAM VERSION" and a line end.
QString VersionText(const QString& program);

// The import window's command line: importflx [--db TARGET] [FOLDER | FILE.flx...]. Qt's own
// options (-platform, -style ...) are taken by the application object before this sees the
// arguments.
struct WindowOptions {
    QString databaseTarget;  // --db; empty: see app/database_choice.h
    QStringList paths;       // a folder to show, or FLX files to select, as given
};

struct WindowParse {
    WindowOptions options;
    Parsed parsed;
};

// Parses the window's `arguments` (without the program name): the paths to open, and --db,
// refused when its TARGET names no database importflx can open (db::TargetProblem). A database
// given as a path (a server's address) is refused too, shown without its password.
WindowParse ParseWindowOptions(const QStringList& arguments);

// The error for a --db value that names no database importflx can open, or empty.
QString DatabaseOptionError(const QString& target);

// Overwrites, in the program's own argument vector, the password of every --db TARGET (the next
// argument, or the text after "--db=") with "***" as db::RedactedTarget shows it, so that other
// users of the machine do not see it in a process listing. The argument keeps its length: the
// bytes after the shorter text are zeroed. Arguments after "--" are left alone. Call it as soon
// as the command line has been read, with the vector the application object left.
void HidePasswords(int argc, char** argv);

// The advice on passwords and server certificates that both programs' --help give.
QString PasswordAdvice();

// The window's --help text.
QString WindowUsage();

}  // namespace cli
