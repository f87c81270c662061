#include "app/import_commands.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "app/session.h"
#include "records/manufacturer_resolution.h"
#include "tests/fake_host.h"
#include "tests/temp_db.h"

namespace {

QString Totals(int parts, int inputs, int outputs) {
    return QString("Added [%1] parts with a total of [%2] inputs and [%3] outputs")
        .arg(parts)
        .arg(inputs)
        .arg(outputs);
}

void WriteIn(const QString& folder, FakeHost& host, const QString& name, const QByteArray& bytes) {
    QFile file(QDir(folder).filePath(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    host.files << name;
}

// Entries "1.flx" ... "<count>.flx" without markers: each is read line by line and adds nothing
// to the database.
void MakeFilesIn(const QString& folder, FakeHost& host, int count) {
    host.folder = folder;
    for (int i = 1; i <= count; ++i) {
        WriteIn(folder, host, QString("%1.flx").arg(i), "first\r\nsecond\r\nthird\r\n");
    }
}

// The entries whose "Added " line was logged, by name.
QStringList AddedFilesOf(const FakeHost& host, const QString& folder) {
    QStringList names;
    for (const QString& line : host.ReportLines()) {
        if (line.startsWith("Added " + folder)) {
            names << QFileInfo(line.mid(6)).fileName();
        }
    }
    return names;
}

class CommandsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        aManuMap.assign(1, ManuMapEntry{});
        session.sEquipConnection = db.connection();
        host.folder = files.path();
    }
    void TearDown() override { aManuMap.assign(1, ManuMapEntry{}); }

    void MakeFiles(int count) { MakeFilesIn(files.path(), host, count); }
    void Write(const QString& name, const QByteArray& bytes) {
        WriteIn(files.path(), host, name, bytes);
    }
    QStringList FileCountTexts() const {
        QStringList texts;
        for (const QString& e : host.events) {
            if (e.startsWith("fileCount: ")) {
                texts << e.mid(11);
            }
        }
        return texts;
    }
    QStringList AddedFiles() const { return AddedFilesOf(host, files.path()); }

    TempDb db{DemoRowsSql()};
    QTemporaryDir files;
    SessionState session;
    FakeHost host;
    ImportContext ctx{session, host};
};

TEST_F(CommandsTest, ImportSelectedSkipsTheOthers) {
    const struct {
        QList<bool> selected;
        QStringList texts;
        QStringList added;
    } cases[] = {
        {{},
         {"Skipping 1 of 5 files", "Skipping 2 of 5 files", "Skipping 3 of 5 files",
          "Skipping 4 of 5 files", "Skipping 5 of 5 files"},
         {}},
        {{false, true, false, true, false},
         {"Skipping 1 of 5 files", "Processing 2 of 5 files", "Skipping 3 of 5 files",
          "Processing 4 of 5 files", "Skipping 5 of 5 files"},
         {"2.flx", "4.flx"}},
    };
    MakeFiles(5);
    for (const auto& c : cases) {
        host.events.clear();
        host.report.clear();
        host.selected = c.selected;
        cmdOne_Click(ctx);
        EXPECT_EQ(FileCountTexts(), c.texts);
        EXPECT_EQ(AddedFiles(), c.added);
        EXPECT_EQ(session.iParts, c.added.size());
        EXPECT_EQ(host.progressMaximum, 5);
        EXPECT_EQ(host.progressValue, 5);
        EXPECT_EQ(host.ReportLines().last(), Totals(c.added.size(), 0, 0));
        EXPECT_FALSE(host.cancelEnabled);
        EXPECT_EQ(host.events.first(), "runActive: true");
        EXPECT_EQ(host.events.last(), "runActive: false");
    }
}

TEST_F(CommandsTest, ImportAllCountsEveryFileWhateverItsOutcome) {
    MakeFiles(2);
    host.files.insert(1, "missing.flx");
    cmdAll_Click(ctx);
    EXPECT_EQ(FileCountTexts(), QStringList({"Processing 1 of 3 files", "Processing 2 of 3 files",
                                             "Processing 3 of 3 files"}));
    EXPECT_EQ(host.messages.size(), 2);  // not found, then the failed open
    EXPECT_EQ(AddedFiles(), QStringList({"1.flx", "2.flx"}));
    EXPECT_EQ(host.ReportLines().last(), Totals(3, 0, 0));
    EXPECT_EQ(host.progressValue, 3);
}

TEST_F(CommandsTest, TotalsCountConnectorsOfThisRunOnly) {
    Write("dev.flx",
          "<<STARTDEF>>\r\nACME\r\nTOT-1\r\nAmp\r\n<<STARTBLK>>\r\nhdr\r\nI AES A     a\r\n"
          "L AES A     b\r\nO AES A     c\r\nX AES A     d\r\n<<STARTBLK>>\r\n");
    for (int run = 0; run < 2; ++run) {
        cmdAll_Click(ctx);
        EXPECT_EQ(host.ReportLines().last(), Totals(1, 2, 1));
    }
}

TEST_F(CommandsTest, CancelStopsTheRunBeforeTheNextEntry) {
    const struct {
        const char* name;
        void (*command)(ImportContext&);
        int files;
        QString pressWhile;  // label text during which Cancel is pressed; "" before any file
        QStringList added;
        qint64 parts;
        QString lastText;
        bool totals;
    } cases[] = {
        // clang-format off
        {"all, 2nd of 4", cmdAll_Click, 4, "Processing 2 of 4 files", {"1.flx"}, 2,
         "Processing 3 of 4 files", false},
        {"all, last", cmdAll_Click, 2, "Processing 2 of 2 files", {"1.flx"}, 2,
         "Processing 2 of 2 files", true},
        {"selected, 2nd of 4", cmdOne_Click, 4, "Processing 2 of 4 files", {"1.flx"}, 2,
         "Processing 2 of 4 files", false},
        {"selected, before the first", cmdOne_Click, 4, "", {}, 0, "", false},
        // clang-format on
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        SessionState s;
        FakeHost h;
        ImportContext local{s, h};
        MakeFilesIn(dir.path(), h, c.files);
        h.selected = QList<bool>(c.files, true);
        bool pressed = false;
        h.onProcessEvents = [&] {
            if (!pressed && h.fileCountText == c.pressWhile) {
                pressed = true;
                h.answers.push_back(true);
                cmdCancel_Click(local);
            }
        };
        c.command(local);
        EXPECT_TRUE(pressed) << c.name;
        EXPECT_EQ(h.questions, QStringList({"Are you sure you want to cancel?"})) << c.name;
        EXPECT_EQ(s.iParts, c.parts) << c.name;
        EXPECT_EQ(h.fileCountText, c.lastText) << c.name;
        EXPECT_EQ(h.ReportLines().contains(Totals(c.parts, 0, 0)), c.totals) << c.name;
        EXPECT_EQ(h.cancelEnabled, !c.totals) << c.name;
        EXPECT_FALSE(h.runActive) << c.name;
        EXPECT_FALSE(RunInProgress()) << c.name;
        EXPECT_EQ(AddedFilesOf(h, dir.path()), c.added) << c.name;
    }
}

TEST_F(CommandsTest, CancelAnsweredNoChangesNothing) {
    MakeFiles(2);
    host.onProcessEvents = [this] {
        if (host.processEventsCalls == 2) {
            cmdCancel_Click(ctx);  // the answer queue is empty: No
        }
    };
    cmdAll_Click(ctx);
    EXPECT_EQ(host.questions.size(), 1);
    EXPECT_FALSE(session.bCancel);
    EXPECT_EQ(host.ReportLines().last(), Totals(2, 0, 0));
}

TEST_F(CommandsTest, RunStartClearsAnEarlierCancel) {
    MakeFiles(2);
    session.bCancel = true;
    cmdAll_Click(ctx);
    EXPECT_EQ(AddedFiles(), QStringList({"1.flx", "2.flx"}));
    EXPECT_EQ(host.ReportLines().last(), Totals(2, 0, 0));
    EXPECT_FALSE(host.cancelEnabled);
}

TEST_F(CommandsTest, NestedRunIsRefused) {
    MakeFiles(2);
    host.selected = {true, true};
    bool sawRun = false;
    host.onProcessEvents = [&] {
        if (host.processEventsCalls == 1) {
            sawRun = RunInProgress();
            cmdOne_Click(ctx);
            cmdAll_Click(ctx);
        }
    };
    EXPECT_FALSE(RunInProgress());
    cmdAll_Click(ctx);
    EXPECT_TRUE(sawRun);
    EXPECT_FALSE(RunInProgress());
    EXPECT_EQ(host.events.count("runActive: true"), 1);
    EXPECT_EQ(host.events.count("runActive: false"), 1);
    EXPECT_EQ(AddedFiles(), QStringList({"1.flx", "2.flx"}));
    EXPECT_EQ(host.ReportLines().count(Totals(2, 0, 0)), 1);
}

TEST_F(CommandsTest, EmptyListLogsZeroTotals) {
    host.logActions = false;
    for (void (*command)(ImportContext&) : {cmdOne_Click, cmdAll_Click}) {
        host.events.clear();
        command(ctx);
        EXPECT_EQ(host.events, QStringList({"runActive: true", "cancelEnabled: true",
                                            "progressMax: 0", "status: " + Totals(0, 0, 0),
                                            "cancelEnabled: false", "runActive: false"}));
    }
}

TEST_F(CommandsTest, FolderEndingInASeparatorIsNotDoubled) {
    MakeFiles(1);
    host.folder = files.path() + "/";
    cmdAll_Click(ctx);
    EXPECT_TRUE(host.ReportLines().contains("Added " + files.path() + "/1.flx"));
}

}  // namespace
