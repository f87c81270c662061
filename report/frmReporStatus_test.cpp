#include "report/frmReporStatus.h"

#include <gtest/gtest.h>

#include <QTest>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QToolBar>

#include "app/platform.h"
#include "app/windowing.h"
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
    QAction* Tool(const char* name) { return window->findChild<QAction*>(name); }
    void Click(const char* name) { Tool(name)->trigger(); }

    QTemporaryDir appDir;
    QPointer<frmReporStatus> window;
    QStringList messages;
    std::vector<ui::SaveDialogOptions> dialogs;
    QString savePath;  // the dialog's answer; empty for Cancel
};

TEST_F(ReportWindowTest, StartsEmptyWithItsToolsOnTheBand) {
    EXPECT_EQ(window->windowTitle(), "Status Update");
    EXPECT_TRUE(window->isWindow());
    EXPECT_EQ(window->ReportText(), "");
    EXPECT_TRUE(window->ReportLines().isEmpty());

    auto* bar = window->findChild<QToolBar*>("ActiveBar31");
    ASSERT_NE(bar, nullptr);
    QStringList band;
    for (QAction* tool : bar->actions()) {
        band << tool->objectName() + "=" + tool->text();
    }
    EXPECT_EQ(band, (QStringList{"catFSave=Save", "catFPrint=Print", "catFClose=Close"}));
    ASSERT_NE(Tool("Tool1"), nullptr);
    EXPECT_EQ(Tool("Tool1")->text(), "Tool1");
    EXPECT_FALSE(Tool("Tool1")->isVisible());

    auto* text = window->findChild<QPlainTextEdit*>("txtMessage");
    ASSERT_NE(text, nullptr);
    EXPECT_TRUE(text->isReadOnly());
    EXPECT_DOUBLE_EQ(text->font().pointSizeF(), 8.5);
    EXPECT_EQ(text->font().families().value(0), "MS Sans Serif");
}

TEST_F(ReportWindowTest, AppendedLinesMakeTheReport) {
    struct Case {
        const char* name;
        QStringList appended;
        QStringList lines;
    };
    const Case cases[] = {
        {"plain lines", {"one", "two"}, {"one", "two"}},
        {"tabs kept", {"Model: \t\tX"}, {"Model: \t\tX"}},
        {"empty line", {""}, {""}},
        {"CR LF at the end leaves an empty line", {"Added a\r\n", "next"}, {"Added a", "", "next"}},
        {"CR LF, lone CR and lone LF inside", {"a\r\nb\rc\nd"}, {"a", "b", "c", "d"}},
    };
    for (const Case& c : cases) {
        frmReporStatus report;
        for (const QString& line : c.appended) {
            report.AppendLine(line);
        }
        EXPECT_EQ(report.ReportLines(), c.lines) << c.name;
        EXPECT_EQ(report.ReportText(), c.lines.join("\r\n") + "\r\n") << c.name;
    }
}

TEST_F(ReportWindowTest, AppendingOnlyAddsAtTheEnd) {
    // Lines reach the text box in batches, each one insertion at the end, never a rewrite of
    // what is there; a batch is shown without anyone reading the report.
    QTextDocument* document = window->findChild<QPlainTextEdit*>("txtMessage")->document();
    int changes = 0;
    int end = 0;
    QObject::connect(document, &QTextDocument::contentsChange,
                     [&](int position, int removed, int added) {
                         ++changes;
                         EXPECT_EQ(removed, 0);
                         EXPECT_GE(position, end - 1);
                         end = position + added;
                     });
    for (int i = 0; i < 100; ++i) {
        window->AppendLine(QString("line %1\t%2").arg(i).arg(i * 7));
    }
    QTest::qWait(frmReporStatus::kFlushIntervalMs * 4);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(document->blockCount(), 101);
    for (int i = 100; i < 200; ++i) {
        window->AppendLine(QString("line %1\t%2").arg(i).arg(i * 7));
    }
    EXPECT_EQ(window->ReportLines().size(), 200);
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(window->ReportLines().at(199), "line 199\t1393");
    EXPECT_FALSE(document->isUndoAvailable());
}

TEST_F(ReportWindowTest, ToolsThatDoNothing) {
    window->AppendLine("kept");
    window->show();
    Click("catFPrint");
    Click("Tool1");
    window->ActiveBar31_ToolClick("catfsave");  // names are compared exactly
    window->ActiveBar31_ToolClick("Unknown");
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_FALSE(window.isNull());
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(dialogs.empty());
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(window->ReportText(), "kept\r\n");
}

TEST_F(ReportWindowTest, CloseDiscardsTheWindow) {
    window->AppendLine("gone");
    window->show();
    Click("catFClose");
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull());
}

TEST_F(ReportWindowTest, SaveWritesTheReportUnderTheChosenName) {
    const QStringList appended = {"Manufacturer ID: \tACME", "Added x.flx\r\n", "{\\b not bold}"};
    for (const QString& line : appended) {
        window->AppendLine(line);
    }
    savePath = platform::JoinPath(appDir.path(), "Tovrin Import Report");
    Click("catFSave");
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
    EXPECT_EQ(QDir(appDir.path()).entryList(QDir::Files), QStringList{"Tovrin Import Report"});
    QFile file(savePath);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), ReportToRtf(appended));
    EXPECT_EQ(window->ReportLines().size(), 4);
}

TEST_F(ReportWindowTest, FailedSaveShowsNumberAndDescriptionAndWritesNothing) {
    const QString missing = appDir.filePath("missing/report.rtf");
    const struct {
        const char* name;
        QString answer;
        QString message;
    } cases[] = {
        {"cancel", "", "32755 Cancel was selected."},
        {"missing folder", missing, "76 Path not found: " + QDir::toNativeSeparators(missing)},
    };
    window->AppendLine("line");
    for (const auto& c : cases) {
        messages.clear();
        dialogs.clear();
        savePath = c.answer;
        Click("catFSave");
        EXPECT_EQ(messages, QStringList{c.message}) << c.name;
        ASSERT_EQ(dialogs.size(), 1u) << c.name;
        EXPECT_EQ(dialogs[0].title, "Save Report RTF File");
        EXPECT_EQ(dialogs[0].filter, "Rich Text Files|*.rtf");
        EXPECT_EQ(dialogs[0].initialName, "Tovrin Import Report");
        EXPECT_EQ(dialogs[0].initialFolder, appDir.path());
        EXPECT_TRUE(dialogs[0].overwritePrompt);
        EXPECT_TRUE(QDir(appDir.path()).isEmpty()) << c.name;
        EXPECT_EQ(window->ReportText(), "line\r\n") << c.name;
    }
}

TEST(NameFiltersTest, PipeFiltersBecomeDialogFilters) {
    const struct {
        QString pipes;
        QStringList filters;
    } cases[] = {
        {"Rich Text Files|*.rtf", {"Rich Text Files (*.rtf)"}},
        {"Text|*.txt;*.log|All|*.*", {"Text (*.txt *.log)", "All (*.*)"}},
        {"", {}},
        {"Lonely description", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ui::NameFiltersFromPipes(c.pipes), c.filters) << c.pipes.toStdString();
    }
}

}  // namespace
