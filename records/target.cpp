#include "records/target.h"

#include <QDir>
#include <QRegularExpression>
#include <QStringList>

namespace db {
namespace {

const QString kOdbcPrefix = QStringLiteral("odbc:");

int UriPrefixLength(const QString& text) {
    for (const char* prefix : {"postgresql://", "postgres://"}) {
        if (text.startsWith(QLatin1String(prefix), Qt::CaseInsensitive)) {
            return static_cast<int>(qstrlen(prefix));
        }
    }
    return 0;
}

// Percent-decodes one part of a URI; false on a '%' not followed by two hex digits or on a
// decoded NUL, which the client library refuses too.
bool Decode(QStringView part, QString& out) {
    QByteArray bytes;
    const QByteArray raw = part.toUtf8();
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw[i] != '%') {
            bytes += raw[i];
            continue;
        }
        bool ok = false;
        const int value = i + 2 < raw.size() ? raw.mid(i + 1, 2).toInt(&ok, 16) : 0;
        if (!ok || value == 0) {
            return false;
        }
        bytes += static_cast<char>(value);
        i += 2;
    }
    out = QString::fromUtf8(bytes);
    return true;
}

// Index of the first character of `text` at or after `from` that is one of `stops`, or its size.
qsizetype FindAny(const QString& text, qsizetype from, QStringView stops) {
    for (qsizetype i = from; i < text.size(); ++i) {
        if (stops.contains(text[i])) {
            return i;
        }
    }
    return text.size();
}

}  // namespace

QString BuildConnectionString(const QString& appFolder) {
    QString folder = appFolder;
    while (folder.endsWith('/') || folder.endsWith(QDir::separator())) {
        folder.chop(1);
    }
    return ConnectionStringForFile(folder + QDir::separator() + "dbEquip.MDB");
}

QString ConnectionStringForFile(const QString& path) {
    return "Provider = Microsoft.Jet.OLEDB.4.0;Data Source=" + path +
           ";Persist Security Info=False";
}

TargetKind KindOfTarget(const QString& target) {
    if (UriPrefixLength(target) > 0) {
        return TargetKind::kPostgres;
    }
    if (target.startsWith(kOdbcPrefix, Qt::CaseInsensitive)) {
        return TargetKind::kOdbc;
    }
    return TargetKind::kFile;
}

QString ConnectionStringForTarget(const QString& target) {
    if (KindOfTarget(target) != TargetKind::kFile) {
        return target;
    }
    // The form the import window builds, with the given path as its Data Source.
    return ConnectionStringForFile(target);
}

QString OdbcConnectionString(const QString& target) {
    return target.mid(kOdbcPrefix.size());
}

bool ParsePostgresUri(const QString& uri, PostgresAddress& address, QString& error) {
    address = {};
    const auto fail = [&](const QString& why) {
        error = QStringLiteral("The PostgreSQL address '%1' is not valid: %2.")
                    .arg(DescribeConnection(uri), why);
        return false;
    };
    qsizetype at = UriPrefixLength(uri);
    if (at == 0) {
        return fail(QStringLiteral("it must start with postgresql:// or postgres://"));
    }
    // User and password, when an '@' comes before the first '/'.
    const qsizetype credentialsEnd = FindAny(uri, at, u"@/");
    if (credentialsEnd < uri.size() && uri[credentialsEnd] == '@') {
        const QString credentials = uri.mid(at, credentialsEnd - at);
        const qsizetype colon = credentials.indexOf(':');
        if (!Decode(QStringView(credentials).left(colon < 0 ? credentials.size() : colon),
                    address.user) ||
            (colon >= 0 && !Decode(QStringView(credentials).mid(colon + 1), address.password))) {
            return fail(QStringLiteral("a '%' is not followed by two hexadecimal digits"));
        }
        at = credentialsEnd + 1;
    }
    // Hosts, each with an optional port, separated by commas.
    QStringList hosts;
    QStringList ports;
    for (bool more = true; more;) {
        QString host;
        qsizetype end = 0;
        if (at < uri.size() && uri[at] == '[') {
            end = uri.indexOf(']', at);
            if (end < 0) {
                return fail(QStringLiteral("an IPv6 host address lacks its closing ']'"));
            }
            host = uri.mid(at + 1, end - at - 1);
            if (host.isEmpty()) {
                return fail(QStringLiteral("an IPv6 host address is empty"));
            }
            ++end;
            if (end < uri.size() && !QStringView(u":/?,").contains(uri[end])) {
                return fail(QStringLiteral("unexpected character after an IPv6 host address"));
            }
        } else {
            end = FindAny(uri, at, u":/?,");
            if (!Decode(QStringView(uri).mid(at, end - at), host)) {
                return fail(QStringLiteral("a '%' is not followed by two hexadecimal digits"));
            }
        }
        QString port;
        if (end < uri.size() && uri[end] == ':') {
            const qsizetype portEnd = FindAny(uri, end + 1, u"/?,");
            if (!Decode(QStringView(uri).mid(end + 1, portEnd - end - 1), port)) {
                return fail(QStringLiteral("a '%' is not followed by two hexadecimal digits"));
            }
            end = portEnd;
        }
        hosts << host;
        ports << port;
        more = end < uri.size() && uri[end] == ',';
        at = more ? end + 1 : end;
    }
    if (hosts.size() > 1 || !hosts.first().isEmpty()) {
        address.host = hosts.join(',');
    }
    if (ports.size() > 1 || !ports.first().isEmpty()) {
        address.port = ports.join(',');
    }
    if (at < uri.size() && uri[at] == '/') {
        const qsizetype end = FindAny(uri, at + 1, u"?");
        if (!Decode(QStringView(uri).mid(at + 1, end - at - 1), address.dbname)) {
            return fail(QStringLiteral("a '%' is not followed by two hexadecimal digits"));
        }
        at = end;
    }
    if (at < uri.size() && uri[at] == '?') {
        for (const QString& pair : uri.mid(at + 1).split('&', Qt::SkipEmptyParts)) {
            const qsizetype eq = pair.indexOf('=');
            if (eq <= 0 || pair.indexOf('=', eq + 1) >= 0) {
                return fail(
                    QStringLiteral("the parameter '%1' is not of the form name=value").arg(pair));
            }
            QString key;
            QString value;
            if (!Decode(QStringView(pair).left(eq), key) ||
                !Decode(QStringView(pair).mid(eq + 1), value)) {
                return fail(QStringLiteral("a '%' is not followed by two hexadecimal digits"));
            }
            if (key == QLatin1String("ssl") && value == QLatin1String("true")) {
                key = QStringLiteral("sslmode");
                value = QStringLiteral("require");
            }
            if (key == QLatin1String("host")) {
                address.host = value;
            } else if (key == QLatin1String("port")) {
                address.port = value;
            } else if (key == QLatin1String("dbname")) {
                address.dbname = value;
            } else if (key == QLatin1String("user")) {
                address.user = value;
            } else if (key == QLatin1String("password")) {
                address.password = value;
            } else {
                address.parameters.append({key, value});
            }
        }
    } else if (at < uri.size()) {
        return fail(QStringLiteral("unexpected character '%1'").arg(uri[at]));
    }
    return true;
}

QString DescribeConnection(const QString& connectionString) {
    switch (KindOfTarget(connectionString)) {
        case TargetKind::kPostgres: {
            // Everything but the password, as written.
            static const QRegularExpression inUser(R"(^([a-z]+://[^:@/]*):[^@/]*@)",
                                                   QRegularExpression::CaseInsensitiveOption);
            static const QRegularExpression inQuery(R"(([?&])password=[^&]*&?)");
            QString shown = connectionString;
            shown.replace(inUser, QStringLiteral("\\1@"));
            shown.replace(inQuery, QStringLiteral("\\1"));
            if (shown.endsWith('?') || shown.endsWith('&')) {
                shown.chop(1);
            }
            return shown;
        }
        case TargetKind::kOdbc: {
            static const QRegularExpression secret(
                R"((^|;)\s*(PWD|Password)\s*=\s*(\{[^}]*\}|[^;]*))",
                QRegularExpression::CaseInsensitiveOption);
            QString shown = connectionString;
            return shown.replace(secret, QStringLiteral("\\1\\2=***"));
        }
        case TargetKind::kFile:
            break;
    }
    return DataSourceOf(connectionString);
}

QString DataSourceOf(const QString& connectionString) {
    const QString key = QStringLiteral("Data Source=");
    const int start = connectionString.indexOf(key, 0, Qt::CaseInsensitive);
    if (start < 0) {
        return {};
    }
    const int valueStart = start + key.size();
    int end = connectionString.lastIndexOf(QLatin1String(";Persist Security Info="), -1,
                                           Qt::CaseInsensitive);
    if (end < valueStart) {
        end = connectionString.indexOf(';', valueStart);
    }
    if (end < 0) {
        end = connectionString.size();
    }
    return connectionString.mid(valueStart, end - valueStart).trimmed();
}

}  // namespace db
