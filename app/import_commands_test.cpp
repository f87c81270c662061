#include "app/import_commands.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "records/manufacturer_resolution.h"
#include "tests/engine_fixture.h"

namespace {

const QByteArray kPlain = "first\r\nsecond\r\nthird\r\n";  // read without effect
const QByteArray kDevice =  // inputs I and L (loop-through), output O; X lines add nothing
    "<<STARTDEF>>\r\nACME\r\nTOT-1\r\nAmp\r\n<<STARTBLK>>\r\nhdr\r\nI AES A     a\r\n"
    "L AES A     b\r\nO AES A     c\r\nX AES A     d\r\n<<STARTBLK>>\r\n";

QString Totals(int parts, int inputs, int outputs) {
    return QString::asprintf("Added [%d] parts with a total of [%d] inputs and [%d] outputs", parts,
                             inputs, outputs);
}

class CommandsTest : public EngineTest {
  protected:
    // A fresh host over entries "1.flx" ..., entry `deviceAt` holding kDevice, the others kPlain.
    void MakeFiles(int count, int deviceAt = 0) {
        session.sEquipConnection = db.connection();
        host = FakeHost();
        host.folder = files.path();
        for (int i = 1; i <= count; ++i) {
            host.files << QString("%1.flx").arg(i);
            QFile file(files.filePath(host.files.last()));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(i == deviceAt ? kDevice : kPlain);
        }
    }
    // The entries whose "Added <path>" line was logged (a doubled separator stays in the name).
    QStringList Added() const {
        const QString prefix = "Added " + files.path() + "/";
        return host.ReportLines().filter(prefix).replaceInStrings(prefix, "");
    }

    QTemporaryDir files;
};

TEST_P(CommandsTest, RunsCountEveryChosenEntryAndOnlyThisRunsConnectors) {
    const struct {
        RunOutcome (*command)(ImportContext&);
        QList<bool> selected;
        QString progress;  // per entry: 'P'rocessing or 'S'kipping
        QStringList added;
        int parts, inputs, outputs;
    } cases[] = {
        {cmdOne_Click, {}, "SSSSS", {}, 0, 0, 0},
        {cmdOne_Click, {false, true, false, true, false}, "SPSPS", {"3.flx"}, 2, 2, 1},
        {cmdAll_Click, {}, "PPPPP", {"1.flx", "2.flx", "3.flx", "4.flx"}, 5, 2, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.progress.toStdString());
        MakeFiles(4, 3);
        host.files.insert(1, "missing.flx");
        host.folder += "/";  // the separator is not doubled
        host.selected = c.selected;
        session.bCancel = true;  // a Cancel left over from an earlier run is cleared at the start
        host.onProcessEvents = [this] {  // a run is going: both buttons are refused
            if (host.processEventsCalls == 1) {
                EXPECT_TRUE(session.bRunActive);
                cmdOne_Click(ctx);
                cmdAll_Click(ctx);
            }
        };
        c.command(ctx);
        QStringList texts;
        for (int i = 0; i < 5; ++i) {
            texts << QString::asprintf("fileCount: %s %d of 5 files",
                                       c.progress[i] == 'P' ? "Processing" : "Skipping", i + 1);
        }
        EXPECT_EQ(host.events.filter("fileCount: "), texts);
        EXPECT_EQ(Added(), c.added);
        EXPECT_TRUE(host.progressMaximum == 5 && host.progressValue == 5);
        EXPECT_EQ(host.ReportLines().filter("] parts with"),
                  QStringList(Totals(c.parts, c.inputs, c.outputs)));
        EXPECT_FALSE(host.cancelEnabled || session.bRunActive);
        EXPECT_EQ(host.events.filter("runActive").join(", "), "runActive: true, runActive: false");
    }
}

TEST_P(CommandsTest, CancelStopsTheRunBeforeTheNextEntry) {
    const struct {
        RunOutcome (*command)(ImportContext&);
        bool yes, totals;  // the answer; whether the totals line was logged
        int files, added, parts;
        QString pressWhile, lastText;  // pressWhile: label text at the press, "" before any file
    } cases[] = {
        {cmdAll_Click, true, false, 4, 1, 2, "Processing 2 of 4 files", "Processing 3 of 4 files"},
        {cmdAll_Click, true, true, 2, 1, 2, "Processing 2 of 2 files", "Processing 2 of 2 files"},
        {cmdAll_Click, false, true, 2, 2, 2, "Processing 1 of 2 files", "Processing 2 of 2 files"},
        {cmdOne_Click, true, false, 4, 1, 2, "Processing 2 of 4 files", "Processing 2 of 4 files"},
        {cmdOne_Click, true, false, 4, 0, 0, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pressWhile.toStdString() + (c.yes ? ", Yes" : ", No"));
        MakeFiles(c.files);
        host.selected = QList<bool>(c.files, true);
        host.onProcessEvents = [&] {
            if (host.questions.isEmpty() && host.fileCountText == c.pressWhile) {
                host.answers.push_back(c.yes);
                cmdCancel_Click(ctx);
            }
        };
        c.command(ctx);
        EXPECT_EQ(host.questions, QStringList({"Are you sure you want to cancel?"}));
        EXPECT_EQ(session.bCancel, c.yes);
        EXPECT_EQ(session.iParts, c.parts);
        EXPECT_EQ(host.fileCountText, c.lastText);
        EXPECT_EQ(host.ReportLines().contains(Totals(c.parts, 0, 0)), c.totals);
        EXPECT_EQ(host.cancelEnabled, !c.totals);
        EXPECT_FALSE(host.runActive || session.bRunActive);
        EXPECT_EQ(Added(), QStringList({"1.flx", "2.flx"}).mid(0, c.added));
    }
}

TEST_P(CommandsTest, EmptyListLogsZeroTotals) {
    host.logActions = false;
    for (auto command : {cmdOne_Click, cmdAll_Click}) {
        host.events.clear();
        command(ctx);
        EXPECT_EQ(host.events, QStringList({"runActive: true", "cancelEnabled: true",
                                            "progressMax: 0", "status: " + Totals(0, 0, 0),
                                            "cancelEnabled: false", "runActive: false"}));
    }
}

INSTANTIATE_ON_EVERY_STORE(CommandsTest);

}  // namespace
