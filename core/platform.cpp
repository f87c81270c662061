#include "core/platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/vfs.h>
#include <unistd.h>
#endif
#include <csignal>
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace platform {
namespace {
QString& AppFolderOverride() {
    static QString folder;
    return folder;
}

volatile std::sig_atomic_t interrupted = 0;

extern "C" void OnInterrupt(int) {
    interrupted = 1;
}

void WithoutDriverWarnings(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtWarningMsg && (text.startsWith(QLatin1String("QODBCResult::")) ||
                                 text.startsWith(QLatin1String("QODBCDriver::")) ||
                                 text.startsWith(QLatin1String("Unable to free statement")))) {
        return;
    }
    qt_message_output(type, context, text);
}

}  // namespace

bool ReadableByThisProcess(const QString& path) {
#ifdef _WIN32
    return QFileInfo(path).isReadable();
#else
    return ::faccessat(AT_FDCWD, QFile::encodeName(path).constData(), R_OK, AT_EACCESS) == 0;
#endif
}

bool IsTerminal(std::FILE* stream) {
#ifdef _WIN32
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

int TerminalColumns(std::FILE* stream) {
#ifdef _WIN32
    (void)stream;
    return 0;
#else
    winsize size{};
    return ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
#endif
}

void RecordInterrupts() {
#ifdef _WIN32
    std::signal(SIGINT, OnInterrupt);
#else
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
#endif
}

bool InterruptArrived() {
    return interrupted != 0;
}

void QuietSqlDriverWarnings() {
    qInstallMessageHandler(WithoutDriverWarnings);
}

void KeepFreedMemoryForReuse() {
#ifdef __GLIBC__
    // Up to 64 MiB of free memory at the top of the heap stay with the program.
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
}

QString AppFolder() {
    if (!AppFolderOverride().isEmpty()) {
        return AppFolderOverride();
    }
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
}

void SetAppFolderForTesting(const QString& folder) {
    AppFolderOverride() = folder;
}

QString FindFileNoCase(const QString& folder, const QString& name) {
    const QDir dir(folder);
    const QString exact = dir.filePath(name);
    if (QFileInfo(exact).isFile()) {
        return QDir::toNativeSeparators(exact);
    }
    QStringList names = dir.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    std::sort(names.begin(), names.end());
    for (const QString& candidate : names) {
        if (candidate.compare(name, Qt::CaseInsensitive) == 0) {
            return QDir::toNativeSeparators(dir.filePath(candidate));
        }
    }
    return {};
}

bool FileExistsNoCase(const QString& folder, const QString& name) {
    return !FindFileNoCase(folder, name).isEmpty();
}

QString JoinPath(const QString& folder, const QString& name) {
    const QChar sep = QDir::separator();
    if (folder.isEmpty()) {
        return name;
    }
    if (folder.endsWith(sep) || folder.endsWith('/')) {
        return folder + name;
    }
    return folder + sep + name;
}

bool IsNetworkFileSystemType(unsigned long type) {
    switch (type) {
        case 0x6969UL:      // NFS
        case 0x517BUL:      // SMB
        case 0xFF534D42UL:  // CIFS
        case 0xFE534D42UL:  // SMB2
        case 0x5346414FUL:  // AFS
        case 0x00C36400UL:  // Ceph
        case 0x01021997UL:  // 9P
        case 0x564CUL:      // NCP
        case 0x73757245UL:  // Coda
        case 0x65735546UL:  // FUSE (sshfs and other network mounts)
            return true;
        default:
            return false;
    }
}

bool OnNetworkFileSystem(const QString& path) {
#ifdef _WIN32
    const QString root = QFileInfo(path).absoluteFilePath().left(3);
    if (root.startsWith(QLatin1String("//")) || root.startsWith(QLatin1String("\\\\"))) {
        return true;
    }
    return GetDriveTypeW(reinterpret_cast<LPCWSTR>(QDir::toNativeSeparators(root).utf16())) ==
           DRIVE_REMOTE;
#else
    struct statfs info = {};
    if (statfs(QFile::encodeName(path).constData(), &info) != 0) {
        return false;
    }
    return IsNetworkFileSystemType(static_cast<unsigned long>(info.f_type));
#endif
}

}  // namespace platform
