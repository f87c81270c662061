#include "records/equipment.h"

#include "records/manufacturer_resolution.h"
#include "tests/engine_fixture.h"

namespace {

class EquipmentTest : public EngineTest {
  protected:
    // A block of `model` without connectors; a null model: the next block of the same definition.
    db::DeviceResult::Status Add(const QString& manuId, const QString& model,
                                 const QString& type = "Amp") {
        if (!model.isNull()) {
            session.sManuID = manuId;
            session.sEquipName = model;
            session.sEquipType = type;
        }
        const RefusalReason refused = AddEquipment(ctx);
        EXPECT_EQ(refused, RefusalReason::kNone);
        last = StoreEquipment(ctx, {});
        return last.status;
    }
    db::DeviceResult last;
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
        ASSERT_EQ(Add(c.manuId, c.model), db::DeviceResult::Status::kStored);
        EXPECT_EQ(session.sEquipName, c.stored);
        EXPECT_EQ(db.Scalar("select EquipmentName || '|' || ManufacturerID from tblEquipment "
                            "order by EquipmentID desc"),
                  c.stored + '|' + c.manuId);
    }
}

TEST_P(EquipmentTest, RowTakesTrimmedTypeAndManufacturerIdAsStored) {
    ASSERT_EQ(Add("acme", "NEW-2", "  Router\t "), db::DeviceResult::Status::kStored);
    // The result holds the key the store gave the row.
    EXPECT_EQ(last.equipmentId.toLongLong(),
              db.Scalar("select max(EquipmentID) from tblEquipment").toLongLong());
    ASSERT_EQ(Add("ACME", "NO-TYPE", QString()),
              db::DeviceResult::Status::kStored);  // empty text, not NULL
    EXPECT_EQ(db.Rows("select EquipmentName, ManufacturerID, EquipmentType, EquipmentDescription, "
                      "BlockRef from tblEquipment where EquipmentID > 2 order by 1"),
              QStringList({"NEW-2|ACME|Router\t|Router\t|<null>", "NO-TYPE|ACME|||<null>"}));
}

TEST_P(EquipmentTest, NothingIsAddedOnCancelOrFailedResolution) {
    host.unattended = false;
    session.bCancel = true;  // on entry: not even the dialog
    session.sManuID = "UNKNOWN";
    EXPECT_EQ(AddEquipment(ctx), RefusalReason::kUserCancelled);
    EXPECT_EQ(host.selections, 0);
    session.bCancel = false;
    host.onSelectManufacturer = [](SessionState&) { return false; };
    EXPECT_EQ(AddEquipment(ctx), RefusalReason::kUnknownManufacturer);
    EXPECT_EQ(host.messages, QStringList{"unable to initialize recordset"});
    // The empty ID maps to the empty first entry: no dialog, and no manufacturer row to store
    // the equipment under.
    session.sManuID = "";
    ASSERT_EQ(AddEquipment(ctx), RefusalReason::kNone);
    const db::DeviceResult result = StoreEquipment(ctx, {});
    ASSERT_EQ(result.status, db::DeviceResult::Status::kFailed);
    EXPECT_EQ(result.error->number(), ErrNo::kNoCurrentRecord);
    EXPECT_EQ(db.Scalar("select count(*) from tblEquipment").toInt(), 2);
}

INSTANTIATE_ON_EVERY_STORE(EquipmentTest);

}  // namespace
