#include "records/target.h"

#include <libpq-fe.h>

#include <QDir>
#include <QRegularExpression>
#include <QStringList>
#include <QUrl>
#include <algorithm>
#include <memory>

namespace db {
namespace {

const QString kOdbcPrefix = QStringLiteral("odbc:");
constexpr char kHidden[] = "***";

int UriPrefixLength(const QString& text) {
    for (const char* prefix : {"postgresql://", "postgres://"}) {
        if (text.startsWith(QLatin1String(prefix), Qt::CaseInsensitive)) {
            return static_cast<int>(qstrlen(prefix));
        }
    }
    return 0;
}

// The keywords of the client library, as its parser lists them for an empty string.
const QStringList& LibraryKeywords() {
    static const QStringList keywords = [] {
        QStringList list;
        PQconninfoOption* options = PQconninfoParse("", nullptr);
        for (const PQconninfoOption* o = options; o != nullptr && o->keyword != nullptr; ++o) {
            list << QString::fromLatin1(o->keyword);
        }
        PQconninfoFree(options);
        return list;
    }();
    return keywords;
}

bool IsPasswordKeyword(const QString& key) {
    return key.compare(QLatin1String("password"), Qt::CaseInsensitive) == 0 ||
           key.compare(QLatin1String("sslpassword"), Qt::CaseInsensitive) == 0;
}

bool IsAsciiWordStart(QChar c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

bool IsAsciiWord(QChar c) {
    return IsAsciiWordStart(c) || (c >= '0' && c <= '9');
}

// Where the value of a keyword/value pair that starts at `i` ends. A quoted value runs to its
// closing quote (to the end when there is none); an unquoted one to the blank before the next
// keyword=: whatever lies between is no pair the library would read, so it is counted in.
qsizetype PairValueEnd(const QString& text, qsizetype i) {
    const qsizetype n = text.size();
    if (i < n && text[i] == '\'') {
        for (++i; i < n && text[i] != '\''; ++i) {
            i += text[i] == '\\' ? 1 : 0;
        }
        return std::min(i + 1, n);
    }
    static const QRegularExpression nextPair(R"(\s+[A-Za-z_][A-Za-z0-9_]*\s*=)");
    for (; i < n; ++i) {
        if (text[i] == '\\') {
            ++i;
        } else if (text[i].isSpace() && (nextPair
                                             .match(text, i, QRegularExpression::NormalMatch,
                                                    QRegularExpression::AnchorAtOffsetMatchOption)
                                             .hasMatch() ||
                                         QStringView(text).mid(i).trimmed().isEmpty())) {
            return i;
        }
    }
    return n;
}

// The keywords of the keyword/value pairs that `text` begins with, read as the client library
// reads them, up to the first thing that is no pair.
QStringList LeadingKeywords(const QString& text) {
    QStringList keys;
    const qsizetype n = text.size();
    qsizetype i = 0;
    const auto skipBlanks = [&] {
        while (i < n && text[i].isSpace()) {
            ++i;
        }
    };
    for (skipBlanks(); i < n && IsAsciiWordStart(text[i]); skipBlanks()) {
        const qsizetype keyStart = i;
        while (i < n && IsAsciiWord(text[i])) {
            ++i;
        }
        const QString key = text.mid(keyStart, i - keyStart);
        skipBlanks();
        if (i == n || text[i] != '=') {
            break;
        }
        ++i;
        skipBlanks();
        keys << key;
        if (i < n && text[i] == '\'') {
            i = PairValueEnd(text, i);
        } else {
            while (i < n && !text[i].isSpace()) {
                i += text[i] == '\\' ? 2 : 1;
            }
        }
    }
    return keys;
}

// The Jet-style connection string that a file target becomes (see ConnectionStringForTarget).
bool IsJetString(const QString& text) {
    return text.startsWith(QLatin1String("Provider"), Qt::CaseInsensitive) &&
           text.contains(QLatin1String("Data Source="), Qt::CaseInsensitive);
}

// A URI scheme at the start of `text` or of one of its values ("dbname=postgresql://...").
const QRegularExpression& SchemePattern() {
    static const QRegularExpression scheme(R"((?:^|(?<=[\s='"]))[A-Za-z][A-Za-z0-9+.\-]+://)");
    return scheme;
}

// Hides the password of the first URI in `shown`: "user:***@" up to the last '@' of the
// text, or, without any '@', a "port" that is no number.
void HideUriPassword(QString& shown) {
    const QRegularExpressionMatch scheme = SchemePattern().match(shown);
    if (!scheme.hasMatch()) {
        return;
    }
    const qsizetype start = scheme.capturedEnd();
    const qsizetype at = shown.lastIndexOf('@');
    if (at > start) {
        qsizetype colon = start;
        while (colon < at && !QStringView(u":@/").contains(shown[colon])) {
            ++colon;
        }
        if (colon < at && shown[colon] == ':') {
            shown.replace(colon + 1, at - colon - 1, QLatin1String(kHidden));
        }
        return;
    }
    qsizetype colon = start;
    if (colon < shown.size() && shown[colon] == '[') {  // an IPv6 address holds colons
        colon = shown.indexOf(']', colon);
        if (colon < 0) {
            return;
        }
    }
    while (colon < shown.size() && !QStringView(u":/?,").contains(shown[colon])) {
        ++colon;
    }
    qsizetype end = colon + 1;
    while (end < shown.size() && !QStringView(u"/?,").contains(shown[end])) {
        ++end;
    }
    static const QRegularExpression number(R"(^\d*$)");
    if (colon < shown.size() && shown[colon] == ':' &&
        !number.match(QStringView(shown).mid(colon + 1, end - colon - 1)).hasMatch()) {
        shown.replace(colon + 1, end - colon - 1, QLatin1String(kHidden));
    }
}

// Hides the values of password= and sslpassword= (percent-encoded or not) in a URI's query.
void HideQueryPasswords(QString& shown) {
    const qsizetype scheme = shown.indexOf(QLatin1String("://"));
    const qsizetype query = scheme < 0 ? -1 : shown.indexOf('?', scheme);
    if (query < 0) {
        return;
    }
    QStringList pairs = shown.mid(query + 1).split('&');
    for (QString& pair : pairs) {
        const qsizetype eq = pair.indexOf('=');
        if (eq >= 0 && IsPasswordKeyword(QUrl::fromPercentEncoding(pair.left(eq).toUtf8()))) {
            pair = pair.left(eq + 1) + QLatin1String(kHidden);
        }
    }
    shown = shown.left(query + 1) + pairs.join('&');
}

// Hides the values of password= and sslpassword= in keyword/value pairs.
void HidePairPasswords(QString& shown) {
    static const QRegularExpression key(R"((?:^|(?<=\s))(?:ssl)?password\s*=\s*)",
                                        QRegularExpression::CaseInsensitiveOption);
    for (QRegularExpressionMatch m = key.match(shown); m.hasMatch();
         m = key.match(shown, m.capturedEnd() + qstrlen(kHidden))) {
        const qsizetype value = m.capturedEnd();
        shown.replace(value, PairValueEnd(shown, value) - value, QLatin1String(kHidden));
    }
}

// Hides PWD= and Password= of an ODBC connection string, a value in braces included.
void HideOdbcPasswords(QString& shown) {
    static const QRegularExpression secret(
        R"((^odbc:|;)(\s*(?:PWD|Password)\s*=\s*)(\{(?:[^}]|\}\})*\}?|[^;]*))",
        QRegularExpression::CaseInsensitiveOption);
    shown.replace(secret, QStringLiteral("\\1\\2") + QLatin1String(kHidden));
}

// True when every '@' of the URI `uri` is the one where the client library ends the user name
// and password: the first '@' or '/' after the scheme ends them, and no other '@' may come
// before the query.
bool AtSignsInPlace(const QString& uri, qsizetype prefix) {
    const QStringView rest = QStringView(uri).mid(prefix);
    qsizetype from = 0;
    for (qsizetype i = 0; i < rest.size(); ++i) {
        if (rest[i] == '@' || rest[i] == '/') {
            from = rest[i] == '@' ? i + 1 : 0;
            break;
        }
    }
    const qsizetype query = rest.indexOf('?', from);
    return !rest.mid(from, query < 0 ? -1 : query - from).contains('@');
}

using Options = std::unique_ptr<PQconninfoOption, decltype(&PQconninfoFree)>;

// The client library's parse of `text`; null with `error` set when it refuses it.
Options LibraryParse(const QString& text, QString& error) {
    char* message = nullptr;
    Options options(PQconninfoParse(text.toUtf8().constData(), &message), &PQconninfoFree);
    if (!options) {
        error = message != nullptr ? QString::fromUtf8(message).trimmed()
                                   : QStringLiteral("out of memory");
        PQfreemem(message);
    }
    return options;
}

// Why the library refuses `text`. Its words may quote any part of the text, a password too: for
// a text that holds one, they are those it has for the text with the password hidden.
QString LibraryRefusal(const QString& text, const QString& error) {
    const QString redacted = RedactedTarget(text);
    if (redacted == text) {
        return error;
    }
    QString again;
    return LibraryParse(redacted, again) ? QStringLiteral("its password cannot be read") : again;
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
    if (IsJetString(target)) {
        return TargetKind::kFile;
    }
    const QStringList keys = LeadingKeywords(target);
    if (keys.size() >= 2 || (keys.size() == 1 && LibraryKeywords().contains(keys.first()))) {
        return TargetKind::kPostgres;
    }
    return TargetKind::kFile;
}

QString TargetProblem(const QString& target) {
    switch (KindOfTarget(target)) {
        case TargetKind::kPostgres: {
            PostgresSettings settings;
            QString error;
            return ParsePostgresTarget(target, settings, error) ? QString() : error;
        }
        case TargetKind::kOdbc:
            return {};
        case TargetKind::kFile:
            break;
    }
    static const QRegularExpression otherScheme(R"(^\s*[A-Za-z][A-Za-z0-9+.\-]+://)");
    if (otherScheme.match(target).hasMatch()) {
        return QStringLiteral(
                   "The database '%1' is neither a file nor an address that importflx knows: a "
                   "PostgreSQL address begins with postgresql:// or postgres://, an ODBC "
                   "connection string with odbc:.")
            .arg(RedactedTarget(target));
    }
    return {};
}

bool ParsePostgresTarget(const QString& target, PostgresSettings& settings, QString& error) {
    settings.clear();
    const auto fail = [&](const QString& why) {
        error = QStringLiteral("The PostgreSQL address '%1' is not valid: %2.")
                    .arg(RedactedTarget(target), why);
        return false;
    };
    QString text = target.trimmed();
    // The library knows its schemes in lower case only.
    const int prefix = UriPrefixLength(text);
    text.replace(0, prefix, text.left(prefix).toLower());
    if (prefix > 0 && !AtSignsInPlace(text, prefix)) {
        return fail(QStringLiteral(
            "write an '@' of a user name, password, host or database name as %40, and a '/' of a "
            "user name or password as %2F"));
    }
    QString refusal;
    const Options options = LibraryParse(text, refusal);
    if (!options) {
        return fail(LibraryRefusal(text, refusal));
    }
    bool named = false;
    for (const PQconninfoOption* o = options.get(); o->keyword != nullptr; ++o) {
        if (o->val == nullptr) {
            continue;
        }
        const QString key = QString::fromLatin1(o->keyword);
        const QString value = QString::fromUtf8(o->val);
        static const QRegularExpression ports(R"(^[\d,]*$)");
        if (key == QLatin1String("port") && !ports.match(value).hasMatch()) {
            return fail(QStringLiteral("its port is not a number"));
        }
        // The server and the library quote such values in their messages.
        if (!IsPasswordKeyword(key) && RedactedTarget(value) != value) {
            return fail(QStringLiteral("the value of %1 holds a password").arg(key));
        }
        named = named || key == QLatin1String("application_name") ||
                key == QLatin1String("fallback_application_name");
        settings.append({key, value});
    }
    if (!named) {
        settings.append({QStringLiteral("fallback_application_name"), QStringLiteral("importflx")});
    }
    return true;
}

QString RedactedTarget(const QString& text) {
    QString shown = text;
    HideUriPassword(shown);
    HideQueryPasswords(shown);
    HidePairPasswords(shown);
    HideOdbcPasswords(shown);
    return shown;
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

QString DescribeConnection(const QString& connectionString) {
    return RedactedTarget(KindOfTarget(connectionString) == TargetKind::kFile
                              ? DataSourceOf(connectionString)
                              : connectionString);
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
