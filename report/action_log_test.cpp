#include "report/action_log.h"

#include <gtest/gtest.h>

#include "app/session.h"
#include "tests/fake_host.h"

namespace {

class ActionLogTest : public ::testing::Test {
  protected:
    SessionState session;
    FakeHost host;
    ImportContext ctx{session, host};
};

TEST_F(ActionLogTest, WithoutLoggingOnlyTheLabelsChange) {
    host.logActions = false;
    LogAction(ctx, "Model: \t\tDA-100");
    EXPECT_EQ(host.status, "Model: DA-100");
    EXPECT_EQ(host.report, "");
    EXPECT_EQ(host.reportShown, 0);
    EXPECT_FALSE(session.bReportShown);
}

TEST_F(ActionLogTest, ReportIsShownOnTheFirstLoggedLineOnly) {
    host.logActions = false;
    LogAction(ctx, "before");
    host.logActions = true;
    LogAction(ctx, "first");
    LogAction(ctx, "second");
    EXPECT_EQ(host.reportShown, 1);
    EXPECT_TRUE(session.bReportShown);
    EXPECT_EQ(host.ReportLines(), QStringList({"first", "second"}));
}

TEST_F(ActionLogTest, ReportIsNotShownAgainOnceShown) {
    session.bReportShown = true;
    LogAction(ctx, "line");
    EXPECT_EQ(host.reportShown, 0);
    EXPECT_EQ(host.report, "line\r\n");
}

TEST_F(ActionLogTest, StatusLosesEveryTabReportKeepsThem) {
    const struct {
        QString text;
        QString status;
    } cases[] = {
        {"ManufacturerID: \tACME", "ManufacturerID: ACME"},
        {"Model: \t\tDA-100", "Model: DA-100"},
        {"IOType = I\t Sig = AES\t Conn = 1\t Name = \tIn",
         "IOType = I Sig = AES Conn = 1 Name = In"},
        {"\t\t", ""},
        {"Added /x.flx\r\n", "Added /x.flx\r\n"},
    };
    for (const auto& c : cases) {
        host.report.clear();
        LogAction(ctx, c.text);
        EXPECT_EQ(host.status, c.status) << c.text.toStdString();
        EXPECT_EQ(host.report, c.text + "\r\n") << c.text.toStdString();
    }
}

TEST_F(ActionLogTest, EquipmentLabelJoinsTheSessionValues) {
    LogAction(ctx, "x");
    EXPECT_EQ(host.equipment, "--");
    session.sManuID = "ACME";
    session.sEquipName = "DA 100";
    session.sEquipType = "Amp";
    LogAction(ctx, "y");
    EXPECT_EQ(host.equipment, "ACME-DA 100-Amp");
}

TEST_F(ActionLogTest, LineEndingInCrLfLeavesAnEmptyLineInTheReport) {
    LogAction(ctx, "Added /f/a.flx\r\n");
    LogAction(ctx, "next");
    EXPECT_EQ(host.ReportLines(), QStringList({"Added /f/a.flx", "", "next"}));
}

}  // namespace
