// Measures how soon a file copied into the folder that the import window shows appears in its
// file list, without a click: each round `cp` copies a sample FLX file into the folder, as a
// file manager or a shell would, and the time from starting the copy to the list showing the
// file is taken. Run by bench/run, not by the tests.
//
//   watch_probe FOLDER SAMPLE [ROUNDS]
//
// FOLDER must hold dbEquip.mdb; SAMPLE is copied into it under new names, which are removed
// again at the end. Prints the median and the longest time, in milliseconds.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/frmImportFlex.h"
#include "core/platform.h"
#include "core/windowing.h"

namespace {

bool Listed(const frmImportFlex& window, const QString& name) {
    for (int i = 0; i < window.FileCount(); ++i) {
        if (window.FileName(i) == name) {
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: watch_probe FOLDER SAMPLE [ROUNDS]\n");
        return 2;
    }
    const QString folder = QFileInfo(args.at(1)).absoluteFilePath();
    const QString sample = QFileInfo(args.at(2)).absoluteFilePath();
    const int rounds = args.size() > 3 ? args.at(3).toInt() : 20;
    platform::SetAppFolderForTesting(folder);
    ui::SetMsgBoxHook(
        [](const QString&, ui::MsgButtons, ui::MsgIcon) { return ui::MsgAnswer::kOk; });
    frmImportFlex window;
    window.show();

    std::vector<double> delaysMs;
    QElapsedTimer clock;
    for (int round = 0; round < rounds; ++round) {
        const QString name = QStringLiteral("watch-probe-%1.flx").arg(round);
        // Quiet first, so that one round's refresh does not serve the next.
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 300) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        QProcess copy;
        clock.start();
        copy.start(QStringLiteral("cp"), {sample, QDir(folder).filePath(name)});
        while (!Listed(window, name) && clock.elapsed() < 10000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        }
        delaysMs.push_back(clock.nsecsElapsed() / 1e6);
        copy.waitForFinished();
    }
    for (int round = 0; round < rounds; ++round) {
        QFile::remove(QDir(folder).filePath(QStringLiteral("watch-probe-%1.flx").arg(round)));
    }
    std::sort(delaysMs.begin(), delaysMs.end());
    std::printf("file appears in the list: median %.0f ms, longest %.0f ms (%d copies)\n",
                delaysMs[delaysMs.size() / 2], delaysMs.back(), rounds);
    return 0;
}
