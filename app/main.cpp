#include <QApplication>
#include <QStringList>
#include <cstdio>

#include "app/command_line.h"
#include "app/frmImportFlex.h"
#include "core/platform.h"

namespace {

// Prints what --help or --version asks for.
int PrintRequest(cli::Request request) {
    const QString text = request == cli::Request::kHelp
                             ? cli::WindowUsage()
                             : cli::VersionText(QStringLiteral("importflx"));
    std::fputs(text.toUtf8().constData(), stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // --help and --version need no display: they are answered before the application object,
    // which needs one, is made. A command line that only Qt understands is parsed again below.
    QStringList raw;
    for (int i = 1; i < argc; ++i) {
        raw << QString::fromLocal8Bit(argv[i]);
    }
    if (const cli::WindowParse early = cli::ParseWindowOptions(raw);
        early.parsed.ok() && early.parsed.request != cli::Request::kRun) {
        return PrintRequest(early.parsed.request);
    }

    // Takes Qt's own options (-platform, -style ...) out of the arguments.
    QApplication app(argc, argv);
    // Names the user's data folder and settings, and ties the window to importflx.desktop.
    QApplication::setApplicationName(QStringLiteral("importflx"));
    QGuiApplication::setDesktopFileName(QStringLiteral("importflx"));
    platform::QuietSqlDriverWarnings();
    platform::KeepFreedMemoryForReuse();
    const cli::WindowParse parse = cli::ParseWindowOptions(QApplication::arguments().mid(1));
    cli::HidePasswords(argc, argv);
    if (parse.parsed.request != cli::Request::kRun) {
        return PrintRequest(parse.parsed.request);
    }
    if (!parse.parsed.ok()) {
        std::fprintf(stderr, "importflx: %s\nTry 'importflx --help'.\n",
                     parse.parsed.error.toUtf8().constData());
        return 2;
    }
    // The window's load runs here, before it is shown.
    frmImportFlex window(parse.options.databaseTarget);
    if (!parse.options.paths.isEmpty()) {
        window.OpenPaths(parse.options.paths);
    }
    window.show();
    return QApplication::exec();
}
