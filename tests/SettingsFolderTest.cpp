#include "launcher/SettingsFolder.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
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
    };
    // A name that no machine has directly in /.
    const std::string inRoot = "/orbisk-launcher-test-" + std::to_string(::getpid());
    const std::string rootCase = inRoot + "/orbisk";
    const std::string rootMessage = "cannot make the folder " + inRoot + ": no folder is made directly in /";
    const Case cases[] = {
        {"{tmp}/home/.config/orbisk", {"home"}, "", {"home/.config", "home/.config/orbisk"}},
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
        try
        {
            tamsel::makeSettingsFolder(in(folder, c.folder));
        }
        catch (const tamsel::LaunchError& error)
        {
            message = error.what();
        }
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
            EXPECT_EQ(entry.st_mode & 07777, 0700u) << c.folder << ": " << made;
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
        {"room for half of it", 100000, "File too large"},
        {"no settings folder", RLIM_INFINITY, "No such file or directory"},
    };
    for (const Case& c : cases)
    {
        const TemporaryFolder shipped, folder;
        const std::string why = c.why;
        const std::string target = why == "no settings folder" ? folder.path() + "/missing" : folder.path();
        if (why == "a folder shipped")
            fs::create_directory(shipped.path() + "/Orbisk.png");
        else if (why != "no shipped file")
            writeFile(shipped.path() + "/Orbisk.png", patterned(200000));

        // A file that outgrows the limit fails to write, as on a full disk; the signal it would raise is ignored.
        struct rlimit limit = {};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
        const rlim_t previous = limit.rlim_cur;
        limit.rlim_cur = c.sizeLimit;
        const auto handler = std::signal(SIGXFSZ, SIG_IGN);
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        std::string message;
        try
        {
            tamsel::copyShippedFile(shipped.path(), target, "Orbisk.png", 0644);
        }
        catch (const tamsel::LaunchError& error)
        {
            message = error.what();
        }
        limit.rlim_cur = previous;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        std::signal(SIGXFSZ, handler);

        EXPECT_EQ(message, "cannot copy " + shipped.path() + "/Orbisk.png into " + target + ": " + c.reason) << why;
        EXPECT_EQ(entries(folder.path()), std::vector<std::string>{}) << why;
    }
}

TEST(ShippedFile, StartsCopyingAtOnceMakeOneWholeCopy)
{
    constexpr int rounds = 50;
    const TemporaryFolder shipped;
    const std::string content = patterned(300000);
    writeFile(shipped.path() + "/config.txt", content);
    for (int round = 0; round < rounds; ++round)
    {
        const TemporaryFolder folder;
        std::atomic<int> waiting{2};
        bool copied[2] = {};
        std::string failures[2];
        const auto start = [&](int which)
        {
            // Both begin together, as two starts of the menu entry would.
            --waiting;
            while (waiting.load() > 0)
                std::this_thread::yield();
            try
            {
                copied[which] = tamsel::copyShippedFile(shipped.path(), folder.path(), "config.txt", 0644);
            }
            catch (const tamsel::LaunchError& error)
            {
                failures[which] = error.what();
            }
        };
        std::thread first(start, 0), second(start, 1);
        first.join();
        second.join();
        ASSERT_EQ(failures[0] + failures[1], "") << "round " << round;
        ASSERT_NE(copied[0], copied[1]) << "round " << round << ": not exactly one copy";
        ASSERT_EQ(entries(folder.path()), std::vector<std::string>{"config.txt"}) << "round " << round;
        ASSERT_EQ(readFile(folder.path() + "/config.txt"), content) << "round " << round;
    }
}

} // namespace
