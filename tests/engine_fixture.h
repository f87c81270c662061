#pragma once

#include <gtest/gtest.h>

#include "core/host.h"
#include "core/session.h"
#include "records/database.h"
#include "tests/fake_host.h"
#include "tests/temp_db.h"

// A fixture for the import logic, run on every store (INSTANTIATE_ON_EVERY_STORE): a temporary
// demo database with the demo rows plus `extraSql`, the database object over it, a session and
// a scripted host.
class EngineTest : public ::testing::TestWithParam<Store> {
  protected:
    explicit EngineTest(const QString& extraSql = {})
        : db(GetParam(), DemoRowsSql(GetParam()) + ";\n" + extraSql) {}

    void SetUp() override { session.sEquipConnection = db.connection(); }

    TempDb db;
    db::Database database{db.connection()};
    SessionState session;
    FakeHost host;
    ImportContext ctx{session, host, database};
};

// Instantiates the parametrized suite `suite` once per store, named after the store.
#define INSTANTIATE_ON_EVERY_STORE(suite)                \
    INSTANTIATE_TEST_SUITE_P(                            \
        Stores, suite, ::testing::ValuesIn(AllStores()), \
        [](const ::testing::TestParamInfo<Store>& info) { return StoreName(info.param); })
