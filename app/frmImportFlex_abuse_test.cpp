// Whole runs of the import window: with the real selection and add-manufacturer dialogs driven as
// a user would while the import waits on them, closed and cancelled mid-run, and given 10,000
// files at once.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTreeWidget>
#include <functional>

#include "app/frmImportFlex.h"
#include "core/platform.h"
#include "tests/dialog_hooks.h"
#include "tests/flx_builder.h"
#include "tests/temp_db.h"

namespace {

// A shown window over the demo database's folder; message boxes are answered and noted, a
// modal dialog that opens is cancelled.
class WindowRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetAppFolderForTesting(db.folder());
        hooks.ActOnDialogs({});
    }
    void TearDown() override { window.reset(); }

    void Open() {
        window = std::make_unique<frmImportFlex>();
        window->show();
        hooks.boxes.clear();
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
        const QStringList connectors = flxtest::Connectors(ins, model + " In") +
                                       flxtest::Connectors(outs, model + " Out", 'O');
        flxtest::Write(db.folder(), name,
                       flxtest::Bytes(flxtest::Device(maker, model, connectors, "Rig " + model)));
    }

    TempDb db{DemoRowsSql()};
    DialogHooks hooks;
    std::unique_ptr<frmImportFlex> window;
};

// A manufacturer picked for a file ID is remembered for the run, one added under the file's ID is
// found directly afterwards, and Cancel in the selection dialog ends the run.
TEST_F(WindowRunTest, ChoicesAreRememberedAndCancelStopsTheRun) {
    WriteFlx("a.flx", "ZEPH", "Z-1", 1, 1);
    WriteFlx("b.flx", "ZEPH", "Z-2", 1, 1);
    WriteFlx("c.flx", "NEWCO", "N-1", 1, 1);
    WriteFlx("d.flx", "NEWCO", "N-2", 1, 1);
    WriteFlx("e.flx", "zeph", "Z-3", 1, 1);  // other letter case: asked again
    WriteFlx("f.flx", "ACME", "Z-4", 1, 1);  // never reached
    const auto click = [](const char* button) {
        return [button](QWidget* dialog) { dialog->findChild<QPushButton*>(button)->click(); };
    };
    Open();
    window->findChild<QCheckBox*>("chkLog")->setChecked(true);
    hooks.ActOnDialogs({[](QWidget* dialog) {
                            auto* list = dialog->findChild<QTreeWidget*>("lv1");
                            list->setCurrentItem(list->findItems("KESTREL", Qt::MatchExactly)[0]);
                            dialog->findChild<QPushButton*>("Command1")->click();
                        },
                        click("cmdNew"),
                        [](QWidget* add) {
                            auto* id = add->findChild<QLineEdit*>("txtManufacturerID");
                            EXPECT_EQ(id->text(), "NEWCO");
                            add->findChild<QLineEdit*>("txtManufacturerName")->setText("Newco");
                            id->setText("NEWCO");
                            add->findChild<QPushButton*>("Command1")->click();
                        },
                        click("cmdCancel")});
    window->findChild<QPushButton*>("cmdAll")->click();

    EXPECT_EQ(hooks.dialogs.size(), 4);
    EXPECT_TRUE(hooks.boxes.isEmpty()) << hooks.boxes.join(" / ").toStdString();
    EXPECT_EQ(db.Rows("SELECT EquipmentName, ManufacturerID FROM tblEquipment WHERE EquipmentID > "
                      "2 ORDER BY EquipmentID"),
              QStringList({"Z-1|KESTREL", "Z-2|KESTREL", "N-1|NEWCO", "N-2|NEWCO"}));
    const QString report = window->ReportWindow()->ReportText();
    EXPECT_TRUE(
        report.contains("Failed (user canceled) " +
                        platform::JoinPath(QDir::toNativeSeparators(db.folder()), "e.flx")));
    EXPECT_FALSE(report.contains("Added [")) << "a cancelled run logs no totals";
    EXPECT_FALSE(report.contains("f.flx"));
}

// Closing the window mid-run stops the run at its next line, as a confirmed Cancel does; the
// window goes only once the run has returned. A device whose lines were still being read when
// the window closed is not stored at all; what was stored before stays stored.
TEST_F(WindowRunTest, ClosingMidRunStopsAtTheNextLineAsCancelDoes) {
    const struct {
        const char* closeAt;  // the status line at the close
        QString fileCount;    // after a close inside a file, the next pass shows its entry
        QString stored;
    } cases[] = {
        {"^Type: Rig CLOSE-B$", "Processing 3 of 3 files", "CLOSE-A|3|2"},
        {"^Added as .*CLOSE-A", "Processing 2 of 3 files", "CLOSE-A|3|2"},
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
            if (statusAtClose.isEmpty() && Status().contains(QRegularExpression(c.closeAt))) {
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
        EXPECT_EQ(db.Devices().join(", "), c.stored);
        window.reset();
    }
}

// Cancel pressed again and again: each No lets the run go on, the first Yes stops it at the
// next line, and a click while the question is open never opens a second one. The device whose
// lines were being read at the Yes is not stored.
TEST_F(WindowRunTest, RepeatedCancelAsksOneQuestionAtATime) {
    WriteFlx("a.flx", "ACME", "CANCEL-A", 30, 10);
    WriteFlx("b.flx", "ACME", "CANCEL-B", 2, 2);
    Open();
    auto* cancel = window->findChild<QPushButton*>("cmdCancel");
    QList<bool> answers{false, false, false, true};
    int depth = 0, maxDepth = 0;
    hooks.answerYes = [&](const QString&) {
        maxDepth = qMax(maxDepth, ++depth);
        if (depth == 1) {
            cancel->click();  // only once: nested questions would otherwise recurse without end
        }
        QCoreApplication::processEvents();  // as a real box does
        --depth;
        return !answers.isEmpty() && answers.takeFirst();
    };
    QStringList statusAtQuestion;  // one question per line the run shows: it went on after a No
    Click("cmdAll", [&] {
        if (depth == 0 && statusAtQuestion.size() < 4 &&
            (statusAtQuestion.isEmpty() || Status() != statusAtQuestion.back())) {
            statusAtQuestion << Status();
            cancel->click();
        }
    });
    EXPECT_EQ(maxDepth, 1) << "a question was asked while another was open";
    EXPECT_EQ(hooks.boxes, QStringList(4, "Are you sure you want to cancel? [Yes/No] [?]"));
    ASSERT_EQ(statusAtQuestion.size(), 4) << "the run stood still after a No";
    EXPECT_EQ(Status(), statusAtQuestion.back()) << "a line was read after Yes";
    EXPECT_TRUE(window->session().bCancel && cancel->isEnabled());
    EXPECT_EQ(FileCountText(), "Processing 2 of 2 files");
    EXPECT_EQ(db.Devices(), QStringList());
}

// The labels and the report are redrawn at the screen's pace, yet whatever stops the run for the
// user (a question, its end) finds its latest line drawn: the run's labels on screen are what
// they hold, and the report shows that line at its end.
TEST_F(WindowRunTest, LatestLineIsOnScreenAtEachQuestionAndAtTheEnd) {
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
    hooks.answerYes = [&](const QString&) {
        look("question");
        return false;
    };
    QString asked;  // once per line, however many turns of the event loop it stays
    Click("cmdAll", [&] {
        if (Status() != asked && Status().contains(QRegularExpression("^(Model|Type): "))) {
            asked = Status();
            cancel->click();
        }
    });
    look("end");
    EXPECT_EQ(hooks.boxes.size(), 4);
    EXPECT_TRUE(Status().startsWith("Added [2] parts"));
    EXPECT_EQ(stale, QStringList());
}

// Once the user has closed the report window, between two runs or in the middle of one, the next
// logged line brings it back, holding what was logged since.
TEST_F(WindowRunTest, TheReportWindowComesBackAfterTheUserClosedIt) {
    WriteFlx("a.flx", "ACME", "FIRST", 1, 1);
    WriteFlx("b.flx", "ACME", "SECOND", 1, 1);
    Open();
    window->findChild<QCheckBox*>("chkLog")->setChecked(true);
    QStringList shown;  // after each run: whether the report is on screen, and its models added
    const auto look = [&] {
        frmReporStatus* report = window->ReportWindow();
        QString text = report != nullptr && report->isVisible() ? "shown:" : "hidden:";
        for (const QString& line : report != nullptr ? report->ReportLines() : QStringList()) {
            text += line.startsWith("Added as ") ? ' ' + line.section(' ', -1) : "";
        }
        shown << text;
    };
    Click("cmdAll", [] {});
    look();
    window->ReportWindow()->findChild<QAction*>("catFClose")->trigger();
    Click("cmdAll", [] {});
    look();
    Click("cmdAll", [&] {
        if (window->ReportWindow() != nullptr && Status().contains("SECOND")) {
            window->ReportWindow()->close();
        }
    });
    look();
    EXPECT_EQ(shown, (QStringList{"shown: FIRST SECOND", "shown: FIRST_v1 SECOND_v1",
                                  "shown: SECOND_v2"}));
}

// A folder of 10,000 FLX files fills the list in the background; a run started meanwhile works on
// the whole list.
TEST_F(WindowRunTest, TenThousandFilesAreListedAndRun) {
    QTemporaryDir big;
    for (int i = 1; i <= 10000; ++i) {
        const QString name = QString("dev%1.flx").arg(i, 5, 10, QChar('0'));
        ASSERT_TRUE(QFile(big.filePath(name)).open(QIODevice::WriteOnly));
    }
    Open();
    QTimer::singleShot(0, window.get(), [&] { window->SetDirPath(big.path()); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->FileCount() == 10000; }, 60000));
    EXPECT_EQ(FileCountText(), "FileCount: 10000");

    window->SetDirPath(QDir::tempPath());
    window->SetDirPath(big.path());
    Click("cmdOne", [] {});
    EXPECT_EQ(FileCountText(), "Skipping 10000 of 10000 files");
}

}  // namespace
