// Folder processing through the real manager: frames saved as files, one of them corrupt, analysed in
// name order; the result equals analysing the good frames one by one.
#include <gtest/gtest.h>

#include <filesystem>
#include <linux/capability.h>
#include <random>
#include <utility>
#include <stdexcept>
#include <string>
#include <vector>

#include <sys/syscall.h>
#include <unistd.h>

#include "clust_anal_data.h"
#include "clust_folder.h"
#include "ombrel_test_support.h"
#include "platform/module.h"

namespace fs = std::filesystem;

namespace {

// A scratch app folder with its own manager and the simulated detector, started with one probe plug-in that
// hands the test the manager's table.
class HeadlessManager {
public:
    HeadlessManager()
        : dir_(ombrel_test::scratchDir("clust-folder-mgr")), oldCwd_(fs::current_path())
    {
        fs::create_directories(dir_ + "/hwlibs");
        fs::copy_file(CLUST_APP_DIR "/libTvkManager.so", dir_ + "/libTvkManager.so");
        fs::copy_file(CLUST_APP_DIR "/libTvkCtrl.so", dir_ + "/libTvkCtrl.so");
        fs::copy_file(CLUST_APP_DIR "/hwlibs/tvkHwDummy.so", dir_ + "/hwlibs/tvkHwDummy.so");
        fs::copy_file(CLUST_APP_DIR "/hwlibs/dummy_2000.txt", dir_ + "/hwlibs/dummy_2000.txt");
        fs::copy_file(CLUST_PROBE, dir_ + "/clust_table_probe.so");
        ombrel_test::writeFile(dir_ + "/hwlibs/tvkHwDummy.ini", "[Dummy]\nCount=1\nUnique=0\n");
        ombrel_test::writeFile(dir_ + "/tvkmanager.ini", "[Plugins]\nclust_table_probe.so\n");
        fs::current_path(dir_);
        if (!lib_.open(dir_ + "/libTvkManager.so"))
            throw std::runtime_error(lib_.error());
        reinterpret_cast<int (*)(void*, const void*)>(lib_.symbol("mgrSetUiHooks"))(nullptr, nullptr);
        if (reinterpret_cast<int (*)()>(lib_.symbol("mgrInitManager"))() != 0)
            throw std::runtime_error("the manager did not start");
        if (!probe_.open(dir_ + "/clust_table_probe.so"))
            throw std::runtime_error(probe_.error());
        const auto probe = reinterpret_cast<const _MgrFuncTable* (*)()>(probe_.symbol("clustProbeTable"));
        table_ = probe ? probe() : nullptr;
        if (!table_)
            throw std::runtime_error("the probe plug-in was not loaded");
    }
    ~HeadlessManager()
    {
        reinterpret_cast<int (*)()>(lib_.symbol("mgrUnloadManager"))();
        fs::current_path(oldCwd_);
    }
    const _MgrFuncTable* table() const { return table_; }
    const std::string& dir() const { return dir_; }
    int frameCount()
    {
        int n = 0;
        uint32_t id = 0;
        for (int rc = table_->mgrGetFirstFrame(&id); rc == 0; rc = table_->mgrGetNextFrame(&id))
            ++n;
        return n;
    }

private:
    std::string dir_;
    fs::path oldCwd_;
    plat::Module lib_;
    plat::Module probe_; // the manager's copy of the probe plug-in, one more reference
    const _MgrFuncTable* table_ = nullptr;
};

// While alive, the calling thread is held to the permission bits of files and folders even when it runs as
// root (the two capabilities that override them are off), so that a folder without permissions cannot be
// listed by it either.
class FolderPermissionsApply {
public:
    FolderPermissionsApply()
    {
        header_.version = _LINUX_CAPABILITY_VERSION_3;
        if (::syscall(SYS_capget, &header_, saved_) != 0)
            return;
        __user_cap_data_struct lowered[2] = {saved_[0], saved_[1]};
        for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
            lowered[CAP_TO_INDEX(cap)].effective &= ~CAP_TO_MASK(cap);
        active_ = ::syscall(SYS_capset, &header_, lowered) == 0;
    }
    ~FolderPermissionsApply()
    {
        if (active_)
            ::syscall(SYS_capset, &header_, saved_);
    }
    FolderPermissionsApply(const FolderPermissionsApply&) = delete;
    FolderPermissionsApply& operator=(const FolderPermissionsApply&) = delete;

private:
    __user_cap_header_struct header_{};
    __user_cap_data_struct saved_[2]{};
    bool active_ = false;
};

std::vector<int16_t> randomFrame(std::mt19937& rng)
{
    std::vector<int16_t> f(32 * 16, 0);
    std::uniform_int_distribution<int> pos(0, 32 * 16 - 1), value(1, 300), kind(0, 3);
    for (int n = 0; n < 12; ++n) {
        const int p = pos(rng);
        f[static_cast<size_t>(p)] = static_cast<int16_t>(value(rng));
        if (kind(rng) == 0 && p + 33 < static_cast<int>(f.size()))
            f[static_cast<size_t>(p + 1)] = f[static_cast<size_t>(p + 32)] = f[static_cast<size_t>(p + 33)] = 50;
    }
    return f;
}

ClustSettings spectraOn()
{
    ClustSettings s;
    s.GlobalSizeSpectAll = s.GlobalVolSpectAll = s.GlobalVolSpectValid = true;
    s.SizeSpectTo = 64;
    s.VolSpectTo = 2000;
    s.GlobVolSpectStep = 25;
    return s;
}

TEST(ClustFolder, HundredFramesOneCorruptEqualTheGoodOnesAnalysedOneByOne)
{
    HeadlessManager mgr;
    const _MgrFuncTable* t = mgr.table();
    const std::string folder = mgr.dir() + "/frames";
    fs::create_directories(folder);
    std::vector<std::string> logged;
    ClustAnalData oneByOne(t, 0, nullptr);
    ASSERT_TRUE(oneByOne.setSettings(spectraOn()).empty());
    std::mt19937 rng(5);
    const int corrupt = 37;
    for (int n = 0; n < 100; ++n) {
        const std::vector<int16_t> data = randomFrame(rng);
        uint32_t id = 0;
        ASSERT_EQ(t->mgrCreateFrame(&id, 32, 16, TYPE_I16, "test"), 0);
        ASSERT_EQ(t->mgrSetFrameData(id, data.data(), static_cast<uint32_t>(data.size() * 2)), 0);
        char name[64];
        std::snprintf(name, sizeof name, "/frame_%03d.bin", n);
        ASSERT_EQ(t->mgrSaveFrame(id, (folder + name).c_str(), 0x1 | 0x10), 0); // binary, int16, with ".dsc"
        if (n != corrupt) {
            ASSERT_EQ(oneByOne.processFrame(id, name), 0);
        }
        t->mgrCloseFrame(id, nullptr);
    }
    char corruptName[64];
    std::snprintf(corruptName, sizeof corruptName, "/frame_%03d.bin", corrupt);
    ASSERT_TRUE(ombrel_test::writeFile(folder + corruptName, "not a frame"));
    ASSERT_TRUE(fs::exists(fs::path(folder + corruptName).replace_extension(".dsc")));
    EXPECT_EQ(frameFilesOf(folder).size(), 100u);
    const int before = mgr.frameCount();

    ClustAnalData data(t, 0, [&](const std::string& text) { logged.push_back(text); });
    ASSERT_TRUE(data.setSettings(spectraOn()).empty());
    std::vector<int> progress;
    ClustFolderJob job(data, folder, [&](int done, int) { progress.push_back(done); });
    ASSERT_TRUE(job.start());
    ASSERT_TRUE(job.thread().waitFor(std::chrono::seconds(120)));
    EXPECT_EQ(job.thread().exitCode(), 99);
    EXPECT_EQ(job.failed(), 1);
    EXPECT_EQ(progress.size(), 101u);
    EXPECT_EQ(progress.back(), 100);
    EXPECT_EQ(mgr.frameCount(), before); // every loaded frame closed again

    EXPECT_EQ(data.sizeSpectrum(false).bins, oneByOne.sizeSpectrum(false).bins);
    EXPECT_EQ(data.volumeSpectrum(false).bins, oneByOne.volumeSpectrum(false).bins);
    EXPECT_EQ(data.volumeSpectrum(true).bins, oneByOne.volumeSpectrum(true).bins);
    EXPECT_EQ(data.totals().frames, 99);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_NE(logged[0].find(corruptName + 1), std::string::npos) << logged[0];

    // Aborted after ten files: the rest is left alone.
    ClustFolderJob* running = nullptr;
    ClustFolderJob aborted(data, folder, [&](int done, int) {
        if (done == 10)
            running->requestAbort();
    });
    running = &aborted;
    ASSERT_TRUE(aborted.start());
    ASSERT_TRUE(aborted.thread().waitFor(std::chrono::seconds(120)));
    EXPECT_EQ(aborted.done(), 10);
    EXPECT_EQ(data.totals().frames, 109);
}

TEST(ClustFolder, FolderThatCannotBeReadIsLoggedAndStillEndsWithTheClosingReport)
{
    const std::string dir = ombrel_test::scratchDir("clust-folder");
    ASSERT_TRUE(ombrel_test::writeFile(dir + "/file", "x"));
    fs::create_directories(dir + "/locked");
    ASSERT_TRUE(ombrel_test::writeFile(dir + "/locked/frame.bin", "x"));
    fs::permissions(dir + "/locked", fs::perms::none);
    struct Case {
        const char* name;
        std::string folder;
        const char* logPart;
    };
    const Case cases[] = {
        {"missing", dir + "/none", "/none\" cannot be read"},
        {"a file", dir + "/file", "/file\" cannot be read"},
        // Before, a folder that could not be listed passed for an empty one: "0 files analysed".
        {"no permission to list it", dir + "/locked", "/locked\" cannot be read"},
    };
    _MgrFuncTable none{};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> logged;
        ClustAnalData data(&none, 0, [&](const std::string& text) { logged.push_back(text); });
        // The window leaves its "Abort" state only on the report with done = total.
        std::vector<std::pair<int, int>> progress;
        ClustFolderJob job(data, c.folder, [&](int done, int total) { progress.emplace_back(done, total); });
        const FolderPermissionsApply asUser;
        std::error_code listing;
        fs::directory_iterator(c.folder, listing);
        ASSERT_TRUE(listing) << "the folder can be listed"; // no null manager call below
        EXPECT_EQ(job.processAll(), -1);
        ASSERT_EQ(logged.size(), 1u);
        EXPECT_NE(logged[0].find(c.logPart), std::string::npos) << logged[0];
        ASSERT_EQ(progress.size(), 1u);
        EXPECT_EQ(progress[0].first, progress[0].second);
    }
    fs::permissions(dir + "/locked", fs::perms::owner_all);
}

} // namespace
