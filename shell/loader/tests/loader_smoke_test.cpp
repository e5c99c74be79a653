// The loader program end to end, headless: started in a scratch app folder with the simulated detector,
// it runs until a quit signal, then ends with code 0 after the Exit sequence has saved the settings.
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string readAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A copy of the parts of the app folder that the loader needs (symbolic links would make the manager
// find its ini file in the original folder).
fs::path makeAppFolder(const std::string& name)
{
    const char* root = std::getenv("OMBREL_TEST_TMP");
    const fs::path dir = fs::path(root && *root ? root : "/tmp") / ("shell-smoke-" + name + "-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "hwlibs");
    fs::create_directories(dir / "configs");
    fs::create_directories(dir / "runtime");
    fs::permissions(dir / "runtime", fs::perms::owner_all, fs::perm_options::replace);
    const fs::path app = TEST_APP_DIR;
    for (const char* file : {"TvkLoader", "libTvkCtrl.so", "libTvkManager.so", "libTvkMgrUtils.so"})
        fs::copy_file(app / file, dir / file);
    for (const char* file : {"tvkHwDummy.so", "tvkHwDummy.ini", "dummy_2000.txt"})
        fs::copy_file(app / "hwlibs" / file, dir / "hwlibs" / file);
    if (fs::exists(app / "configs"))
        fs::copy(app / "configs", dir / "configs", fs::copy_options::recursive | fs::copy_options::skip_existing);
    std::ofstream(dir / "tvkmanager.ini") << "; kept\n[Plugins]\n";
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

pid_t startLoader(const fs::path& dir)
{
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    if (chdir(dir.c_str()) != 0)
        _exit(120);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("QT_FATAL_WARNINGS", "1", 1);
    setenv("XDG_RUNTIME_DIR", (dir / "runtime").c_str(), 1);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    execl("./TvkLoader", "TvkLoader", static_cast<char*>(nullptr));
    _exit(121);
}

// The exit status, or -1 when the process did not end in time (it is then killed).
int waitForEnd(pid_t pid, std::chrono::seconds limit)
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

TEST(LoaderSmokeTest, QuitSignalsEndTheLoaderThroughExitAndSaveTheSettings)
{
    struct Case {
        int signal;
        const char* name;
    } cases[] = {{SIGTERM, "term"}, {SIGINT, "int"}, {SIGHUP, "hup"}};
    for (const Case& c : cases) {
        const fs::path dir = makeAppFolder(c.name);
        const pid_t pid = startLoader(dir);
        ASSERT_GT(pid, 0);
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (!catches(pid, c.signal) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(20ms);
        ASSERT_TRUE(catches(pid, c.signal)) << c.name << ": the loader never got ready";

        ASSERT_EQ(kill(pid, c.signal), 0);
        EXPECT_EQ(waitForEnd(pid, 60s), 0) << c.name;

        const std::string ini = readAll(dir / "tvkmanager.ini");
        EXPECT_EQ(ini.rfind("; kept\n[Plugins]\n", 0), 0u) << ini;
        for (const char* section : {"[Filter instances]", "[Filter chains]", "[Splash screen]"})
            EXPECT_NE(ini.find(section), std::string::npos) << c.name << ": " << section << " in\n" << ini;
        const std::string log = readAll(dir / "log.txt");
        EXPECT_NE(log.find("Number of successfully initialized devices"), std::string::npos)
            << "the simulated detector was found:\n" << log;
        EXPECT_NE(log.find("TvkManager unloaded..."), std::string::npos) << log;
        fs::remove_all(dir);
    }
}

} // namespace
