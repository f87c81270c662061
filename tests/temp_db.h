#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>
#include <memory>

#include "tests/printers.h"

// A temporary folder holding a database built from SQL scripts. The shared connections are
// closed when it goes, so every test starts from a fresh file.
class TempDb {
  public:
    // Builds `fileName` in a new temporary folder from the demo schema (unless `withSchema` is
    // false) followed by `extraSql` (statements separated by ';').
    explicit TempDb(const QString& extraSql = {}, bool withSchema = true,
                    const QString& fileName = "dbEquip.mdb");
    ~TempDb();

    QString folder() const { return dir_.path(); }
    QString path() const;
    // The connection string the import window builds for this folder.
    QString connection() const;

    // Runs `sqlText` on a private connection (not the shared one) and returns the first column
    // of the first row, or a null value. Raises a gtest failure on an SQL error.
    QVariant Scalar(const QString& sqlText) const;
    // The rows of `sqlText`, each row's columns joined by '|' (null shown as "<null>").
    QStringList Rows(const QString& sqlText) const;
    // Runs statements separated by ';' on a private connection.
    void Exec(const QString& sqlText) const;
    // Runs statements separated by ';' on the database file at `path`.
    static void ExecOn(const QString& path, const QString& sqlText);

  private:
    QTemporaryDir dir_;
    QString fileName_;
};

// The demo schema's text.
QString DemoSchemaSql();
// The demo rows' text.
QString DemoRowsSql();
