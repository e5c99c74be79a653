// Module paths and run-time loading, with the small libraries built beside this test.
#include "platform/module.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <dlfcn.h>

namespace {

std::string realPath(const std::string& path)
{
    char buf[PATH_MAX];
    return ::realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

int functionOfThisProgram()
{
    return 1;
}

TEST(ModuleTest, PathOfTheCallingProgramAndOfALoadedLibrary)
{
    const std::string exe = realPath("/proc/self/exe");
    EXPECT_EQ(plat::modulePathOf(reinterpret_cast<const void*>(&functionOfThisProgram)), exe);
    EXPECT_EQ(plat::moduleFolderOf(reinterpret_cast<const void*>(&functionOfThisProgram)),
              exe.substr(0, exe.rfind('/')));

    plat::Module module;
    ASSERT_TRUE(module.open(TEST_MODULE_PATH)) << module.error();
    void* answer = module.symbol("platformTestModuleAnswer");
    ASSERT_NE(answer, nullptr) << module.error();
    EXPECT_EQ(plat::modulePathOf(answer), realPath(TEST_MODULE_PATH));
    EXPECT_EQ(plat::modulePathOf(nullptr), "");
}

TEST(ModuleTest, LoadsAndCallsAFunction)
{
    plat::Module module;
    ASSERT_TRUE(module.open(TEST_MODULE_PATH)) << module.error();
    EXPECT_EQ(module.path(), TEST_MODULE_PATH);
    auto answer = reinterpret_cast<int (*)()>(module.symbol("platformTestModuleAnswer"));
    ASSERT_NE(answer, nullptr) << module.error();
    EXPECT_EQ(answer(), 42);
    // RTLD_LOCAL: the library's symbols do not become visible to everyone else.
    EXPECT_EQ(::dlsym(RTLD_DEFAULT, "platformTestModuleAnswer"), nullptr);
}

TEST(ModuleTest, FailuresCarryTheLoadersText)
{
    struct Case {
        const char* path;
        const char* expectedText; // part of dlerror's text
    };
    const Case cases[] = {
        {"/no/such/library.so", "No such file or directory"},
        {"data/not_a_library.so", "not_a_library.so"},
        // RTLD_NOW: an unresolved function is reported at open, not at its first call.
        {TEST_UNRESOLVED_PATH, "platformTestMissingFunction"},
        {"", "No library path given"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        plat::Module module;
        EXPECT_FALSE(module.open(c.path));
        EXPECT_FALSE(module.isOpen());
        EXPECT_NE(module.error().find(c.expectedText), std::string::npos) << module.error();
    }

    plat::Module module;
    EXPECT_EQ(module.symbol("anything"), nullptr);
    EXPECT_FALSE(module.error().empty());
    ASSERT_TRUE(module.open(TEST_MODULE_PATH));
    EXPECT_EQ(module.symbol("noSuchSymbol"), nullptr);
    EXPECT_NE(module.error().find("noSuchSymbol"), std::string::npos) << module.error();
}

bool isLoaded(const char* path)
{
    void* handle = ::dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (handle)
        ::dlclose(handle);
    return handle != nullptr;
}

TEST(ModuleTest, MoveKeepsOneOwnerAndCloseUnloads)
{
    plat::Module first;
    ASSERT_TRUE(first.open(TEST_MODULE_PATH));
    plat::Module second(std::move(first));
    EXPECT_FALSE(first.isOpen());
    ASSERT_TRUE(second.isOpen());
    EXPECT_NE(second.symbol("platformTestModuleAnswer"), nullptr);

    plat::Module third;
    third = std::move(second);
    EXPECT_FALSE(second.isOpen());
    EXPECT_TRUE(isLoaded(TEST_MODULE_PATH));
    {
        plat::Module gone(std::move(third));
    }
    EXPECT_FALSE(isLoaded(TEST_MODULE_PATH)) << "the destructor did not close the library";
}

} // namespace
