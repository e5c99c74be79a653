// The editor's view of the manager's chains, on the real manager with the plug-in loaded (no windows, so
// the sanitizer builds run it): the names a chain or instance may have, the chain operations that the
// manager has no single call for (rename, move, another instance for a member), a parameter refused by its
// filter, and the entry refusing a table of another interface version before touching it.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "chain_model.h"
#include "ombrel_test_support.h"
#include "platform/module.h"
#include "scratch_manager.h"

namespace {

namespace fs = std::filesystem;
using chainedit::ChainModel;

std::string makeAppFolder(const std::string& name)
{
    const std::string dir = ombrel_test::scratchDir(name);
    fs::create_directories(dir + "/hwlibs");
    fs::create_directories(dir + "/plugins");
    fs::copy_file(CHAIN_APP_DIR "/libTvkManager.so", dir + "/libTvkManager.so");
    fs::copy_file(CHAIN_APP_DIR "/libTvkCtrl.so", dir + "/libTvkCtrl.so");
    fs::copy_file(CHAIN_TABLE_PLUGIN, dir + "/plugins/chainedit_table.so");
    fs::copy_file(CHAIN_PLUGIN_PATH, dir + "/ChainEdit.so");
    ombrel_test::writeFile(dir + "/tvkmanager.ini", "[Plugins]\nChainEdit.so\nplugins/chainedit_table.so\n");
    return dir;
}

TEST(ChainNames, UnsafeNamesAreRefusedWithTheReason)
{
    const struct {
        const char* name;
        const char* reasonPart; // empty: accepted
    } cases[] = {
        {"StatsSave", ""},
        {"Flat field 2", ""},
        {"", "empty"},
        {"two\nlines", "control characters"},
        {"tab\there", "control characters"},
        {"[Plugins]", "'['"},
        {"{x}", "'{'"},
        {"a:b", "':'"},
        {"a|b", "'|'"},
        {" lead", "blank"},
        {"trail ", "blank"},
        {"0123456789012345678901234567890", ""},
        {"01234567890123456789012345678901", "at most 31"},
    };
    for (const auto& c : cases) {
        const std::string problem = chainedit::chainNameProblem(c.name);
        if (!*c.reasonPart)
            EXPECT_EQ(problem, "") << c.name;
        else
            EXPECT_NE(problem.find(c.reasonPart), std::string::npos) << c.name << ": " << problem;
    }
}

class Model : public ::testing::Test {
protected:
    void SetUp() override
    {
        app_ = std::make_unique<ombrel_test::ScratchManager>(makeAppFolder("chainedit-model"),
                                                             "plugins/chainedit_table.so", "chainEditTestTable");
        t_ = app_->table();
        ASSERT_NE(t_, nullptr);
        model_ = std::make_unique<ChainModel>(t_, "chainedit");
    }
    int filter(const char* name) const
    {
        for (const auto& f : model_->filters())
            if (f.plugin == "chainedit" && f.name == name)
                return f.funcId;
        return 0;
    }
    // The members of a chain as "function[:instance]".
    std::vector<std::string> members(int chainId) const
    {
        std::vector<std::string> out;
        for (const auto& c : model_->chains())
            if (c.id == chainId)
                for (const auto& m : c.members)
                    out.push_back(m.filter.name + (m.instance.id ? ":" + m.instance.name : ""));
        return out;
    }
    std::unique_ptr<ombrel_test::ScratchManager> app_;
    const _MgrFuncTable* t_ = nullptr;
    std::unique_ptr<ChainModel> model_;
};

TEST_F(Model, ChainsAreEditedThroughTheManager)
{
    EXPECT_EQ(model_->filters().size(), 12u) << "every registered filter is offered";
    std::string error;
    int chain = 0;
    ASSERT_EQ(model_->createChain("Work", &chain, &error), 0) << error;
    EXPECT_EQ(model_->createChain("Work", nullptr, &error), MGR_ERR_CHAIN_EXISTS);
    EXPECT_EQ(error, "A chain of this name exists already.");
    EXPECT_EQ(model_->createChain("a|b", nullptr, &error), TVK_ERR_PARAM);
    EXPECT_NE(error.find("'|'"), std::string::npos);
    EXPECT_TRUE(members(chain).empty()) << "an empty chain may exist";

    for (const char* f : {"Duplicate", "Frame statistics", "Convert to u32"})
        ASSERT_EQ(model_->addMember(chain, filter(f), -1, &error), 0) << f;
    EXPECT_EQ(members(chain),
              (std::vector<std::string>{"Duplicate", "Frame statistics:Default instance", "Convert to u32"}));
    ASSERT_EQ(model_->moveMember(chain, 2, -1, &error), 0);
    EXPECT_EQ(members(chain),
              (std::vector<std::string>{"Duplicate", "Convert to u32", "Frame statistics:Default instance"}));
    EXPECT_EQ(model_->moveMember(chain, 0, -1, &error), 0) << "a move past the top does nothing";
    EXPECT_EQ(members(chain).front(), "Duplicate");

    int fine = 0;
    ASSERT_EQ(model_->createInstance(filter("Frame statistics"), "fine", &fine, &error), 0) << error;
    EXPECT_GE(fine, int(FILTER_INSTANCE_ID_FIRST));
    EXPECT_EQ(model_->createInstance(filter("Frame statistics"), "fine", nullptr, &error), MGR_ERR_INST_EXISTS);
    ASSERT_EQ(model_->setMemberInstance(chain, 2, fine, &error), 0);
    EXPECT_EQ(members(chain).back(), "Frame statistics:fine");

    // Rename keeps the members in order; the old chain is gone.
    int renamed = 0;
    ASSERT_EQ(model_->renameChain(chain, "Renamed", &renamed, &error), 0) << error;
    const auto chains = model_->chains();
    ASSERT_EQ(chains.size(), 1u);
    EXPECT_EQ(chains[0].name, "Renamed");
    EXPECT_EQ(members(renamed),
              (std::vector<std::string>{"Duplicate", "Convert to u32", "Frame statistics:fine"}));
    EXPECT_EQ(model_->renameChain(renamed, "x}", nullptr, &error), TVK_ERR_PARAM);
    EXPECT_EQ(model_->chains().size(), 1u) << "a refused rename leaves the chain";

    ASSERT_EQ(model_->removeMember(renamed, 0, &error), 0);
    EXPECT_EQ(members(renamed).size(), 2u);
    ASSERT_EQ(model_->removeChain(renamed, &error), 0);
    EXPECT_TRUE(model_->chains().empty());
    EXPECT_EQ(model_->removeChain(renamed, &error), MGR_ERR_NO_CHAIN);
}

TEST_F(Model, ParametersAreReadAndSetThroughTheFiltersCallbacks)
{
    const int crop = filter("Crop");
    const auto pars = model_->parameters(crop);
    ASSERT_EQ(pars.size(), 4u);
    const char* names[] = {"Left", "Bottom", "Width", "Height"};
    const char* defaults[] = {"1", "1", "100", "100"};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(pars[i].name, names[i]);
        EXPECT_EQ(pars[i].value, defaults[i]) << names[i];
        EXPECT_EQ(pars[i].type, TYPE_I32);
    }
    std::string error;
    ASSERT_EQ(model_->setParameter(crop, 2, "64", &error), 0) << error;
    EXPECT_EQ(model_->parameters(crop)[2].value, "64");
    EXPECT_NE(model_->setParameter(crop, 2, "wide", &error), 0);
    EXPECT_NE(error.find("Width"), std::string::npos) << error;
    EXPECT_EQ(model_->parameters(crop)[2].value, "64") << "a refused value keeps the old one";

    const int save = filter("Save");
    ASSERT_EQ(model_->setParameter(save, 0, "out/frames", &error), 0) << error;
    EXPECT_EQ(model_->parameters(save)[0].value.substr(0, 10), "out/frames") << "the filter's own form is shown";
    EXPECT_NE(model_->setParameter(save, 0, std::string(600, 'p'), &error), 0) << "longer than the filter holds";
    EXPECT_TRUE(model_->parameters(filter("Duplicate")).empty()) << "a filter without instances has no parameters";
}

TEST(ChainEditEntry, ATableOfAnotherVersionIsRefusedBeforeItIsUsed)
{
    plat::Module plugin;
    ASSERT_TRUE(plugin.open(CHAIN_PLUGIN_PATH)) << plugin.error();
    auto init = reinterpret_cast<int (*)(const _MgrFuncTable*)>(plugin.symbol("InitTvkPlugin"));
    ASSERT_NE(init, nullptr);
    _MgrFuncTable table{}; // every slot empty: any use of one would crash
    table.version = 16;
    EXPECT_EQ(init(&table), -1);
    EXPECT_EQ(init(nullptr), -1);
}

} // namespace
