#pragma once

#include <gtest/gtest.h>

#include "core/host.h"
#include "core/session.h"
#include "records/recordset.h"
#include "tests/fake_host.h"
#include "tests/temp_db.h"

// A fixture for the import logic: a temporary demo database (plus `extraSql`), a session
// connected to it and a scripted host.
class EngineTest : public ::testing::Test {
  protected:
    explicit EngineTest(const QString& extraSql = DemoRowsSql()) : db(extraSql) {}

    void SetUp() override { session.sEquipConnection = db.connection(); }

    TempDb db;
    SessionState session;
    FakeHost host;
    ImportContext ctx{session, host};
};
