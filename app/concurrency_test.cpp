// Eight importers at once into one database of each kind: no model name is stored twice for a
// manufacturer, every file reported added is stored whole, and no importer fails.

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <memory>
#include <vector>

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

}  // namespace
