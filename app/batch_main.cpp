#include <QCoreApplication>
#include <cstdio>

#include "app/batch_options.h"
#include "app/batch_run.h"
#include "app/command_line.h"
#include "core/platform.h"

// importflx-batch: imports FLX files from the command line, without windows.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("importflx"));
    platform::QuietSqlDriverWarnings();
    platform::KeepFreedMemoryForReuse();

    const BatchParse parse = ParseBatchOptions(QCoreApplication::arguments().mid(1));
    cli::HidePasswords(argc, argv);
    if (parse.options.help || parse.options.version) {
        std::fputs((parse.options.help ? BatchUsage() : BatchVersion()).toUtf8().constData(),
                   stdout);
        return batch_exit::kOk;
    }
    if (!parse.ok()) {
        std::fprintf(stderr, "importflx-batch: %s\nTry 'importflx-batch --help'.\n",
                     parse.error.toUtf8().constData());
        return batch_exit::kUsage;
    }
    return RunBatch(parse.options);
}
