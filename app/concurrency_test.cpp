// Importers sharing a database: eight at once into one database of each kind store no model name
// twice for a manufacturer, store every file reported added whole and never fail; an importer
// whose output nobody reads holds nobody up; and over a network a device costs a fixed number of
// round trips to the server.

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <vector>

#include "tests/batch_tool.h"
#include "tests/engine_fixture.h"
#include "tests/flx_builder.h"

namespace {

constexpr int kImporters = 8;
constexpr int kFilesEach = 25;
constexpr int kConnectors = 6;

class ConcurrencyTest : public ::testing::TestWithParam<Store> {};

// File `f` of importer `i`: one device of a model and manufacturer that many files share (some
// manufacturers are new to the database), whose connector names carry the file's own tag.
QString WriteFile(const QString& folder, int i, int f) {
    const int n = i * kFilesEach + f;
    const QString tag = QString("P%1F%2").arg(i).arg(f);
    const QStringList device = flxtest::Device(
        QStringList{"ACME", "NORTHLN", "NEWCO", "OTHERCO"}[n % 4], QString("MODEL-%1").arg(n % 5),
        flxtest::Connectors(kConnectors / 2, tag + " in") +
            flxtest::Connectors(kConnectors / 2, tag + " out", 'O'));
    return flxtest::Write(folder, tag + ".flx", flxtest::Bytes(device));
}

TEST_P(ConcurrencyTest, EightImportersNeverStoreANameTwiceAndLoseNoFile) {
    TempDb db(GetParam(), DemoRowsSql(GetParam()));
    std::vector<std::unique_ptr<QProcess>> importers;
    for (int i = 0; i < kImporters; ++i) {
        QStringList args{"--db", db.target(), "--unattended"};
        for (int f = 0; f < kFilesEach; ++f) {
            args << WriteFile(db.folder(), i, f);
        }
        importers.push_back(std::make_unique<QProcess>());
        importers.back()->start(IMPORTFLX_BATCH_EXE, args);
    }
    QStringList added;
    for (auto& importer : importers) {
        ASSERT_TRUE(importer->waitForFinished(300000));
        EXPECT_EQ(importer->exitCode(), 0) << importer->readAllStandardError().toStdString();
        static const QRegularExpression addedLine(R"(^Added (.+\.flx)$)",
                                                  QRegularExpression::MultilineOption);
        auto matches = addedLine.globalMatch(QString::fromUtf8(importer->readAllStandardOutput()));
        while (matches.hasNext()) {
            added << QFileInfo(matches.next().captured(1)).baseName();
        }
    }
    EXPECT_EQ(added.size(), kImporters * kFilesEach);
    const QStringList duplicates = db.Rows(
        "SELECT EquipmentName, ManufacturerID, COUNT(*) FROM tblEquipment GROUP BY "
        "EquipmentName, ManufacturerID HAVING COUNT(*) > 1");
    EXPECT_EQ(duplicates, QStringList());
    // Each file whole: its one equipment row holds exactly its own connectors.
    const QStringList perFile = db.Rows(
        "SELECT c.Name, COUNT(DISTINCT c.EquipmentID), COUNT(*) FROM (SELECT EquipmentID, Name "
        "FROM tblInputs UNION ALL SELECT EquipmentID, Name FROM tblOutputs) c GROUP BY c.Name");
    QMap<QString, QString> counts;
    for (const QString& row : perFile) {
        const QString tag = row.section(' ', 0, 0);
        counts[tag] = counts.value(tag) + '|' + row.section('|', 1);
    }
    for (const QString& tag : added) {
        EXPECT_EQ(counts.value(tag), QString("|1|1").repeated(kConnectors)) << tag.toStdString();
    }
}

INSTANTIATE_ON_EVERY_STORE(ConcurrencyTest);

// An importer whose report goes into a pipe that nobody reads stops, its pipe full, in the middle
// of a file; it holds the database only while it writes a device, so another importer goes on.
TEST_P(ConcurrencyTest, AnImporterWhoseOutputNobodyReadsHoldsNobodyUp) {
    TempDb db(GetParam(), DemoRowsSql(GetParam()));
    QStringList lines;
    for (int d = 0; d < 20; ++d) {  // far more report than a pipe holds
        lines += flxtest::Device("ACME", QString("STUCK-%1").arg(d), flxtest::Connectors(200));
    }
    const QString stuck = flxtest::Write(db.folder(), "stuck.flx", flxtest::Bytes(lines));
    QProcess first;  // in a process group of its own, ended whole below
    first.setChildProcessModifier([] { ::setpgid(0, 0); });
    first.setProgram("sh");
    first.setArguments(
        {"-c",
         QString("exec '%1' --db \"$1\" --unattended \"$2\" | sleep 600").arg(IMPORTFLX_BATCH_EXE),
         "sh", db.target(), stuck});
    first.start();
    ASSERT_TRUE(first.waitForStarted());
    // Its first device is stored: from then on it writes its report, which nobody reads.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return db.Scalar("SELECT count(*) FROM tblEquipment").toInt() > 2; }, 120000));
    const QStringList second =
        RunBatch({"--db", db.target(), "--unattended", "--quiet", WriteFile(db.folder(), 0, 0)});
    EXPECT_EQ(second[0], "0") << second[2].toStdString();
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM tblEquipment WHERE EquipmentName = 'MODEL-0'"), 1);
    EXPECT_EQ(first.state(), QProcess::Running) << "the first importer was to stay stuck";
    ::kill(-static_cast<pid_t>(first.processId()), SIGKILL);
    first.waitForFinished();
}

// Round trips to a PostgreSQL server, counted by a relay in front of it: through the server's
// own driver a device of forty connector lines costs one (its rows come back with it for the
// run's record), and a run a few more to read the manufacturers; through ODBC, one per connector
// row and eight more, and three to read the device's rows back for the run's record.
TEST(RoundTrips, ADeviceCostsAFewRoundTripsToAServer) {
    for (const Store store : {Store::kPostgres, Store::kOdbcPostgres}) {
        SCOPED_TRACE(StoreName(store));
        const PgRelay relay(TestServerSocket());
        TempDb db(store, DemoRowsSql(store));
        QStringList devices;
        for (int n = 0; n < 11; ++n) {
            devices << flxtest::Write(
                db.folder(), QString("rt%1.flx").arg(n),
                flxtest::Bytes(flxtest::Device(
                    "ACME", QString("RT-%1").arg(n),
                    flxtest::Connectors(20) + flxtest::Connectors(20, "Out", 'O'))));
        }
        const QString empty = flxtest::Write(db.folder(), "empty.flx", "no device\r\n");
        const QStringList options{"--db", relay.Through(db.target()), "--unattended", "--quiet"};
        ASSERT_EQ(RunBatch(options + QStringList{empty})[0], "0");
        const int none = relay.Turns();
        ASSERT_EQ(RunBatch(options + devices.mid(0, 1))[0], "0");
        const int one = relay.Turns();
        ASSERT_EQ(RunBatch(options + devices)[0], "0");
        const int eleven = relay.Turns() - one - none;  // eleven devices in one run
        const int each = (eleven - (one - 2 * none)) / 10;
        if (store == Store::kPostgres) {
            EXPECT_LE(eleven, 11 + 4);
            EXPECT_LE(each, 1);
        } else {
            EXPECT_LE(each, 40 + 8 + 3);
        }
        EXPECT_EQ(db.Scalar("SELECT count(*) FROM tblInputs").toInt(), 12 * 20);
    }
}

}  // namespace
