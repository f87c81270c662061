#include "app/database_choice.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>

#include "core/platform.h"
#include "records/connection.h"
#include "records/target.h"

namespace {

const QString kDatabaseName = QStringLiteral("dbEquip.mdb");
const QString kDatabaseKey = QStringLiteral("database");
const QString kOdbcPrefix = QStringLiteral("odbc:");

// The user's settings file: ~/.config/importflx/importflx.conf on Linux.
const QString kSettingsName = QStringLiteral("importflx");

}  // namespace

DatabaseChoice ChooseDatabase(const QString& commandLineTarget, const DatabasePlaces& places) {
    DatabaseChoice choice;
    QString target = commandLineTarget;
    choice.source = DatabaseSource::kCommandLine;
    if (target.isEmpty()) {
        target = places.remembered;
        choice.source = DatabaseSource::kRemembered;
    }
    if (target.isEmpty()) {
        const bool installed = !places.dataFolder.isEmpty();
        choice.source = installed ? DatabaseSource::kDataFolder : DatabaseSource::kBesideProgram;
        choice.folder = installed ? places.dataFolder : places.programFolder;
        const QString found = platform::FindFileNoCase(choice.folder, kDatabaseName);
        choice.missing = found.isEmpty();
        choice.shown = choice.missing ? platform::JoinPath(choice.folder, kDatabaseName) : found;
        choice.connection = db::BuildConnectionString(choice.folder);
        return choice;
    }
    choice.connection = db::ConnectionStringForTarget(target);
    choice.shown = db::DescribeConnection(choice.connection);
    if (db::KindOfTarget(target) == db::TargetKind::kFile) {
        const QFileInfo file(target);
        choice.missing = !platform::FileExistsNoCase(file.path(), file.fileName());
    }
    return choice;
}

DatabasePlaces CurrentPlaces() {
    DatabasePlaces places;
    places.programFolder = platform::AppFolder();
    if (!PackagedDataFolder().isEmpty()) {
        places.dataFolder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    }
    places.remembered = RememberedDatabase();
    return places;
}

QString PackagedDataFolder() {
    const QString folder = QDir::cleanPath(
        QDir(platform::AppFolder()).filePath(QStringLiteral(IMPORTFLX_PACKAGED_DATA)));
    return QFileInfo(QDir(folder).filePath(QStringLiteral("schema.sql"))).isFile() ? folder
                                                                                   : QString();
}

QString RememberedDatabase() {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, kSettingsName, kSettingsName);
    return settings.value(kDatabaseKey).toString();
}

void RememberDatabase(const QString& target) {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, kSettingsName, kSettingsName);
    settings.setValue(kDatabaseKey, TargetWithoutPassword(target));
}

QString TargetWithoutPassword(const QString& target) {
    switch (db::KindOfTarget(target)) {
        case db::TargetKind::kPostgres: {
            // What RedactedTarget hides, left out: "user:***@", and "password=***" in a URI's
            // query or among keyword/value pairs.
            static const QRegularExpression inUser(R"(:\*\*\*@)");
            static const QRegularExpression inQuery(R"(([?&])(ssl)?password=\*\*\*(&|$))");
            static const QRegularExpression inPairs(R"((^|\s)(ssl)?password\s*=\s*\*\*\*)");
            QString shown = db::RedactedTarget(target);
            shown.replace(inUser, QStringLiteral("@"));
            const bool uri = db::RedactedTarget(target).contains(QLatin1String("://"));
            while (uri && shown.contains(inQuery)) {
                shown.replace(inQuery, QStringLiteral("\\1"));
            }
            shown.replace(inPairs, QString());
            if (shown.endsWith('?') || shown.endsWith('&')) {
                shown.chop(1);
            }
            return shown.trimmed();
        }
        case db::TargetKind::kOdbc: {
            // A braced value may hold ';' and, doubled, '}'.
            static const QRegularExpression secret(
                R"((^|;)\s*(PWD|Password)\s*=\s*(\{([^}]|\}\})*\}|[^;]*))",
                QRegularExpression::CaseInsensitiveOption);
            QString odbc = db::OdbcConnectionString(target);
            odbc.replace(secret, QString());
            while (odbc.startsWith(';')) {
                odbc.remove(0, 1);
            }
            return kOdbcPrefix + odbc;
        }
        case db::TargetKind::kFile:
            break;
    }
    return target;
}

QString TargetWithPassword(const QString& target, const QString& password) {
    if (password.isEmpty()) {
        return target;
    }
    QString result = TargetWithoutPassword(target);
    switch (db::KindOfTarget(target)) {
        case db::TargetKind::kPostgres:
            result += result.contains('?') ? '&' : '?';
            return result + QStringLiteral("password=") +
                   QString::fromLatin1(QUrl::toPercentEncoding(password));
        case db::TargetKind::kOdbc: {
            QString braced = password;
            braced.replace('}', QStringLiteral("}}"));
            if (!result.endsWith(';') && result != kOdbcPrefix) {
                result += ';';
            }
            return result + QStringLiteral("PWD={") + braced + '}';
        }
        case db::TargetKind::kFile:
            break;
    }
    return target;
}
