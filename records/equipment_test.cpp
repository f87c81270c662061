#include "records/equipment.h"

#include <gtest/gtest.h>

#include "app/error.h"
#include "app/session.h"
#include "records/manufacturer_resolution.h"
#include "tests/fake_host.h"
#include "tests/temp_db.h"

namespace {

class EquipmentTest : public ::testing::Test {
  protected:
    void SetUp() override {
        aManuMap.assign(1, ManuMapEntry{});
        session.sEquipConnection = db.connection();
    }
    void TearDown() override { aManuMap.assign(1, ManuMapEntry{}); }

    bool Add(const QString& manuId, const QString& model, const QString& type = "Amp") {
        session.sManuID = manuId;
        session.sEquipName = model;
        session.sEquipType = type;
        return AddEquipment(ctx);
    }

    TempDb db{DemoRowsSql()};
    SessionState session;
    FakeHost host;
    ImportContext ctx{session, host};
};

TEST_F(EquipmentTest, TakesTheFirstFreeVersionedName) {
    const struct {
        const char* extra;
        QString manuId;
        QString model;
        QString stored;
    } cases[] = {
        {"", "ACME", "NEW-1", "NEW-1"},
        {"", "ACME", "DA-100", "DA-100_v1"},
        {"", "ACME", "  DA-100  ", "DA-100_v1"},
        {"", "ACME", "da-100", "da-100_v1"},
        {"", "NORTHLN", "DA-100", "DA-100"},
        {"('DA-100_v1','ACME')", "ACME", "DA-100", "DA-100_v2"},
        {"('DA-100_v2','ACME')", "ACME", "DA-100", "DA-100_v1"},
        {"('DA-100_v1','NORTHLN')", "ACME", "DA-100", "DA-100_v1"},
        {"", "ACME", "It's \"Q\"", "It's \"Q\""},
    };
    for (const auto& c : cases) {
        TempDb fresh(DemoRowsSql() + (*c.extra ? QString(";insert into tblEquipment "
                                                         "(EquipmentName, ManufacturerID) "
                                                         "values ") +
                                                     c.extra
                                               : QString()));
        SessionState s;
        s.sEquipConnection = fresh.connection();
        ImportContext local{s, host};
        s.sManuID = c.manuId;
        s.sEquipName = c.model;
        s.sEquipType = "Amp";
        ASSERT_TRUE(AddEquipment(local)) << c.model.toStdString();
        EXPECT_EQ(s.sEquipName, c.stored) << c.model.toStdString();
        EXPECT_EQ(fresh
                      .Scalar("select count(*) from tblEquipment where EquipmentName = '" +
                              QString(c.stored).replace("'", "''") + "' and ManufacturerID = '" +
                              c.manuId + "'")
                      .toInt(),
                  1)
            << c.model.toStdString();
    }
}

TEST_F(EquipmentTest, SecondAndThirdBlockOfOneDefinitionVersionTheVersionedName) {
    ASSERT_TRUE(Add("ACME", "DA-300"));
    ASSERT_TRUE(AddEquipment(ctx));
    ASSERT_TRUE(AddEquipment(ctx));
    EXPECT_EQ(db.Rows("select EquipmentName from tblEquipment where EquipmentName like "
                      "'DA-300%' order by EquipmentID"),
              QStringList({"DA-300", "DA-300_v1", "DA-300_v1_v1"}));
}

TEST_F(EquipmentTest, RowTakesTrimmedTypeAndManufacturerIdAsStored) {
    ASSERT_TRUE(Add("acme", "NEW-2", "  Router\t "));
    EXPECT_EQ(db.Rows("select EquipmentName, ManufacturerID, EquipmentType, "
                      "EquipmentDescription, BlockRef from tblEquipment where "
                      "EquipmentName = 'NEW-2'"),
              QStringList({"NEW-2|ACME|Router\t|Router\t|<null>"}));
    // The new row stays current, with the key the store gave it.
    EXPECT_EQ(session.rsEquipment->Field("EquipmentID"),
              db.Scalar("select max(EquipmentID) from tblEquipment"));
    EXPECT_EQ(session.rsManufacturer->Field("ManufacturerID").toString(), "ACME");
    EXPECT_EQ(host.processEventsCalls, 1);
}

TEST_F(EquipmentTest, MissingTypeIsStoredAsEmptyText) {
    session.sEquipType = QString();
    ASSERT_TRUE(Add("ACME", "NO-TYPE", QString()));
    EXPECT_EQ(db.Rows("select EquipmentType, EquipmentDescription from tblEquipment where "
                      "EquipmentName = 'NO-TYPE'"),
              QStringList({"|"}));
}

TEST_F(EquipmentTest, CancelOnEntryDoesNothing) {
    session.bCancel = true;
    host.unattended = false;
    EXPECT_FALSE(Add("UNKNOWN", "X"));
    EXPECT_EQ(session.rsEquipment, nullptr);
    EXPECT_EQ(host.selections, 0);
    EXPECT_TRUE(host.messages.isEmpty());
}

TEST_F(EquipmentTest, FailedResolutionShowsItsMessageUnlessCancelled) {
    host.unattended = false;
    const struct {
        const char* name;
        std::function<bool(SessionState&)> dialog;
        QStringList messages;
    } cases[] = {
        {"cancelled",
         [](SessionState& s) {
             s.bCancel = true;
             return true;
         },
         {}},
        {"no dialog", [](SessionState&) { return false; }, {"unable to initialize recordset"}},
    };
    for (const auto& c : cases) {
        host.messages.clear();
        session.bCancel = false;
        host.onSelectManufacturer = c.dialog;
        EXPECT_FALSE(Add("UNKNOWN", "X")) << c.name;
        EXPECT_EQ(host.messages, c.messages) << c.name;
    }
    EXPECT_EQ(db.Scalar("select count(*) from tblEquipment").toInt(), 2);
}

TEST_F(EquipmentTest, MissingManufacturerRowRaisesNoCurrentRecord) {
    host.unattended = false;  // the empty ID maps to the empty entry: no row, no dialog
    try {
        Add("", "X");
        ADD_FAILURE() << "no error";
    } catch (const AppError& e) {
        EXPECT_EQ(e.number(), ErrNo::kNoCurrentRecord);
    }
    EXPECT_EQ(db.Scalar("select count(*) from tblEquipment").toInt(), 2);
}

}  // namespace
