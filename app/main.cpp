#include <QApplication>
#include <cstdio>

#include "app/command_line.h"
#include "app/frmImportFlex.h"

int main(int argc, char** argv) {
    // Takes Qt's own options (-platform, -style ...) out of the arguments.
    QApplication app(argc, argv);
    // Names the user's data folder and settings, and ties the window to importflx.desktop.
    QApplication::setApplicationName(QStringLiteral("importflx"));
    QGuiApplication::setDesktopFileName(QStringLiteral("importflx"));
    const cli::WindowParse parse = cli::ParseWindowOptions(QApplication::arguments().mid(1));
    if (parse.parsed.request != cli::Request::kRun) {
        const QString text = parse.parsed.request == cli::Request::kHelp
                                 ? cli::WindowUsage()
                                 : cli::VersionText(QStringLiteral("importflx"));
        std::fputs(text.toUtf8().constData(), stdout);
        return 0;
    }
    if (!parse.parsed.ok()) {
        std::fprintf(stderr, "importflx: %s\nTry 'importflx --help'.\n",
                     parse.parsed.error.toUtf8().constData());
        return 2;
    }
    // The window's load runs here, before it is shown.
    frmImportFlex window(parse.options.databaseTarget);
    window.show();
    return QApplication::exec();
}
