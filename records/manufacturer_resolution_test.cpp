#include "records/manufacturer_resolution.h"

#include <gtest/gtest.h>

#include "app/session.h"
#include "tests/fake_host.h"
#include "tests/temp_db.h"

namespace {

class ResolutionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        aManuMap.assign(1, ManuMapEntry{});
        session.sEquipConnection = db.connection();
    }
    void TearDown() override { aManuMap.assign(1, ManuMapEntry{}); }

    bool Resolve(const QString& id) {
        session.sManuID = id;
        return ResolveManufacturer(ctx, session.sManuID);
    }
    QString CurrentManufacturerId() const {
        return session.rsManufacturer->Field("ManufacturerID").toString();
    }

    TempDb db{DemoRowsSql()};
    SessionState session;
    FakeHost host;
    ImportContext ctx{session, host};
};

TEST_F(ResolutionTest, KnownIdIsFoundWithoutAskingAndGivesItsName) {
    for (const bool unattended : {true, false}) {
        host.unattended = unattended;
        session.sManuName = "left over";
        ASSERT_TRUE(Resolve("acme"));
        EXPECT_EQ(session.sManuID, "acme");  // as the file wrote it
        EXPECT_EQ(session.sManuName, "Acme Broadcast");
        EXPECT_EQ(CurrentManufacturerId(), "ACME");
        EXPECT_EQ(host.selections, 0);
        EXPECT_TRUE(host.messages.isEmpty());
        EXPECT_EQ(db.Scalar("select count(*) from tblManufacturers").toInt(), 4);
    }
}

TEST_F(ResolutionTest, KnownIdWithoutNameGivesEmptyName) {
    db.Exec("insert into tblManufacturers (ManufacturerID) values ('NONAME')");
    session.sManuName = "left over";
    ASSERT_TRUE(Resolve("NONAME"));
    EXPECT_EQ(session.sManuName, "");
}

TEST_F(ResolutionTest, UnattendedAddsTheIdAsIdAndNameOnce) {
    host.unattended = true;
    ASSERT_TRUE(Resolve("NEWCO"));
    EXPECT_EQ(session.sManuName, "NEWCO");
    EXPECT_EQ(CurrentManufacturerId(), "NEWCO");
    ASSERT_TRUE(Resolve("NEWCO"));
    EXPECT_EQ(db.Rows("select ManufacturerID, ManufacturerName, DisplayInEquipment, "
                      "displayInJackFields, DisplayInRouters, DisplayInJboxes, "
                      "displayInCabletypes, Website from tblManufacturers "
                      "where ManufacturerID = 'NEWCO'"),
              QStringList({"NEWCO|NEWCO|-1|0|0|0|0|<null>"}));
    EXPECT_EQ(host.selections, 0);
}

TEST_F(ResolutionTest, MapIsWalkedCaseSensitivelyFirstMatchWinning) {
    host.unattended = false;
    aManuMap.push_back({"kes", "Kestrel Systems", "KESTREL"});
    aManuMap.push_back({"kes", "Videoworks", "VIDEOWRX"});
    ASSERT_TRUE(Resolve("kes"));
    EXPECT_EQ(session.sManuID, "KESTREL");
    EXPECT_EQ(session.sManuName, "Kestrel Systems");
    EXPECT_EQ(CurrentManufacturerId(), "KESTREL");
    EXPECT_EQ(host.selections, 0);

    ASSERT_TRUE(Resolve("KES"));  // not in the map: the dialog is asked
    EXPECT_EQ(host.selections, 1);
}

TEST_F(ResolutionTest, DialogOutcomes) {
    host.unattended = false;
    const struct {
        const char* name;
        std::function<bool(SessionState&)> dialog;
        bool result;
        bool cancelled;
        QString manuId;
    } cases[] = {
        {"picked",
         [](SessionState& s) {
             s.sManuID = "VIDEOWRX";
             s.sManuName = "Videoworks";
             return true;
         },
         true, false, "VIDEOWRX"},
        {"cancelled",
         [](SessionState& s) {
             s.bCancel = true;
             return true;
         },
         false, true, "UNKNOWN"},
        {"no dialog possible", [](SessionState&) { return false; }, false, false, "UNKNOWN"},
        // Closed by its frame: resolution succeeds, but on no manufacturer row.
        {"closed", [](SessionState&) { return true; }, true, false, "UNKNOWN"},
    };
    for (const auto& c : cases) {
        session.bCancel = false;
        host.onSelectManufacturer = c.dialog;
        EXPECT_EQ(Resolve("UNKNOWN"), c.result) << c.name;
        EXPECT_EQ(session.bCancel, c.cancelled) << c.name;
        EXPECT_EQ(session.sManuID, c.manuId) << c.name;
        EXPECT_TRUE(host.messages.isEmpty()) << c.name;
        if (c.result) {
            EXPECT_EQ(session.rsManufacturer->RecordCount(), c.manuId == "VIDEOWRX" ? 1 : 0);
        }
    }
    EXPECT_EQ(db.Scalar("select count(*) from tblManufacturers").toInt(), 4);
}

TEST_F(ResolutionTest, EmptyIdMatchesTheEmptyFirstMapEntry) {
    host.unattended = false;
    ASSERT_TRUE(Resolve(""));
    EXPECT_EQ(host.selections, 0);
    EXPECT_EQ(session.rsManufacturer->RecordCount(), 0);
}

}  // namespace
