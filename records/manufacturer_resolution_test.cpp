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
    QString Resolved() const { return session.sManuID + '|' + session.sManuName; }
};

TEST_P(ResolutionTest, KnownIdIsFoundAndAnUnknownOneAddedUnattendedWithoutAsking) {
    for (const bool unattended : {false, true}) {
        host.unattended = unattended;
        session.sManuName = "left over";
        ASSERT_TRUE(Resolve("acme"));
        EXPECT_EQ(Resolved(), "acme|Acme Broadcast");  // the ID as the file wrote it
        ASSERT_TRUE(Resolve("NONAME"));
        EXPECT_EQ(session.sManuName, "");
    }
    ASSERT_TRUE(Resolve("NEWCO"));
    EXPECT_EQ(Resolved(), "NEWCO|NEWCO");
    ASSERT_TRUE(Resolve("NEWCO"));  // added once
    EXPECT_EQ(db.Rows("select * from tblManufacturers where ManufacturerID = 'NEWCO'"),
              QStringList({"NEWCO|NEWCO|-1|0|0|0|0|<null>"}));
    EXPECT_EQ(host.selections, 0);
    EXPECT_TRUE(host.messages.isEmpty());
}

// A manufacturer is looked up once per run: a colleague's change shows in the next run.
TEST_P(ResolutionTest, AManufacturerFoundIsNotAskedForAgainInTheSameRun) {
    ASSERT_TRUE(Resolve("KESTREL"));
    db.Exec(
        "update tblManufacturers set ManufacturerName = 'Renamed' where ManufacturerID = "
        "'KESTREL'");
    ASSERT_TRUE(Resolve("KESTREL"));
    EXPECT_EQ(Resolved(), "KESTREL|Kestrel Systems");
    session.manufacturersFound.clear();  // what a new run does
    ASSERT_TRUE(Resolve("KESTREL"));
    EXPECT_EQ(Resolved(), "KESTREL|Renamed");
}

TEST_P(ResolutionTest, AttendedWalksTheMapFirstMatchWinningThenAsksTheDialog) {
    host.unattended = false;
    session.aManuMap.push_back({"kes", "Kestrel Systems", "KESTREL"});
    session.aManuMap.push_back({"kes", "Videoworks", "VIDEOWRX"});
    ASSERT_TRUE(Resolve("kes"));
    EXPECT_EQ(Resolved(), "KESTREL|Kestrel Systems");
    ASSERT_TRUE(Resolve(""));  // the empty first entry
    EXPECT_EQ(Resolved(), "|");
    EXPECT_EQ(host.selections, 0);
    const struct {
        const char* name;
        bool returns, cancels;  // what the dialog does
        QString picks;
        bool resolved;
    } cases[] = {
        {"picked", true, false, "VIDEOWRX", true},
        {"cancelled", true, true, "", false},
        {"no dialog possible", false, false, "", false},
        {"closed by its frame", true, false, "", true},  // resolved, to a missing row
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        host.onSelectManufacturer = [&c](SessionState& s) {
            s.sManuID = c.picks.isEmpty() ? s.sManuID : c.picks;
            s.bCancel = c.cancels;
            return c.returns;
        };
        EXPECT_EQ(Resolve("KES"), c.resolved);  // the map is walked case-sensitively
        EXPECT_EQ(session.bCancel, c.cancels);
        EXPECT_EQ(session.sManuID, c.picks.isEmpty() ? "KES" : c.picks);
    }
    EXPECT_EQ(host.selections, 4);
    EXPECT_TRUE(host.messages.isEmpty());
    EXPECT_EQ(db.Scalar("select count(*) from tblManufacturers").toInt(), 5);
}

INSTANTIATE_ON_EVERY_STORE(ResolutionTest);

}  // namespace
