#include "app/command_line.h"

#include <cstring>
#include <string_view>

#include "records/target.h"

namespace cli {
namespace {

const QCommandLineOption kHelp({"h", "help"}, "show this help");
const QCommandLineOption kVersion("version", "show the version");

const QCommandLineOption kWindowDb("db",
                                   "the equipment database: a file, postgresql://..., "
                                   "keyword=value pairs or odbc:... (default: see Database "
                                   "below)",
                                   "TARGET");

const QCommandLineOption* Find(const QList<QCommandLineOption>& options, const QString& name) {
    for (const QCommandLineOption& option : options) {
        if (option.names().contains(name)) {
            return &option;
        }
    }
    return nullptr;
}

// Walks `arguments` in order up to the first fault, or up to --help or --version.
// QCommandLineParser tells that a command line is at fault and which value each option has; this
// names the fault in the tools' own words, and keeps the order in which they are met.
Parsed Scan(const QList<QCommandLineOption>& options, const QStringList& arguments) {
    Parsed result;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments.at(i);
        if (arg == QLatin1String("--")) {
            break;
        }
        if (arg == QLatin1String("-") || !arg.startsWith('-')) {
            continue;
        }
        const qsizetype dashes = arg.startsWith(QLatin1String("--")) ? 2 : 1;
        const qsizetype equals = arg.indexOf('=');
        const QString typed = equals < 0 ? arg : arg.left(equals);
        // One dash names a one-letter option, two dashes a longer one ("-db" is no --db).
        const QString name = typed.mid(dashes);
        const QCommandLineOption* option =
            (dashes == 1) == (name.size() == 1) ? Find(options, name) : nullptr;
        if (option == nullptr || (option->valueName().isEmpty() && equals >= 0)) {
            // The value may be a misspelled --db's TARGET.
            result.error =
                QStringLiteral("unknown option %1")
                    .arg(equals < 0 ? arg : typed + '=' + db::RedactedTarget(arg.mid(equals + 1)));
            return result;
        }
        if (option->names() == kHelp.names() || option->names() == kVersion.names()) {
            result.request = option->names() == kHelp.names() ? Request::kHelp : Request::kVersion;
            return result;
        }
        if (!option->valueName().isEmpty() && equals < 0) {
            if (i + 1 == arguments.size()) {
                result.error = QStringLiteral("option %1 needs a value").arg(typed);
                return result;
            }
            ++i;
        }
    }
    return result;
}

}  // namespace

Parsed Parse(QCommandLineParser& parser, const QList<QCommandLineOption>& options,
             const QStringList& arguments) {
    QList<QCommandLineOption> all{kHelp, kVersion};
    all += options;
    parser.addOptions(all);
    const bool parsed = parser.parse(QStringList(QStringLiteral("program")) + arguments);
    Parsed result = Scan(all, arguments);
    if (result.request != Request::kRun || !result.ok()) {
        return result;
    }
    if (!parsed) {
        result.error = parser.errorText();
        return result;
    }
    for (const QCommandLineOption& option : options) {
        if (!option.valueName().isEmpty() && parser.values(option).contains(QString())) {
            result.error = QStringLiteral("option --%1 needs a non-empty value")
                               .arg(option.names().constLast());
            return result;
        }
    }
    return result;
}

QString HelpText(const QCommandLineParser& parser, const QString& program,
                 const QString& epilogue) {
    QString text = parser.helpText();
    // The usage line names the program as it was started; the help names it as it is installed.
    const qsizetype options = text.indexOf(QLatin1String(" [options]"));
    if (text.startsWith(QLatin1String("Usage: ")) && options > 0) {
        text.replace(7, options - 7, program);
    }
    if (!epilogue.isEmpty()) {
        text += '\n' + epilogue;
    }
    return text.endsWith('\n') ? text : text + '\n';
}

QString DatabaseHelp() {
    return QStringLiteral(
        "Database: without --db, the one chosen last with the window's \"Database...\" button;\n"
        "else dbEquip.mdb in the user's data folder (~/.local/share/importflx) when installed,\n"
        "or beside the program when it runs from its build tree.\n");
}

QString VersionText(const QString& program) {
    return program + ' ' + QStringLiteral(IMPORTFLX_VERSION) + '\n';
}

WindowParse ParseWindowOptions(const QStringList& arguments) {
    WindowParse result;
    QCommandLineParser parser;
    result.parsed = Parse(parser, {kWindowDb}, arguments);
    if (result.parsed.ok() && result.parsed.request == Request::kRun) {
        for (const QString& path : parser.positionalArguments()) {
            if (db::KindOfTarget(path) != db::TargetKind::kFile ||
                !db::TargetProblem(path).isEmpty()) {
                // A TARGET given without --db is shown as one.
                result.parsed.error =
                    QStringLiteral("unexpected argument %1").arg(db::RedactedTarget(path));
                return result;
            }
        }
        result.parsed.error = DatabaseOptionError(parser.value(kWindowDb));
        result.options.databaseTarget = parser.value(kWindowDb);
        result.options.paths = parser.positionalArguments();
    }
    return result;
}

QString DatabaseOptionError(const QString& target) {
    const QString problem = target.isEmpty() ? QString() : db::TargetProblem(target);
    return problem.isEmpty() ? QString() : QStringLiteral("--db: ") + problem;
}

void HidePasswords(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg(argv[i]);
        if (arg == "--") {
            return;
        }
        char* value = nullptr;
        if (arg == "--db" && i + 1 < argc) {
            value = argv[++i];
        } else if (arg.starts_with("--db=")) {
            value = argv[i] + 5;
        }
        if (value == nullptr) {
            continue;
        }
        const std::size_t length = std::strlen(value);
        QByteArray shown = db::RedactedTarget(QString::fromLocal8Bit(value)).toLocal8Bit();
        if (shown != value) {
            // Cut when a password of one or two characters made it longer: what is kept of the
            // shown text never holds the password.
            shown.truncate(static_cast<qsizetype>(length));
            std::memcpy(value, shown.constData(), static_cast<std::size_t>(shown.size()));
            std::memset(value + shown.size(), 0, length - static_cast<std::size_t>(shown.size()));
        }
    }
}

QString PasswordAdvice() {
    return QStringLiteral(
        "Passwords: a password written in TARGET can be seen by other users of the machine\n"
        "until the program has read it. Give it instead in PGPASSWORD, in ~/.pgpass or the\n"
        "file that PGPASSFILE names, or in a service file (TARGET service=NAME). For a server\n"
        "across a network, add sslmode=verify-full sslrootcert=FILE, so that the server must\n"
        "prove that it is the one named.\n");
}

QString WindowUsage() {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Imports FLX device-description files into the equipment database, in a window.\n"
        "Qt's own options (-platform, -style, -reverse ...) are taken as well."));
    parser.addPositionalArgument(
        QStringLiteral("PATH"),
        QStringLiteral("a folder to show, or FLX files to select in their folder"),
        QStringLiteral("[FOLDER | FILE.flx...]"));
    Parse(parser, {kWindowDb}, {});
    return HelpText(parser, QStringLiteral("importflx"), DatabaseHelp() + '\n' + PasswordAdvice());
}

}  // namespace cli
