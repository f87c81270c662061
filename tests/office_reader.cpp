#include "tests/office_reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>
#include <csignal>

#include "tests/flx_builder.h"

QString ReadWithOffice(const QString& rtfPath, const QString& workDir) {
    const QString soffice = QStandardPaths::findExecutable("soffice");
    if (soffice.isEmpty()) {
        ADD_FAILURE() << "soffice not found: run scripts/test, which installs "
                         "libreoffice-writer-nogui";
        return {};
    }
    QProcess office;
    // The office starts helper processes; its own process group lets a hung run be ended whole.
    office.setChildProcessModifier([] { ::setpgid(0, 0); });
    office.start(soffice,
                 {"-env:UserInstallation=" +
                      QUrl::fromLocalFile(workDir + "/profile").toString(QUrl::FullyEncoded),
                  "--headless", "--convert-to", "txt:Text (encoded):UTF8", "--outdir",
                  workDir + "/out", rtfPath});
    const bool finished = office.waitForFinished(120000);
    if (!finished) {
        ::kill(-static_cast<pid_t>(office.processId()), SIGKILL);
        office.waitForFinished();
    }
    if (!finished || office.exitCode() != 0) {
        ADD_FAILURE() << "soffice failed: " << office.readAllStandardError().toStdString();
        return {};
    }
    const QByteArray text =
        flxtest::Read(workDir + "/out/" + QFileInfo(rtfPath).completeBaseName() + ".txt");
    EXPECT_FALSE(text.isEmpty()) << "soffice wrote no text: "
                                 << office.readAllStandardError().toStdString();
    return QString::fromUtf8(text.startsWith("\xEF\xBB\xBF") ? text.mid(3) : text)
        .replace("\r\n", "\n");
}
