#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "core/host.h"
#include "core/session.h"
#include "records/database.h"
#include "tests/fake_host.h"
#include "tests/temp_db.h"

// Makes the waits of `database` run at once on a clock of their own, which only their pauses
// move on: by `step` milliseconds a pause, or by the pause asked for when `step` is 0. `atPause`
// (if any) is called after each pause with the number of pauses so far.
inline void UseWaitClock(db::Database& database, qint64 step = 0,
                         std::function<void(int)> atPause = {}) {
    auto now = std::make_shared<qint64>(0);
    auto pauses = std::make_shared<int>(0);
    database.wait().clock = [now] { return *now; };
    database.wait().pause = [=](int ms) {
        *now += step > 0 ? step : ms;
        if (atPause) {
            atPause(++*pauses);
        }
    };
}

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
