// Boxes once the program is quitting: a box must never wait for a user who is not there any more, so
// every box asked for then gets its default answer at once, without the handler (or a real box) being
// asked, also when it was queued from another thread.
#include "message_box.h"

#include <thread>

#include <gtest/gtest.h>

#include <QCoreApplication>

namespace {

class MessageBoxQuitTest : public testing::Test {
protected:
    void SetUp() override
    {
        previous = setMessageBoxHandler([this](QWidget*, const QString&, const QString&, unsigned) {
            ++asked;
            return int(MSGBOX_IDYES);
        });
    }
    void TearDown() override
    {
        setMessageBoxesQuitting(false);
        setMessageBoxHandler(previous);
    }

    int asked = 0;
    MessageBoxHandler previous;
};

TEST_F(MessageBoxQuitTest, BoxesAskedForWhileQuittingGetTheirDefaultAnswerAtOnce)
{
    struct Case {
        unsigned type;
        int answer;
    } cases[] = {
        {MSGBOX_OK, MSGBOX_IDOK},
        {MSGBOX_OK | MSGBOX_ICONWARNING, MSGBOX_IDOK},
        {MSGBOX_YESNO | MSGBOX_ICONQUESTION, MSGBOX_IDNO},
        {MSGBOX_OKCANCEL, MSGBOX_IDCANCEL},
        {MSGBOX_YESNOCANCEL | MSGBOX_ICONQUESTION, MSGBOX_IDCANCEL},
    };
    ASSERT_EQ(messageBox(nullptr, QStringLiteral("before"), QString(), MSGBOX_YESNO), MSGBOX_IDYES);
    ASSERT_EQ(asked, 1);

    setMessageBoxesQuitting(true);
    for (const Case& c : cases) {
        EXPECT_EQ(defaultMessageBoxAnswer(c.type), c.answer) << c.type;
        EXPECT_EQ(messageBox(nullptr, QStringLiteral("while quitting"), QString(), c.type), c.answer) << c.type;
    }
    std::thread([] { messageBox(nullptr, QStringLiteral("queued"), QString(), MSGBOX_YESNO); }).join();
    QCoreApplication::processEvents();
    EXPECT_EQ(asked, 1) << "no box was shown or asked for while quitting";

    setMessageBoxesQuitting(false);
    EXPECT_EQ(messageBox(nullptr, QStringLiteral("after"), QString(), MSGBOX_YESNO), MSGBOX_IDYES);
    EXPECT_EQ(asked, 2);
}

} // namespace
