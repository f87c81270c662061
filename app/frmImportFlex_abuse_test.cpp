// The import window under abuse: closed, cancelled and reconfigured while a run is going, and
// pointed at a folder of 10,000 files. Runs are started by clicking the buttons; what the user
// does meanwhile is injected from the event processing that the run performs once per line.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <deque>
#include <functional>
#include <iostream>
#include <memory>
#include <vector>

#include "app/frmImportFlex.h"
#include "app/platform.h"
#include "app/windowing.h"
#include "records/connection.h"
#include "records/manufacturer_resolution.h"
#include "report/frmReporStatus.h"
#include "tests/temp_db.h"

namespace {

const QString kCancelQuestion = "Are you sure you want to cancel?";
const QString kUnattended =
    "Unattended operation will automatically add manufacturers from the .flx file. Otherwise you "
    "will be prompted to select an existing manufacturer or create a new manufacturer.";

// Writes one device of `manufacturer` named `model` with `inputs` inputs and `outputs` outputs,
// whose connector names start with the model name. Returns the file's path.
QString WriteFlx(const QString& folder, const QString& name, const QString& manufacturer,
                 const QString& model, int inputs, int outputs) {
    QStringList lines{"<<STARTDEF>>", manufacturer,   model,
                      "Rig " + model, "<<STARTBLK>>", "T SIG CONN  NAME"};
    for (int n = 1; n <= inputs; ++n) {
        lines << QString("I SDI BNC   %1 In %2").arg(model).arg(n);
    }
    for (int n = 1; n <= outputs; ++n) {
        lines << QString("O SDI BNC   %1 Out %2").arg(model).arg(n);
    }
    lines << "<<ENDBLK>>";
    const QString path = QDir(folder).filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write((lines.join("\r\n") + "\r\n").toLatin1());
    return path;
}

// Longest pause between turns of the event loop while it is measured: a 10 ms timer notes the
// time between its ticks.
class FreezeMeter {
  public:
    FreezeMeter() {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout,
                         [this] { longest_ = std::max(longest_, clock_.restart()); });
    }
    void Start() {
        longest_ = 0;
        clock_.start();
        timer_.start();
    }
    qint64 Stop() {
        timer_.stop();
        return std::max(longest_, clock_.elapsed());
    }

  private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 longest_ = 0;
};

// Notes every text that a label shows on screen, and when.
class PaintLog : public QObject {
  public:
    explicit PaintLog(QLabel* label) : label_(label) { label->installEventFilter(this); }
    struct Paint {
        qint64 ms;
        QString text;
    };
    std::vector<Paint> paints;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == label_ && event->type() == QEvent::Paint) {
            if (!clock_.isValid()) {
                clock_.start();
            }
            paints.push_back({clock_.elapsed(), label_->text()});
        }
        return false;
    }

  private:
    QLabel* label_;
    QElapsedTimer clock_;
};

// A window over an application folder that holds the demo database and the test's FLX files.
// Every message box is answered and recorded; a modal dialog that opens is cancelled and
// recorded, so that no test waits on one.
class WindowAbuseTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetAppFolderForTesting(db.folder());
        ui::SetMsgBoxHook([this](const QString& text, ui::MsgButtons, ui::MsgIcon) {
            boxes << text;
            if (text != kCancelQuestion) {
                return ui::MsgAnswer::kOk;
            }
            ++depth;
            maxDepth = std::max(maxDepth, depth);
            if (whileAsking) {
                whileAsking();
            }
            const bool yes = !cancelAnswers.empty() && cancelAnswers.front();
            if (!cancelAnswers.empty()) {
                cancelAnswers.pop_front();
            }
            --depth;
            return yes ? ui::MsgAnswer::kYes : ui::MsgAnswer::kNo;
        });
        watchdog.setInterval(50);
        QObject::connect(&watchdog, &QTimer::timeout, [this] {
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                dialogs << dialog->windowTitle();
                dialog->reject();
            }
        });
        watchdog.start();
        ticker.setInterval(0);
        QObject::connect(&ticker, &QTimer::timeout, [this] {
            if (onTick) {
                onTick();
            }
        });
    }
    void TearDown() override {
        watchdog.stop();
        window.reset();
        aManuMap.clear();
        ui::SetMsgBoxHook({});
        platform::SetAppFolderForTesting({});
    }

    frmImportFlex& Open() {
        window = std::make_unique<frmImportFlex>();
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        boxes.clear();
        return *window;
    }
    template <typename T>
    T* Child(const char* name) const {
        T* child = window->findChild<T*>(name);
        EXPECT_NE(child, nullptr) << name;
        return child;
    }
    QString Status() const { return Child<QLabel>("lblStat")->text(); }
    QString FileCountText() const { return Child<QLabel>("lblFileCount")->text(); }

    // Calls `action` at every turn of the event loop while the click that follows runs.
    void DuringRun(std::function<void()> action) {
        onTick = std::move(action);
        ticker.start();
    }
    void Click(const char* button) {
        Child<QPushButton>(button)->click();
        ticker.stop();
        onTick = nullptr;
    }

    // "equipment rows, input rows, output rows" stored for `model`.
    QString Stored(const QString& model) const {
        return db
            .Scalar(QString("select (select count(*) from tblEquipment where EquipmentName "
                            "= '%1') || ' ' || (select count(*) from tblInputs where Name "
                            "like '%1 %') || ' ' || (select count(*) from tblOutputs where "
                            "Name like '%1 %')")
                        .arg(model))
            .toString();
    }

    TempDb db{DemoRowsSql()};
    std::unique_ptr<frmImportFlex> window;
    QStringList boxes;
    QStringList dialogs;
    std::deque<bool> cancelAnswers;
    std::function<void()> whileAsking;
    int depth = 0;
    int maxDepth = 0;
    QTimer watchdog;
    QTimer ticker;
    std::function<void()> onTick;
};

// Closing the window while a run is going stops the run at its next line, as a confirmed Cancel
// does; the window goes only once the run has returned, and what was stored stays stored.
TEST_F(WindowAbuseTest, ClosingMidRunStopsAtTheNextLineAsCancelDoes) {
    struct Case {
        const char* name;
        // Whether the close comes now, judged by the status line and the session.
        std::function<bool(const QString& status, const SessionState& session)> closeNow;
        QString fileCount;  // the progress text left behind
        QString storedB;    // what the file being read when the window closed left stored
    };
    // After a close inside a file, the next pass shows the entry it will not import.
    const Case cases[] = {
        {"between two connector lines",
         [](const QString& status, const SessionState&) {
             return status.endsWith("CLOSE-B In 10");
         },
         "Processing 3 of 3 files", "1 10 0"},
        {"right after the equipment row was added",
         // The new row is the current row of the equipment recordset until the block's lines.
         [](const QString& status, const SessionState& s) {
             return status == "Type: Rig CLOSE-B" && s.rsEquipment && s.rsEquipment->State() == 1 &&
                    !s.rsEquipment->IsEOF() &&
                    s.rsEquipment->Field("EquipmentName").toString() == "CLOSE-B";
         },
         "Processing 3 of 3 files", "1 0 0"},
        {"between two files",
         [](const QString& status, const SessionState&) {
             return status.startsWith("Added as ") && status.contains("CLOSE-A");
         },
         "Processing 2 of 3 files", "0 0 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        db.Exec("delete from tblInputs; delete from tblOutputs; delete from tblEquipment");
        WriteFlx(db.folder(), "a.flx", "ACME", "CLOSE-A", 3, 2);
        WriteFlx(db.folder(), "b.flx", "ACME", "CLOSE-B", 20, 10);
        WriteFlx(db.folder(), "c.flx", "ACME", "CLOSE-C", 2, 2);
        Open();

        QString statusAtClose;
        bool visibleAfterClose = false;
        DuringRun([&] {
            const QString status = Status();
            if (statusAtClose.isEmpty() && c.closeNow(status, window->session())) {
                statusAtClose = status;
                window->close();
                visibleAfterClose = window->isVisible();
            }
        });
        Click("cmdAll");

        ASSERT_FALSE(statusAtClose.isEmpty()) << "the close was never sent";
        EXPECT_TRUE(visibleAfterClose) << "the window must wait for the run to return";
        EXPECT_FALSE(window->isVisible());
        EXPECT_TRUE(window->session().bCancel);
        EXPECT_EQ(Status(), statusAtClose) << "nothing may be read after the close";
        EXPECT_EQ(FileCountText(), c.fileCount);
        EXPECT_EQ(Stored("CLOSE-A"), "1 3 2");
        EXPECT_EQ(Stored("CLOSE-B"), c.storedB);
        EXPECT_EQ(Stored("CLOSE-C"), "0 0 0");
        // No transaction is left open: another program can write at once.
        EXPECT_FALSE(db::Connection::ForString(db.connection()).InTransaction());
        db.Exec("insert into tblManufacturers (ManufacturerID) values ('AFTER')");
        db.Exec("delete from tblManufacturers where ManufacturerID = 'AFTER'");
        window.reset();
    }
}

// Cancel pressed again and again: each No lets the run go on, the first Yes stops it at the
// next line, and a click while the question is open never opens a second one.
TEST_F(WindowAbuseTest, RepeatedCancelAsksOneQuestionAtATime) {
    WriteFlx(db.folder(), "a.flx", "ACME", "CANCEL-A", 30, 10);
    WriteFlx(db.folder(), "b.flx", "ACME", "CANCEL-B", 2, 2);
    Open();
    auto* cancel = Child<QPushButton>("cmdCancel");
    cancelAnswers = {false, false, false, true};
    whileAsking = [&] {
        // A second click while the question is open (once: a window that nests its questions
        // would otherwise recurse without end), and events run as in a real box.
        if (depth == 1) {
            cancel->click();
        }
        QCoreApplication::processEvents();
    };
    QStringList statusAtQuestion;
    int ticks = 0;
    DuringRun([&] {
        // Not while the question itself runs events.
        if (depth == 0 && ++ticks % 5 == 0 && statusAtQuestion.size() < 4) {
            statusAtQuestion << Status();
            cancel->click();
        }
    });
    Click("cmdAll");

    EXPECT_EQ(maxDepth, 1) << "a question was asked while another was open";
    EXPECT_EQ(boxes, QStringList(4, kCancelQuestion));
    ASSERT_EQ(statusAtQuestion.size(), 4);
    for (int i = 0; i + 1 < statusAtQuestion.size(); ++i) {
        EXPECT_NE(statusAtQuestion[i], statusAtQuestion[i + 1]) << "the run stood still after No";
    }
    EXPECT_EQ(Status(), statusAtQuestion.back()) << "a line was read after Yes";
    EXPECT_TRUE(window->session().bCancel);
    EXPECT_TRUE(cancel->isEnabled());
    EXPECT_EQ(FileCountText(), "Processing 2 of 2 files");
    EXPECT_EQ(Stored("CANCEL-B"), "0 0 0");

    // The next run starts afresh and asks nothing.
    boxes.clear();
    Click("cmdAll");
    EXPECT_TRUE(boxes.isEmpty());
    EXPECT_TRUE(Status().startsWith("Added [2] parts")) << Status().toStdString();
    EXPECT_FALSE(cancel->isEnabled());
}

// "Log Actions" switched on for the second of three files and off for the third: the report
// holds exactly the second file's lines.
TEST_F(WindowAbuseTest, LoggingSwitchedMidRunCoversExactlyTheFilesBetween) {
    WriteFlx(db.folder(), "a.flx", "ACME", "LOG-1", 1, 1);
    const QString second = WriteFlx(db.folder(), "b.flx", "ACME", "LOG-2", 2, 1);
    WriteFlx(db.folder(), "c.flx", "ACME", "LOG-3", 1, 1);
    Open();
    auto* log = Child<QCheckBox>("chkLog");
    DuringRun([&] {
        const bool wanted = FileCountText() == "Processing 2 of 3 files";
        if (log->isChecked() != wanted) {
            log->click();
        }
    });
    Click("cmdAll");

    ASSERT_NE(window->ReportWindow(), nullptr);
    EXPECT_TRUE(window->ReportWindow()->isVisible());
    const QStringList expected{"ManufacturerID: \tACME",
                               "Model: \t\tLOG-2",
                               "Type: \t\tRig LOG-2",
                               "IOType = I\t Sig = SDI\t Conn = BNC\t Name = \tLOG-2 In 1",
                               "IOType = I\t Sig = SDI\t Conn = BNC\t Name = \tLOG-2 In 2",
                               "IOType = O\t Sig = SDI\t Conn = BNC\t Name = \tLOG-2 Out 1",
                               "Added " + QDir::toNativeSeparators(second),
                               "",
                               "Added as ACME Acme Broadcast LOG-2",
                               ""};
    EXPECT_EQ(window->ReportWindow()->ReportLines(), expected);
    EXPECT_TRUE(Status().startsWith("Added [3] parts")) << Status().toStdString();
}

// "Unattended Manufacturer Adding" changed while the first file is read decides how the next
// unknown manufacturer is resolved.
TEST_F(WindowAbuseTest, UnattendedSwitchedMidRunDecidesTheNextUnknownManufacturer) {
    struct Case {
        const char* name;
        bool before;
        QStringList dialogs;  // the selection dialog, cancelled when it opens
        QString stored;       // what the second file leaves
        int newManufacturers;
    };
    const Case cases[] = {
        {"switched on", false, {}, "1 1 1", 1},
        {"switched off", true, {"Select  Manufacturer"}, "0 0 0", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFlx(db.folder(), "a.flx", "ACME", "UN-1", 3, 1);
        WriteFlx(db.folder(), "b.flx", "NEWCO", "UN-2", 1, 1);
        Open();
        auto* unattended = Child<QCheckBox>("chkUnattended");
        if (c.before) {
            unattended->click();
        }
        boxes.clear();
        dialogs.clear();
        bool switched = false;
        DuringRun([&] {
            if (!switched && Status().endsWith("UN-1 In 2")) {
                unattended->click();
                switched = true;
            }
        });
        Click("cmdAll");

        EXPECT_TRUE(switched);
        EXPECT_EQ(window->Unattended(), !c.before);
        EXPECT_EQ(boxes, QStringList{kUnattended});
        EXPECT_EQ(dialogs, c.dialogs);
        EXPECT_EQ(Stored("UN-1"), "1 3 1");
        EXPECT_EQ(Stored("UN-2"), c.stored);
        EXPECT_EQ(db.Scalar("select count(*) from tblManufacturers where ManufacturerID = 'NEWCO'")
                      .toInt(),
                  c.newManufacturers);
        window.reset();
        db.Exec(
            "delete from tblInputs; delete from tblOutputs; delete from tblEquipment; "
            "delete from tblManufacturers where ManufacturerID = 'NEWCO'");
        aManuMap.clear();
    }
}

// A folder of 10,000 FLX files: the list fills while the window goes on answering, and a run
// over all its entries keeps the progress label on screen up to date.
TEST_F(WindowAbuseTest, TenThousandFilesFillWithoutFreezingTheWindow) {
    constexpr int kFiles = 10000;
    QTemporaryDir big;
    ASSERT_TRUE(big.isValid());
    for (int i = 1; i <= kFiles; ++i) {
        QFile file(big.filePath(QString("dev%1.flx").arg(i, 5, 10, QChar('0'))));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    QFile(big.filePath("readme.txt")).open(QIODevice::WriteOnly);
    Open();
    auto* list = Child<QListWidget>("File1");

    FreezeMeter meter;
    meter.Start();
    QTimer::singleShot(0, window.get(), [&] { window->SetDirPath(big.path()); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->FileCount() == kFiles; }, 60000));
    QTest::qWait(200);  // the list lays out and paints its rows
    const qint64 fillFreeze = meter.Stop();
    std::cout << "[ measured ] longest freeze while listing " << kFiles << " files: " << fillFreeze
              << " ms\n";
    RecordProperty("fill_freeze_ms", static_cast<int>(fillFreeze));
    EXPECT_LT(fillFreeze, 250);
    EXPECT_EQ(FileCountText(), "FileCount: 10000");
    EXPECT_EQ(window->FileName(0), "dev00001.flx");
    EXPECT_EQ(window->FileName(kFiles - 1), "dev10000.flx");

    // A run started while the folder is still being listed works on the whole list.
    window->SetDirPath(QDir::tempPath());
    window->SetDirPath(big.path());
    Click("cmdOne");
    EXPECT_EQ(FileCountText(), "Skipping 10000 of 10000 files");
    EXPECT_TRUE(Status().startsWith("Added [0] parts")) << Status().toStdString();

    // Every 500th entry is imported, the others skipped.
    list->clearSelection();
    QStringList processed;
    for (int i = 0; i < kFiles; i += 500) {
        list->item(i)->setSelected(true);
        processed << QString("Processing %1 of 10000 files").arg(i + 1);
    }
    PaintLog paints(Child<QLabel>("lblFileCount"));
    meter.Start();
    Click("cmdOne");
    const qint64 runFreeze = meter.Stop();
    std::cout << "[ measured ] longest freeze during a run over " << kFiles
              << " entries: " << runFreeze << " ms\n";
    EXPECT_LT(runFreeze, 250);
    EXPECT_EQ(FileCountText(), "Skipping 10000 of 10000 files");
    EXPECT_TRUE(Status().startsWith("Added [20] parts")) << Status().toStdString();

    // The label on screen followed the run: its numbers only rose, it was redrawn throughout,
    // never stood still for long, and showed every imported entry.
    static const QRegularExpression progress("^(Processing|Skipping) (\\d+) of 10000 files$");
    int painted = 0;
    int lastNumber = 0;
    qint64 lastMs = -1;
    qint64 longestStill = 0;
    for (const PaintLog::Paint& paint : paints.paints) {
        const QRegularExpressionMatch m = progress.match(paint.text);
        if (!m.hasMatch()) {
            continue;
        }
        processed.removeAll(paint.text);
        const int number = m.captured(2).toInt();
        EXPECT_GE(number, lastNumber) << paint.text.toStdString();
        if (number != lastNumber) {
            ++painted;
            if (lastMs >= 0) {
                longestStill = std::max(longestStill, paint.ms - lastMs);
            }
            lastMs = paint.ms;
        }
        lastNumber = number;
    }
    EXPECT_GT(painted, 100) << "the progress label was hardly redrawn";
    EXPECT_TRUE(processed.isEmpty()) << "never shown: " << processed.join(", ").toStdString();
    EXPECT_LT(longestStill, 250);
}

}  // namespace
