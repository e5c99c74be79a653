// The tool window in a running manager on the simulated detector, headless with every Qt warning fatal:
// the device's menu item "Beam hardening" opens the window on the skeleton with the device's caption;
// a point set up from the device's last acquisition through the window stays in the device's context when
// the window is closed and opened again; "Exit" closes it.
#include <chrono>
#include <functional>
#include <string>

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QTreeWidget>
#include <QWidget>

#include "qt_test_support.h"
#include "hardencal_app.h"

namespace {

using hcaltest::makeAppFolder;
using hcaltest::ScratchManager;

constexpr char kTitle[] = "Beam hardening 0 (dummy 2000)";

using ombrel_test::processUntil;

QWidget* window()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->windowTitle() == QLatin1String(kTitle))
            return w;
    return nullptr;
}

// Id of the menu item "Beam hardening" under device 0, or -1.
int menuItem(const _MgrFuncTable* t)
{
    char path[MGR_MENU_NAME_SIZE] = {};
    if (t->mgrGetTvkMenuPath(0, path) != 0)
        return -1;
    char name[MGR_MENU_NAME_SIZE] = {};
    int id = 0;
    for (int rc = t->mgrGetFirstMenuItem(&id, name); rc == 0; rc = t->mgrGetNextMenuItem(&id, name)) {
        const std::string n = name;
        if (n.find(path) != std::string::npos && n.find("Beam hardening") != std::string::npos)
            return id;
    }
    return -1;
}

TEST(HardenCalWindow, OpenedFromTheDeviceMenuOnTheDevicesCalibration)
{
    const std::string dir = makeAppFolder("hardencal-window");
    {
        ScratchManager app(dir);
        const _MgrFuncTable* t = app.table();
        ASSERT_NE(t, nullptr) << "the manager did not start with the plug-ins";
        const int item = menuItem(t);
        ASSERT_GE(item, 0) << "no menu item under the device";
        ASSERT_EQ(t->mgrCallMenuItemByID(item), 0);
        ASSERT_TRUE(processUntil([] { return window() != nullptr; })) << "no window titled " << kTitle;
        QWidget* w = window();
        auto* list = w->findChild<QTreeWidget*>("points");
        auto* thickness = w->findChild<QLineEdit*>("thickness");
        auto* add = w->findChild<QAbstractButton*>("addAcquisition");
        ASSERT_TRUE(list && thickness && add) << "the panel is not in the window";
        EXPECT_EQ(list->topLevelItemCount(), 0);

        // A point from the device's last acquisition (three 0.5 s frames of the default image).
        ASSERT_EQ(t->tvkCtrlPerformFrameAcq(0, 3, 0.5, 0, nullptr), 0);
        thickness->setText("2.5");
        add->click();
        ASSERT_EQ(list->topLevelItemCount(), 1);
        EXPECT_EQ(list->topLevelItem(0)->text(1).toStdString(), "2.5");
        EXPECT_NEAR(list->topLevelItem(0)->text(2).toDouble(), 1.5, 0.3) << "the summed time of three frames";

        // Closed and opened again: the same context, so the point is still there.
        w->close();
        ASSERT_TRUE(processUntil([] { return window() == nullptr; }));
        ASSERT_EQ(t->mgrCallMenuItemByID(item), 0);
        ASSERT_TRUE(processUntil([] { return window() != nullptr; }));
        list = window()->findChild<QTreeWidget*>("points");
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list->topLevelItemCount(), 1);
    }
    // The manager's "Exit" closed the window before the plug-in went.
    QApplication::processEvents();
    EXPECT_EQ(window(), nullptr);
}

} // namespace
