#include "app/batch_options.h"

namespace {

// Takes the value of option `name` at `args[i]`: after '=' in the same argument, or the next
// argument (advancing `i`). Returns false with `error` set when there is none.
bool TakeValue(const QStringList& args, qsizetype& i, const QString& name, QString& value,
               QString& error) {
    const QString& arg = args.at(i);
    if (arg.size() > name.size()) {
        value = arg.mid(name.size() + 1);
    } else if (i + 1 < args.size()) {
        value = args.at(++i);
    } else {
        error = QStringLiteral("option %1 needs a value").arg(name);
        return false;
    }
    if (value.isEmpty()) {
        error = QStringLiteral("option %1 needs a non-empty value").arg(name);
        return false;
    }
    return true;
}

// True when `arg` is option `name`, alone or followed by "=value".
bool IsOption(const QString& arg, const QString& name) {
    return arg == name || arg.startsWith(name + '=');
}

}  // namespace

BatchParse ParseBatchOptions(const QStringList& arguments) {
    BatchParse result;
    BatchOptions& options = result.options;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments.at(i);
        if (optionsEnded || arg == QLatin1String("-") || !arg.startsWith('-')) {
            options.files << arg;
            continue;
        }
        QString value;
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
        } else if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            options.help = true;
            return result;
        } else if (arg == QLatin1String("--unattended")) {
            options.unattended = true;
        } else if (arg == QLatin1String("--quiet")) {
            options.quiet = true;
        } else if (arg == QLatin1String("--dry-run")) {
            options.dryRun = true;
        } else if (IsOption(arg, "--db")) {
            if (!TakeValue(arguments, i, "--db", value, result.error)) {
                return result;
            }
            options.database = value;
        } else if (IsOption(arg, "--report")) {
            if (!TakeValue(arguments, i, "--report", value, result.error)) {
                return result;
            }
            options.reportPath = value;
        } else if (IsOption(arg, "--map")) {
            if (!TakeValue(arguments, i, "--map", value, result.error)) {
                return result;
            }
            const qsizetype eq = value.indexOf('=');
            if (eq <= 0 || eq == value.size() - 1) {
                result.error = QStringLiteral("--map needs FILEID=DBID, got \"%1\"").arg(value);
                return result;
            }
            options.mappings << ManufacturerMapping{value.left(eq), value.mid(eq + 1)};
        } else {
            result.error = QStringLiteral("unknown option %1").arg(arg);
            return result;
        }
    }
    if (options.files.isEmpty()) {
        result.error = QStringLiteral("no FLX files given");
    }
    return result;
}

QString BatchUsage() {
    return QStringLiteral(
        "Usage: importflx-batch [OPTION]... FILE...\n"
        "Imports FLX device-description files into the equipment database, in the order given,\n"
        "and writes the import report to standard output.\n"
        "\n"
        "  --db TARGET          the equipment database: a file, postgresql://..., or odbc:...\n"
        "                       (default: dbEquip.mdb in the program's folder)\n"
        "  --unattended         add manufacturer IDs that the database lacks as new manufacturers\n"
        "  --map FILEID=DBID    import equipment of manufacturer ID FILEID under the database\n"
        "                       manufacturer DBID (repeatable; unused with --unattended)\n"
        "  --report FILE        also save the report as an RTF file\n"
        "  --quiet              do not write the report to standard output\n"
        "  --dry-run            import as usual, then give every row back: nothing is stored\n"
        "  --help               show this help\n"
        "\n"
        "Exit status: 0 every file was added, 1 a file failed or was refused, 2 usage error or\n"
        "no usable database, 130 interrupted.\n");
}
