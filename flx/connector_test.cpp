#include "flx/connector.h"

#include "records/equipment.h"
#include "records/manufacturer_resolution.h"
#include "tests/engine_fixture.h"

namespace {

class ConnectorTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        session.sManuID = "ACME";
        session.sEquipName = "CONN-TEST";
        session.sEquipType = "Panel";
        ASSERT_EQ(AddEquipment(ctx), RefusalReason::kNone);
        equipmentId = session.rsEquipment->Field("EquipmentID").toLongLong();
        host.report.clear();
    }
    QStringList Rows(const QString& table) const {
        return db.Rows("select EquipmentID, Name, Type, Conn, PinType from " + table +
                       " order by " + table.mid(3, table.size() - 4) + "ID");
    }
    qint64 equipmentId = 0;
};

// Fixed character columns, a tab being one character and the separators not looked at. Every
// line is logged whatever its code; counters pass 32767; a canceled line is ignored.
TEST_P(ConnectorTest, CodeDecidesTableAndPinType) {
    session.iInputs = session.iOutputs = 32767;
    session.bCancel = true;
    AddConnector(ctx, "I AES DB25  Canceled");
    session.bCancel = false;
    const QStringList lines =
        QString(
            "I AES DB25  Input 1|L VID BNC   Loop In|O VID BNC-1 Program Out|O XLR XLR-3 |I   A "
            "CONN1   Inner  Name  |i AES DB25  lower case|  AES DB25  blank code|\tAES DB25  "
            "tab code|X AES DB25  other||I AB|Ixabcxdefghxname|I\tAES\tDB25\tName")
            .split('|');
    for (const QString& line : lines) {
        AddConnector(ctx, line);
    }
    const QString id = QString::number(equipmentId) + "|";
    EXPECT_EQ(Rows("tblInputs"),
              QStringList({id + "Input 1|AES|DB25|Normal", id + "Loop In|VID|BNC|Loop",
                           id + "Inner  Name|A|CONN1|Normal", id + "|AB||Normal",
                           id + "name|abc|defgh|Normal", id + "ame|AES|DB25\t|Normal"}));
    EXPECT_EQ(Rows("tblOutputs"),
              QStringList({id + "Program Out|VID|BNC-1|Normal", id + "|XLR|XLR-3|Normal"}));
    EXPECT_EQ(session.iInputs, 32767 + 6);
    EXPECT_EQ(session.iOutputs, 32767 + 2);
    const QStringList log = host.ReportLines();
    ASSERT_EQ(log.size(), lines.size());
    EXPECT_EQ(log[4], "IOType = I\t Sig = A\t Conn = CONN1\t Name = \tInner  Name");
    EXPECT_EQ(log[9], "IOType = \t Sig = \t Conn = \t Name = \t");
}

INSTANTIATE_ON_EVERY_STORE(ConnectorTest);

}  // namespace
