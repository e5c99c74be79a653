// End to end in a running manager on the USB library's simulated box (with the device-control library
// and PulseScan): the "Back side pulse" window waits for frames with "Scope data" and says where they come
// from; once the box's "ScopeOnTrg" is on, its frames carry the capture and the window counts the pulses.
// A program of its own: the device-control library that a manager loads stays in the process.
#include <future>
#include <string>
#include <vector>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include <gtest/gtest.h>

#include "pulse_app.h"

using namespace pulse_test;

// The USB library's simulated box: while "ScopeOnTrg" is off its frames carry no "Scope data", and the
// window says that it waits for that input and where it comes from; switched on (by the setting's
// name, as the control window's settings page does), with the box waiting for a trigger, every frame
// carries the box's capture. The box samples a saw tooth, raw = 37 i mod 4096, which the library stores
// as 4095 - raw: 4095, 4058, ...; without baseline subtraction the pulse height is the first sample,
// 4095, the top point of the spectrum, once for each of the five frames.
TEST(PulseScanApp, SimulatedUsbBoxWithScopeOnTriggerGivesPulses)
{
    PulseApp app(Hardware::SimulatedUsbBox);
    const _MgrFuncTable& t = app.t();
    unsigned dev = 99;
    int devices = 0;
    ASSERT_EQ(t.tvkCtrlGetFirstTvk(&dev, &devices), 0);
    ASSERT_EQ(devices, 1);
    QWidget* window = app.openWindow(static_cast<int>(dev));
    ASSERT_NE(window, nullptr);
    auto* start = window->findChild<QPushButton*>(QStringLiteral("start"));
    auto* save = window->findChild<QPushButton*>(QStringLiteral("save"));
    auto* counters = window->findChild<QLabel*>(QStringLiteral("counters"));
    auto* input = window->findChild<QLabel*>(QStringLiteral("input"));
    auto* baseline = window->findChild<QCheckBox*>();
    ASSERT_TRUE(start && save && counters && input && baseline);
    const QString waiting = QStringLiteral("none has come from this device yet");
    EXPECT_TRUE(input->text().contains(waiting)) << input->text().toStdString();
    EXPECT_TRUE(input->text().contains(QStringLiteral("USB readout box"))) << input->text().toStdString();
    EXPECT_TRUE(input->text().contains(QStringLiteral("\"ScopeOnTrg\""))) << input->text().toStdString();

    if (baseline->isChecked())
        baseline->click();
    start->click();
    ASSERT_EQ(start->text(), QStringLiteral("Stop"));

    // A frame with the scope off: clusters counted, no pulse, and the window still waits.
    ASSERT_EQ(acquireOne(t, static_cast<int>(dev)), 0);
    ASSERT_TRUE(processUntil([&] { return counters->text().contains(QStringLiteral("Clusters: ")) &&
                                          !counters->text().contains(QStringLiteral("Clusters: 0\n")); }))
        << counters->text().toStdString();
    EXPECT_TRUE(counters->text().startsWith(QStringLiteral("Pulses: 0\n"))) << counters->text().toStdString();
    EXPECT_TRUE(input->text().contains(waiting));

    int items = 0;
    ASSERT_EQ(t.tvkCtrlGetHwInfoCount(dev, &items), 0);
    int scopeOnTrg = -1;
    for (int i = 0; i < items && scopeOnTrg < 0; ++i) {
        HwInfoItem item{};
        int size = 0;
        if (t.tvkCtrlGetHwInfoItem(dev, i, &item, &size) == 0 && item.name && std::string(item.name) == "ScopeOnTrg")
            scopeOnTrg = i;
    }
    ASSERT_GE(scopeOnTrg, 0) << "the box has no item ScopeOnTrg";
    const int32_t on = 1; // BOOL
    ASSERT_EQ(t.tvkCtrlSetHwInfoItem(dev, scopeOnTrg, &on, sizeof on), 0);
    ASSERT_EQ(t.tvkCtrlSetAcqMode(dev, ACQMODE_TRIG_START), 0);

    auto worker = std::async(std::launch::async, [&] {
        for (int k = 0; k < 5; ++k)
            if (acquireOne(t, static_cast<int>(dev)) != 0)
                return "acquisition " + std::to_string(k) + " failed";
        return std::string();
    });
    ASSERT_TRUE(processUntil([&] { return worker.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    ASSERT_EQ(worker.get(), "");
    ASSERT_TRUE(processUntil([&] { return counters->text().startsWith(QStringLiteral("Pulses: 5\n")); }))
        << counters->text().toStdString();
    EXPECT_TRUE(counters->text().contains(QStringLiteral("Last pulse height: 4095\n"))) << counters->text().toStdString();
    EXPECT_FALSE(input->text().contains(waiting)) << input->text().toStdString();
    EXPECT_TRUE(input->text().contains(QStringLiteral("\"Scope data\""))) << input->text().toStdString();

    save->click();
    std::vector<unsigned> spectrum(4096, 0);
    spectrum[4095] = 5;
    EXPECT_EQ(ombrel_test::readFile(app.dir() + "/results/PulseScan spectrum.txt"), seriesText(spectrum));
    const std::string log = ombrel_test::readFile(app.dir() + "/log.txt");
    EXPECT_EQ(log.find("Invalid device ID"), std::string::npos) << log;
}
