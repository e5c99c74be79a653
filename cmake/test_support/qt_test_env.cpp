// One QApplication for the widget tests of a test program, on the headless platform with a runtime folder
// of its own (without one Qt warns, and the tests make every warning fatal).
#include <cstdlib>
#include <string>

#include <unistd.h>

#include <QApplication>

#include <gtest/gtest.h>

namespace {

class QtTestEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        char pattern[] = "/tmp/ombrel-test-runtime-XXXXXX";
        if (mkdtemp(pattern)) {
            runtimeDir_ = pattern;
            setenv("XDG_RUNTIME_DIR", pattern, 1);
        }
        app_ = new QApplication(argc_, argv_);
    }
    void TearDown() override
    {
        delete app_;
        app_ = nullptr;
        if (!runtimeDir_.empty())
            rmdir(runtimeDir_.c_str());
    }

private:
    int argc_ = 1;
    char name_[16] = "ombrel_tests";
    char* argv_[2] = {name_, nullptr};
    QApplication* app_ = nullptr;
    std::string runtimeDir_;
};

[[maybe_unused]] testing::Environment* const qtEnvironment =
    testing::AddGlobalTestEnvironment(new QtTestEnvironment);

} // namespace
