// Runs "Import All Files in Directory" in the real import window, with unattended adding on,
// over the folder given on the command line (which must hold dbEquip.mdb), and measures what the
// user waits for. Run by bench/run, not by the tests.
//
//   gui_probe FOLDER [--nolog] [--outside-click] [--save FILE]
//
// --nolog leaves "Log Actions" unchecked. --outside-click prints "click X Y" (the middle of the
// import button, in screen coordinates) and waits for a real click there, as a user gives it;
// otherwise the probe clicks the button itself. --save saves the report as RTF to FILE after the
// run, through the report window's Save tool.
//
// Prints, one figure a line: the run's time and its logged lines; the time per line over the
// first and the last tenth of the run; how long a click on Cancel, posted every second while the
// import runs, takes to bring up its question; the longest time the window went without
// handling its events (while it listed the folder, and during the run); with logging on, how
// long the report window is blocked scrolling to its top and back to its end, and saving; and
// the peak resident memory.
#include <sys/resource.h>
#include <time.h>

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/frmImportFlex.h"
#include "core/platform.h"
#include "core/windowing.h"
#include "report/frmReporStatus.h"

namespace {

// The import window with a clock on every logged line (every line sets the status label).
class ProbeWindow : public frmImportFlex {
  public:
    explicit ProbeWindow(const QElapsedTimer& clock) : clock_(clock) {}
    void SetStatus(const QString& text) override {
        frmImportFlex::SetStatus(text);
        stamps.push_back(clock_.nsecsElapsed());
    }
    std::vector<qint64> stamps;

  private:
    const QElapsedTimer& clock_;
};

// The longest time between two turns of the event loop while it is watching. A turn is a look
// for events that does not wait (the import's), or the tick of a timer, which also marks the
// turns of a loop that waits for events.
class FreezeMeter {
  public:
    static constexpr int kTickMs = 10;

    explicit FreezeMeter(const QElapsedTimer& clock) : clock_(clock) {
        QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake,
                         [this] { Turn(); });
        ticker_.setTimerType(Qt::PreciseTimer);
        ticker_.setInterval(kTickMs);
        QObject::connect(&ticker_, &QTimer::timeout, [this] { Turn(); });
    }
    void Start() {
        watching_ = true;
        longestNs_ = 0;
        last_ = clock_.nsecsElapsed();
        ticker_.start();
    }
    double StopMs() {
        Turn();
        ticker_.stop();
        watching_ = false;
        return longestNs_ / 1e6;
    }

  private:
    void Turn() {
        if (watching_) {
            const qint64 now = clock_.nsecsElapsed();
            longestNs_ = std::max(longestNs_, now - last_);
            last_ = now;
        }
    }
    const QElapsedTimer& clock_;
    QTimer ticker_;
    bool watching_ = false;
    qint64 last_ = 0;
    qint64 longestNs_ = 0;
};

// CPU time of this thread, in seconds: the run's own work, whatever else the machine runs.
double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// The resident memory of this process now, in MiB.
long ResidentMiB() {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').value(0).toLong() / 1024;
        }
    }
    return -1;
}

double NsPerLine(const std::vector<qint64>& stamps, std::size_t from, std::size_t to) {
    return static_cast<double>(stamps[to] - stamps[from]) / static_cast<double>(to - from);
}

void PostClick(QWidget* button) {
    const QPointF at(button->width() / 2.0, button->height() / 2.0);
    const QPointF global = button->mapToGlobal(at);
    QCoreApplication::postEvent(
        button, new QMouseEvent(QEvent::MouseButtonPress, at, global, Qt::LeftButton,
                                Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(
        button, new QMouseEvent(QEvent::MouseButtonRelease, at, global, Qt::LeftButton,
                                Qt::NoButton, Qt::NoModifier));
}

// How long `step` holds the event loop, the text box redrawn at once after it, in ms.
template <typename Step>
double Blocked(QPlainTextEdit* box, Step step) {
    QElapsedTimer timer;
    timer.start();
    step();
    box->viewport()->repaint();
    QCoreApplication::processEvents();
    return timer.nsecsElapsed() / 1e6;
}

void PressKey(QWidget* target, int key, Qt::KeyboardModifiers modifiers) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QCoreApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers);
    QCoreApplication::sendEvent(target, &release);
}

// Clicks at the start and end of a real click on the import button.
class ClickWatch : public QObject {
  public:
    ClickWatch(const QElapsedTimer& clock, qint64& start) : clock_(clock), start_(start) {}
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonRelease && start_ < 0) {
            start_ = clock_.nsecsElapsed();
        }
        return false;
    }

  private:
    const QElapsedTimer& clock_;
    qint64& start_;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: gui_probe FOLDER [--nolog] [--outside-click] [--save FILE]\n");
        return 2;
    }
    const QString folder = QFileInfo(args.at(1)).absoluteFilePath();
    const bool log = !args.contains("--nolog");
    const bool outsideClick = args.contains("--outside-click");
    const qsizetype saveAt = args.indexOf("--save");
    const QString savePath = saveAt > 0 && saveAt + 1 < args.size() ? args.at(saveAt + 1) : "";
    platform::SetAppFolderForTesting(folder);

    QElapsedTimer clock;
    clock.start();
    qint64 clickPostedAt = -1;
    std::vector<double> latenciesMs;
    bool loaded = false;  // the window's own start-up messages are expected
    ui::SetMsgBoxHook([&](const QString& text, ui::MsgButtons buttons, ui::MsgIcon) {
        if (buttons == ui::MsgButtons::kYesNo) {
            if (clickPostedAt >= 0) {
                latenciesMs.push_back((clock.nsecsElapsed() - clickPostedAt) / 1e6);
                clickPostedAt = -1;
            }
            return ui::MsgAnswer::kNo;
        }
        if (loaded) {
            std::fprintf(stderr, "gui_probe: message: %s\n", qPrintable(text));
        }
        return ui::MsgAnswer::kOk;
    });
    ui::SetSaveDialogHook([&](const ui::SaveDialogOptions&) { return savePath; });

    FreezeMeter freeze(clock);
    ProbeWindow window(clock);
    window.show();
    loaded = true;
    window.findChild<QCheckBox*>("chkLog")->setChecked(log);
    window.findChild<QCheckBox*>("chkUnattended")->setChecked(true);
    auto* cancel = window.findChild<QPushButton*>("cmdCancel");
    auto* importAll = window.findChild<QPushButton*>("cmdAll");

    // Listing the folder anew, as a change of folder does, while the window keeps answering.
    freeze.Start();
    window.SetDirPath(QDir::tempPath());
    window.SetDirPath(folder);
    while (window.FileCount() == 0) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    const double listingFreezeMs = freeze.StopMs();
    // The folder tree describes the folder's entries in a thread of its own; a user clicks once
    // the window has settled.
    QElapsedTimer settle;
    settle.start();
    while (!settle.hasExpired(1000)) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    }

    QTimer clicker;
    clicker.setInterval(1000);
    QObject::connect(&clicker, &QTimer::timeout, [&] {
        if (clickPostedAt < 0 && cancel->isEnabled()) {
            clickPostedAt = clock.nsecsElapsed();
            PostClick(cancel);
        }
    });

    qint64 start = -1;
    qint64 end = -1;
    double cpuStart = 0;
    double cpuEnd = 0;
    double runFreezeMs = 0;
    QObject::connect(importAll, &QPushButton::pressed, [&] {
        cpuStart = ThreadCpuSeconds();
        clicker.start();
        freeze.Start();
    });
    // Connected after the window's own handler: runs once the import has returned.
    QObject::connect(importAll, &QPushButton::clicked, [&] {
        end = clock.nsecsElapsed();
        cpuEnd = ThreadCpuSeconds();
        runFreezeMs = freeze.StopMs();
        clicker.stop();
        if (outsideClick) {
            QCoreApplication::exit(0);
        }
    });
    if (outsideClick) {
        ClickWatch watch(clock, start);
        importAll->installEventFilter(&watch);
        QTimer::singleShot(500, [&] {
            const QPoint at = importAll->mapToGlobal(importAll->rect().center());
            std::printf("click %d %d\n", at.x(), at.y());
            std::fflush(stdout);
        });
        QApplication::exec();
        importAll->removeEventFilter(&watch);
    } else {
        start = clock.nsecsElapsed();
        importAll->click();
    }

    const std::vector<qint64>& stamps = window.stamps;
    if (stamps.size() < 20 || start < 0 || end < 0) {
        std::fprintf(stderr, "gui_probe: only %zu lines were logged\n", stamps.size());
        return 1;
    }
    const std::size_t tenth = stamps.size() / 10;
    const double first = NsPerLine(stamps, 0, tenth);
    const double last = NsPerLine(stamps, stamps.size() - 1 - tenth, stamps.size() - 1);
    std::sort(latenciesMs.begin(), latenciesMs.end());
    std::printf("gui import: %.2f s (%.2f s CPU), %zu logged lines, logging %s\n",
                (end - start) / 1e9, cpuEnd - cpuStart, stamps.size(), log ? "on" : "off");
    std::printf("per line: first tenth %.1f us, last tenth %.1f us\n", first / 1e3, last / 1e3);
    if (!latenciesMs.empty()) {
        std::printf("cancel click to question: %zu samples, median %.1f ms, max %.1f ms\n",
                    latenciesMs.size(), latenciesMs[latenciesMs.size() / 2], latenciesMs.back());
    }
    std::printf("longest event-loop gap: listing %.1f ms, run %.1f ms\n", listingFreezeMs,
                runFreezeMs);

    frmReporStatus* report = window.ReportWindow();
    if (log && report) {
        QCoreApplication::processEvents();
        auto* box = report->findChild<QPlainTextEdit*>("txtMessage");
        const double topMs =
            Blocked(box, [&] { PressKey(box, Qt::Key_Home, Qt::ControlModifier); });
        const double middleMs = Blocked(box, [&] {
            box->verticalScrollBar()->setValue(box->verticalScrollBar()->maximum() / 2);
        });
        const double endMs = Blocked(box, [&] { PressKey(box, Qt::Key_End, Qt::ControlModifier); });
        std::printf(
            "report of %d lines, %ld MiB resident: to its top %.1f ms, middle %.1f ms, "
            "end %.1f ms\n",
            box->document()->blockCount() - 1, ResidentMiB(), topMs, middleMs, endMs);
        if (!savePath.isEmpty()) {
            freeze.Start();
            QElapsedTimer timer;
            timer.start();
            report->findChild<QAction*>("catFSave")->trigger();
            const double saveMs = timer.nsecsElapsed() / 1e6;
            std::printf("save RTF: %.0f ms, longest event-loop gap %.0f ms, %.1f MiB\n", saveMs,
                        freeze.StopMs(), QFileInfo(savePath).size() / 1048576.0);
        }
    }

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("log last/first = %.2f\n", last / first);
    std::printf("peak RSS = %ld MiB\n", usage.ru_maxrss / 1024);
    return 0;
}
