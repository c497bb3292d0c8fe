#include "shell/addfolder.h"

#include "shell/dialogs.h"
#include "value/value.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm::shell {

namespace {

constexpr QChar kSeparator = QLatin1Char('/');

// Windows attribute bits, as the folder filter speaks of them.
constexpr int kHidden = 2;
constexpr int kSystem = 4;
constexpr int kDirectory = 16;
constexpr int kReparsePoint = 1024;

[[noreturn]] void fail(const QString& text, int err)
{
    throw qm::Error((text + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(err))).toStdString());
}

QString withoutTrailingSeparator(const QString& path)
{
    QString p = path;
    while (p.size() > 1 && p.endsWith(kSeparator))
        p.chop(1);
    return p;
}

// The folder's attributes in Windows terms (see the header on what hidden
// and system mean here).  Throws when the folder can't be examined.
int folderAttributes(const QString& folder)
{
    const QString p = withoutTrailingSeparator(folder);
    struct stat st {};
    if (::lstat(QFile::encodeName(p).constData(), &st) != 0)
        fail(QStringLiteral("The folder %1 can't be examined").arg(QDir::toNativeSeparators(folder)), errno);
    int attributes = 0;
    if (S_ISDIR(st.st_mode))
        attributes |= kDirectory;
    if (S_ISLNK(st.st_mode))
        attributes |= kDirectory | kReparsePoint; // only folders are walked
    const QString name = p.section(kSeparator, -1);
    if (name.startsWith(QLatin1Char('.')) && name != QLatin1String(".") && name != QLatin1String(".."))
        attributes |= kHidden;
    return attributes;
}

bool passesFolderFilter(const QString& folder)
{
    const int attributes = folderAttributes(folder);
    const bool hiddenSystem = attributes == (kDirectory | kHidden | kSystem) ||
                              attributes == (kDirectory | kHidden | kSystem | kReparsePoint);
    return !hiddenSystem || withoutTrailingSeparator(folder) == QStringLiteral("/");
}

bool lessIgnoringCase(const QString& a, const QString& b)
{
    const int c = a.compare(b, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a < b;
}

enum class Enumeration { Done, PermissionDenied };

// Appends folder + name + "/" for each direct sub-folder that is safe to
// walk.  Linked folders are not followed.
Enumeration addDirectSubFolders(const QString& folder, QStringList& out)
{
    const QByteArray native = QFile::encodeName(withoutTrailingSeparator(folder));
    DIR* dir = ::opendir(native.constData());
    if (!dir)
        return errno == EACCES ? Enumeration::PermissionDenied : Enumeration::Done;

    QStringList names;
    while (true) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (!entry)
            break; // the end, or a failure that ends this folder quietly
        const char* raw = entry->d_name;
        if (std::strcmp(raw, ".") == 0 || std::strcmp(raw, "..") == 0)
            continue;
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat st {};
            isFolder = ::fstatat(::dirfd(dir), raw, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
        }
        if (!isFolder)
            continue;
        DoEvents();
        const QString name = QFile::decodeName(raw);
        if (HasUnsafeChars(name) || name.contains(QLatin1Char('?')))
            continue;
        names << name;
    }
    ::closedir(dir);

    // NTFS lists a folder in name order; readdir's order here is the
    // file system's hashing, which means nothing to the user.
    std::sort(names.begin(), names.end(), lessIgnoringCase);
    QString base = folder;
    if (!base.endsWith(kSeparator))
        base += kSeparator;
    for (const QString& name : names)
        out << base + name + kSeparator;
    return Enumeration::Done;
}

// Windows-1252 bytes 0x80..0x9F, as Unicode (0 where the byte is unused).
constexpr char16_t kHighControlRange[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

bool matchFrom(const QString& name, qsizetype n, const QString& pattern, qsizetype p)
{
    while (p < pattern.size()) {
        const QChar pc = pattern[p];
        if (pc == QLatin1Char('*')) {
            while (p < pattern.size() && pattern[p] == QLatin1Char('*'))
                ++p;
            if (p == pattern.size())
                return true;
            for (qsizetype k = n; k <= name.size(); ++k)
                if (matchFrom(name, k, pattern, p))
                    return true;
            return false;
        }
        if (n == name.size())
            return false;
        if (pc != QLatin1Char('?') && pc != name[n])
            return false;
        ++n;
        ++p;
    }
    return n == name.size();
}

} // namespace

bool PathExists(const QString& path)
{
    if (path.isEmpty())
        return false;
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0;
}

QString BrowseForFolder(QWidget* owner, const QString& title) { return Dialogs().browseForFolder(owner, title); }

void AddSubFolders(QStringList& folders, bool recurse)
{
    QStringList newFolders;
    for (qsizetype i = 0; i < folders.size();) {
        DoEvents();
        const QString folder = folders[i];
        if (passesFolderFilter(folder) && addDirectSubFolders(folder, newFolders) == Enumeration::PermissionDenied) {
            folders.removeAt(i);
            continue;
        }
        ++i;
    }
    if (recurse && !newFolders.isEmpty())
        AddSubFolders(newFolders, true);
    for (const QString& folder : newFolders)
        if (passesFolderFilter(folder))
            folders << folder;
}

int Windows1252Code(QChar c)
{
    const char16_t u = c.unicode();
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF))
        return u;
    if (u <= 0x9F) // the unused bytes map straight through
        return u;
    for (int i = 0; i < 32; ++i)
        if (kHighControlRange[i] == u)
            return 0x80 + i;
    return 63;
}

bool HasUnsafeChars(const QString& name)
{
    for (QChar c : name) {
        const int code = Windows1252Code(c);
        if (code == 63 || code < 32 || (code >= 127 && code <= 159))
            return true;
    }
    return false;
}

bool MatchesPattern(const QString& name, const QString& pattern)
{
    if (pattern == QLatin1String("*.*") || pattern == QLatin1String("*"))
        return true;
    return matchFrom(name.toCaseFolded(), 0, pattern.toCaseFolded(), 0);
}

QStringList ListFiles(const QString& folder, const QString& pattern)
{
    QString base = folder;
    if (!base.endsWith(kSeparator))
        base += kSeparator;
    DIR* dir = ::opendir(QFile::encodeName(base).constData());
    if (!dir)
        fail(QStringLiteral("The folder %1 can't be read").arg(QDir::toNativeSeparators(base)), errno);
    QStringList names;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_type == DT_DIR)
            continue;
        const QString name = QFile::decodeName(entry->d_name);
        if (MatchesPattern(name, pattern) && FileIsPresent(base + name))
            names << name;
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end(), lessIgnoringCase);
    return names;
}

bool FileIsPresent(const QString& path)
{
    if (path.isEmpty())
        return false;
    // O_PATH asks for no access rights, like the Windows test.
    const int fd = ::open(QFile::encodeName(path).constData(), O_PATH | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    return regular;
}

} // namespace qm::shell
