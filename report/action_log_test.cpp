#include "report/action_log.h"

#include <gtest/gtest.h>

#include "records/database.h"
#include "tests/fake_host.h"

namespace {

// The labels show every line, the status without its tabs; the report gets the line as given,
// when logging is on, and is shown on its first line only.
TEST(ActionLog, LabelsAlwaysReportWhenLoggingShownOnItsFirstLine) {
    SessionState session;
    FakeHost host;
    db::Database unused{QString()};  // the log never reaches the database
    ImportContext ctx{session, host, unused};
    host.logActions = false;
    LogAction(ctx, "IOType = I\t Sig = AES\t Conn = 1\t Name = \tIn");
    EXPECT_EQ(host.status + '|' + host.equipment + '|' + host.report,
              "IOType = I Sig = AES Conn = 1 Name = In|--|");
    host.logActions = true;
    session.sManuID = "ACME";
    session.sEquipName = "DA 100";
    session.sEquipType = "Amp";
    LogAction(ctx, "Added /x.flx\r\n");  // leaves an empty line in the report
    LogAction(ctx, "Model: \t\tDA 100");
    EXPECT_EQ(host.status + '|' + host.equipment, "Model: DA 100|ACME-DA 100-Amp");
    EXPECT_EQ(host.reportShown, 1);
    EXPECT_EQ(host.report, "Added /x.flx\r\n\r\nModel: \t\tDA 100\r\n");
}

}  // namespace
