#include "records/equipment.h"

#include "records/manufacturer_resolution.h"
#include "tests/engine_fixture.h"

namespace {

class EquipmentTest : public EngineTest {
  protected:
    RefusalReason Add(const QString& manuId, const QString& model, const QString& type = "Amp") {
        session.sManuID = manuId;
        session.sEquipName = model;
        session.sEquipType = type;
        return AddEquipment(ctx);
    }
};

TEST_P(EquipmentTest, TakesTheFirstFreeVersionedName) {
    // Besides the demo's DA-100 of ACME and MX-8 of NORTHLN; names that only look like a
    // version of DA-100 take none.
    db.Exec(
        "insert into tblEquipment (EquipmentName, ManufacturerID) values ('DA-100_v2', "
        "'ACME'), ('MX-8_v1', 'NORTHLN'), ('DA-100_v01', 'ACME'), ('DA-100_v1 ', 'ACME'), "
        "('DA-100_v0', 'ACME'), ('DA-100_vx', 'ACME'), ('DA-100_v1', 'KESTREL')");
    const struct {
        QString manuId, model, stored;  // a null model: the next block of the same definition
    } cases[] = {
        {"ACME", "NEW-1", "NEW-1"},           {"ACME", {}, "NEW-1_v1"},
        {"ACME", {}, "NEW-1_v1_v1"},          {"ACME", "  DA-100  ", "DA-100_v1"},
        {"ACME", "da-100", "da-100_v3"},      {"NORTHLN", "DA-100", "DA-100"},
        {"NORTHLN", "MX-8", "MX-8_v2"},       {"ACME", "MX-8", "MX-8"},
        {"ACME", "It's \"Q\"", "It's \"Q\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.manuId.toStdString() + " " + c.stored.toStdString());
        ASSERT_EQ(c.model.isNull() ? AddEquipment(ctx) : Add(c.manuId, c.model),
                  RefusalReason::kNone);
        EXPECT_EQ(session.sEquipName, c.stored);
        EXPECT_EQ(db.Scalar("select EquipmentName || '|' || ManufacturerID from tblEquipment "
                            "order by EquipmentID desc"),
                  c.stored + '|' + c.manuId);
    }
}

TEST_P(EquipmentTest, RowTakesTrimmedTypeAndManufacturerIdAsStored) {
    ASSERT_EQ(Add("acme", "NEW-2", "  Router\t "), RefusalReason::kNone);
    // The new row stays current, with the key the store gave it.
    EXPECT_EQ(session.rsEquipment->Field("EquipmentID"),
              db.Scalar("select max(EquipmentID) from tblEquipment"));
    ASSERT_EQ(Add("ACME", "NO-TYPE", QString()), RefusalReason::kNone);  // empty text, not NULL
    EXPECT_EQ(db.Rows("select EquipmentName, ManufacturerID, EquipmentType, EquipmentDescription, "
                      "BlockRef from tblEquipment where EquipmentID > 2 order by 1"),
              QStringList({"NEW-2|ACME|Router\t|Router\t|<null>", "NO-TYPE|ACME|||<null>"}));
}

TEST_P(EquipmentTest, NothingIsAddedOnCancelOrFailedResolution) {
    host.unattended = false;
    session.bCancel = true;  // on entry: not even the dialog
    EXPECT_EQ(Add("UNKNOWN", "X"), RefusalReason::kUserCancelled);
    EXPECT_EQ(host.selections, 0);
    session.bCancel = false;
    host.onSelectManufacturer = [](SessionState&) { return false; };
    EXPECT_EQ(Add("UNKNOWN", "X"), RefusalReason::kUnknownManufacturer);
    EXPECT_EQ(host.messages, QStringList{"unable to initialize recordset"});
    // The empty ID maps to the empty first entry: no dialog, and no manufacturer row.
    EXPECT_TRUE(
        ErrorOf([&] { Add("", "X"); }).startsWith(QString::number(ErrNo::kNoCurrentRecord)));
    EXPECT_EQ(db.Scalar("select count(*) from tblEquipment").toInt(), 2);
}

INSTANTIATE_ON_EVERY_STORE(EquipmentTest);

}  // namespace
