#pragma once

#include <gtest/gtest.h>

#include <QProcess>
#include <QString>
#include <QStringList>

// One run of the batch tool (IMPORTFLX_BATCH_EXE, which the tests of app/ are given, or `tool`)
// with `args`, to its end: its exit status, standard output and standard error.
inline QStringList RunBatch(const QStringList& args, const QString& tool = IMPORTFLX_BATCH_EXE) {
    QProcess process;
    process.start(tool, args);
    EXPECT_TRUE(process.waitForFinished(300000)) << "importflx-batch did not finish";
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << "importflx-batch crashed";
    return {QString::number(process.exitCode()), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}
