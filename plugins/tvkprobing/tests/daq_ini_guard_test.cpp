// The DAQ-card ini around a forced connection: byte-identical afterwards on every path, never a backup
// left, a leftover backup given back first and never overwritten, an absent ini removed again.
#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "daq_ini_guard.h"
#include "ombrel_test_support.h"
#include "platform/ini.h"

using namespace probing;
namespace fs = std::filesystem;

namespace {

const std::string kIni = "; the card\r\n[SimCard]\r\nCards = 0\r\n\r\n[Force]\r\nTvkVersion = 0\r\nNumberOfChips = 0\r\nChipID =\r\n";

struct Folder {
    std::string dir = ombrel_test::scratchDir("daq-ini");
    std::string ini = dir + "/tvkHwDorvel.ini";
    bool backupsGone() const
    {
        return !fs::exists(DaqIniGuard::backupPath(ini)) && !fs::exists(DaqIniGuard::absentMarkerPath(ini));
    }
};

} // namespace

TEST(DaqIniGuard, ForcedKeysWhileHeldTheFileBackOnEveryExit)
{
    struct Case {
        const char* name;
        bool throwInside;
        bool restoreByHand;
    } cases[] = {{"scope ends", false, false}, {"exception", true, false}, {"restored by hand", false, true}};
    for (const Case& c : cases) {
        Folder f;
        ASSERT_TRUE(ombrel_test::writeFile(f.ini, kIni));
        try {
            DaqIniGuard guard(f.ini);
            ASSERT_EQ(guard.force(3), 0) << guard.error();
            EXPECT_EQ(plat::iniRead(f.ini, "Force", "TvkVersion"), "3");
            EXPECT_EQ(plat::iniRead(f.ini, "Force", "NumberOfChips"), "1");
            EXPECT_EQ(plat::iniRead(f.ini, "Force", "ChipID"), "");
            if (c.restoreByHand) {
                EXPECT_EQ(guard.restore(), 0);
            }
            if (c.throwInside)
                throw std::runtime_error("inside");
        } catch (const std::runtime_error&) {
        }
        EXPECT_EQ(ombrel_test::readFile(f.ini), kIni) << c.name;
        EXPECT_TRUE(f.backupsGone()) << c.name;
    }
}

TEST(DaqIniGuard, AbsentIniIsRemovedAgain)
{
    Folder f;
    {
        DaqIniGuard guard(f.ini);
        ASSERT_EQ(guard.force(1), 0) << guard.error();
        EXPECT_EQ(plat::iniRead(f.ini, "Force", "TvkVersion"), "1");
    }
    EXPECT_FALSE(fs::exists(f.ini));
    EXPECT_TRUE(f.backupsGone());
}

TEST(DaqIniGuard, LeftoverBackupIsRestoredFirstAndNeverOverwritten)
{
    Folder f;
    // A run stopped while the forced file was in place: the ini holds forced keys, the backup the original.
    ASSERT_TRUE(ombrel_test::writeFile(DaqIniGuard::backupPath(f.ini), kIni));
    ASSERT_TRUE(ombrel_test::writeFile(f.ini, "[Force]\nTvkVersion = 2\n"));
    {
        DaqIniGuard guard(f.ini);
        ASSERT_EQ(guard.force(2), 0);
        EXPECT_EQ(ombrel_test::readFile(DaqIniGuard::backupPath(f.ini)), kIni);
    }
    EXPECT_EQ(ombrel_test::readFile(f.ini), kIni);
    EXPECT_TRUE(f.backupsGone());

    ASSERT_TRUE(ombrel_test::writeFile(DaqIniGuard::backupPath(f.ini), kIni));
    ASSERT_TRUE(ombrel_test::writeFile(f.ini, "[Force]\nTvkVersion = 2\n"));
    EXPECT_EQ(DaqIniGuard::restoreLeftover(f.ini), 0);
    EXPECT_EQ(ombrel_test::readFile(f.ini), kIni);

    ASSERT_TRUE(ombrel_test::writeFile(DaqIniGuard::absentMarkerPath(f.ini), ""));
    EXPECT_EQ(DaqIniGuard::restoreLeftover(f.ini), 0);
    EXPECT_FALSE(fs::exists(f.ini));
    EXPECT_TRUE(f.backupsGone());
}
