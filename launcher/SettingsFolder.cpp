#include "launcher/SettingsFolder.hpp"

#include "launcher/Messages.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tamsel
{

namespace
{

constexpr const char* settingsFile = "config.txt";
constexpr mode_t privateFolderMode = 0700; // a new settings folder is the user's alone, by the XDG rules
constexpr mode_t privateFileMode = 0600;   // a file the user alone reads and writes
constexpr size_t copyChunk = 65536;        // bytes read and written at a time

// A file descriptor, closed when it goes out of scope.
class FileDescriptor
{
public:
    explicit FileDescriptor(int descriptor) : m_descriptor(descriptor) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor()
    {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
    }

    bool isOpen() const { return m_descriptor >= 0; }
    int get() const { return m_descriptor; }

    // Closes it now, for close's own report: some file systems tell of a failed write only there.
    bool close()
    {
        const int descriptor = m_descriptor;
        m_descriptor = -1;
        return ::close(descriptor) == 0;
    }

private:
    int m_descriptor;
};

// A name in the file system, removed when it goes out of scope unless it is kept.
class TemporaryName
{
public:
    explicit TemporaryName(std::string path) : m_path(std::move(path)) {}
    TemporaryName(const TemporaryName&) = delete;
    TemporaryName& operator=(const TemporaryName&) = delete;
    ~TemporaryName()
    {
        if (!m_kept)
            ::unlink(m_path.c_str());
    }

    const std::string& path() const { return m_path; }
    void keep() { m_kept = true; }

private:
    std::string m_path;
    bool m_kept = false;
};

// The path without the slashes at its end, "/" staying "/".
std::string withoutTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string joined(const std::string& folder, const std::string& name)
{
    return folder == "/" ? "/" + name : folder + "/" + name;
}

std::string parentOf(const std::string& path)
{
    const std::string::size_type slash = path.find_last_of('/');
    return slash == 0 || slash == std::string::npos ? "/" : withoutTrailingSlashes(path.substr(0, slash));
}

// Whether `path` is the root folder, however it is spelt ("//", "/..", a link to it).
bool isRoot(const struct stat& folder)
{
    struct stat root;
    return ::stat("/", &root) == 0 && root.st_dev == folder.st_dev && root.st_ino == folder.st_ino;
}

// Makes one folder unless a folder (or a link to one) is there already.
void makeFolder(const std::string& folder)
{
    struct stat entry;
    if (::stat(folder.c_str(), &entry) == 0)
    {
        if (!S_ISDIR(entry.st_mode))
            throw LaunchError(messages::notAFolder(folder));
        return;
    }
    const std::string parentPath = parentOf(folder);
    struct stat parent;
    if (::stat(parentPath.c_str(), &parent) == 0)
    {
        if (isRoot(parent))
            throw LaunchError(messages::folderInRoot(folder));
        // Root started with the user's HOME (sudo -E) would make a folder the user cannot enter.
        const uid_t user = ::geteuid();
        if (parent.st_uid != user)
            throw LaunchError(messages::cannotMakeInAnotherUsersFolder(folder, parentPath, parent.st_uid, user));
    }
    if (::mkdir(folder.c_str(), privateFolderMode) == 0)
    {
        // mkdir gives no one else a right, but the umask may take the user's own: those are given back. A file
        // system whose modes are fixed when it is mounted (FAT) gives them anyway, and refuses a change.
        if (::stat(folder.c_str(), &entry) == 0 && (entry.st_mode & S_IRWXU) == S_IRWXU)
            return;
        if (::chmod(folder.c_str(), privateFolderMode) == 0)
            return;
        throw LaunchError(messages::cannotMakeFolder(folder, errno));
    }
    // Another start may have made it just now.
    const int error = errno;
    if (error == EEXIST && ::stat(folder.c_str(), &entry) == 0 && S_ISDIR(entry.st_mode))
        return;
    throw LaunchError(error == EEXIST ? messages::notAFolder(folder) : messages::cannotMakeFolder(folder, error));
}

// Gives the copy its mode. A file system whose modes are fixed when it is mounted (FAT, exFAT, many network
// shares) refuses a change; its own mode stands where it lets the user do all that `mode` lets them.
bool giveMode(int descriptor, mode_t mode)
{
    if (::fchmod(descriptor, mode) == 0)
        return true;
    const int error = errno;
    struct stat copy;
    if (error == EPERM && ::fstat(descriptor, &copy) == 0 && (copy.st_mode & mode & S_IRWXU) == (mode & S_IRWXU))
        return true;
    errno = error;
    return false;
}

// Whether link() failed for the file system has no hard links: FAT, exFAT, some network shares.
bool withoutHardLinks(int error)
{
    return error == EPERM || error == ENOTSUP || error == EOPNOTSUPP || error == ENOSYS || error == EXDEV;
}

// Writes all of `size` bytes, through interruptions and short writes.
bool writeAll(int descriptor, const char* data, size_t size)
{
    while (size > 0)
    {
        const ssize_t written = ::write(descriptor, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// Copies everything from `in` to `out`; false, with errno, when reading or writing fails.
bool copyContent(int in, int out)
{
    std::vector<char> buffer(copyChunk);
    for (;;)
    {
        const ssize_t count = ::read(in, buffer.data(), buffer.size());
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return false;
        if (count == 0)
            return true;
        if (!writeAll(out, buffer.data(), static_cast<size_t>(count)))
            return false;
    }
}

} // namespace

bool holdsSettingsFile(const std::string& folder)
{
    struct stat entry;
    return ::lstat(joined(folder, settingsFile).c_str(), &entry) == 0;
}

std::string findSettingsFolder(const char* home, const char* xdgConfigHome)
{
    if (xdgConfigHome && xdgConfigHome[0] == '/')
        return joined(withoutTrailingSlashes(xdgConfigHome), "orbisk");

    if (!home)
        throw LaunchError(messages::homeUnset());
    const std::string path = home;
    if (path.empty())
        throw LaunchError(messages::homeEmpty());
    if (path[0] != '/')
        throw LaunchError(messages::homeRelative(path));
    struct stat folder;
    if (::stat(path.c_str(), &folder) != 0)
        throw LaunchError(messages::homeNoFolder(path, errno));
    if (!S_ISDIR(folder.st_mode))
        throw LaunchError(messages::homeNoFolder(path, ENOTDIR));
    // The settings would become the whole system's.
    if (isRoot(folder))
        throw LaunchError(messages::homeIsRoot(path));
    return withoutTrailingSlashes(path) + "/.config/orbisk";
}

void makeSettingsFolder(const std::string& folder)
{
    makeFolder(parentOf(folder));
    makeFolder(folder);
}

mode_t copyMode(mode_t mask)
{
    return (0666 & ~mask) | S_IRUSR | S_IWUSR;
}

bool copyShippedFile(const std::string& shipped, const std::string& folder, const std::string& name, mode_t mode)
{
    const std::string source = joined(shipped, name);
    const std::string target = joined(folder, name);
    const auto fail = [&](int error) { return LaunchError(messages::cannotCopy(source, folder, error)); };

    struct stat entry;
    if (::lstat(target.c_str(), &entry) == 0)
        return false;
    const int missing = errno;
    // Root started with the user's HOME (sudo -E) would fill the user's folder with files they cannot change.
    const uid_t user = ::geteuid();
    struct stat into;
    if (::stat(folder.c_str(), &into) == 0 && into.st_uid != user)
        throw LaunchError(messages::cannotCopyIntoAnotherUsersFolder(source, folder, into.st_uid, user));
    if (missing != ENOENT)
        throw fail(missing);

    // Opening a pipe to read waits for a writer, unless it does not block; reading a regular file never does.
    FileDescriptor in(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!in.isOpen())
        throw fail(errno);
    struct stat shippedFile;
    if (::fstat(in.get(), &shippedFile) != 0)
        throw fail(errno);
    if (S_ISDIR(shippedFile.st_mode))
        throw fail(EISDIR);
    // A pipe or a device would block the start, or copy without end.
    if (!S_ISREG(shippedFile.st_mode))
        throw LaunchError(messages::shippedNotAFile(source, folder));

    // The copy is made under a name of its own, and appears under the final one only once it is whole.
    std::string pattern = joined(folder, "." + name + ".XXXXXX");
    FileDescriptor out(::mkostemp(pattern.data(), O_CLOEXEC));
    if (!out.isOpen())
        throw fail(errno);
    TemporaryName temporary(pattern);
    if (!copyContent(in.get(), out.get()) || !giveMode(out.get(), mode) || ::fsync(out.get()) != 0 || !out.close())
        throw fail(errno);

    // A link never replaces an entry: a start that comes second finds the first one's copy, or the user's file,
    // and leaves it be.
    if (::link(temporary.path().c_str(), target.c_str()) == 0)
        return true;
    if (errno == EEXIST)
        return false;
    if (!withoutHardLinks(errno))
        throw fail(errno);

    // Without hard links an empty file claims the name, which only one start can, and the whole copy then takes
    // the place of that claim. For that instant another start may find the name holding an empty file.
    FileDescriptor claim(::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, privateFileMode));
    if (!claim.isOpen())
    {
        if (errno == EEXIST)
            return false;
        throw fail(errno);
    }
    TemporaryName claimed(target);
    if (!claim.close() || ::rename(temporary.path().c_str(), target.c_str()) != 0)
        throw fail(errno);
    temporary.keep();
    claimed.keep();
    return true;
}

} // namespace tamsel
