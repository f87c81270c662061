#include "report/action_log.h"

#include <gtest/gtest.h>

#include "tests/fake_host.h"

namespace {

class ActionLogTest : public ::testing::Test {
  protected:
    SessionState session;
    FakeHost host;
    ImportContext ctx{session, host};
};

TEST_F(ActionLogTest, ReportIsShownOnTheFirstLoggedLineOnlyLabelsAlways) {
    host.logActions = false;
    LogAction(ctx, "Model: \t\tDA-100");
    EXPECT_EQ(host.status, "Model: DA-100");
    EXPECT_EQ(host.equipment, "--");
    EXPECT_EQ(host.report, "");
    EXPECT_FALSE(session.bReportShown);
    host.logActions = true;
    session.sManuID = "ACME";
    session.sEquipName = "DA 100";
    session.sEquipType = "Amp";
    LogAction(ctx, "first");
    LogAction(ctx, "second");
    EXPECT_EQ(host.equipment, "ACME-DA 100-Amp");
    EXPECT_EQ(host.reportShown, 1);
    EXPECT_TRUE(session.bReportShown);
    EXPECT_EQ(host.ReportLines(), QStringList({"first", "second"}));
}

TEST_F(ActionLogTest, StatusLosesEveryTabReportKeepsTheLineAsGiven) {
    const std::pair<QString, QString> cases[] = {
        {"IOType = I\t Sig = AES\t Conn = 1\t Name = \tIn",
         "IOType = I Sig = AES Conn = 1 Name = In"},
        {"Added /x.flx\r\n", "Added /x.flx\r\n"},  // leaves an empty line in the report
    };
    for (const auto& [text, status] : cases) {
        SCOPED_TRACE(text.toStdString());
        host.report.clear();
        LogAction(ctx, text);
        EXPECT_EQ(host.status, status);
        EXPECT_EQ(host.report, text + "\r\n");
    }
}

}  // namespace
