#include "launcher/SettingsFolder.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <grp.h>
#include <iterator>
#include <pwd.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

namespace fs = std::filesystem;

const std::string noSettingsFolder = "cannot find the settings folder ~/.config/orbisk: ";

// A fresh folder of the test's own, removed with everything in it at the end.
class TemporaryFolder
{
public:
    TemporaryFolder()
    {
        std::string pattern = (fs::temp_directory_path() / "orbisk-launcher-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        m_path = pattern;
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    ~TemporaryFolder()
    {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }

    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

// The text with each "{tmp}" replaced by the folder's path.
std::string in(const TemporaryFolder& folder, std::string text)
{
    for (std::string::size_type at; (at = text.find("{tmp}")) != std::string::npos;)
        text.replace(at, 5, folder.path());
    return text;
}

void writeFile(const std::string& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary) << content;
}

std::string readFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The names in a folder, sorted, temporary copies included.
std::vector<std::string> entries(const std::string& folder)
{
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string patterned(size_t size)
{
    std::string content(size, '\0');
    for (size_t i = 0; i < size; ++i)
        content[i] = static_cast<char>('a' + i * 7 % 26);
    return content;
}

TEST(SettingsFolder, FoundFromTheEnvironmentOrNamedWhyNot)
{
    struct Case
    {
        const char* home;
        const char* xdgConfigHome;
        const char* expected; // the folder, or the message
    };
    const Case cases[] = {
        {"{tmp}", nullptr, "{tmp}/.config/orbisk"},
        {"{tmp}//", nullptr, "{tmp}/.config/orbisk"},
        {"{tmp}", "", "{tmp}/.config/orbisk"},
        {"{tmp}", "relative/config", "{tmp}/.config/orbisk"},
        {"{tmp}", "-v", "{tmp}/.config/orbisk"},
        {"{tmp}", "/elsewhere/config", "/elsewhere/config/orbisk"},
        {"{tmp}", "/elsewhere/config/", "/elsewhere/config/orbisk"},
        {nullptr, "/elsewhere/config", "/elsewhere/config/orbisk"},
        {"-v", "/elsewhere/config", "/elsewhere/config/orbisk"},
        {"{tmp}", "/", "/orbisk"},
        {nullptr, nullptr, "HOME is not set"},
        {nullptr, "relative/config", "HOME is not set"},
        {"", nullptr, "HOME is empty"},
        {"-v", nullptr, "HOME is not an absolute path: -v"},
        {"home/player", nullptr, "HOME is not an absolute path: home/player"},
        {"{tmp}/missing", nullptr, "HOME names no folder: {tmp}/missing: No such file or directory"},
        {"{tmp}/file", nullptr, "HOME names no folder: {tmp}/file: Not a directory"},
        {"/", nullptr, "HOME is the root folder: /"},
        {"//", nullptr, "HOME is the root folder: //"},
        {"/..", nullptr, "HOME is the root folder: /.."},
        {"{tmp}/root", nullptr, "HOME is the root folder: {tmp}/root"},
    };
    const TemporaryFolder folder;
    writeFile(folder.path() + "/file", "");
    fs::create_directory_symlink("/", folder.path() + "/root");
    for (const Case& c : cases)
    {
        const std::string home = c.home ? in(folder, c.home) : "";
        const std::string expected = in(folder, c.expected);
        std::string found;
        try
        {
            found = tamsel::findSettingsFolder(c.home ? home.c_str() : nullptr, c.xdgConfigHome);
        }
        catch (const tamsel::LaunchError& error)
        {
            found = error.what();
        }
        EXPECT_EQ(found, expected[0] == '/' ? expected : noSettingsFolder + expected)
            << "HOME " << (c.home ? c.home : "unset") << ", XDG_CONFIG_HOME "
            << (c.xdgConfigHome ? c.xdgConfigHome : "unset");
    }
}

TEST(SettingsFolder, MadeOfAtMostTwoPrivateFoldersNeverDirectlyInRoot)
{
    struct Case
    {
        const char* folder;
        std::vector<const char*> before; // folders there already, and "name=" for an empty file, "name>" a link
        const char* message;             // empty when the folder is made
        std::vector<const char*> made;
        mode_t mask = 022; // the umask it is made under
    };
    // A name that no machine has directly in /.
    const std::string inRoot = "/orbisk-launcher-test-" + std::to_string(::getpid());
    const std::string rootCase = inRoot + "/orbisk";
    const std::string rootMessage = "cannot make the folder " + inRoot + ": no folder is made directly in /";
    const Case cases[] = {
        {"{tmp}/home/.config/orbisk", {"home"}, "", {"home/.config", "home/.config/orbisk"}},
        {"{tmp}/home/.config/orbisk", {"home"}, "", {"home/.config", "home/.config/orbisk"}, 0277},
        {"{tmp}/home/.config/orbisk", {"home"}, "", {"home/.config", "home/.config/orbisk"}, 0777},
        {"{tmp}/home/.config/orbisk", {"home", "home/.config"}, "", {"home/.config/orbisk"}},
        {"{tmp}/home/.config/orbisk", {"home", "home/.config", "home/.config/orbisk"}, "", {}},
        {"{tmp}/xdg/orbisk", {"real", "xdg>"}, "", {"real/orbisk"}},
        {"{tmp}/xdg/config/orbisk", {}, "cannot make the folder {tmp}/xdg/config: No such file or directory", {}},
        {"{tmp}/file/orbisk", {"file="}, "cannot use the settings folder {tmp}/file: it is not a folder", {}},
        {"{tmp}/xdg/orbisk",
         {"xdg", "xdg/orbisk="},
         "cannot use the settings folder {tmp}/xdg/orbisk: it is not a folder",
         {}},
        {rootCase.c_str(), {}, rootMessage.c_str(), {}},
        {inRoot.c_str(), {}, rootMessage.c_str(), {}},
    };
    for (const Case& c : cases)
    {
        const TemporaryFolder folder;
        for (const char* entry : c.before)
        {
            std::string name = folder.path() + "/" + entry;
            const char kind = name.back();
            if (kind == '=' || kind == '>')
                name.pop_back();
            if (kind == '=')
                writeFile(name, "");
            else if (kind == '>')
                fs::create_directory_symlink(folder.path() + "/real", name);
            else
                fs::create_directory(name);
        }
        const std::vector<std::string> before = entries(folder.path());
        std::string message;
        const mode_t mask = ::umask(c.mask);
        try
        {
            tamsel::makeSettingsFolder(in(folder, c.folder));
        }
        catch (const tamsel::LaunchError& error)
        {
            message = error.what();
        }
        ::umask(mask);
        EXPECT_EQ(message, in(folder, c.message)) << c.folder;
        EXPECT_FALSE(fs::exists(inRoot)) << c.folder;
        if (c.made.empty())
        {
            EXPECT_EQ(entries(folder.path()), before) << c.folder;
        }
        for (const char* made : c.made)
        {
            struct stat entry = {};
            ASSERT_EQ(::stat((folder.path() + "/" + made).c_str(), &entry), 0) << c.folder << ": " << made;
            EXPECT_EQ(entry.st_mode & 07777, 0700u) << c.folder << ": " << made << ", umask 0" << std::oct << c.mask;
        }
    }
}

TEST(ShippedFile, CopiedWholeWhereTheUserHasNoEntryAndNeverOverTheirs)
{
    struct Case
    {
        const char* entry; // what the user has as config.txt: nothing, a file, a folder, a link
        bool copied;
    };
    const Case cases[] = {{"none", true}, {"file", false}, {"folder", false}, {"dangling link", false}};
    const std::string content = patterned(100000);
    for (const Case& c : cases)
    {
        const TemporaryFolder shipped, folder;
        writeFile(shipped.path() + "/config.txt", content);
        const std::string target = folder.path() + "/config.txt";
        const std::string kind = c.entry;
        if (kind == "file")
            writeFile(target, "region_size = 60\n");
        else if (kind == "folder")
            fs::create_directory(target);
        else if (kind == "dangling link")
            fs::create_symlink(folder.path() + "/gone.txt", target);

        EXPECT_EQ(tamsel::copyShippedFile(shipped.path(), folder.path(), "config.txt", 0640), c.copied) << kind;
        // Nothing besides the entry: no temporary copy, no file where a link leads.
        EXPECT_EQ(entries(folder.path()), std::vector<std::string>{"config.txt"}) << kind;
        if (kind == "none")
        {
            EXPECT_EQ(readFile(target), content);
            EXPECT_EQ(fs::status(target).permissions(), fs::perms(0640));
        }
        if (kind == "file")
        {
            EXPECT_EQ(readFile(target), "region_size = 60\n");
        }
        if (kind == "dangling link")
        {
            EXPECT_TRUE(fs::is_symlink(target) && !fs::exists(target));
        }
    }
}

TEST(ShippedFile, CopyThatFailsLeavesNoFileAndNamesTheReason)
{
    struct Case
    {
        const char* why;
        rlim_t sizeLimit; // bytes a file may grow to, or RLIM_INFINITY
        const char* reason;
    };
    const Case cases[] = {
        {"no shipped file", RLIM_INFINITY, "No such file or directory"},
        {"a folder shipped", RLIM_INFINITY, "Is a directory"},
        {"a pipe shipped", RLIM_INFINITY, "not a regular file"},
        {"a device shipped", 100000, "not a regular file"},
        {"room for half of it", 100000, "File too large"},
        {"no settings folder", RLIM_INFINITY, "No such file or directory"},
    };
    for (const Case& c : cases)
    {
        const TemporaryFolder shipped, folder;
        const std::string why = c.why;
        const std::string source = shipped.path() + "/Orbisk.png";
        const std::string target = why == "no settings folder" ? folder.path() + "/missing" : folder.path();
        if (why == "a folder shipped")
            fs::create_directory(source);
        else if (why == "a pipe shipped")
            ASSERT_EQ(::mkfifo(source.c_str(), 0644), 0);
        else if (why == "a device shipped")
            fs::create_symlink("/dev/zero", source);
        else if (why != "no shipped file")
            writeFile(source, patterned(200000));

        // A file that outgrows the limit fails to write, as on a full disk; the signal it would raise is ignored.
        struct rlimit limit = {};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
        const rlim_t previous = limit.rlim_cur;
        limit.rlim_cur = c.sizeLimit;
        const auto handler = std::signal(SIGXFSZ, SIG_IGN);
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        const auto attempt = [&]
        {
            try
            {
                tamsel::copyShippedFile(shipped.path(), target, "Orbisk.png", 0644);
            }
            catch (const tamsel::LaunchError& error)
            {
                return std::string(error.what());
            }
            return std::string();
        };
        std::future<std::string> copy = std::async(std::launch::async, attempt);
        // A copy stuck on the pipe, waiting for a writer that never comes, is given one with nothing to say.
        if (copy.wait_for(std::chrono::seconds(30)) == std::future_status::timeout)
        {
            ADD_FAILURE() << why << ": the copy waits for the pipe";
            ::close(::open(source.c_str(), O_WRONLY | O_NONBLOCK));
        }
        const std::string message = copy.get();
        limit.rlim_cur = previous;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        std::signal(SIGXFSZ, handler);

        EXPECT_EQ(message, "cannot copy " + source + " into " + target + ": " + c.reason) << why;
        EXPECT_EQ(entries(folder.path()), std::vector<std::string>{}) << why;
    }
}

// Two starts copy config.txt from `shipped` into `folder` at once, as a double click on the menu entry gives:
// exactly one copies, and the copy is whole.
void expectOneWholeCopyFromTwoStarts(const std::string& shipped, const std::string& folder, const std::string& content)
{
    std::atomic<int> waiting{2};
    bool copied[2] = {};
    std::string failures[2];
    const auto start = [&](int which)
    {
        // Both begin together.
        --waiting;
        while (waiting.load() > 0)
            std::this_thread::yield();
        try
        {
            copied[which] = tamsel::copyShippedFile(shipped, folder, "config.txt", 0644);
        }
        catch (const tamsel::LaunchError& error)
        {
            failures[which] = error.what();
        }
    };
    std::thread first(start, 0), second(start, 1);
    first.join();
    second.join();
    EXPECT_EQ(failures[0] + failures[1], "");
    EXPECT_NE(copied[0], copied[1]) << "not exactly one copy";
    EXPECT_EQ(entries(folder), std::vector<std::string>{"config.txt"});
    EXPECT_TRUE(readFile(folder + "/config.txt") == content) << "not the whole shipped file";
}

TEST(ShippedFile, StartsCopyingAtOnceMakeOneWholeCopy)
{
    constexpr int rounds = 50;
    const TemporaryFolder shipped;
    const std::string content = patterned(300000);
    writeFile(shipped.path() + "/config.txt", content);
    for (int round = 0; round < rounds && !::testing::Test::HasFailure(); ++round)
    {
        SCOPED_TRACE("round " + std::to_string(round));
        const TemporaryFolder folder;
        expectOneWholeCopyFromTwoStarts(shipped.path(), folder.path(), content);
    }
}

TEST(ShippedFile, CopyIsTheUsersToReadAndWriteWhateverTheUmask)
{
    struct Case
    {
        mode_t mask;
        mode_t mode;
    };
    const Case cases[] = {{022, 0644}, {002, 0664}, {0, 0666}, {077, 0600}, {0277, 0600}, {0777, 0600}};
    for (const Case& c : cases)
    {
        const TemporaryFolder shipped, folder;
        writeFile(shipped.path() + "/config.txt", "region_size = 55\n");
        const mode_t mask = ::umask(c.mask);
        const mode_t mode = tamsel::copyMode(c.mask);
        bool copied = false;
        try
        {
            copied = tamsel::copyShippedFile(shipped.path(), folder.path(), "config.txt", mode);
        }
        catch (const tamsel::LaunchError& error)
        {
            ADD_FAILURE() << error.what();
        }
        ::umask(mask);
        EXPECT_TRUE(copied) << "umask 0" << std::oct << c.mask;
        struct stat entry = {};
        ASSERT_EQ(::stat((folder.path() + "/config.txt").c_str(), &entry), 0);
        EXPECT_EQ(entry.st_mode & 07777, c.mode) << "umask 0" << std::oct << c.mask;
    }
}

// A user id that no account has, for the folders of another user.
uid_t unusedUserId()
{
    uid_t id = 4242;
    while (::getpwuid(id))
        ++id;
    return id;
}

// What `step` returns, run in a child process as the user `id`.
std::string runAs(uid_t id, const std::function<std::string()>& step)
{
    int channel[2];
    if (::pipe(channel) != 0)
        return "no pipe";
    const pid_t child = ::fork();
    if (child == 0)
    {
        ::close(channel[0]);
        const std::string result =
            ::setgroups(0, nullptr) == 0 && ::setgid(id) == 0 && ::setuid(id) == 0 ? step() : "setuid failed";
        const bool written = ::write(channel[1], result.data(), result.size()) == static_cast<ssize_t>(result.size());
        ::_exit(written ? 0 : 1);
    }
    ::close(channel[1]);
    std::string result;
    char buffer[4096];
    for (ssize_t count; (count = ::read(channel[0], buffer, sizeof buffer)) > 0;)
        result.append(buffer, static_cast<size_t>(count));
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return result;
}

TEST(SettingsFolder, NothingIsMadeOrCopiedInAnotherUsersFolder)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "giving folders to another user needs root";
    struct Case
    {
        const char* who;                 // "root" in folders of another user, as with sudo -E; "user" in root's folders
        std::vector<const char*> before; // entries there already, "name=" a file, all of the other one's
        const char* message;             // of making the settings folder and copying config.txt into it
    };
    const std::string theirs = "; nothing is made in another user's folder";
    const Case cases[] = {
        {"root",
         {"home"},
         "cannot make the folder {tmp}/home/.config: {tmp}/home belongs to {user}, not to root (uid 0), who runs "
         "this command"},
        {"root",
         {"home", "home/.config"},
         "cannot make the folder {tmp}/home/.config/orbisk: {tmp}/home/.config belongs to {user}, not to root (uid "
         "0), who runs this command"},
        {"root",
         {"home", "home/.config", "home/.config/orbisk"},
         "cannot copy {shipped}/config.txt into {tmp}/home/.config/orbisk: {tmp}/home/.config/orbisk belongs to "
         "{user}, not to root (uid 0), who runs this command"},
        {"root", {"home", "home/.config", "home/.config/orbisk", "home/.config/orbisk/config.txt="}, ""},
        {"user",
         {"home"},
         "cannot make the folder {tmp}/home/.config: {tmp}/home belongs to root (uid 0), not to {user}, who runs "
         "this command"},
        {"user",
         {"home", "home/.config", "home/.config/orbisk"},
         "cannot copy {shipped}/config.txt into {tmp}/home/.config/orbisk: {tmp}/home/.config/orbisk belongs to "
         "root (uid 0), not to {user}, who runs this command"},
    };
    const uid_t user = unusedUserId();
    const TemporaryFolder shipped;
    writeFile(shipped.path() + "/config.txt", "region_size = 55\n");
    fs::permissions(shipped.path(), fs::perms(0755));
    for (const Case& c : cases)
    {
        const std::string who = c.who;
        const TemporaryFolder folder;
        fs::permissions(folder.path(), fs::perms(0755));
        for (const char* entry : c.before)
        {
            std::string name = folder.path() + "/" + entry;
            if (name.back() == '=')
            {
                name.pop_back();
                writeFile(name, "region_size = 60\n");
            }
            else
            {
                fs::create_directory(name);
                fs::permissions(name, fs::perms(0755));
            }
            if (who == "root")
            {
                ASSERT_EQ(::chown(name.c_str(), user, user), 0) << name;
            }
        }
        const std::vector<std::string> before = entries(folder.path() + "/home");
        const auto start = [&]
        {
            try
            {
                tamsel::makeSettingsFolder(folder.path() + "/home/.config/orbisk");
                tamsel::copyShippedFile(shipped.path(), folder.path() + "/home/.config/orbisk", "config.txt", 0644);
            }
            catch (const tamsel::LaunchError& error)
            {
                return std::string(error.what());
            }
            return std::string();
        };
        const std::string message = who == "root" ? start() : runAs(user, start);

        std::string expected = in(folder, c.message);
        for (std::string::size_type at; (at = expected.find("{shipped}")) != std::string::npos;)
            expected.replace(at, 9, shipped.path());
        for (std::string::size_type at; (at = expected.find("{user}")) != std::string::npos;)
            expected.replace(at, 6, "uid " + std::to_string(user));
        EXPECT_EQ(message, expected.empty() ? expected : expected + theirs) << who << " " << c.before.back();
        EXPECT_EQ(entries(folder.path() + "/home"), before) << who << " " << c.before.back();
        if (c.before.size() >= 3)
        {
            EXPECT_EQ(entries(folder.path() + "/home/.config/orbisk").size(), c.before.size() - 3);
        }
    }
}

// A small exFAT disk mounted through FUSE, as USB sticks and memory cards are: a file system without hard links.
// Needs root, a free loop device, and mkfs.exfat and mount.exfat-fuse (the packages exfatprogs and exfat-fuse).
class ExfatDisk
{
public:
    ExfatDisk()
    {
        const std::string image = m_folder.path() + "/disk.img";
        m_mountPoint = m_folder.path() + "/mnt";
        fs::create_directory(m_mountPoint);
        if (::geteuid() != 0)
        {
            m_missing = "root, to mount a disk";
            return;
        }
        if (!run("truncate -s 8M " + image + " && mkfs.exfat " + image))
        {
            m_missing = "mkfs.exfat (the package exfatprogs)";
            return;
        }
        std::FILE* losetup = ::popen(("losetup --find --show " + image + " 2>/dev/null").c_str(), "r");
        char device[256] = {};
        if (!losetup || !std::fgets(device, sizeof device, losetup) || ::pclose(losetup) != 0)
        {
            m_missing = "a free loop device";
            return;
        }
        m_device = device;
        m_device.erase(m_device.find_last_not_of('\n') + 1);
        if (!run("mount.exfat-fuse " + m_device + " " + m_mountPoint))
        {
            m_missing = "mount.exfat-fuse (the package exfat-fuse) and /dev/fuse";
            return;
        }
        m_mounted = true;
    }
    ExfatDisk(const ExfatDisk&) = delete;
    ExfatDisk& operator=(const ExfatDisk&) = delete;
    ~ExfatDisk()
    {
        if (m_mounted)
            run("umount " + m_mountPoint);
        if (!m_device.empty())
            run("losetup --detach " + m_device);
    }

    // What is missing to mount it, or empty once it is mounted.
    const std::string& missing() const { return m_missing; }
    const std::string& path() const { return m_mountPoint; }

private:
    static bool run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

    TemporaryFolder m_folder;
    std::string m_mountPoint;
    std::string m_device;
    std::string m_missing;
    bool m_mounted = false;
};

TEST(ShippedFile, CopiedWholeOnceWhereTheFileSystemHasNoHardLinks)
{
    const ExfatDisk disk;
    if (!disk.missing().empty())
        GTEST_SKIP() << "no exFAT disk to test on: this needs " << disk.missing();
    const TemporaryFolder shipped;
    const std::string content = patterned(300000);
    writeFile(shipped.path() + "/config.txt", content);

    // The user's file stays.
    const std::string kept = disk.path() + "/kept";
    fs::create_directory(kept);
    writeFile(kept + "/config.txt", "region_size = 60\n");
    try
    {
        EXPECT_FALSE(tamsel::copyShippedFile(shipped.path(), kept, "config.txt", 0644));
    }
    catch (const tamsel::LaunchError& error)
    {
        ADD_FAILURE() << error.what();
    }
    EXPECT_EQ(entries(kept), std::vector<std::string>{"config.txt"});
    EXPECT_EQ(readFile(kept + "/config.txt"), "region_size = 60\n");

    // A copy where there is none, from one start and from two at once.
    const std::string alone = disk.path() + "/alone";
    fs::create_directory(alone);
    try
    {
        EXPECT_TRUE(tamsel::copyShippedFile(shipped.path(), alone, "config.txt", 0644));
    }
    catch (const tamsel::LaunchError& error)
    {
        ADD_FAILURE() << error.what();
    }
    EXPECT_EQ(entries(alone), std::vector<std::string>{"config.txt"});
    EXPECT_TRUE(readFile(alone + "/config.txt") == content) << "not the whole shipped file";
    for (int round = 0; round < 10 && !::testing::Test::HasFailure(); ++round)
    {
        SCOPED_TRACE("round " + std::to_string(round));
        const std::string folder = disk.path() + "/race-" + std::to_string(round);
        fs::create_directory(folder);
        expectOneWholeCopyFromTwoStarts(shipped.path(), folder, content);
    }
}

} // namespace
