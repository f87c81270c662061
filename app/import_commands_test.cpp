#include "app/import_commands.h"

#include <QTemporaryDir>

#include "tests/engine_fixture.h"
#include "tests/flx_builder.h"

namespace {

// Inputs I and L (loop-through), output O; an X line adds nothing; a second block of the file
// has no connectors.
const QStringList kDevice =
    flxtest::Device("ACME", "TOT-1",
                    {"I AES A     a", "L AES A     b", "O AES A     c", "X AES A     d"}) +
    QStringList{"<<STARTBLK>>"};

QString Totals(int parts, int inputs, int outputs) {
    return QString::asprintf("Added [%d] parts with a total of [%d] inputs and [%d] outputs", parts,
                             inputs, outputs);
}

class CommandsTest : public EngineTest {
  protected:
    // Entries "1.flx" ... "<count>.flx" in a fresh host; entry `deviceAt` holds kDevice, the
    // others text without any marker.
    void MakeFiles(int count, int deviceAt = 0) {
        host = FakeHost();
        host.folder = files.path();
        for (int i = 1; i <= count; ++i) {
            host.files << QString("%1.flx").arg(i);
            flxtest::Write(files.path(), host.files.last(),
                           flxtest::Bytes(i == deviceAt ? kDevice : QStringList{"a", "b"}));
        }
    }
    // The status of every file handed to the reader, in order: 'A'dded, 'R'efused, 'C'ancelled,
    // 'E'rror.
    QString Statuses() const {
        QString text;
        for (const FileOutcome& outcome : host.outcomes) {
            text += "ARCE"[static_cast<int>(outcome.status)];
        }
        return text;
    }

    QTemporaryDir files;
};

TEST_P(CommandsTest, RunsCountEveryChosenEntryAndOnlyThisRunsConnectors) {
    const struct {
        RunOutcome (*command)(ImportContext&, RunObserver*);
        QList<bool> selected;
        QString progress;  // per entry: 'P'rocessing or 'S'kipping
        QString statuses;  // entry 2 is missing; entry 4 holds the device
        int parts, inputs, outputs;
    } cases[] = {
        {cmdOne_Click, {}, "SSSSS", "", 0, 0, 0},
        {cmdOne_Click, {false, true, false, true, false}, "SPSPS", "EA", 2, 2, 1},
        {cmdAll_Click, {}, "PPPPP", "AEAAA", 5, 2, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.progress.toStdString());
        MakeFiles(4, 3);
        host.files.insert(1, "missing.flx");
        host.folder += "/";  // the separator is not doubled
        host.selected = c.selected;
        session.bCancel = true;  // a Cancel left over from an earlier run is cleared at the start
        bool nestedRefused = false;
        host.onProcessEvents = [&] {  // a run is going: both buttons are refused
            nestedRefused = !cmdOne_Click(ctx).started && !cmdAll_Click(ctx).started;
        };
        const RunOutcome run = c.command(ctx, nullptr);
        EXPECT_TRUE(run.started && !run.cancelled && nestedRefused);
        QStringList texts;
        for (int i = 0; i < 5; ++i) {
            texts << QString::asprintf("%s %d of 5 files",
                                       c.progress[i] == 'P' ? "Processing" : "Skipping", i + 1);
        }
        EXPECT_EQ(host.fileCountTexts, texts);
        EXPECT_EQ(Statuses(), c.statuses);
        EXPECT_EQ(run.parts, c.parts);
        EXPECT_EQ(run.filesAdded, c.statuses.count('A'));
        EXPECT_TRUE(host.progressMaximum == 5 && host.progressValue == 5);
        EXPECT_EQ(host.ReportLines().filter("] parts with"),
                  QStringList(Totals(c.parts, c.inputs, c.outputs)));
        EXPECT_FALSE(host.cancelEnabled || host.runActive || session.bRunActive);
    }
}

// Cancel, confirmed or not, from the window's button while a file is read (Cancel in the
// manufacturer selection goes through the window's interactive run).
TEST_P(CommandsTest, CancelStopsTheRunBeforeTheNextEntry) {
    const struct {
        RunOutcome (*command)(ImportContext&, RunObserver*);
        int answer;  // to the question: 1 Yes, 0 No
        int files;
        QString pressWhile;  // the progress text at the press; "" before any file
        QString statuses;
        QString lastText;
        bool totals;  // whether the totals line was logged
    } cases[] = {
        {cmdAll_Click, 1, 4, "Processing 2 of 4 files", "AC", "Processing 3 of 4 files", false},
        {cmdAll_Click, 1, 2, "Processing 2 of 2 files", "AC", "Processing 2 of 2 files", true},
        {cmdAll_Click, 0, 2, "Processing 1 of 2 files", "AA", "Processing 2 of 2 files", true},
        {cmdOne_Click, 1, 4, "", "", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pressWhile.toStdString() + " " + std::to_string(c.answer));
        MakeFiles(c.files, 2);
        host.selected = QList<bool>(c.files, true);
        host.onProcessEvents = [&] {
            if (host.questions.isEmpty() && host.FileCountText() == c.pressWhile) {
                host.answers.push_back(c.answer == 1);
                cmdCancel_Click(ctx);
            }
        };
        const RunOutcome run = c.command(ctx, nullptr);
        EXPECT_EQ(host.questions.size(), 1);
        EXPECT_EQ(session.bCancel, c.answer != 0);
        EXPECT_EQ(run.cancelled, !c.totals);
        EXPECT_EQ(Statuses(), c.statuses);
        EXPECT_EQ(host.FileCountText(), c.lastText);
        EXPECT_EQ(host.ReportLines().contains(Totals(run.parts, run.inputs, run.outputs)),
                  c.totals);
        EXPECT_EQ(host.cancelEnabled, !c.totals);
        EXPECT_FALSE(host.runActive || session.bRunActive);
    }
}

INSTANTIATE_ON_EVERY_STORE(CommandsTest);

}  // namespace
