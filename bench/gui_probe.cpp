// Runs "Import All Files in Directory" in the real import window, offscreen, with logging and
// unattended adding on, over the folder given on the command line (which must hold
// dbEquip.mdb). Prints the time per logged line over the first and the last tenth of the run,
// and how long a click on Cancel, posted while the import runs, takes to bring up its question.
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/frmImportFlex.h"
#include "core/platform.h"
#include "core/windowing.h"

namespace {

// The import window with a clock on every report line.
class ProbeWindow : public frmImportFlex {
  public:
    explicit ProbeWindow(const QElapsedTimer& clock) : clock_(clock) {}
    void AppendReportLine(const QString& line) override {
        frmImportFlex::AppendReportLine(line);
        stamps.push_back(clock_.nsecsElapsed());
    }
    std::vector<qint64> stamps;

  private:
    const QElapsedTimer& clock_;
};

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

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: gui_probe FOLDER\n");
        return 2;
    }
    platform::SetAppFolderForTesting(QString::fromLocal8Bit(argv[1]));

    QElapsedTimer clock;
    clock.start();
    qint64 clickPostedAt = -1;
    std::vector<double> latenciesMs;
    ui::SetMsgBoxHook([&](const QString&, ui::MsgButtons buttons, ui::MsgIcon) {
        if (buttons == ui::MsgButtons::kYesNo) {
            if (clickPostedAt >= 0) {
                latenciesMs.push_back((clock.nsecsElapsed() - clickPostedAt) / 1e6);
                clickPostedAt = -1;
            }
            return ui::MsgAnswer::kNo;
        }
        return ui::MsgAnswer::kOk;
    });

    ProbeWindow window(clock);
    window.show();
    window.findChild<QCheckBox*>("chkLog")->setChecked(true);
    window.findChild<QCheckBox*>("chkUnattended")->setChecked(true);
    auto* cancel = window.findChild<QPushButton*>("cmdCancel");

    QTimer clicker;
    clicker.setInterval(1000);
    QObject::connect(&clicker, &QTimer::timeout, [&] {
        if (clickPostedAt < 0 && cancel->isEnabled()) {
            clickPostedAt = clock.nsecsElapsed();
            PostClick(cancel);
        }
    });
    clicker.start();

    const qint64 start = clock.nsecsElapsed();
    window.findChild<QPushButton*>("cmdAll")->click();
    const qint64 end = clock.nsecsElapsed();
    clicker.stop();

    const std::vector<qint64>& stamps = window.stamps;
    if (stamps.size() < 20) {
        std::fprintf(stderr, "gui_probe: only %zu lines were logged\n", stamps.size());
        return 1;
    }
    const std::size_t tenth = stamps.size() / 10;
    const double first = NsPerLine(stamps, 0, tenth);
    const double last = NsPerLine(stamps, stamps.size() - 1 - tenth, stamps.size() - 1);
    std::sort(latenciesMs.begin(), latenciesMs.end());
    std::printf("gui import: %.2f s, %zu logged lines\n", (end - start) / 1e9, stamps.size());
    std::printf("per line: first tenth %.1f us, last tenth %.1f us\n", first / 1e3, last / 1e3);
    if (!latenciesMs.empty()) {
        std::printf("cancel click to question: %zu samples, median %.1f ms, max %.1f ms\n",
                    latenciesMs.size(), latenciesMs[latenciesMs.size() / 2], latenciesMs.back());
    }
    std::printf("log last/first = %.2f\n", last / first);
    return 0;
}
