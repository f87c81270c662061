#include "report/frmReporStatus.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>

#include "core/platform.h"
#include "core/windowing.h"
#include "report/rtf_writer.h"

namespace {

// A report window whose message boxes and save dialog are answered by the test.
class ReportWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ui::SetMsgBoxHook([this](const QString& text, ui::MsgButtons, ui::MsgIcon) {
            messages << text;
            return ui::MsgAnswer::kOk;
        });
        ui::SetSaveDialogHook([this](const ui::SaveDialogOptions& options) {
            dialogs.push_back(options);
            return savePath;
        });
        platform::SetAppFolderForTesting(appDir.path());
        window = new frmReporStatus;
    }
    void TearDown() override {
        delete window;
        ui::SetMsgBoxHook({});
        ui::SetSaveDialogHook({});
        platform::SetAppFolderForTesting({});
    }
    void Click(const char* name) { window->findChild<QAction*>(name)->trigger(); }

    QTemporaryDir appDir;
    QPointer<frmReporStatus> window;
    QStringList messages;
    std::vector<ui::SaveDialogOptions> dialogs;
    QString savePath;  // the dialog's answer; empty for Cancel
};

TEST_F(ReportWindowTest, AppendedLinesMakeTheReportThatSaveWritesAndCloseDiscards) {
    EXPECT_EQ(window->ReportText(), "");
    // CR LF, a lone CR and a lone LF break a line; one at the end leaves an empty line.
    const QStringList appended = {"Model: \t\tX", "", "Added a\r\n", "a\r\nb\rc\nd", "{\\b x}"};
    for (const QString& line : appended) {
        window->AppendLine(line);
    }
    EXPECT_EQ(window->ReportText(),
              "Model: \t\tX\r\n\r\nAdded a\r\n\r\na\r\nb\r\nc\r\nd\r\n{\\b x}\r\n");
    window->show();
    Click("catFPrint");  // does nothing, as does any name but "catFSave" and "catFClose"
    window->ActiveBar31_ToolClick("catfsave");
    const QString saved = platform::JoinPath(appDir.path(), "Tovrin Import Report");
    const QString missing = appDir.filePath("missing/report.rtf");
    for (const QString& answer : {QString(), missing, saved}) {
        savePath = answer;
        Click("catFSave");
        EXPECT_EQ(window->ReportLines().size(), 9);  // never changed
    }
    EXPECT_EQ(messages, (QStringList{"32755 Cancel was selected.",
                                     "76 Path not found: " + QDir::toNativeSeparators(missing)}));
    ASSERT_EQ(dialogs.size(), 3u);
    const ui::SaveDialogOptions& d = dialogs.back();
    EXPECT_EQ(QStringList({d.title, d.filter, d.initialName, d.initialFolder}),
              QStringList({"Save Report RTF File", "Rich Text Files|*.rtf", "Tovrin Import Report",
                           appDir.path()}));
    EXPECT_TRUE(d.overwritePrompt);
    EXPECT_EQ(ui::NameFiltersFromPipes(d.filter), QStringList{"Rich Text Files (*.rtf)"});
    EXPECT_EQ(QDir(appDir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{"Tovrin Import Report"});
    QFile file(saved);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), ReportToRtf(appended));
    ASSERT_TRUE(window && window->isVisible());
    Click("catFClose");
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull());
}

TEST_F(ReportWindowTest, AppendingOnlyAddsAtTheEndInBatches) {
    // Each batch is one insertion, shown without anyone reading the report.
    QTextDocument* document = window->findChild<QPlainTextEdit*>("txtMessage")->document();
    QSignalSpy changes(document, &QTextDocument::contentsChange);
    for (int i = 0; i < 200; ++i) {
        window->AppendLine(QString("line %1\t%2").arg(i).arg(i * 7));
        if (i == 99) {
            QTest::qWait(frmReporStatus::kFlushIntervalMs * 4);
            EXPECT_EQ(changes.count(), 1);
        }
    }
    EXPECT_EQ(window->ReportLines().at(100), "line 100\t700");
    ASSERT_EQ(changes.count(), 2);
    EXPECT_EQ(changes.at(1).at(1).toInt(), 0);  // nothing removed
    EXPECT_FALSE(document->isUndoAvailable());
}

}  // namespace
