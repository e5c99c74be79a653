// One QApplication for all widget tests of the program, on the headless platform.
#include <cstdlib>
#include <string>

#include <unistd.h>

#include <QApplication>

#include <gtest/gtest.h>

namespace {

class QtAppEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        // Without a runtime folder Qt warns, and the tests make every warning fatal.
        if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
            char pattern[] = "/tmp/uikit-runtime-XXXXXX";
            if (mkdtemp(pattern)) {
                runtimeDir_ = pattern;
                setenv("XDG_RUNTIME_DIR", pattern, 1);
            }
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
    char name_[16] = "uikit_widgets";
    char* argv_[2] = {name_, nullptr};
    QApplication* app_ = nullptr;
    std::string runtimeDir_;
};

[[maybe_unused]] testing::Environment* const qtEnvironment =
    testing::AddGlobalTestEnvironment(new QtAppEnvironment);

} // namespace
