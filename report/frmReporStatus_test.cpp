#include "report/frmReporStatus.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QPointer>
#include <QTemporaryDir>

#include "core/platform.h"
#include "report/rtf_writer.h"
#include "tests/dialog_hooks.h"
#include "tests/flx_builder.h"

namespace {

// A report window whose message boxes and save dialog are answered by the test.
class ReportWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetAppFolderForTesting(appDir.path());
        window = new frmReporStatus;
    }
    void TearDown() override { delete window; }
    void Click(const char* name) { window->findChild<QAction*>(name)->trigger(); }

    QTemporaryDir appDir;
    DialogHooks hooks;
    QPointer<frmReporStatus> window;
};

TEST_F(ReportWindowTest, AppendedLinesMakeTheReportThatSaveWritesAndCloseDiscards) {
    // CR LF, a lone CR and a lone LF break a line; one at the end leaves an empty line.
    const QStringList appended = {"Model: \t\tX", "", "Added a\r\n", "a\r\nb\rc\nd", "{\\b x}"};
    for (const QString& line : appended) {
        window->AppendLine(line);
    }
    EXPECT_EQ(window->ReportText(),
              "Model: \t\tX\r\n\r\nAdded a\r\n\r\na\r\nb\r\nc\r\nd\r\n{\\b x}\r\n");
    window->show();
    const QString saved = platform::JoinPath(appDir.path(), "Tovrin Import Report");
    const QString missing = appDir.filePath("missing/report.rtf");
    for (const QString& answer : {QString(), missing, saved}) {
        hooks.savePath = answer;
        Click("catFSave");
        EXPECT_EQ(window->ReportLines().size(), 9);  // never changed
    }
    EXPECT_EQ(hooks.boxes,
              (QStringList{"32755 Cancel was selected.",
                           "76 Path not found: " + QDir::toNativeSeparators(missing)}));
    ASSERT_EQ(hooks.saveDialogs.size(), 3u);
    const ui::SaveDialogOptions& d = hooks.saveDialogs.back();
    EXPECT_TRUE(d.initialFolder == appDir.path() && d.overwritePrompt);
    EXPECT_EQ(QDir(appDir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{"Tovrin Import Report"});
    EXPECT_EQ(flxtest::Read(saved), ReportToRtf(appended));
    ASSERT_TRUE(window && window->isVisible());
    Click("catFClose");
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull());
}

}  // namespace
