// The frame class is reachable through libTvkCtrl.so alone: methods and the class-wide callbacks.
#include <gtest/gtest.h>

#include "tvk_frame_info.h"

namespace {

std::atomic<int> gDataChanges{0};

TEST(FrameExport, ClassIsUsableThroughTheSharedLibrary)
{
    TvkFrameInfo::cbDataChanged = [](uint32_t) { ++gDataChanges; };
    TvkFrameInfo* f = TvkFrameInfo::createInstance();
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(f->init(2, 2, TYPE_U32, false), 0);
    const uint32_t in[4] = {1, 2, 3, 4};
    ASSERT_EQ(f->setData(in, sizeof in), 0);
    double out[4];
    uint32_t size = sizeof out;
    ASSERT_EQ(f->getData(out, &size, TYPE_DOUBLE), 0);
    EXPECT_EQ(out[3], 4.0);
    ASSERT_EQ(f->addAttrib("a", "b", TYPE_I32, nullptr, 1, 0), 0);
    TvkFrameInfo* copy = TvkFrameInfo::duplicateInstance(f);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(gDataChanges.load(), 1);
    TvkFrameInfo::cbDataChanged = nullptr;
    TvkFrameInfo::deleteInstance(copy);
    TvkFrameInfo::deleteInstance(f);
}

} // namespace
