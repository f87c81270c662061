#include "records/manufacturer_resolution.h"

#include "tests/engine_fixture.h"

namespace {

class ResolutionTest : public EngineTest {
  protected:
    ResolutionTest()
        : EngineTest("insert into tblManufacturers (ManufacturerID) values ('NONAME')") {}
    bool Resolve(const QString& id) {
        session.sManuID = id;
        return ResolveManufacturer(ctx, session.sManuID) == RefusalReason::kNone;
    }
    // sManuID|sManuName|the ID on the current row of rsManufacturer
    QString Resolved() const {
        return session.sManuID + '|' + session.sManuName + '|' +
               session.rsManufacturer->Field("ManufacturerID").toString();
    }
};

TEST_P(ResolutionTest, KnownIdIsFoundAndAnUnknownOneAddedUnattendedWithoutAsking) {
    for (const bool unattended : {false, true}) {
        host.unattended = unattended;
        session.sManuName = "left over";
        ASSERT_TRUE(Resolve("acme"));
        EXPECT_EQ(Resolved(), "acme|Acme Broadcast|ACME");  // the ID as the file wrote it
        ASSERT_TRUE(Resolve("NONAME"));
        EXPECT_EQ(session.sManuName, "");
    }
    ASSERT_TRUE(Resolve("NEWCO"));
    EXPECT_EQ(Resolved(), "NEWCO|NEWCO|NEWCO");
    ASSERT_TRUE(Resolve("NEWCO"));  // added once
    EXPECT_EQ(db.Rows("select * from tblManufacturers where ManufacturerID = 'NEWCO'"),
              QStringList({"NEWCO|NEWCO|-1|0|0|0|0|<null>"}));
    EXPECT_EQ(host.selections, 0);
    EXPECT_TRUE(host.messages.isEmpty());
}

TEST_P(ResolutionTest, AttendedWalksTheMapFirstMatchWinningThenAsksTheDialog) {
    host.unattended = false;
    session.aManuMap.push_back({"kes", "Kestrel Systems", "KESTREL"});
    session.aManuMap.push_back({"kes", "Videoworks", "VIDEOWRX"});
    ASSERT_TRUE(Resolve("kes"));
    EXPECT_EQ(Resolved(), "KESTREL|Kestrel Systems|KESTREL");
    ASSERT_TRUE(Resolve(""));  // the empty first entry: on no manufacturer row
    EXPECT_EQ(session.rsManufacturer->RecordCount(), 0);
    EXPECT_EQ(host.selections, 0);
    const struct {
        const char* name;
        bool returns, cancels;  // what the dialog does
        QString picks;
        int rows;  // of rsManufacturer; -1: not resolved
    } cases[] = {
        {"picked", true, false, "VIDEOWRX", 1},
        {"cancelled", true, true, "", -1},
        {"no dialog possible", false, false, "", -1},
        {"closed by its frame", true, false, "", 0},  // resolved, on no row
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        host.onSelectManufacturer = [&c](SessionState& s) {
            s.sManuID = c.picks.isEmpty() ? s.sManuID : c.picks;
            s.bCancel = c.cancels;
            return c.returns;
        };
        EXPECT_EQ(Resolve("KES"), c.rows >= 0);  // the map is walked case-sensitively
        EXPECT_EQ(session.bCancel, c.cancels);
        EXPECT_EQ(session.sManuID, c.picks.isEmpty() ? "KES" : c.picks);
        if (c.rows >= 0) {
            EXPECT_EQ(session.rsManufacturer->RecordCount(), c.rows);
        }
    }
    EXPECT_EQ(host.selections, 4);
    EXPECT_TRUE(host.messages.isEmpty());
    EXPECT_EQ(db.Scalar("select count(*) from tblManufacturers").toInt(), 5);
}

INSTANTIATE_ON_EVERY_STORE(ResolutionTest);

}  // namespace
