// The resizable dialog applies the layout on resize and splitter drags, and survives controls that are
// unknown or gone.
#include "resizeable_dlg.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QResizeEvent>

#include "message_box.h"

namespace {

// A log-window-like dialog: a list stretched both ways (48), a button moved both ways (10); or, with a
// splitter, a tree and a list side by side as the managed-items window has them.
class TestDlg : public CResizeableDlg {
public:
    explicit TestDlg(bool withSplitter) : withSplitter_(withSplitter)
    {
        resize(400, 300);
        left = new QWidget(this);
        right = new QWidget(this);
        if (withSplitter_) {
            left->setGeometry(10, 10, 180, 280);
            right->setGeometry(200, 10, 190, 280);
        } else {
            left->setGeometry(10, 10, 380, 240);
            right->setGeometry(320, 260, 70, 30);
        }
    }

    void resizeTo(int w, int h)
    {
        QResizeEvent event(QSize(w, h), size());
        QApplication::sendEvent(this, &event);
    }

    void mouse(QEvent::Type type, int x, int y, Qt::MouseButtons buttons)
    {
        Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, QPointF(x, y), QPointF(x, y), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(this, &event);
    }

    QWidget* left = nullptr;
    QWidget* right = nullptr;
    Splitter* splitter = nullptr;

protected:
    void initLayout() override
    {
        if (!withSplitter_) {
            addDlgItem(left, 48);
            addDlgItem(right, 10);
            return;
        }
        splitter = addSplitter(QRect(190, 10, 10, 280), true, 33);
        splitter->minBound = windowBound(left, 0);
        splitter->maxBound = windowBound(right, 2);
        addDlgItem(left, 33)->anchors.push_back({splitter, SPLIT_STRETCH_W});
        addDlgItem(right, 50)->anchors.push_back({splitter, SPLIT_MOVE_X | SPLIT_STRETCH_W});
    }

private:
    bool withSplitter_;
};

TEST(ResizeableDlgTest, ResizeMovesAndStretchesRegisteredControls)
{
    TestDlg dlg(false);
    dlg.resizeTo(500, 350); // before initialisation: nothing to lay out
    EXPECT_EQ(dlg.left->geometry(), QRect(10, 10, 380, 240));
    ASSERT_TRUE(dlg.OnInitDialog());

    dlg.resizeTo(500, 350);
    EXPECT_EQ(dlg.left->geometry(), QRect(10, 10, 480, 290));
    EXPECT_EQ(dlg.right->geometry(), QRect(420, 310, 70, 30));

    dlg.resizeTo(300, 200);
    EXPECT_EQ(dlg.left->geometry(), QRect(10, 10, 280, 140));
    EXPECT_EQ(dlg.right->geometry(), QRect(220, 160, 70, 30));

    dlg.resizeTo(10, 10); // far too small: sizes stop at 0
    EXPECT_EQ(dlg.left->geometry(), QRect(10, 10, 0, 0));
}

TEST(ResizeableDlgTest, MinimisingChangesNothing)
{
    TestDlg dlg(false);
    dlg.OnInitDialog();
    dlg.setWindowState(Qt::WindowMinimized);
    dlg.resizeTo(0, 0);
    EXPECT_EQ(dlg.left->geometry(), QRect(10, 10, 380, 240));
    EXPECT_EQ(dlg.right->geometry(), QRect(320, 260, 70, 30));
}

TEST(ResizeableDlgTest, UnknownOrDestroyedControlsAreNotTouched)
{
    TestDlg dlg(false);
    QWidget stranger;
    EXPECT_EQ(dlg.addDlgItem(nullptr, 48), nullptr);
    EXPECT_EQ(dlg.addDlgItem(&stranger, 48), nullptr);
    EXPECT_EQ(dlg.addDlgItem(&dlg, 48), nullptr);
    dlg.OnInitDialog();
    delete dlg.left;
    dlg.left = nullptr;
    dlg.resizeTo(500, 350);
    EXPECT_EQ(dlg.right->geometry(), QRect(420, 310, 70, 30));
}

TEST(ResizeableDlgTest, InitialisesOnFirstShowOnly)
{
    TestDlg dlg(false);
    dlg.show();
    dlg.resizeTo(500, 350);
    EXPECT_EQ(dlg.right->geometry(), QRect(420, 310, 70, 30));
    dlg.hide();
    dlg.show(); // a second show does not register the controls again
    dlg.resizeTo(400, 300);
    EXPECT_EQ(dlg.right->geometry(), QRect(320, 260, 70, 30));
}

TEST(ResizeableDlgTest, DraggingTheSplitterStopsAtItsBound)
{
    TestDlg dlg(true);
    dlg.OnInitDialog();

    dlg.mouse(QEvent::MouseMove, 100, 100, Qt::NoButton); // not over the splitter: nothing happens
    EXPECT_EQ(dlg.left->geometry(), QRect(10, 10, 180, 280));

    dlg.mouse(QEvent::MouseButtonPress, 195, 100, Qt::LeftButton);
    EXPECT_TRUE(dlg.splitter->dragging);
    EXPECT_EQ(dlg.cursor().shape(), Qt::SizeHorCursor);

    dlg.mouse(QEvent::MouseMove, 235, 120, Qt::LeftButton);
    EXPECT_EQ(dlg.left->geometry(), QRect(10, 10, 220, 280));
    EXPECT_EQ(dlg.right->geometry(), QRect(240, 10, 150, 280));

    // Past the left bound (the tree's left side at 10): the splitter stops there.
    dlg.mouse(QEvent::MouseMove, 2, 120, Qt::LeftButton);
    EXPECT_EQ(dlg.splitter->rect.centerX(), 10);
    EXPECT_EQ(dlg.left->geometry(), QRect(10, 10, 0, 280));
    EXPECT_EQ(dlg.right->geometry(), QRect(15, 10, 375, 280));

    dlg.mouse(QEvent::MouseButtonRelease, 2, 120, Qt::NoButton);
    EXPECT_FALSE(dlg.splitter->dragging);
    dlg.mouse(QEvent::MouseMove, 300, 120, Qt::NoButton);
    EXPECT_EQ(dlg.splitter->rect.centerX(), 10) << "released splitters do not follow the mouse";
    EXPECT_EQ(dlg.cursor().shape(), Qt::ArrowCursor);
}

TEST(ResizeableDlgTest, SplitterBoundByAWindowThatIsGoneIsFree)
{
    TestDlg dlg(true);
    dlg.OnInitDialog();
    delete dlg.left;
    dlg.left = nullptr;
    dlg.mouse(QEvent::MouseButtonPress, 195, 100, Qt::LeftButton);
    dlg.mouse(QEvent::MouseMove, 2, 100, Qt::LeftButton);
    EXPECT_EQ(dlg.splitter->rect.centerX(), 2);
    EXPECT_EQ(dlg.right->geometry(), QRect(7, 10, 383, 280));
}

TEST(ResizeableDlgTest, TopLevelWindowBoundIsItsClientAreaInsetBy6)
{
    QWidget window;
    window.resize(200, 100);
    SplitterBound right = CResizeableDlg::windowBound(&window, 2);
    SplitterBound bottom = CResizeableDlg::windowBound(&window, 3);
    EXPECT_EQ(right.position(), 194);
    EXPECT_EQ(bottom.position(), 94);
}

} // namespace
