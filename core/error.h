#pragma once

#include <QString>
#include <exception>
#include <string>

// What kind of failure an error is, fixed where the error is made from the database's or the
// system's own codes. Callers decide on the kind; the number and the text are for people.
enum class ErrorKind {
    kOther,
    kDuplicateKey,    // a key already holds the values of the refused row
    kRefusedByRule,   // another rule of the database refused the row (check, not null, reference)
    kTooLong,         // a value does not fit its column
    kMissing,         // a file, table or column that is needed does not exist
    kNotADatabase,    // the file is damaged, or no database that can be opened here
    kReadOnly,        // the database, its folder or the user may not write
    kLocked,          // another program held the database longer than the wait allows
    kDiskFull,        // the disk that holds the database is full
    kConnectionLost,  // the server went away or refused the connection
    kOutcomeUnknown,  // the server went away while a commit was on its way; its fate is unknown
    kCancelled,       // the user stopped the operation
};

// The one error type of importflx. Every failure travels as an AppError carrying a number, a
// description, a source and its kind, and is caught only where the user is told about it: the
// FLX reader ends the file with a message, the report window's save shows number and
// description, and the add-manufacturer save turns a duplicate key into its "already exists"
// message.
class AppError : public std::exception {
  public:
    // A database server's words in `description` are kept in the form every text below shows:
    // its tab-indented continuation lines and the SQLSTATE that the driver puts after them are
    // joined to the line before with one blank, empty parentheses of a failure without SQLSTATE
    // are dropped, and so are line ends at the end.
    AppError(long number, QString description, QString source, ErrorKind kind = ErrorKind::kOther);

    long number() const { return number_; }
    ErrorKind kind() const { return kind_; }
    const QString& description() const { return description_; }
    const QString& source() const { return source_; }
    const char* what() const noexcept override { return what_.c_str(); }

  private:
    long number_;
    ErrorKind kind_;
    QString description_;
    QString source_;
    std::string what_;
};

// The ways an error is shown to the user, each written in this one place:
// "number description source", as the FLX reader's error path shows it in a message box,
// "number description", as the report window's save and the dialogs show it, and
// "program: number description" on one line, as a command-line tool reports it on a terminal.
QString ErrorWithSource(const AppError& error);
QString ErrorText(const AppError& error);
QString ErrorForTerminal(const QString& program, const AppError& error);

// Error numbers raised by importflx. Where the original platform had a number for the same
// failure, it is kept, so that callers which react to a number keep working.
namespace ErrNo {
inline constexpr long kOverflow = 6;
inline constexpr long kBadFileName = 52;
inline constexpr long kFileNotFound = 53;
inline constexpr long kFileIo = 57;
inline constexpr long kPermissionDenied = 70;
inline constexpr long kPathNotFound = 76;
inline constexpr long kUpdateWithoutAddNew = 3020;
inline constexpr long kNoCurrentRecord = 3021;
inline constexpr long kNotUpdatable = 3251;
inline constexpr long kItemNotFound = 3265;
inline constexpr long kObjectClosed = 3704;
inline constexpr long kObjectOpen = 3705;
inline constexpr long kNoConnection = 3709;
inline constexpr long kDialogCancelled = 32755;
// E_FAIL: the store refused the row because of a duplicate key (ErrorKind::kDuplicateKey), or
// the database file is missing or cannot be opened (ErrorKind::kMissing), as the original
// provider numbered both.
inline constexpr long kDbFail = -2147467259;
// A table or column that the statement names does not exist.
inline constexpr long kDbNoObject = -2147217865;
// A value does not fit the declared width of its column.
inline constexpr long kDbValueTooLong = -2147217833;
// The database file is read-only.
inline constexpr long kDbReadOnly = -2147024891;
// Another program holds a lock on the database longer than the busy timeout.
inline constexpr long kDbLocked = -2147024863;
// The disk is full.
inline constexpr long kDbDiskFull = -2147024784;
// The file exists but is no database that importflx can open.
inline constexpr long kDbUnrecognized = -2147024885;
// DB_E_INTEGRITYVIOLATION: the store refused a row for a rule other than a duplicate key (a
// value it needs, a check, a reference).
inline constexpr long kDbIntegrity = -2147217873;
// DB_E_ERRORSINCOMMAND: the store refused a statement for a reason importflx does not tell apart.
inline constexpr long kDbRefused = -2147217900;
// The connection to the database server was lost, or no connection could be made.
inline constexpr long kDbConnectionLost = -2147023174;
// The user cancelled the import while it waited for a database in use by another program.
inline constexpr long kDbWaitCancelled = 32756;
}  // namespace ErrNo
