// A database server that goes away during a run: the run waits for it and goes on, storing every
// file once, also the one whose commit the server took but never answered; a server that stays
// away stops the run with one message.

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "app/import_commands.h"
#include "tests/batch_tool.h"
#include "tests/engine_fixture.h"
#include "tests/flx_builder.h"

namespace {

QString DeviceFile(const QString& folder, const QString& model) {
    return flxtest::Write(folder, model + ".flx",
                          flxtest::Bytes(flxtest::Device("ACME", model, flxtest::Connectors(8))));
}

QJsonObject ReadJson(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object()
                                          : QJsonObject();
}

// The connection breaks on the second device's commit: either before the server sees it (the
// device was not stored and goes in again) or after the server committed it (the device is
// found and not stored twice, and the report says so).
TEST(ServerLoss, ADeviceWhoseCommitWentUnansweredIsLookedForAndStoredOnce) {
    for (const Store store : {Store::kPostgres, Store::kOdbcPostgres}) {
        for (const QString cut : {"request", "answer"}) {
            SCOPED_TRACE(StoreName(store) + " cut at the " + cut.toStdString());
            const PgRelay relay(TestServerSocket(), cut + ":2");
            TempDb db(store, DemoRowsSql(store));
            QStringList args{"--db",   relay.Through(db.target()), "--unattended", "--quiet",
                             "--json", db.folder() + "/run.json"};
            for (const QString model : {"LOSS-1", "LOSS-2", "LOSS-3"}) {
                args << DeviceFile(db.folder(), model);
            }
            const QStringList run = RunBatch(args);
            EXPECT_EQ(run[0], "0") << run[2].toStdString();
            EXPECT_EQ(db.Devices(), QStringList({"LOSS-1|8|0", "LOSS-2|8|0", "LOSS-3|8|0"}));
            const QJsonArray files = ReadJson(db.folder() + "/run.json")["files"].toArray();
            ASSERT_EQ(files.size(), 3);
            const QJsonObject second = files[1]["equipment"].toArray()[0].toObject();
            EXPECT_EQ(second["model"], "LOSS-2");
            EXPECT_EQ(second["foundAfterLoss"].toBool(), cut == "answer");
        }
    }
}

// The server stops while the batch tool waits at its eleventh file, whose new manufacturer
// another session is adding, and starts again once the tool says it waits for it: every file
// goes in once, exit 0.
TEST(ServerLoss, ARestartedServerIsWaitedForAndEveryFileGoesInOnce) {
    PostgresServer server;
    TempDb db(Store::kPostgres, DemoRowsSql(Store::kPostgres), true, server.socket());
    QStringList args{"--db", db.target(), "--unattended", "--quiet"};
    QStringList expected;
    for (int n = 1; n <= 30; ++n) {
        const QString model = QString("LOSS-%1").arg(n, 2, 10, QChar('0'));
        expected << model + "|8|0";
        args << flxtest::Write(db.folder(), model + ".flx",
                               flxtest::Bytes(flxtest::Device(n == 11 ? "NEWCO" : "ACME", model,
                                                              flxtest::Connectors(8))));
    }
    auto held =
        db.Hold({"INSERT INTO tblManufacturers (ManufacturerID, ManufacturerName, "
                 "DisplayInEquipment) VALUES ('NEWCO', 'Held', FALSE)"});
    QProcess batch;
    batch.start(IMPORTFLX_BATCH_EXE, args);
    QByteArray errors;
    const auto said = [&](const char* text) {
        return QTest::qWaitFor(
            [&] {
                errors += batch.readAllStandardError();
                return errors.contains(text);
            },
            120000);
    };
    ASSERT_TRUE(said("Waiting for the database, in use by another program..."));
    EXPECT_EQ(db.Devices().size(), 10);
    ASSERT_TRUE(server.Control("crash"));
    held.reset();
    ASSERT_TRUE(said("Waiting for the database server..."));
    ASSERT_TRUE(server.Control("resume"));
    ASSERT_TRUE(batch.waitForFinished(120000));
    errors += batch.readAllStandardError();
    EXPECT_EQ(batch.exitCode(), 0) << errors.toStdString();
    EXPECT_EQ(db.Devices(), expected);
}

// The server goes away during the second of three files and stays away past the wait (a clock
// that the wait's own pauses move on): one message, the run stopped, the third file not reached,
// and the first file's device kept.
TEST(ServerLoss, AServerThatStaysAwayStopsTheRunWithOneMessage) {
    PostgresServer server;
    for (const Store store : {Store::kPostgres, Store::kOdbcPostgres}) {
        SCOPED_TRACE(StoreName(store));
        TempDb db(store, DemoRowsSql(store), true, server.socket());
        db::Database database(db.connection());
        UseWaitClock(database);
        SessionState session;
        FakeHost host;
        host.folder = db.folder();
        for (const QString model : {"LOSS-1", "LOSS-2", "LOSS-3"}) {
            host.files << QFileInfo(DeviceFile(db.folder(), model)).fileName();
        }
        host.onProcessEvents = [&] {
            if (host.outcomes.size() == 1 && server.Control("crash")) {
                host.onProcessEvents = {};
            }
        };
        ImportContext ctx{session, host, database};
        const RunOutcome run = cmdAll_Click(ctx);
        EXPECT_EQ(run.stoppedBy, RunStop::kServerLost);
        EXPECT_EQ(run.filesAdded, 1);
        ASSERT_EQ(host.messages.size(), 1) << host.messages.join('\n').toStdString();
        EXPECT_TRUE(host.messages[0].contains("The server did not come back within 60 seconds."))
            << host.messages[0].toStdString();
        ASSERT_EQ(host.outcomes.size(), 2u);
        EXPECT_EQ(host.outcomes[1].errorKind, ErrorKind::kConnectionLost);
        EXPECT_FALSE(host.report.contains("Added [")) << "no totals line for a stopped run";
        ASSERT_TRUE(server.Control("resume"));
        EXPECT_EQ(db.Devices(), QStringList({"LOSS-1|8|0"}));
    }
}

}  // namespace
