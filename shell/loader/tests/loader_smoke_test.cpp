// The loader program end to end, headless: started in a scratch app folder with the simulated detector,
// it runs until a quit signal, then ends with code 0 after the Exit sequence has saved the settings. A
// quit signal that comes while a start-up box waits for the user answers the box with its default and
// ends the loader the same way.
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "ombrel_test_support.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ombrel_test::readFile;

namespace {

// How long the loader may take to get ready; a start that never ends fails the test, not CI.
constexpr auto kStartLimit = 60s;
// How long the loader may take to end after a quit signal (it ends within about a second; a loaded machine
// may take much longer, a loader that waits for its start or for a box does not end at all).
constexpr auto kQuitLimit = 30s;

// The simulated detector's own configuration, written by the Exit sequence.
constexpr const char* kDeviceConfig = "configs/dummy_2000.tcf";

// A copy of the parts of the app folder that the loader needs (symbolic links would make the manager
// find its ini file in the original folder), with the given ini file.
fs::path makeAppFolder(const std::string& name, const std::string& ini)
{
    const fs::path dir = ombrel_test::scratchDir("shell-smoke-" + name);
    fs::create_directories(dir / "hwlibs");
    fs::create_directories(dir / "configs");
    fs::create_directories(dir / "runtime");
    fs::permissions(dir / "runtime", fs::perms::owner_all, fs::perm_options::replace);
    const fs::path app = TEST_APP_DIR;
    for (const char* file : {"TvkLoader", "libTvkCtrl.so", "libTvkManager.so", "libTvkMgrUtils.so", "libTvkPlatform.so"})
        fs::copy_file(app / file, dir / file);
    for (const char* file : {"tvkHwDummy.so", "tvkHwDummy.ini", "dummy_2000.txt"})
        fs::copy_file(app / "hwlibs" / file, dir / "hwlibs" / file);
    if (fs::exists(app / "configs"))
        fs::copy(app / "configs", dir / "configs", fs::copy_options::recursive | fs::copy_options::skip_existing);
    fs::remove(dir / kDeviceConfig); // left by a run in the app folder itself
    ombrel_test::writeFile((dir / "tvkmanager.ini").string(), ini);
    return dir;
}

// Whether the process catches sig (its handler is installed).
bool catches(pid_t pid, int sig)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("SigCgt:", 0) == 0)
            return (std::stoull(line.substr(7), nullptr, 16) >> (sig - 1)) & 1;
    }
    return false;
}

// The loader in dir, headless, ended with SIGKILL when the test program goes. Every Qt warning ends it,
// unless real boxes are meant to show: the headless platform warns for each box that it cannot pass on
// size hints, so then its standard error goes to dir/stderr.txt for the test to read.
pid_t startLoader(const fs::path& dir, bool boxesShow = false)
{
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent)
        _exit(119);
    if (chdir(dir.c_str()) != 0)
        _exit(120);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (boxesShow) {
        const int fd = open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || dup2(fd, STDERR_FILENO) < 0)
            _exit(122);
        unsetenv("QT_FATAL_WARNINGS");
    } else {
        setenv("QT_FATAL_WARNINGS", "1", 1);
    }
    setenv("XDG_RUNTIME_DIR", (dir / "runtime").c_str(), 1);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    execl("./TvkLoader", "TvkLoader", static_cast<char*>(nullptr));
    _exit(121);
}

// The exit status, or -1 when the process did not end in time (it is then killed).
int waitForEnd(pid_t pid, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(20ms);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Ends a loader that a failed assertion left running.
struct LoaderGuard {
    pid_t pid;
    ~LoaderGuard()
    {
        if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
};

// Waits until pred holds or the start limit is over.
template <class Pred>
bool waitFor(Pred pred)
{
    const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

struct SignalCase {
    int signal;
    const char* name;
};
constexpr SignalCase kSignalCases[] = {{SIGTERM, "term"}, {SIGINT, "int"}, {SIGHUP, "hup"}};

TEST(LoaderSmokeTest, QuitSignalsEndTheLoaderThroughExitAndSaveTheSettings)
{
    for (const SignalCase& c : kSignalCases) {
        const fs::path dir = makeAppFolder(c.name, "; kept\n[Plugins]\n");
        const pid_t pid = startLoader(dir);
        ASSERT_GT(pid, 0);
        LoaderGuard guard{pid};
        ASSERT_TRUE(waitFor([&] { return catches(pid, c.signal); })) << c.name << ": the loader never got ready";

        ASSERT_EQ(kill(pid, c.signal), 0);
        EXPECT_EQ(waitForEnd(pid, kStartLimit), 0) << c.name;

        const std::string ini = readFile((dir / "tvkmanager.ini").string());
        EXPECT_EQ(ini.rfind("; kept\n[Plugins]\n", 0), 0u) << ini;
        for (const char* section : {"[Filter instances]", "[Filter chains]", "[Splash screen]"})
            EXPECT_NE(ini.find(section), std::string::npos) << c.name << ": " << section << " in\n" << ini;
        const std::string log = readFile((dir / "log.txt").string());
        EXPECT_NE(log.find("Number of successfully initialized devices"), std::string::npos)
            << "the simulated detector was found:\n" << log;
        EXPECT_NE(log.find("TvkManager unloaded..."), std::string::npos) << log;
        fs::remove_all(dir);
    }
}

// Two listed plug-ins that are missing: each gives a warning box and the question "Do you want to remove
// it from ini file?". The signal comes while the first box is open; it must answer that box (OK), every
// later one at once (OK, No: both stay listed), and run Exit, which writes the ini file and the device's
// configuration. Before, Exit waited for the end of the start, which waited for the box: for ever.
TEST(LoaderSmokeTest, QuitSignalWhileAStartUpBoxIsOpenAnswersTheBoxesAndSavesTheSettings)
{
    for (const SignalCase& c : kSignalCases) {
        const fs::path dir = makeAppFolder(std::string("box-") + c.name,
                                           "; kept\n[Plugins]\nnosuch_plugin.so\nplugins/gone.so\n");
        const pid_t pid = startLoader(dir, true);
        ASSERT_GT(pid, 0);
        LoaderGuard guard{pid};
        // The failure is logged just before its box opens; the signal is read only by the box's loop.
        ASSERT_TRUE(waitFor([&] {
            return readFile((dir / "log.txt").string()).find("Cannot open plugin") != std::string::npos &&
                   catches(pid, c.signal);
        })) << c.name << ": no start-up box";

        ASSERT_EQ(kill(pid, c.signal), 0);
        EXPECT_EQ(waitForEnd(pid, kQuitLimit), 0) << c.name << ": the loader did not end after the signal";

        const std::string ini = readFile((dir / "tvkmanager.ini").string());
        EXPECT_EQ(ini.rfind("; kept\n[Plugins]\nnosuch_plugin.so\nplugins/gone.so\n", 0), 0u)
            << c.name << ": both stay listed:\n" << ini;
        EXPECT_NE(ini.find("[Filter instances]"), std::string::npos) << c.name << ": Exit wrote\n" << ini;
        EXPECT_TRUE(fs::is_regular_file(dir / kDeviceConfig)) << c.name << ": " << kDeviceConfig;
        const std::string log = readFile((dir / "log.txt").string());
        EXPECT_NE(log.find("gone.so"), std::string::npos) << c.name << ": the start went on:\n" << log;
        EXPECT_NE(log.find("TvkManager unloaded..."), std::string::npos) << log;

        std::istringstream errors(readFile((dir / "stderr.txt").string()));
        for (std::string line; std::getline(errors, line);)
            EXPECT_TRUE(line.empty() || line == "This plugin does not support propagateSizeHints()")
                << c.name << ": " << line;
        fs::remove_all(dir);
    }
}

// A [Plugins] list of two million entries (4 MiB, all the same missing plug-in): the start tries only the
// first of them, says so in the log, and a quit signal at any moment of the start ends the loader through
// Exit, which writes the whole list back. Before, the start tried every entry (over a minute, gigabytes
// of queued log entries) and the signal waited for it.
TEST(LoaderSmokeTest, AHugePluginListStillEndsOnAQuitSignalAtEveryStage)
{
    std::string ini = "[Plugins]\n";
    ini.reserve(ini.size() + 4'000'000);
    for (int i = 0; i < 2'000'000; ++i)
        ini += "p\n";
    const std::chrono::milliseconds delays[] = {0ms, 50ms, 200ms, 600ms, 1500ms};
    for (const auto delay : delays) {
        const std::string name = "huge-" + std::to_string(delay.count());
        const fs::path dir = makeAppFolder(name, ini);
        const pid_t pid = startLoader(dir, true);
        ASSERT_GT(pid, 0);
        LoaderGuard guard{pid};
        ASSERT_TRUE(waitFor([&] { return catches(pid, SIGTERM); })) << name << ": the loader never got ready";
        std::this_thread::sleep_for(delay);

        ASSERT_EQ(kill(pid, SIGTERM), 0);
        EXPECT_EQ(waitForEnd(pid, kQuitLimit), 0) << name << ": the loader did not end after the signal";

        const std::string saved = readFile((dir / "tvkmanager.ini").string());
        EXPECT_EQ(saved.compare(0, ini.size(), ini), 0) << name << ": the list is written back whole";
        EXPECT_NE(saved.find("[Filter instances]"), std::string::npos) << name << ": Exit ran";
        const std::string log = readFile((dir / "log.txt").string());
        EXPECT_NE(log.find("Section [Plugins] lists 1999744 more plugins than the 256 that are loaded at most"),
                  std::string::npos)
            << name;
        EXPECT_NE(log.find("TvkManager unloaded..."), std::string::npos) << name;
        fs::remove_all(dir);
    }
}

} // namespace
