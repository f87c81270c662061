#pragma once

#include <gtest/gtest.h>

#include "app/host.h"
#include "app/session.h"
#include "records/manufacturer_resolution.h"
#include "tests/fake_host.h"
#include "tests/temp_db.h"

// A fixture for the import logic: a temporary demo database (plus `extraSql`), a session
// connected to it, a scripted host and the manufacturer map back at its one empty entry.
class EngineTest : public ::testing::Test {
  protected:
    explicit EngineTest(const QString& extraSql = DemoRowsSql()) : db(extraSql) {}

    void SetUp() override {
        aManuMap.assign(1, ManuMapEntry{});
        session.sEquipConnection = db.connection();
    }
    void TearDown() override { aManuMap.assign(1, ManuMapEntry{}); }

    TempDb db;
    SessionState session;
    FakeHost host;
    ImportContext ctx{session, host};
};
