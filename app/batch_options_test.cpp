#include <QProcess>
#include <QTemporaryDir>

#include "app/batch_options.h"
#include "app/command_line.h"
#include "tests/batch_tool.h"
#include "tests/flx_builder.h"

namespace {

// The options that `args` (split at blanks) give, in one line, or the parse error.
QString Parsed(const QString& args) {
    const BatchParse parse = ParseBatchOptions(args.split(' '));
    const BatchOptions& o = parse.options;
    QString text =
        QString("files=%1 db=%2 report=%3 map=").arg(o.files.join(','), o.database, o.reportPath);
    for (const ManufacturerMapping& m : o.mappings) {
        text += m.fileId + "->" + m.databaseId + ";";
    }
    text += QString(o.jsonPath.isEmpty() ? "" : " json=" + o.jsonPath) +
            (o.unattended ? " unattended" : "") + (o.quiet ? " quiet" : "") +
            (o.noProgress ? " no-progress" : "") + (o.help ? " help" : "") +
            (o.version ? " version" : "");
    return parse.ok() ? text : parse.error;
}

// QCommandLineParser gives the values; these are the tools' own rules and words.
TEST(BatchOptionsTest, ParsesTheCommandLine) {
    const struct {
        const char* name;
        QString args;
        QString expected;  // what Parsed() gives
    } cases[] = {
        {"every option; -- ends options",
         "--db /x/my;db=1.mdb --unattended --map=ZEPH=ACME a.flx --map Q=A=B --report out.rtf "
         "--quiet --json - --no-progress -- -b.flx --quiet",
         "files=a.flx,-b.flx,--quiet db=/x/my;db=1.mdb report=out.rtf map=ZEPH->ACME;Q->A=B; "
         "json=- unattended quiet no-progress"},
        {"--help needs no files", "--help", "files= db= report= map= help"},
        {"no files", "--unattended", "no FLX files given"},
        {"unknown option", "--verbose a.flx", "unknown option --verbose"},
        {"a long option with one dash", "-db x a.flx", "unknown option -db"},
        {"flag given a value", "--quiet=1 a.flx", "unknown option --quiet=1"},
        {"--db without value", "a.flx --db", "option --db needs a value"},
        {"--db= empty", "--db= a.flx", "option --db needs a non-empty value"},
        {"--map with empty file ID", "--map =ACME a.flx", "--map needs FILEID=DBID, got \"=ACME\""},
        {"--map with empty database ID", "--map=ZEPH= a.flx",
         "--map needs FILEID=DBID, got \"ZEPH=\""},
        {"--version before a fault", "--version --bogus", "files= db= report= map= version"},
        {"a fault before --help", "--bogus --help", "unknown option --bogus"},
        {"keyword/value pairs", "--db=host=db a.flx", "files=a.flx db=host=db report= map="},
        {"an unknown scheme", "--db postgress://eng:S3cr3t@db/x a.flx",
         "--db: The database 'postgress://eng:***@db/x' is neither a file nor an address that "
         "importflx knows: a PostgreSQL address begins with postgresql:// or postgres://, an ODBC "
         "connection string with odbc:."},
        {"a misspelled --db", "--dbx=postgresql://eng:S3cr3t@db/x a.flx",
         "unknown option --dbx=postgresql://eng:***@db/x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Parsed(c.args), c.expected);
    }
    // The window takes --db and the folder or files to open.
    const std::pair<QStringList, QString> window[] = {
        {{"--db", "/x/e b.db"}, "db=/x/e b.db paths="},
        {{"a.flx", "--db=x", "--", "-b.flx"}, "db=x paths=a.flx,-b.flx"},
        {{"postgresql://eng:S3cr3t@db/x"}, "unexpected argument postgresql://eng:***@db/x"},
        {{"--db", "hots=db password=S3cr3t"},
         "--db: The PostgreSQL address 'hots=db password=***' is not valid: invalid connection "
         "option \"hots\"."},
        {{"--unattended"}, "unknown option --unattended"},
    };
    for (const auto& [args, expected] : window) {
        const cli::WindowParse parse = cli::ParseWindowOptions(args);
        const cli::WindowOptions& o = parse.options;
        EXPECT_EQ(parse.parsed.ok() ? "db=" + o.databaseTarget + " paths=" + o.paths.join(',')
                                    : parse.parsed.error,
                  expected);
    }
}

// Both programs overwrite the password of --db in their own argument vector, which is what a
// process listing shows: each argument keeps its place and length, and no byte of the password
// stays in it.
TEST(BatchOptionsTest, PasswordsOnTheCommandLineAreOverwritten) {
    const std::pair<QStringList, QStringList> cases[] = {
        {{"--db", "postgresql://eng:S3cr3t@db/x", "a.flx"},
         {"--db", "postgresql://eng:***@db/x", "a.flx"}},
        {{"--db=host=db password='S3 cr3t'", "--", "--db", "password=S3cr3t"},
         {"--db=host=db password=***", "--", "--db", "password=S3cr3t"}},
        {{"--quiet", "--db", "odbc:DSN=x;PWD=S3cr3t;UID=eng"},
         {"--quiet", "--db", "odbc:DSN=x;PWD=***;UID=eng"}},
        {{"--db", "postgresql://eng:pw@db/x"}, {"--db", "postgresql://eng:***@db/"}},
    };
    for (const auto& [given, shown] : cases) {
        std::vector<QByteArray> storage{"importflx"};
        for (const QString& arg : given) {
            storage.push_back(arg.toUtf8());
        }
        std::vector<char*> argv;
        for (QByteArray& arg : storage) {
            argv.push_back(arg.data());
        }
        cli::HidePasswords(static_cast<int>(argv.size()), argv.data());
        QStringList after;
        for (std::size_t i = 1; i < storage.size(); ++i) {
            after << QString::fromUtf8(storage[i].constData());
            if (given[i - 1] != shown[i - 1]) {
                EXPECT_FALSE(storage[i].contains("pw") || storage[i].contains("cr3t"));
            }
        }
        EXPECT_EQ(after, shown);
    }
}

}  // namespace
