// The device control window in a running manager on the simulated detector, offscreen: series started
// from the window, the overwrite questions, progress and messages, closing during a series, the Tools
// menu, configuration commands, its placement, the settings sheet, and the entry's device records and events.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include "qt_test_support.h"
#include "ctrl_app.h"
#include "ctrl_commands.h"
#include "ctrl_entry.h"
#include "ctrl_file_picker.h"
#include "ctrl_window.h"
#include "platform/ini.h"
#include "pluginfw/plugin_window.h"
#include "prev_window.h"
#include "settings_sheet.h"
#include "uikit/chain_combo.h"
#include "uikit/file_mode_combo.h"
#include "uikit/message_box.h"
#include "uikit/smart_edit.h"

namespace {

using ctrl_test::CtrlApp;
namespace fs = std::filesystem;

using ombrel_test::processUntil;

std::atomic<int> gToolCalls{0};
void toolCallback(void*) { ++gToolCalls; }

class CtrlWindow : public CtrlApp {
protected:
    void SetUp() override
    {
        startManager();
        installPreviewWindows(t_);
        t_->mgrRegisterCallback("tvkctrl", "AcqStarted", ctrlOnAcqStarted);
        t_->mgrRegisterCallback("tvkctrl", "AcqCompleted", ctrlOnAcqCompleted);
        t_->mgrRegisterCallback("tvkctrl", "InfoMsg", ctrlOnInfoMsg);
        ASSERT_EQ(initControlWindows(t_), 0);
        setMessageBoxHandler([this](QWidget*, const QString& text, const QString&, unsigned) {
            questions_.push_back(text.toStdString());
            return answer_;
        });
    }
    void TearDown() override
    {
        resetControlWindows();
        prevWndService().destroyAllPreviews();
        QApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (t_) {
            t_->mgrUnregisterCallback("tvkctrl", "AcqStarted", ctrlOnAcqStarted);
            t_->mgrUnregisterCallback("tvkctrl", "AcqCompleted", ctrlOnAcqCompleted);
            t_->mgrUnregisterCallback("tvkctrl", "InfoMsg", ctrlOnInfoMsg);
        }
        setMessageBoxHandler({});
        ctrlFilePicker() = savedPicker_;
        CtrlApp::TearDown();
    }
    CTvkCtrlUIDialog* open()
    {
        openControlWindow(0);
        return controlWindow(0);
    }
    // Sets the window's edits and checks as a user does.
    static void setUp(CTvkCtrlUIDialog* w, int type, int count, int fileMode, const std::string& name)
    {
        w->typeCombo()->setCurrentIndex(type);
        emit w->typeCombo()->activated(type);
        w->countEdit()->setText(QString::number(count));
        w->countEdit()->validate();
        w->timeEdit()->setText(QStringLiteral("1e-6"));
        w->timeEdit()->validate();
        w->fileModeCombo()->setCurrentIndex(fileMode);
        emit w->fileModeCombo()->activated(fileMode);
        w->toFilesCheck()->setChecked(!name.empty());
        emit w->toFilesCheck()->clicked(!name.empty());
        w->fileEdit()->setText(QString::fromStdString(name));
    }
    static void setRepeat(CTvkCtrlUIDialog* w, int count)
    {
        w->repeatCheck()->setChecked(true);
        emit w->repeatCheck()->clicked(true);
        w->repeatCountEdit()->setText(QString::number(count));
        w->repeatCountEdit()->validate();
    }
    bool runToEnd(CTvkCtrlUIDialog* w)
    {
        w->startAcquisition();
        return processUntil([w] { return w->idle(); });
    }
    std::string out(const char* name) const { return dir_ + "/out/" + name; }

    std::vector<std::string> questions_;
    int answer_ = MSGBOX_IDNO;
    CtrlFilePicker savedPicker_ = ctrlFilePicker();
};

TEST_F(CtrlWindow, OpensWithItsDeviceAndDefaults)
{
    CTvkCtrlUIDialog* w = open();
    ASSERT_NE(w, nullptr);
    EXPECT_NE(w->previewId(), 0u);
    EXPECT_TRUE(w->windowTitle().startsWith("Tarvik 0 UI (")) << w->windowTitle().toStdString();
    EXPECT_EQ(w->totalProgLabel()->text(), "-");
    EXPECT_EQ(w->fileModeCombo()->count(), 7);
    EXPECT_EQ(w->chainCombo()->currentText(), "None");
    EXPECT_FALSE(w->filtEdit()->isEnabled()) << "no chain: no filtered output";
    EXPECT_FALSE(w->fileEdit()->isEnabled()) << "\"To files:\" is off";
    openControlWindow(0);
    EXPECT_EQ(controlWindow(0), w) << "the open window is focused, not doubled";

    // Test pulses: no file, count or time; the spacing edit shows the test-pulse spacing.
    w->typeCombo()->setCurrentIndex(2);
    emit w->typeCombo()->activated(2);
    EXPECT_FALSE(w->toFilesCheck()->isEnabled());
    EXPECT_FALSE(w->countEdit()->isEnabled());
    EXPECT_FALSE(w->timeEdit()->isEnabled());
    EXPECT_EQ(w->spacingEdit()->text(), "4");
}

TEST_F(CtrlWindow, SeriesFromTheWindow)
{
    CTvkCtrlUIDialog* w = open();
    setUp(w, 0, 2, 0, out("d.txt"));
    setRepeat(w, 2);
    ASSERT_TRUE(runToEnd(w));
    for (const char* name : {"d0.txt", "d1.txt", "d_r1_0.txt", "d_r1_1.txt", "d_r2_0.txt", "d_r2_1.txt"})
        EXPECT_TRUE(fs::exists(out(name))) << name;
    EXPECT_EQ(w->startButton()->text(), "Start");
    EXPECT_EQ(w->repetitionsLabel()->text(), "2/2");
    EXPECT_EQ(w->acquisitionLabel()->text(), "2/2");
    EXPECT_EQ(w->totalProgLabel()->text(), "100.0%");
    EXPECT_TRUE(questions_.empty());

    w->repeatCheck()->setChecked(false);
    emit w->repeatCheck()->clicked(false);
    setUp(w, 2, 1, 0, "");
    ASSERT_TRUE(runToEnd(w));
    EXPECT_EQ(w->totalProgLabel()->text(), "100.0%") << "test pulses end complete";
}

// Records every text a label shows between two events of the application: each report of the worker is an
// event of its own, so no text it sets is missed however fast the reports come.
class LabelTexts : public QObject {
public:
    explicit LabelTexts(QLabel* label) : label_(label) { qApp->installEventFilter(this); }
    ~LabelTexts() override { qApp->removeEventFilter(this); }
    bool eventFilter(QObject*, QEvent*) override
    {
        note();
        return false;
    }
    void note()
    {
        if (texts.empty() || texts.back() != label_->text())
            texts.push_back(label_->text());
    }
    std::vector<QString> texts;

private:
    QLabel* label_;
};

TEST_F(CtrlWindow, RepetitionsShowTheRepeatCountOrADash)
{
    const struct {
        int repeatCount;
        const char* second;
    } cases[] = {{0, "2/-"}, {5, "2/5"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.repeatCount);
        CTvkCtrlUIDialog* w = open();
        setUp(w, 0, 1, 0, "");
        setRepeat(w, c.repeatCount);
        LabelTexts seen(w->repetitionsLabel());
        w->startAcquisition();
        if (c.repeatCount == 0) { // endless: stop it after the third repetition began
            ASSERT_TRUE(processUntil([w] { return w->worker()->repIndex() >= 3; }));
            w->abortAcquisition();
        }
        ASSERT_TRUE(processUntil([w] { return w->idle(); }));
        seen.note();
        EXPECT_NE(std::find(seen.texts.begin(), seen.texts.end(), QString(c.second)), seen.texts.end())
            << seen.texts.back().toStdString();
    }
}

TEST_F(CtrlWindow, OverwriteQuestions)
{
    CTvkCtrlUIDialog* w = open();
    struct Case {
        const char* what;
        int type, count, repeatCount, fileMode;
        const char* existing;
        const char* base;
        const char* question; // empty: none asked
    } cases[] = {
        {"one frame", 0, 1, 0, 0, "one.txt", "one.txt", "File %1/one.txt already exists. Do you want to continue and overwrite it?"},
        {"twelve frames", 0, 12, 0, 0, "data11.txt", "data.txt",
         "Some files with base file name %1/data.txt already exist. Do you want to continue and overwrite them?"},
        {"not the twelve", 0, 12, 0, 0, "e12.txt", "e.txt", ""},
        {"integral base", 1, 3, 0, 0, "i.txt", "i.txt", "File %1/i.txt already exists. Do you want to continue and overwrite it?"},
        {"a repetition", 0, 2, 1, 0, "r_r1_0.txt", "r.txt",
         "Some files with base file name %1/r.txt already exist. Do you want to continue and overwrite them?"},
        {"No file", 0, 1, 0, 6, "n.txt", "n.txt", ""},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(ombrel_test::writeFile(out(c.existing), "x"));
        setUp(w, c.type, c.count, c.fileMode, out(c.base));
        if (c.repeatCount)
            setRepeat(w, c.repeatCount);
        questions_.clear();
        w->startAcquisition();
        if (*c.question) {
            const std::string expected =
                QString::fromLatin1(c.question).arg(QString::fromStdString(dir_ + "/out")).toStdString();
            ASSERT_EQ(questions_.size(), 1u) << c.what;
            EXPECT_EQ(questions_[0], expected) << c.what;
            EXPECT_TRUE(w->idle()) << c.what << ": No keeps the window idle";
        } else {
            EXPECT_TRUE(questions_.empty()) << c.what << ": " << (questions_.empty() ? "" : questions_[0]);
            processUntil([w] { return w->idle(); });
        }
        w->repeatCheck()->setChecked(false);
        emit w->repeatCheck()->clicked(false);
    }
}

// A series whose files would go nowhere, or whose filtered files would replace its raw ones, does not start.
int passFilter(void*, const _FuncSlot*, void* const*) { return 0; }

TEST_F(CtrlWindow, OutputsThatCannotBeWrittenDoNotStart)
{
    _FuncItem filter{};
    filter.callback = passFilter;
    std::snprintf(filter.plugin, sizeof filter.plugin, "prevtest_table");
    std::snprintf(filter.function, sizeof filter.function, "Pass");
    filter.flags = FUNC_FILTER;
    ASSERT_EQ(t_->mgrAddFuncItem(&filter), 0);
    int chain = 0;
    ASSERT_EQ(t_->mgrCreateFilterChain("prevtest_table", "chain", &chain), 0);
    ASSERT_EQ(t_->mgrAddToFilterChain(chain, filter.id, 0), 0);
    CTvkCtrlUIDialog* w = open();
    const struct {
        const char* what;
        std::string raw, filtered;
        std::string message;
    } cases[] = {
        {"raw files without a name", "", "", "The file name is empty."},
        {"a folder that does not exist", out("none/x.txt"), "", "The folder " + out("none") + " does not exist."},
        {"both outputs on one name", out("x.txt"), out("x.txt"),
         "The raw and the filtered output would both write the file " + out("x.txt") + "."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        setUp(w, 0, 1, 0, c.raw);
        w->toFilesCheck()->setChecked(true);
        emit w->toFilesCheck()->clicked(true);
        w->chainCombo()->setCurrentIndex(w->chainCombo()->findText("chain"));
        emit w->chainCombo()->activated(w->chainCombo()->currentIndex());
        ASSERT_EQ(w->worker()->settings().filterChainId, chain);
        w->filtEdit()->setText(QString::fromStdString(c.filtered));
        questions_.clear();
        w->startAcquisition();
        ASSERT_EQ(questions_.size(), 1u);
        EXPECT_EQ(questions_[0], c.message);
        EXPECT_TRUE(w->idle());
        EXPECT_FALSE(w->worker()->isRunning());
    }
    EXPECT_TRUE(outFiles().empty());
}

TEST_F(CtrlWindow, DeviceMessagesArriveWholeAndInOrder)
{
    CTvkCtrlUIDialog* w = open();
    w->messageList()->clear();
    std::thread worker([&] {
        for (int i = 0; i < 200; ++i)
            t_->tvkCtrlLoadTvkCfg(0, (dir_ + "/missing" + std::to_string(i) + ".tcf").c_str());
    });
    worker.join();
    ASSERT_TRUE(processUntil([w] { return w->messageList()->count() >= 200; }));
    ASSERT_EQ(w->messageList()->count(), 200);
    for (int i = 0; i < 200; ++i)
        EXPECT_TRUE(w->messageList()->item(i)->text().contains(QString("/missing%1.tcf").arg(i)))
            << w->messageList()->item(i)->text().toStdString();

    for (int i = 0; i < 1100; ++i)
        w->addMessage(QString::number(i));
    EXPECT_EQ(w->messageList()->count(), kMaxMessages - 1);
    EXPECT_EQ(w->messageList()->item(w->messageList()->count() - 1)->text(), "1099");
}

TEST_F(CtrlWindow, ClosingDuringASeriesAbortsWaitsAndSaves)
{
    CTvkCtrlUIDialog* w = open();
    const std::string ini = controlIniPath(0);
    setUp(w, 0, 1, 0, "");
    setRepeat(w, 0); // until aborted
    w->startAcquisition();
    ASSERT_TRUE(processUntil([w] { return w->worker()->repIndex() >= 2; }));
    const std::weak_ptr<AcqControl> worker = w->worker();
    resetControlWindows(); // as "Exit" does
    EXPECT_TRUE(worker.expired() || !worker.lock()->isRunning());
    CtrlSettings saved;
    saved.load(ini);
    EXPECT_EQ(saved.acq.repeat, 1);
    EXPECT_EQ(saved.acq.acqTime, 1e-6);
}

// "RepeatDelay" keeps the delay used before the last repetition of the last series; with no series run it
// stays as it was read.
TEST_F(CtrlWindow, TheLastRepeatDelayIsSaved)
{
    const std::string ini = controlIniPath(0);
    const struct {
        const char* what;
        const char* delay; // typed into the delay edit
        bool run;
        double saved;
    } cases[] = {
        {"a delay used", "0.02", true, 0.02},
        {"no delay used", "0", true, 0},
        {"no series run", "0.03", false, 0.5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(ombrel_test::writeFile(ini, "[Main]\nRepeatDelay=0.5\n"));
        CTvkCtrlUIDialog* w = open();
        ASSERT_NE(w, nullptr);
        setUp(w, 0, 1, 0, "");
        setRepeat(w, 1);
        w->delayEdit()->setText(QString::fromLatin1(c.delay));
        w->delayEdit()->validate();
        if (c.run) {
            ASSERT_TRUE(runToEnd(w));
        }
        resetControlWindows(); // as "Exit" does; the records come back for the next case
        ASSERT_EQ(initControlWindows(t_), 0);
        CtrlSettings saved;
        saved.load(ini);
        EXPECT_EQ(saved.acq.currentDelay, c.saved);
    }
}

// Values typed into the edits after the last start (or with no start at all) are kept when the window
// goes, whichever way it goes.
TEST_F(CtrlWindow, ValuesTypedSinceTheLastStartAreSavedOnClose)
{
    const std::string ini = controlIniPath(0);
    const struct {
        const char* how;
        std::function<void(CTvkCtrlUIDialog*)> close;
    } cases[] = {
        {"closed by the user", [this](CTvkCtrlUIDialog* w) {
             answer_ = MSGBOX_IDYES;
             w->close();
             QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
         }},
        {"at Exit", [](CTvkCtrlUIDialog*) { resetControlWindows(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        fs::remove(ini);
        CTvkCtrlUIDialog* w = open();
        ASSERT_NE(w, nullptr);
        setUp(w, 1, 7, 0, out("typed.txt"));
        w->timeEdit()->setText(QStringLiteral("0.25"));
        w->timeEdit()->validate();
        w->spacingEdit()->setText(QStringLiteral("3"));
        w->spacingEdit()->validate();
        setRepeat(w, 4);
        w->delayEdit()->setText(QStringLiteral("1.5 2.5"));
        w->delayEdit()->validate();
        w->filtEdit()->setText(QString::fromStdString(out("filtered.txt")));
        c.close(w);
        ASSERT_EQ(controlWindow(0), nullptr);
        CtrlSettings saved;
        saved.load(ini);
        EXPECT_EQ(saved.acq.acqType, 1);
        EXPECT_EQ(saved.acq.acqCount, 7);
        EXPECT_EQ(saved.acq.acqTime, 0.25);
        EXPECT_EQ(saved.acq.acqSpacing, 3);
        EXPECT_EQ(saved.acq.repeatCount, 4u);
        EXPECT_EQ(saved.acq.delayFrom, 1.5);
        EXPECT_EQ(saved.acq.delayTo, 2.5);
        EXPECT_EQ(saved.acq.fileName, out("typed.txt"));
        EXPECT_EQ(saved.acq.filtFileName, out("filtered.txt"));
    }
}

TEST_F(CtrlWindow, AWindowWithoutItsPreviewSavesNothing)
{
    const std::string ini = controlIniPath(0);
    ASSERT_TRUE(ombrel_test::writeFile(ini, "[Main]\nAcqCount=7\n"));
    prevWndService().setFactory({}, {});
    {
        CTvkCtrlUIDialog w(t_, 0, "t", ini);
        EXPECT_FALSE(w.init());
    }
    installPreviewWindows(t_);
    EXPECT_EQ(ombrel_test::readFile(ini), "[Main]\nAcqCount=7\n");
}

TEST_F(CtrlWindow, ToolsMenuCallsTheDevicesItems)
{
    int item = 0;
    ASSERT_EQ(t_->mgrAddTvkMenuItem(0, "prevtest_table", "Threshold scan", "Scans", toolCallback, nullptr, &item, 0), 0);
    CTvkCtrlUIDialog* w = open();
    QMenu* tools = w->toolsMenu();
    QMenu* scans = nullptr;
    for (QAction* a : tools->actions())
        if (a->menu() && a->text() == "Scans")
            scans = a->menu();
    ASSERT_NE(scans, nullptr);
    ASSERT_EQ(scans->actions().size(), 1);
    EXPECT_EQ(scans->actions()[0]->text(), "Threshold scan");
    gToolCalls = 0;
    scans->actions()[0]->trigger();
    EXPECT_TRUE(processUntil([] { return gToolCalls == 1; }));
    bool ownItemShown = false;
    for (QAction* a : tools->actions())
        ownItemShown |= a->text() == "Tarvik Control";
    EXPECT_FALSE(ownItemShown);
}

TEST_F(CtrlWindow, ConfigurationCommands)
{
    CTvkCtrlUIDialog* w = open();
    std::string chosen;
    ctrlFilePicker() = [&](QWidget*, bool, const QString&, const QString&) { return QString::fromStdString(chosen); };

    chosen = out("pix.bpc");
    w->runCommand(CMD_SAVE_BINARY);
    EXPECT_EQ(fs::file_size(chosen), 65536u);

    // Save Config, change a DAC, Load Config: the saved value is back.
    std::vector<uint16_t> dacs(64);
    const char** names = nullptr;
    const int* bits = nullptr;
    int count = 0;
    ASSERT_EQ(t_->tvkCtrlGetDACsNames(0, &names, &bits, &count), 0);
    dacs.resize(size_t(count));
    ASSERT_EQ(t_->tvkCtrlGetDACs(0, dacs.data(), count, -1), 0);
    chosen = out("dev.tcf");
    w->runCommand(CMD_SAVE_CONFIG);
    ASSERT_TRUE(fs::exists(chosen));
    std::vector<uint16_t> changed = dacs;
    changed[0] = uint16_t(changed[0] == 10 ? 11 : 10);
    ASSERT_EQ(t_->tvkCtrlSetDACs(0, changed.data(), count, -1, 0, 0), 0);
    w->runCommand(CMD_LOAD_CONFIG);
    std::vector<uint16_t> back(static_cast<size_t>(count));
    ASSERT_EQ(t_->tvkCtrlGetDACs(0, back.data(), count, -1), 0);
    EXPECT_EQ(back, dacs);

    chosen.clear(); // Cancel does nothing
    w->runCommand(CMD_SAVE_CONFIG);

    w->runCommand(CMD_AUTOSTART);
    EXPECT_EQ(w->settings().autostart, 0);
    w->updateCommandStates();
    EXPECT_FALSE(w->commandAction(CMD_AUTOSTART)->isChecked());
    EXPECT_FALSE(w->commandAction(CMD_ABORT)->isEnabled());
}

// The window's shortcuts come before a focused control's own binding of the key while their command is
// enabled: Ctrl+A aborts a running series wherever the focus is, also when the menu was last opened while
// idle (its Abort disabled then; the states were computed only as a menu opened). While idle an edit keeps
// Ctrl+A (select all) and typing.
TEST_F(CtrlWindow, ShortcutsComeBeforeTheFocusedControlsBindings)
{
    CTvkCtrlUIDialog* w = open();
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w, 60000));
    setUp(w, 0, 1, 0, out("keys.txt"));
    QLineEdit* edit = w->fileEdit();
    ASSERT_TRUE(edit->isEnabled());
    edit->setFocus();
    ASSERT_TRUE(processUntil([edit] { return edit->hasFocus(); }));
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(edit->selectedText(), edit->text()) << "Abort is disabled while idle: the edit selects all";
    QTest::keyClicks(edit, "k.txt");
    EXPECT_EQ(edit->text(), "k.txt") << "typing replaces the selection";

    setUp(w, 0, 1, 0, "");
    setRepeat(w, 0); // until aborted
    w->updateCommandStates(); // as opening the menu while idle leaves them
    ASSERT_FALSE(w->commandAction(CMD_ABORT)->isEnabled());
    QWidget* focusedEdit = w->countEdit();
    focusedEdit->setFocus();
    ASSERT_TRUE(processUntil([focusedEdit] { return focusedEdit->hasFocus(); }));
    QTest::keyClick(focusedEdit, Qt::Key_S, Qt::ControlModifier);
    ASSERT_FALSE(w->idle()) << "Ctrl+S in an edit starts the series";
    ASSERT_TRUE(processUntil([w] { return w->worker()->repIndex() >= 2; }));

    // The window's own edits are disabled while a series runs; one added to it stands for a control that
    // stays enabled and binds Ctrl+A itself.
    auto* bindingEdit = new QLineEdit(QStringLiteral("text"), w);
    bindingEdit->show();
    struct Case {
        const char* name;
        QWidget* focus;
    } cases[] = {{"the message list", w->messageList()},
                 {"the start button", w->startButton()},
                 {"an enabled edit", bindingEdit}};
    for (const Case& c : cases) {
        if (w->idle()) {
            w->startAcquisition();
            ASSERT_TRUE(processUntil([w] { return w->worker()->repIndex() >= 2; })) << c.name;
        }
        c.focus->setFocus();
        ASSERT_TRUE(processUntil([&c] { return c.focus->hasFocus(); })) << c.name;
        QTest::keyClick(c.focus, Qt::Key_A, Qt::ControlModifier);
        EXPECT_TRUE(processUntil([w] { return w->idle(); })) << c.name << ": Ctrl+A aborts";
        EXPECT_FALSE(w->worker()->isRunning()) << c.name;
    }
    EXPECT_TRUE(bindingEdit->selectedText().isEmpty()) << "the shortcut ran instead of the edit's select all";
    delete bindingEdit;
}

TEST_F(CtrlWindow, SettingsSheetOfTheSimulatedDevice)
{
    CSettingsSheet sheet(t_, 0);
    EXPECT_EQ(sheet.infoList()->topLevelItemCount(), 7);
    EXPECT_EQ(sheet.infoList()->topLevelItem(3)->text(1), "1x1");
    sheet.runDigitalTest();
    EXPECT_EQ(sheet.goodLabel()->text(), "65536\t(100.00%)");
    EXPECT_EQ(sheet.badLabel()->text(), "0\t(0.00%)");
    EXPECT_FALSE(sheet.dacEdits().empty());
    EXPECT_TRUE(sheet.apply());
    sheet.dacEdits()[0]->setText("abc");
    questions_.clear();
    EXPECT_FALSE(sheet.apply());
    ASSERT_EQ(questions_.size(), 1u);
    EXPECT_EQ(questions_[0].rfind("Value has to be in range 0..", 0), 0u);
}

// The DAC spins step the number in the edit within 0..max; the edit takes digits only; Apply still reads
// the text as before, whatever it holds.
TEST_F(CtrlWindow, DacSpinsStepWithinTheRangeAndApplyReadsTheText)
{
    CSettingsSheet sheet(t_, 0);
    ASSERT_FALSE(sheet.dacSpins().empty());
    CDacSpin* spin = sheet.dacSpins()[0];
    QLineEdit* edit = sheet.dacEdits()[0];
    ASSERT_EQ(spin->edit(), edit);
    const uint32_t max = spin->maximum();
    ASSERT_GE(max, 15u);
    const QString maxText = QString::number(max);
    struct Step {
        QString text;
        int steps;
        QString stepped;
    } steps[] = {
        {"5", 1, "6"},
        {"5", -2, "3"},
        {"0", -1, "0"},
        {"1", -5, "0"},
        {maxText, 1, maxText},
        {QString::number(max - 1), 10, maxText},
        {QString::number(max + 7), -1, maxText},
        {"", 1, "1"},
        {"12abc", 1, "13"},
    };
    for (const Step& c : steps) {
        edit->setText(c.text);
        spin->stepBy(c.steps);
        EXPECT_EQ(edit->text(), c.stepped) << c.text.toStdString() << " by " << c.steps;
    }
    // The arrow keys step too; at the ends they stop.
    const auto key = [&](int k) {
        QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier);
        QApplication::sendEvent(spin, &press);
    };
    edit->setText("0");
    key(Qt::Key_Down);
    EXPECT_EQ(edit->text(), "0");
    key(Qt::Key_Up);
    EXPECT_EQ(edit->text(), "1");
    edit->setText(maxText);
    key(Qt::Key_Up);
    EXPECT_EQ(edit->text(), maxText);
    // Typed letters do not go in.
    edit->setText("4");
    edit->setCursorPosition(1);
    QKeyEvent letter(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QApplication::sendEvent(edit, &letter);
    EXPECT_EQ(edit->text(), "4");

    const QString range = "Value has to be in range 0.." + maxText;
    struct Parse {
        QString text;
        int64_t stored; // -1: refused with the range message
    } parses[] = {{"12abc", 12}, {"", 0}, {"abc", -1}, {QString::number(max + 1), -1}, {maxText, max}, {"7", 7}};
    std::vector<uint16_t> dacs(sheet.dacEdits().size());
    for (const Parse& c : parses) {
        edit->setText(c.text);
        questions_.clear();
        const bool applied = sheet.apply();
        EXPECT_EQ(applied, c.stored >= 0) << c.text.toStdString();
        if (!applied) {
            EXPECT_EQ(questions_, std::vector<std::string>{range.toStdString()}) << c.text.toStdString();
            EXPECT_EQ(edit->selectedText(), c.text) << "the refused text is selected";
            continue;
        }
        EXPECT_TRUE(questions_.empty()) << c.text.toStdString();
        ASSERT_EQ(t_->tvkCtrlGetDACs(0, dacs.data(), int(dacs.size()), -1), 0);
        EXPECT_EQ(int64_t{dacs[0]}, c.stored) << c.text.toStdString();
    }
}

// Apply is offered only while the pages hold a change it would send.
TEST_F(CtrlWindow, ApplyIsEnabledByChangesUntilTheyAreApplied)
{
    CSettingsSheet sheet(t_, 0);
    QPushButton* apply = sheet.applyButton();
    ASSERT_NE(apply, nullptr);
    EXPECT_FALSE(apply->isEnabled()) << "nothing changed yet";
    ASSERT_FALSE(sheet.dacEdits().empty());
    sheet.dacEdits()[0]->setText("3");
    EXPECT_TRUE(apply->isEnabled()) << "a DAC edited";
    EXPECT_TRUE(sheet.apply());
    EXPECT_FALSE(apply->isEnabled()) << "applied";
    sheet.dacSpins()[0]->stepBy(1);
    EXPECT_TRUE(apply->isEnabled()) << "a DAC stepped";
    sheet.dacEdits()[0]->setText("abc");
    EXPECT_FALSE(sheet.apply());
    EXPECT_TRUE(apply->isEnabled()) << "a refused value is still to be applied";
    sheet.dacEdits()[0]->setText("4");
    emit apply->clicked();
    EXPECT_FALSE(apply->isEnabled()) << "applied with the button";

    sheet.defaultDacs();
    sheet.chooseChip(0);
    EXPECT_FALSE(apply->isEnabled()) << "values shown from the device are no change";
    emit sheet.modeCombo()->activated(0);
    EXPECT_TRUE(apply->isEnabled()) << "an acquisition mode chosen";
    EXPECT_TRUE(sheet.apply());
    EXPECT_FALSE(apply->isEnabled());
}

// The window comes back in the show state it was closed in, on a screen even when the saved corner is off
// every screen, and the placement (with its flags) goes back to the file as it came.
TEST_F(CtrlWindow, PlacementComesBackInItsStateAndOnAScreen)
{
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    answer_ = MSGBOX_IDYES; // "Quit?"
    const std::string ini = controlIniPath(0);
    struct Case {
        const char* name;
        std::string keys;
        int showCmd;
        QPoint pos; // of the outer rectangle of the normal state; x -1: flush with the screen's right edge
    } cases[] = {
        {"normal", "ShowCmd=1\nLeft=30\nTop=40\n", 1, QPoint(30, 40)},
        {"maximised far up and left", "ShowCmd=3\nLeft=-5000\nTop=-5000\n", 3, screen.topLeft()},
        {"minimised", "ShowCmd=2\nLeft=50\nTop=60\n", 2, QPoint(50, 60)},
        {"normal far right", "ShowCmd=1\nLeft=100000\nTop=10\n", 1, QPoint(-1, 10)},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(ombrel_test::writeFile(ini, "[Main]\nFlags=2\n" + c.keys));
        CTvkCtrlUIDialog* w = open();
        ASSERT_NE(w, nullptr) << c.name;
        EXPECT_TRUE(w->isVisible()) << c.name;
        EXPECT_EQ(w->isMaximized(), c.showCmd == 3) << c.name;
        EXPECT_EQ(w->isMinimized(), c.showCmd == 2) << c.name;
        const WindowPlacement shown = currentPlacement(w);
        // A window maximised before it was ever shown normal keeps the rectangle it was placed at as its
        // client area (the frame is known only once shown).
        const QRect normal = c.showCmd == 3 ? w->normalGeometry()
                                            : QRect(QPoint(shown.left, shown.top), QPoint(shown.right - 1, shown.bottom - 1));
        EXPECT_TRUE(screen.contains(normal)) << c.name;
        EXPECT_EQ(normal.top(), c.pos.y()) << c.name;
        if (c.pos.x() < 0)
            EXPECT_EQ(normal.right(), screen.right()) << c.name;
        else
            EXPECT_EQ(normal.left(), c.pos.x()) << c.name;

        w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        ASSERT_EQ(controlWindow(0), nullptr) << c.name;
        CtrlSettings saved;
        saved.load(ini);
        EXPECT_EQ(saved.showCmd, c.showCmd) << c.name;
        EXPECT_EQ(saved.placementFlags, 2) << c.name;
        EXPECT_EQ(QPoint(saved.left, saved.top), QPoint(shown.left, shown.top)) << c.name;
        EXPECT_EQ(plat::getProfileInt("Main", "Right", 0, ini.c_str()), shown.right) << c.name;
        EXPECT_EQ(plat::getProfileInt("Main", "Bottom", 0, ini.c_str()), shown.bottom) << c.name;
    }
}

TEST_F(CtrlWindow, InterfaceItemsEditedThroughTheLibrary)
{
    CSettingsSheet sheet(t_, 0);
    QTreeWidget* items = sheet.itemList();
    ASSERT_EQ(items->topLevelItemCount(), 7);
    int version = -1, time = -1;
    for (int i = 0; i < items->topLevelItemCount(); ++i) {
        if (items->topLevelItem(i)->text(1) == "Dummy HW version")
            version = i;
        if (items->topLevelItem(i)->text(1).startsWith("Size of time element"))
            time = i;
    }
    ASSERT_GE(version, 0);
    ASSERT_GE(time, 0);
    EXPECT_EQ(items->topLevelItem(version)->text(2), "U32");
    EXPECT_EQ(items->topLevelItem(time)->text(2), "DOUBLE");
    const QString versionText = items->topLevelItem(version)->text(0);
    EXPECT_FALSE(sheet.editItem(version, "99")) << "a fixed item is not edited";
    EXPECT_EQ(items->topLevelItem(version)->text(0), versionText);
    EXPECT_TRUE(sheet.editItem(time, "1.23456789"));
    EXPECT_EQ(items->topLevelItem(time)->text(0).trimmed(), "1.23456789") << "no rounding on the way";
    EXPECT_FALSE(sheet.editItem(time, "fast"));
    EXPECT_EQ(items->topLevelItem(time)->text(0).trimmed(), "1.23456789") << "the row shows the library's value";
}

// A device's items as the device-control library hands them out: one that cannot be read, one larger than
// the first buffer (the library raises the size it needs and reports no failure), fixed and editable ones.
struct FakeItems {
    int32_t gain = 7;
    std::string file = "run-42.dat";
    uint32_t threshold = 9;
    bool secondReadable = false;
    std::vector<int> sets; // indices set
};
FakeItems* gItems = nullptr;

_MgrFuncTable itemsTable()
{
    _MgrFuncTable t{};
    t.tvkCtrlGetDevInfo = [](unsigned, _DevInfo*) { return -1; };
    t.tvkCtrlGetTarvikInfo = [](unsigned, int*, int*, char*, char*) { return -1; };
    t.tvkCtrlGetDACsNames = [](unsigned, const char***, const int**, int*) { return -1; };
    t.tvkCtrlGetHwInfoCount = [](unsigned, int* n) {
        *n = 4;
        return 0;
    };
    t.tvkCtrlGetHwInfoItem = [](unsigned, int index, HwInfoItem* item, int* size) {
        const auto fill = [&](uint32_t type, uint32_t count, const char* what, const void* value, int bytes) {
            item->type = type;
            item->count = count;
            item->flags = 0x2;
            item->name = what;
            item->description = what;
            if (*size < bytes) {
                *size = bytes;
                return 0;
            }
            std::memcpy(item->data, value, size_t(bytes));
            return 0;
        };
        switch (index) {
        case 0: return fill(TYPE_I32, 1, "Gain", &gItems->gain, 4);
        case 1:
            if (!gItems->secondReadable)
                return -114;
            return fill(TYPE_I32, 1, "Spare", &gItems->gain, 4);
        case 2: {
            std::vector<char> text(2048, 0);
            std::copy(gItems->file.begin(), gItems->file.end(), text.begin());
            return fill(TYPE_CHAR, 2048, "Data file", text.data(), 2048);
        }
        case 3: return fill(TYPE_U32, 1, "Threshold", &gItems->threshold, 4);
        default: return -114;
        }
    };
    t.tvkCtrlSetHwInfoItem = [](unsigned, int index, const void* data, int bytes) {
        gItems->sets.push_back(index);
        if (index == 2)
            gItems->file = std::string(static_cast<const char*>(data), strnlen(static_cast<const char*>(data), size_t(bytes)));
        if (index == 3)
            std::memcpy(&gItems->threshold, data, 4);
        return 0;
    };
    return t;
}

// Each row shows and edits its own item, whatever the items before it: a large item is read whole, and an
// item that cannot be read leaves no row, so the rows after it keep their items.
TEST(InterfacePage, EachRowEditsItsOwnItem)
{
    FakeItems items;
    gItems = &items;
    const _MgrFuncTable t = itemsTable();
    CSettingsSheet sheet(&t, 0);
    QTreeWidget* list = sheet.itemList();
    const auto values = [list] {
        std::vector<std::string> v;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            v.push_back(list->topLevelItem(i)->text(1).toStdString() + "=" + list->topLevelItem(i)->text(0).trimmed().toStdString());
        return v;
    };
    using V = std::vector<std::string>;
    EXPECT_EQ(values(), (V{"Gain=7", "Data file=run-42.dat", "Threshold=9"}));
    EXPECT_TRUE(sheet.editItem(2, "11"));
    EXPECT_TRUE(sheet.editItem(1, "run-43.dat"));
    EXPECT_EQ(items.sets, (std::vector<int>{3, 2}));
    EXPECT_EQ(values(), (V{"Gain=7", "Data file=run-43.dat", "Threshold=11"}));

    // Rows follow the items as they become readable or not.
    items.secondReadable = true;
    sheet.refreshItems();
    EXPECT_EQ(values(), (V{"Gain=7", "Spare=7", "Data file=run-43.dat", "Threshold=11"}));
    items.secondReadable = false;
    sheet.refreshItems();
    EXPECT_EQ(values(), (V{"Gain=7", "Data file=run-43.dat", "Threshold=11"}));
    gItems = nullptr;
}

// The info page's settings as Apply sends them, on a device whose hardware timer cannot be read: "Auto",
// the page's default, never "HW" by accident.
struct FakeInfo {
    int timerRead = -1; // -1: the read fails
    int timerSet = -1;
};
FakeInfo* gInfo = nullptr;

TEST(InfoPage, AnUnreadTimerAppliesAuto)
{
    for (int timer : {-1, 0, 1}) {
        SCOPED_TRACE(timer);
        FakeInfo info;
        info.timerRead = timer;
        gInfo = &info;
        _MgrFuncTable t{};
        t.tvkCtrlGetDevInfo = [](unsigned, _DevInfo* d) {
            *d = _DevInfo{};
            d->chipCount = d->chipRows = 1;
            d->acqModeMask = 1;
            return 0;
        };
        t.tvkCtrlGetPolarity = [](unsigned, int*) { return 0; };
        t.tvkCtrlGetCST = [](unsigned, int*) { return 0; };
        t.tvkCtrlGetAcqMode = [](unsigned, int* m) { *m = 1; return 0; };
        t.tvkCtrlGetHwTimer = [](unsigned, int* m) {
            *m = gInfo->timerRead;
            return gInfo->timerRead < 0 ? -1 : 0;
        };
        t.tvkCtrlSetPolarity = [](unsigned, int) { return 0; };
        t.tvkCtrlSetCST = [](unsigned, int) { return 0; };
        t.tvkCtrlSetAcqMode = [](unsigned, int) { return 0; };
        t.tvkCtrlSetHwTimer = [](unsigned, int m) { gInfo->timerSet = m; return 0; };
        t.tvkCtrlGetTarvikInfo = [](unsigned, int*, int*, char*, char*) { return -1; };
        t.tvkCtrlGetDACsNames = [](unsigned, const char***, const int**, int*) { return -1; };
        t.tvkCtrlGetHwInfoCount = [](unsigned, int*) { return -1; };
        CSettingsSheet sheet(&t, 0);
        EXPECT_TRUE(sheet.apply());
        EXPECT_EQ(info.timerSet, timer < 0 ? 2 : timer);
    }
    gInfo = nullptr;
}

// Space on the item list opens the in-place edit of the first selected row when that row is editable, the
// edit showing the row's value; a fixed row or no selection opens nothing.
TEST_F(CtrlWindow, SpaceEditsTheFirstSelectedEditableItem)
{
    CSettingsSheet sheet(t_, 0);
    QTreeWidget* items = sheet.itemList();
    int fixed = -1, editable = -1;
    for (int i = 0; i < items->topLevelItemCount(); ++i) {
        int& first = items->topLevelItem(i)->flags() & Qt::ItemIsEditable ? editable : fixed;
        if (first < 0)
            first = i;
    }
    ASSERT_GE(fixed, 0);
    ASSERT_GE(editable, 0);
    const auto openEditor = [items]() -> QLineEdit* {
        for (QLineEdit* e : items->viewport()->findChildren<QLineEdit*>())
            if (!e->isHidden())
                return e;
        return nullptr;
    };
    struct Case {
        const char* name;
        int row; // -1: nothing selected
        Qt::KeyboardModifiers modifiers;
        bool opens;
    } cases[] = {
        {"editable row", editable, Qt::NoModifier, true},
        {"fixed row", fixed, Qt::NoModifier, false},
        {"no selection", -1, Qt::NoModifier, false},
        {"Ctrl+Space is not the edit key", editable, Qt::ControlModifier, false},
    };
    for (const Case& c : cases) {
        items->clearSelection();
        if (c.row >= 0)
            items->topLevelItem(c.row)->setSelected(true);
        QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, c.modifiers, QStringLiteral(" "));
        QApplication::sendEvent(items, &space);
        QLineEdit* editor = openEditor();
        EXPECT_EQ(editor != nullptr, c.opens) << c.name;
        if (editor) {
            EXPECT_EQ(editor->text(), items->topLevelItem(c.row)->text(0)) << c.name;
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(editor, &escape);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            EXPECT_EQ(openEditor(), nullptr) << c.name << ": Escape ends the edit";
        }
    }
}

// The plug-in itself in a manager with two simulated devices: an item per device, the window of a device
// whose ini file says Autostart=0 stays closed at "Start".
class CtrlPluginLoaded : public CtrlApp {
protected:
    void TearDown() override
    {
        // "Exit" destroys the plug-in's windows; what they left queued runs before the plug-in goes.
        stopManager([] {
            QApplication::processEvents();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        });
    }
};

TEST_F(CtrlPluginLoaded, ItemsPerDeviceAndAutostart)
{
    startManager(2, "plugins/TvkCtrlUI.so\n", [] {
        fs::copy_file(CTRL_APP_DIR "/TvkCtrlUI.so", "plugins/TvkCtrlUI.so");
        fs::create_directories("configs");
        ombrel_test::writeFile("configs/TvkCtrlUI_2001.ini", "[Main]\nAutostart=0\n");
    });
    unsigned dev = 0;
    int devCount = 0;
    ASSERT_EQ(t_->tvkCtrlGetFirstTvk(&dev, &devCount), 0);
    ASSERT_EQ(t_->tvkCtrlGetNextTvk(&dev), 0) << "two simulated devices";
    std::vector<std::string> names;
    int id = 0;
    char name[MGR_MENU_NAME_SIZE] = {};
    for (int rc = t_->mgrGetFirstMenuItem(&id, name); rc == 0; rc = t_->mgrGetNextMenuItem(&id, name))
        if (std::string(name).find("Tarvik Control") != std::string::npos)
            names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"0 - dummy 2000|Tarvik Control", "1 - dummy 2001|Tarvik Control"}));
    std::vector<std::string> open;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->windowTitle().startsWith("Tarvik "))
            open.push_back(w->windowTitle().toStdString());
    EXPECT_EQ(open, (std::vector<std::string>{"Tarvik 0 UI (dummy 2000)"}));
}

} // namespace
