// The built module as the device-control library meets it: a copy of tvkHwDorvel.so in a scratch folder
// with its settings file beside it, opened at run time. Its one export, the enumeration without a card,
// faults named in the settings file, and the debug log in the current folder, also where it cannot be
// written.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>
#include <string>

#include "ombrel_test_support.h"
#include "platform/module.h"
#include "tvk_hw.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kLog = "__debug_dorvelhwlib.log";

// A private copy of the module with the given settings, run with the scratch folder as current folder.
class ModuleCopy {
public:
    ModuleCopy(const std::string& tag, const std::string& ini)
        : dir_(ombrel_test::scratchDir("dorvel-module-" + tag)), oldCwd_(fs::current_path())
    {
        fs::create_directories(dir_ + "/hwlibs");
        fs::copy_file(DORVEL_LIBRARY_PATH, dir_ + "/hwlibs/tvkHwDorvel.so");
        ombrel_test::writeFile(dir_ + "/hwlibs/tvkHwDorvel.ini", ini);
        fs::current_path(dir_);
    }
    ~ModuleCopy()
    {
        module_.close();
        fs::current_path(oldCwd_);
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    const _HwFuncTable& open()
    {
        if (!module_.open(dir_ + "/hwlibs/tvkHwDorvel.so"))
            throw std::runtime_error(module_.error());
        auto entry = reinterpret_cast<GetMandatoryFuncsFn>(module_.symbol(TVK_HW_ENTRY_NAME));
        if (!entry)
            throw std::runtime_error(module_.error());
        return *entry();
    }
    plat::Module& module() { return module_; }
    const std::string& dir() const { return dir_; }

private:
    std::string dir_;
    fs::path oldCwd_;
    plat::Module module_;
};

int noCallback(void*, int, int)
{
    return 0;
}

// The one export; without any card set up the enumeration has no device and no error; with cards set up
// but none of a type the library drives, it fails with the missing card's message.
TEST(Module, OneExportAndTheEnumerationWithoutACard)
{
    struct Case {
        const char* settings;
        int first;
        const char* general;
    };
    const Case cases[] = {
        {"Cards = 0\n", HW_NO_MORE_DEVICES, ""},
        {"Cards = 2\nTypeCode = 99\n", -7, "No National Instruments card for Tarvik-2 was found."},
    };
    int serial = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.settings);
        ModuleCopy copy("nocard" + std::to_string(serial++), std::string("[SimCard]\n") + c.settings);
        const _HwFuncTable& table = copy.open();
        EXPECT_EQ(table.size, sizeof(_HwFuncTable));
        EXPECT_EQ(copy.module().symbol("hwGetFirst"), nullptr);
        EXPECT_EQ(table.hwGetHwInfoCount(), 14);
        int id = 3;
        EXPECT_EQ(table.hwGetFirst(&id), c.first);
        EXPECT_STREQ(table.hwGetLastErrorGeneral(), c.general);
        EXPECT_EQ(table.hwInit(0), -1); // no device has the id
    }
}

// The debug log is created, emptied, when the library starts (not at its first line), so that no log of
// an earlier run survives; without any card set up none is created.
TEST(Module, DebugLogIsCreatedAtLibraryStart)
{
    struct Case {
        const char* settings;
        bool created;
    };
    const Case cases[] = {{"Cards = 1\n", true}, {"Cards = 0\n", false}};
    int serial = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.settings);
        ModuleCopy copy("start" + std::to_string(serial++), std::string("[SimCard]\n") + c.settings);
        const std::string log = copy.dir() + "/" + kLog;
        if (c.created)
            ombrel_test::writeFile(log, "a line of an earlier run\n");
        copy.open();
        EXPECT_EQ(fs::exists(log), c.created);
        if (c.created)
            EXPECT_EQ(ombrel_test::readFile(log), "");
    }
}

TEST(Module, FaultsNamedInTheSettingsFile)
{
    struct Case {
        const char* settings;
        int code;
        const char* text;
    };
    const Case cases[] = {
        {"FailCall = DIG_Grp_Config\n", -10, "Nidaq call of DIG_Grp_Config failed, error code: -10403"},
        {"StallAfterWords = 0\n", -4, "Operation timeout (readData), byte remains: 2"},
        {"FaultBoard = 2\nStallAfterWords = 0\n", 0, ""},
    };
    int serial = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.settings);
        ModuleCopy copy("faults" + std::to_string(serial++), std::string("[SimCard]\nCards = 1\n") + c.settings);
        const _HwFuncTable& table = copy.open();
        int id = -1;
        ASSERT_EQ(table.hwGetFirst(&id), 0);
        EXPECT_EQ(table.hwInit(id), c.code);
        EXPECT_STREQ(table.hwGetLastError(id), c.text);
    }
}

TEST(Module, DebugLogIsWrittenInTheCurrentFolder)
{
    ModuleCopy copy("log", "[SimCard]\nCards = 1\nChips = 1\nChipType = 2\n");
    const _HwFuncTable& table = copy.open();
    int id = -1;
    ASSERT_EQ(table.hwGetFirst(&id), 0);
    ASSERT_EQ(table.hwSetCb(&noCallback), 0);
    const int32_t on = 1;
    ASSERT_EQ(table.hwSetHwInfo(id, 12, &on, 4), 0); // "Tracing"
    ASSERT_EQ(table.hwInit(id), 0) << table.hwGetLastError(id);
    const std::string log = ombrel_test::readFile(copy.dir() + "/" + kLog);
    char line[128];
    std::snprintf(line, sizeof line, "hwSetCallback - callback: %p ...\n", reinterpret_cast<void*>(&noCallback));
    EXPECT_NE(log.find(line), std::string::npos) << log;
    EXPECT_NE(log.find("readFreq: "), std::string::npos) << log;
    EXPECT_NE(log.find("hwInit..."), std::string::npos) << log;
}

TEST(Module, DebugLogThatCannotBeWrittenChangesNothingElse)
{
    ModuleCopy copy("nolog", "[SimCard]\nCards = 1\n");
    fs::create_directory(copy.dir() + "/" + kLog); // in the way of the file
    const _HwFuncTable& table = copy.open();
    int id = -1;
    ASSERT_EQ(table.hwGetFirst(&id), 0);
    ASSERT_EQ(table.hwSetCb(&noCallback), 0);
    const int32_t on = 1;
    ASSERT_EQ(table.hwSetHwInfo(id, 12, &on, 4), 0);
    ASSERT_EQ(table.hwInit(id), 0) << table.hwGetLastError(id);
    std::vector<uint16_t> matrix(65536);
    EXPECT_EQ(table.hwReadMatrix(id, matrix.data(), 65536), 0) << table.hwGetLastError(id);
    std::vector<std::string> entries;
    for (const auto& entry : fs::directory_iterator(copy.dir()))
        entries.push_back(entry.path().filename().string());
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{kLog, "hwlibs"}));
}

} // namespace
