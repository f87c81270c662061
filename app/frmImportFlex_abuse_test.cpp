// The import window closed, cancelled and reconfigured mid-run, and given 10,000 files at once.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <functional>

#include "app/frmImportFlex.h"
#include "core/platform.h"
#include "core/windowing.h"
#include "records/connection.h"
#include "records/recordset.h"
#include "tests/temp_db.h"

namespace {

const QString kUnattended =
    "Unattended operation will automatically add manufacturers from the .flx file. Otherwise you "
    "will be prompted to select an existing manufacturer or create a new manufacturer.";

// A shown window over the demo database's folder. Message boxes are answered OK and noted; a
// modal dialog that opens is cancelled and noted, so that no test waits on one.
class WindowAbuseTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetAppFolderForTesting(db.folder());
        ui::SetMsgBoxHook([this](const QString& text, ui::MsgButtons, ui::MsgIcon) {
            boxes << text;
            return ui::MsgAnswer::kOk;
        });
        QObject::connect(&watchdog, &QTimer::timeout, [this] {
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                dialogs << dialog->windowTitle();
                dialog->reject();
            }
        });
        watchdog.start(50);
    }
    void TearDown() override {
        window.reset();
        ui::SetMsgBoxHook({});
        platform::SetAppFolderForTesting({});
    }

    void Open() {
        window = std::make_unique<frmImportFlex>();
        window->show();
        boxes.clear();
    }
    QString Status() const { return window->findChild<QLabel*>("lblStat")->text(); }
    QString FileCountText() const { return window->findChild<QLabel*>("lblFileCount")->text(); }

    // Clicks `button`, calling `action` at every turn of the event loop while the click runs.
    void Click(const char* button, const std::function<void()>& action) {
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, action);
        ticker.start();
        window->findChild<QPushButton*>(button)->click();
    }

    // Writes one device of `maker` named `model`, its connectors named after it.
    void WriteFlx(const char* name, const char* maker, const QString& model, int ins, int outs) {
        QStringList lines{"<<STARTDEF>>", maker, model, "Rig " + model, "<<STARTBLK>>", "T SIG"};
        for (int n = 1; n <= ins + outs; ++n) {
            lines << (n <= ins ? QString("I SDI BNC   %1 In %2").arg(model).arg(n)
                               : QString("O SDI BNC   %1 Out %2").arg(model).arg(n - ins));
        }
        QFile file(QDir(db.folder()).filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write((lines.join("\r\n") + "\r\n<<ENDBLK>>\r\n").toLatin1());
    }
    // "equipment rows, input rows, output rows" stored for each of `models`, joined by ", ".
    QString Stored(const QStringList& models) const {
        QStringList counts;
        for (const QString& m : models) {
            counts << db.Rows(QString("select (select count(*) from tblEquipment where "
                                      "EquipmentName = '%1') || ' ' || (select count(*) from "
                                      "tblInputs where Name like '%1 %') || ' ' || (select "
                                      "count(*) from tblOutputs where Name like '%1 %')")
                                  .arg(m));
        }
        return counts.join(", ");
    }

    TempDb db{DemoRowsSql()};
    std::unique_ptr<frmImportFlex> window;
    QStringList boxes;
    QStringList dialogs;
    QTimer watchdog;
};

// Closing the window mid-run stops the run at its next line, as a confirmed Cancel does; the
// window goes only once the run has returned, and what was stored stays stored.
TEST_F(WindowAbuseTest, ClosingMidRunStopsAtTheNextLineAsCancelDoes) {
    const struct {
        const char* closeAt;  // the status line at the close
        bool rowCurrent;      // and CLOSE-B's new row is the equipment recordset's current row
        QString fileCount;    // after a close inside a file, the next pass shows its entry
        QString stored;
    } cases[] = {
        {"CLOSE-B In 10$", false, "Processing 3 of 3 files", "1 3 2, 1 10 0, 0 0 0"},
        {"^Type: Rig CLOSE-B$", true, "Processing 3 of 3 files", "1 3 2, 1 0 0, 0 0 0"},
        {"^Added as .*CLOSE-A", false, "Processing 2 of 3 files", "1 3 2, 0 0 0, 0 0 0"},
    };
    WriteFlx("a.flx", "ACME", "CLOSE-A", 3, 2);
    WriteFlx("b.flx", "ACME", "CLOSE-B", 20, 10);
    WriteFlx("c.flx", "ACME", "CLOSE-C", 2, 2);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.closeAt);
        db.Exec("delete from tblInputs; delete from tblOutputs; delete from tblEquipment");
        Open();
        QString statusAtClose;
        bool visibleAfterClose = false;
        Click("cmdAll", [&] {
            const auto& rs = window->session().rsEquipment;
            if (statusAtClose.isEmpty() && Status().contains(QRegularExpression(c.closeAt)) &&
                (!c.rowCurrent || (rs && rs->State() == 1 && !rs->IsEOF() &&
                                   rs->Field("EquipmentName").toString() == "CLOSE-B"))) {
                statusAtClose = Status();
                window->close();
                visibleAfterClose = window->isVisible();
            }
        });
        ASSERT_FALSE(statusAtClose.isEmpty()) << "the close was never sent";
        EXPECT_TRUE(visibleAfterClose && !window->isVisible()) << "it must go once the run returns";
        EXPECT_TRUE(window->session().bCancel);
        EXPECT_EQ(Status(), statusAtClose) << "nothing may be read after the close";
        EXPECT_EQ(FileCountText(), c.fileCount);
        EXPECT_EQ(Stored({"CLOSE-A", "CLOSE-B", "CLOSE-C"}), c.stored);
        EXPECT_FALSE(db::Connection::ForString(db.connection()).InTransaction());  // none left
        window.reset();
    }
}

// Cancel pressed again and again: each No lets the run go on, the first Yes stops it at the
// next line, and a click while the question is open never opens a second one.
TEST_F(WindowAbuseTest, RepeatedCancelAsksOneQuestionAtATime) {
    WriteFlx("a.flx", "ACME", "CANCEL-A", 30, 10);
    WriteFlx("b.flx", "ACME", "CANCEL-B", 2, 2);
    Open();
    auto* cancel = window->findChild<QPushButton*>("cmdCancel");
    QList<bool> answers{false, false, false, true};
    int depth = 0, maxDepth = 0;
    ui::SetMsgBoxHook([&](const QString& text, ui::MsgButtons, ui::MsgIcon) {
        boxes << text;
        maxDepth = qMax(maxDepth, ++depth);
        if (depth == 1) {
            cancel->click();  // only once: nested questions would otherwise recurse without end
        }
        QCoreApplication::processEvents();  // as a real box does
        --depth;
        return !answers.isEmpty() && answers.takeFirst() ? ui::MsgAnswer::kYes : ui::MsgAnswer::kNo;
    });
    QStringList statusAtQuestion;
    int ticks = 0;
    Click("cmdAll", [&] {
        if (depth == 0 && ++ticks % 5 == 0 && statusAtQuestion.size() < 4) {
            statusAtQuestion << Status();
            cancel->click();
        }
    });
    EXPECT_EQ(maxDepth, 1) << "a question was asked while another was open";
    EXPECT_EQ(boxes, QStringList(4, "Are you sure you want to cancel?"));
    ASSERT_EQ(statusAtQuestion.size(), 4);
    EXPECT_EQ(Status(), statusAtQuestion.back()) << "a line was read after Yes";
    EXPECT_EQ(statusAtQuestion.removeDuplicates(), 0) << "the run stood still after a No";
    EXPECT_TRUE(window->session().bCancel && cancel->isEnabled());
    EXPECT_EQ(FileCountText(), "Processing 2 of 2 files");
    EXPECT_EQ(Stored({"CANCEL-B"}), "0 0 0");
}

// The labels and the report are redrawn at the screen's pace, yet whatever stops the run for the
// user (a question, its end) finds its latest line drawn: the run's labels on screen are what
// they hold, and the report shows that line at its end.
TEST_F(WindowAbuseTest, LatestLineIsOnScreenAtEachQuestionAndAtTheEnd) {
    WriteFlx("a.flx", "ACME", "SHOWN-A", 20, 10);
    WriteFlx("b.flx", "ACME", "SHOWN-B", 10, 20);
    Open();
    window->findChild<QCheckBox*>("chkLog")->setChecked(true);
    auto* cancel = window->findChild<QPushButton*>("cmdCancel");
    auto* labels = window->findChild<QWidget*>("fraRun");
    const auto drawn = [](QWidget* widget) {  // as on screen, and as the widget would draw now
        const QRect area(widget->mapTo(widget->window(), QPoint()), widget->size());
        QWidget* top = widget->window();
        return std::pair{
            top->screen()
                ->grabWindow(top->winId(), area.x(), area.y(), area.width(), area.height())
                .toImage()
                .convertToFormat(QImage::Format_RGB32),
            top->grab(area).toImage().convertToFormat(QImage::Format_RGB32)};
    };
    QStringList stale;
    const auto look = [&](const QString& when) {
        QPlainTextEdit* report = window->ReportWindow()->findChild<QPlainTextEdit*>("txtMessage");
        const QString last = report->document()->lastBlock().previous().text();
        const auto [labelsShown, labelsNow] = drawn(labels);
        const auto [reportShown, reportNow] = drawn(report->viewport());
        if (labelsShown != labelsNow || QString(last).remove('\t') != Status() ||
            reportShown != reportNow ||
            report->verticalScrollBar()->value() != report->verticalScrollBar()->maximum()) {
            stale << when + ": " + Status();
        }
    };
    ui::SetMsgBoxHook([&](const QString& text, ui::MsgButtons, ui::MsgIcon) {
        boxes << text;
        look("question");
        return ui::MsgAnswer::kNo;
    });
    Click("cmdAll", [&] {
        if (Status().contains(QRegularExpression(" (In|Out) (5|15)$"))) {
            cancel->click();
        }
    });
    look("end");
    EXPECT_EQ(boxes.size(), 6);
    EXPECT_TRUE(Status().startsWith("Added [2] parts"));
    EXPECT_EQ(stale, QStringList());
}

// Both options are read whenever they are needed. "Log Actions" is on for the second file only;
// "Unattended Manufacturer Adding" is switched on while the first file is read and off while the
// second is, and each switch decides how the next unknown manufacturer is resolved.
TEST_F(WindowAbuseTest, OptionsSwitchedMidRunApplyFromTheirNextUse) {
    WriteFlx("a.flx", "ACME", "OPT-1", 3, 1);
    WriteFlx("b.flx", "NEWCO", "OPT-2", 2, 1);
    WriteFlx("c.flx", "OTHERCO", "OPT-3", 1, 1);
    Open();
    auto* log = window->findChild<QCheckBox*>("chkLog");
    auto* unattended = window->findChild<QCheckBox*>("chkUnattended");
    QStringList switchedAt;
    Click("cmdAll", [&] {
        if (log->isChecked() != (FileCountText() == "Processing 2 of 3 files")) {
            log->click();
        }
        for (const char* at : {"OPT-1 In 2", "OPT-2 In 1"}) {
            if (Status().endsWith(at) && !switchedAt.contains(at)) {
                switchedAt << at;
                unattended->click();
            }
        }
    });
    EXPECT_EQ(switchedAt.size(), 2);
    EXPECT_EQ(boxes, QStringList(2, kUnattended));
    EXPECT_EQ(dialogs, QStringList{"Select  Manufacturer"});  // cancelled: OPT-3 is not stored
    EXPECT_EQ(Stored({"OPT-1", "OPT-2", "OPT-3"}), "1 3 1, 1 2 1, 0 0 0");
    ASSERT_TRUE(window->ReportWindow() && window->ReportWindow()->isVisible());
    const QString io = "IOType = %1\t Sig = SDI\t Conn = BNC\t Name = \tOPT-2 %2";
    EXPECT_EQ(window->ReportWindow()->ReportLines(),
              QStringList({"ManufacturerID: \tNEWCO", "Model: \t\tOPT-2", "Type: \t\tRig OPT-2",
                           io.arg("I", "In 1"), io.arg("I", "In 2"), io.arg("O", "Out 1"),
                           "Added " + QDir::toNativeSeparators(db.folder() + "/b.flx"), "",
                           "Added as NEWCO NEWCO OPT-2", ""}));
}

// A folder of 10,000 FLX files: the list fills while the window goes on answering, and a run
// over all its entries keeps the progress label up to date.
TEST_F(WindowAbuseTest, TenThousandFilesFillWithoutFreezingTheWindow) {
    QTemporaryDir big;
    for (int i = 1; i <= 10000; ++i) {
        const QString name = QString("dev%1.flx").arg(i, 5, 10, QChar('0'));
        ASSERT_TRUE(QFile(big.filePath(name)).open(QIODevice::WriteOnly));
    }
    Open();
    QElapsedTimer clock;
    qint64 longest = 0;  // the longest pause between two turns of the event loop
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { longest = qMax(longest, clock.restart()); });
    clock.start();
    ticker.start();
    QTimer::singleShot(0, window.get(), [&] { window->SetDirPath(big.path()); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->FileCount() == 10000; }, 60000));
    QTest::qWait(200);  // the list lays out and paints its rows
    ticker.stop();
    EXPECT_LT(longest, 250);
    EXPECT_EQ(FileCountText(), "FileCount: 10000");

    // A run started while the folder is still being listed works on the whole list.
    window->SetDirPath(QDir::tempPath());
    window->SetDirPath(big.path());
    Click("cmdOne", [] {});
    EXPECT_EQ(FileCountText(), "Skipping 10000 of 10000 files");

    // Every 500th entry is imported, the others skipped; each imported entry shows on the label.
    auto* list = window->findChild<QListWidget*>("File1");
    list->clearSelection();
    for (int i = 0; i < 10000; i += 500) {
        list->item(i)->setSelected(true);
    }
    QStringList shown;
    Click("cmdOne", [&] { shown << FileCountText(); });
    EXPECT_EQ(FileCountText(), "Skipping 10000 of 10000 files");
    EXPECT_TRUE(Status().startsWith("Added [20] parts")) << Status().toStdString();
    for (int i = 0; i < 10000; i += 500) {
        EXPECT_TRUE(shown.contains(QString("Processing %1 of 10000 files").arg(i + 1))) << i;
    }
}

}  // namespace
