#include "flx/connector.h"

#include <gtest/gtest.h>

#include "app/error.h"
#include "app/session.h"
#include "records/equipment.h"
#include "records/manufacturer_resolution.h"
#include "tests/fake_host.h"
#include "tests/temp_db.h"

namespace {

class ConnectorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        aManuMap.assign(1, ManuMapEntry{});
        session.sEquipConnection = db.connection();
        session.sManuID = "ACME";
        session.sEquipName = "CONN-TEST";
        session.sEquipType = "Panel";
        ASSERT_TRUE(AddEquipment(ctx));
        equipmentId = session.rsEquipment->Field("EquipmentID").toLongLong();
        host.report.clear();
    }

    QStringList Rows(const QString& table) const {
        return db.Rows("select EquipmentID, Name, Type, Conn, PinType from " + table +
                       " order by rowid");
    }

    TempDb db{DemoRowsSql()};
    SessionState session;
    FakeHost host;
    ImportContext ctx{session, host};
    qint64 equipmentId = 0;
};

TEST_F(ConnectorTest, CodeDecidesTableAndPinType) {
    const struct {
        QString line;
        QString table;  // empty: no row
        QString pinType;
        int inputs, outputs;
    } cases[] = {
        {"I AES DB25  Input 1", "tblInputs", "Normal", 1, 0},
        {"L VID BNC   Loop In", "tblInputs", "Loop", 1, 0},
        {"O VID BNC-1 Program Out", "tblOutputs", "Normal", 0, 1},
        {"O XLR XLR-3 ", "tblOutputs", "Normal", 0, 1},
        {"i AES DB25  lower case", "", "", 0, 0},
        {"  AES DB25  blank code", "", "", 0, 0},
        {"\tAES DB25  tab code", "", "", 0, 0},
        {"X AES DB25  other", "", "", 0, 0},
        {"", "", "", 0, 0},
    };
    for (const auto& c : cases) {
        const qint64 inputsBefore = session.iInputs;
        const qint64 outputsBefore = session.iOutputs;
        const qsizetype inBefore = Rows("tblInputs").size();
        const qsizetype outBefore = Rows("tblOutputs").size();
        AddConnector(ctx, c.line);
        EXPECT_EQ(session.iInputs - inputsBefore, c.inputs) << c.line.toStdString();
        EXPECT_EQ(session.iOutputs - outputsBefore, c.outputs) << c.line.toStdString();
        const QStringList inputs = Rows("tblInputs");
        const QStringList outputs = Rows("tblOutputs");
        EXPECT_EQ(inputs.size() - inBefore, c.table == "tblInputs" ? 1 : 0);
        EXPECT_EQ(outputs.size() - outBefore, c.table == "tblOutputs" ? 1 : 0);
        if (!c.table.isEmpty()) {
            const QStringList& rows = c.table == "tblInputs" ? inputs : outputs;
            const QStringList cols = rows.last().split('|');
            EXPECT_EQ(cols[0].toLongLong(), equipmentId);
            EXPECT_EQ(cols[1], session.sName);
            EXPECT_EQ(cols[2], session.sSig);
            EXPECT_EQ(cols[3], session.sConn);
            EXPECT_EQ(cols[4], c.pinType);
        }
    }
    // Every line is logged, whatever its code.
    EXPECT_EQ(host.ReportLines().size(), std::size(cases));
}

TEST_F(ConnectorTest, LogLineAndStoredFields) {
    AddConnector(ctx, "I   A CONN1   Inner  Name  ");
    EXPECT_EQ(host.ReportLines(),
              QStringList({"IOType = I\t Sig = A\t Conn = CONN1\t Name = \tInner  Name"}));
    EXPECT_EQ(Rows("tblInputs").last(),
              QString::number(equipmentId) + "|Inner  Name|A|CONN1|Normal");

    AddConnector(ctx, "");
    EXPECT_EQ(host.ReportLines().last(), "IOType = \t Sig = \t Conn = \t Name = \t");
    EXPECT_EQ(session.sType, "");
    EXPECT_EQ(session.sName, "");
}

TEST_F(ConnectorTest, CancelSetDoesNothing) {
    session.bCancel = true;
    AddConnector(ctx, "I AES DB25  Input 1");
    EXPECT_EQ(host.report, "");
    EXPECT_EQ(session.iInputs, 0);
    EXPECT_TRUE(Rows("tblInputs").isEmpty());
}

TEST_F(ConnectorTest, CountersPassTheOldSixteenBitLimit) {
    session.iInputs = 32767;
    session.iOutputs = 32767;
    AddConnector(ctx, "I AES DB25  In");
    AddConnector(ctx, "O AES DB25  Out");
    EXPECT_EQ(session.iInputs, 32768);
    EXPECT_EQ(session.iOutputs, 32768);
    EXPECT_EQ(Rows("tblInputs").size(), 1);
    EXPECT_EQ(Rows("tblOutputs").size(), 1);
}

}  // namespace
