// Locks, references and notifications of a frame used from several threads (also run under TSan).
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <future>
#include <thread>

#include "frame_test_support.h"
#include "wait_until.h"

using namespace frametest;
using namespace std::chrono_literals;

namespace {

// Takes the frame's data lock in its own thread and holds it until released.
class LockHolder {
public:
    explicit LockHolder(TvkFrameInfo& f) : f_(f)
    {
        thread_ = std::thread([this] {
            EXPECT_EQ(f_.lock(TvkFrameInfo::kWaitForever), 0);
            owner_.set_value(std::this_thread::get_id());
            release_.get_future().wait();
            EXPECT_EQ(f_.unlock(), 0);
        });
        ownerId_ = owner_.get_future().get();
    }
    ~LockHolder() { release(); }
    void release()
    {
        if (thread_.joinable()) {
            release_.set_value();
            thread_.join();
        }
    }
    std::thread::id owner() const { return ownerId_; }

private:
    TvkFrameInfo& f_;
    std::promise<std::thread::id> owner_;
    std::promise<void> release_;
    std::thread::id ownerId_;
    std::thread thread_;
};

TEST(FrameLock, TimedLockFailsAtOnceAndForeverWaits)
{
    Recorder rec;
    FramePtr f = newFrame(2, 2, TYPE_U32);
    f->setUID(3);
    EXPECT_EQ(f->getLockOwner(), std::thread::id());
    LockHolder holder(*f);
    EXPECT_EQ(f->getLockOwner(), holder.owner());

    EXPECT_EQ(f->lock(0), -10);
    EXPECT_STREQ(f->getLastErr(), "Frame 3: Failed to get lock in 0 ms.");
    EXPECT_EQ(f->unlock(), TVK_ERR_NOT_LOCK_OWNER);
    EXPECT_STREQ(f->getLastErr(), "Frame 3: Frame unlock failed.");

    // Attributes stay reachable while another thread holds the data.
    EXPECT_EQ(f->addAttrib("a", "", TYPE_I32, nullptr, 1, 0), 0);
    _ExtFrameAttrib a;
    int cursor;
    EXPECT_EQ(f->getFirstAttrib(&cursor, &a), 0);

    auto waiter = std::async(std::launch::async, [&] {
        const int rc = f->lock(TvkFrameInfo::kWaitForever);
        const bool mine = f->getLockOwner() == std::this_thread::get_id();
        f->unlock();
        return rc == 0 && mine;
    });
    EXPECT_EQ(waiter.wait_for(50ms), std::future_status::timeout);
    auto timed = std::async(std::launch::async, [&] {
        const int rc = f->lock(60000); // generous: obtained once the holder lets go
        if (rc == 0)
            f->unlock();
        return rc;
    });
    holder.release();
    EXPECT_TRUE(waiter.get());
    EXPECT_EQ(timed.get(), 0);
    EXPECT_EQ(f->getLockOwner(), std::thread::id());
}

TEST(FrameLock, LockIsRecursiveAndUnlockReportsDataChange)
{
    Recorder rec;
    FramePtr f = newFrame(1, 1, TYPE_I16);
    ASSERT_EQ(f->lock(0), 0);
    void* buffer = nullptr;
    uint32_t size = 0;
    ASSERT_EQ(f->getLockedBuffer(&buffer, &size, 0), 0);
    EXPECT_EQ(size, 2u);
    *static_cast<int16_t*>(buffer) = -9;
    EXPECT_EQ(f->unlock(), 0);
    auto other = std::async(std::launch::async, [&] { return f->lock(0); });
    EXPECT_EQ(other.get(), -10); // still held once
    EXPECT_EQ(f->unlock(), 0);
    EXPECT_EQ(rec.get(&Recorder::dataChanged).size(), 2u);
    EXPECT_EQ(values<int16_t>(*f), std::vector<int16_t>{-9});
}

TEST(FrameRefsConcurrent, ManyHoldersReachZeroExactlyOnce)
{
    Recorder rec;
    FramePtr f = newFrame(4, 4, TYPE_U32);
    f->setUID(77);
    constexpr int kThreads = 8;
    constexpr int kRounds = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                f->open();
                f->incRawAccessCounter();
                uint32_t count;
                EXPECT_EQ(f->close(&count, false), 0);
                f->decRawAccessCounter();
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(f->getRefCount(), 1u);
    EXPECT_EQ(f->getRawAccessCount(), 0u);
    EXPECT_TRUE(rec.get(&Recorder::noRef).empty());

    // Several threads race to drop the last references: one reaches 0, the others are refused.
    for (int i = 0; i < 3; ++i)
        f->open();
    std::atomic<int> refused{0};
    threads.clear();
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            if (f->close(nullptr, false) != 0)
                ++refused;
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(refused.load(), kThreads - 4);
    EXPECT_EQ(f->getRefCount(), 0u);
    EXPECT_EQ(rec.get(&Recorder::noRef), std::vector<uint32_t>{77});
}

// Subscribers that call back into the frame, while other threads work on it.
std::atomic<TvkFrameInfo*> gSubject{nullptr};
std::atomic<int> gCallbacks{0};

TEST(FrameNotifyConcurrent, SubscribersCallingBackDoNotDeadlock)
{
    FramePtr f = newFrame(8, 8, TYPE_U32);
    gSubject = f.get();
    gCallbacks = 0;
    TvkFrameInfo::cbDataChanged = [](uint32_t) {
        TvkFrameInfo* s = gSubject.load();
        std::vector<uint32_t> buf(64);
        uint32_t size = 256;
        EXPECT_EQ(s->getData(buf.data(), &size, TYPE_U32), 0);
        uint32_t v = 0;
        uint32_t vs = 4;
        s->getAttribData("counter", &v, &vs, nullptr);
        ++gCallbacks;
    };
    TvkFrameInfo::cbAttrChanged = [](_FrameAttribChange* c) {
        TvkFrameInfo* s = gSubject.load();
        if (c->kind == FRAME_ATTR_VALUE_SET) {
            uint32_t v = 0;
            uint32_t vs = 4;
            s->getAttribData(c->name, &v, &vs, nullptr);
            uint32_t w, h;
            s->getSize(&w, &h); // takes the data lock: another thread may hold it
        }
        ++gCallbacks;
    };
    TvkFrameInfo::cbNoRef = [](uint32_t) {
        TvkFrameInfo* s = gSubject.load();
        EXPECT_EQ(s->getRefCount(), 0u);
        ++gCallbacks;
    };
    uint32_t zero = 0;
    ASSERT_EQ(f->addAttrib("counter", "", TYPE_U32, &zero, 1, 0), 0);

    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            std::vector<uint32_t> data(64, uint32_t(t));
            for (uint32_t i = 0; i < 200; ++i) {
                switch (i % 4) {
                case 0: EXPECT_EQ(f->setData(data.data(), 256), 0); break;
                case 1: EXPECT_EQ(f->setAttribData("counter", &i, 4), 0); break;
                case 2:
                    ASSERT_EQ(f->lock(TvkFrameInfo::kWaitForever), 0);
                    EXPECT_EQ(f->setAttribData("counter", &i, 4), 0); // attribute change under the data lock
                    EXPECT_EQ(f->unlock(), 0);
                    break;
                default: {
                    f->open();
                    f->close(nullptr, false);
                }
                }
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(f->close(nullptr, false), 0);
    EXPECT_GE(gCallbacks.load(), 4 * 150 + 1);
    TvkFrameInfo::cbDataChanged = nullptr;
    TvkFrameInfo::cbAttrChanged = nullptr;
    TvkFrameInfo::cbNoRef = nullptr;
    gSubject = nullptr;
}

// The error report of an attribute call may run code that waits for another thread which uses the
// frame's names or attributes (a log that asks about the frame, say): it must not come while the
// attribute lock is held.
std::atomic<int> gErrorsSeen{0};
std::atomic<int> gErrorsWithAttribLockHeld{0};
std::atomic<int> gAsked{0};

TEST(FrameNotifyConcurrent, AttributeErrorsAreReportedWithTheAttributeLockFree)
{
    FramePtr f = newFrame(2, 2, TYPE_U32);
    uint32_t one = 1;
    ASSERT_EQ(f->addAttrib("a", "", TYPE_U32, &one, 1, 0), 0);
    gSubject = f.get();
    gErrorsSeen = 0;
    gErrorsWithAttribLockHeld = 0;
    gAsked = 0;
    TvkFrameInfo::cbErrMsg = [](const char*) {
        ++gErrorsSeen;
        auto answered = std::make_shared<std::promise<void>>();
        std::future<void> answer = answered->get_future();
        std::thread([answered] {
            char name[512];
            gSubject.load()->getName(name);
            answered->set_value();
            ++gAsked;
        }).detach();
        // Answered at once when the lock is free; a held lock is released only after this call returns.
        if (answer.wait_for(30s) != std::future_status::ready)
            ++gErrorsWithAttribLockHeld;
    };

    struct Case {
        const char* what;
        std::function<int(TvkFrameInfo&)> call;
        int code;
    };
    const std::vector<Case> cases = {
        {"size query", [](TvkFrameInfo& fr) { uint32_t size = 0; return fr.getAttribData("a", nullptr, &size, nullptr); },
         TVK_ERR_BUFFER_SMALL},
        {"no buffer", [](TvkFrameInfo& fr) { uint32_t size = 4; return fr.getAttribData("a", nullptr, &size, nullptr); },
         TVK_ERR_PARAM},
        {"duplicate", [](TvkFrameInfo& fr) { uint32_t v = 2; return fr.addAttrib("a", "", TYPE_U32, &v, 1, 0); },
         FRAME_ERR_ATTRIB_EXISTS},
        {"adopted null", [](TvkFrameInfo& fr) { return fr.addAttrib("b", "", TYPE_U32, nullptr, 1, 1); }, TVK_ERR_ALLOC},
        {"null value", [](TvkFrameInfo& fr) { return fr.setAttribData("a", nullptr, 4); }, TVK_ERR_PARAM},
        {"bad cursor", [](TvkFrameInfo& fr) { int cursor = 12345; _ExtFrameAttrib out; return fr.getNextAttrib(&cursor, &out); },
         TVK_ERR_PARAM},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const int before = gErrorsSeen;
        EXPECT_EQ(c.call(*f), c.code);
        EXPECT_EQ(gErrorsSeen, before + 1);
    }
    EXPECT_EQ(gErrorsWithAttribLockHeld, 0);
    TvkFrameInfo::cbErrMsg = nullptr;
    // Every asking thread ends once no lock is held any more.
    EXPECT_TRUE(ombrel_test::waitUntil([] { return gAsked >= gErrorsSeen; }));
    gSubject = nullptr;
}

TEST(FrameCopyConcurrent, DuplicateSeesOneConsistentState)
{
    FramePtr f = newFrame(16, 16, TYPE_U32);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        std::vector<uint32_t> data(256);
        for (uint32_t round = 1; !stop; ++round) {
            std::fill(data.begin(), data.end(), round);
            ASSERT_EQ(f->lock(TvkFrameInfo::kWaitForever), 0);
            ASSERT_EQ(f->setData(data.data(), 1024), 0);
            ASSERT_EQ(f->setAttribData("round", &round, 4), round == 1 ? FRAME_ERR_NO_ATTRIB : 0);
            if (round == 1) {
                ASSERT_EQ(f->addAttrib("round", "", TYPE_U32, &round, 1, 0), 0);
            }
            ASSERT_EQ(f->unlock(), 0);
        }
    });
    for (int i = 0; i < 200; ++i) {
        FramePtr copy(TvkFrameInfo::duplicateInstance(f.get()));
        ASSERT_TRUE(copy);
        const std::vector<uint32_t> v = values<uint32_t>(*copy);
        ASSERT_EQ(v.size(), 256u);
        uint32_t round = 0;
        uint32_t size = 4;
        if (copy->getAttribData("round", &round, &size, nullptr) == 0) {
            EXPECT_EQ(v.front(), round);
        }
        EXPECT_EQ(std::count(v.begin(), v.end(), v.front()), 256);
    }
    stop = true;
    writer.join();
}

TEST(FrameFilesConcurrent, SaveWhileAttributesChangeWritesAReadableDescription)
{
    const std::string dir = scratchDir();
    FramePtr f = newFrame(4, 3, TYPE_U32);
    std::atomic<bool> stop{false};
    std::thread attribs([&] {
        for (int i = 0; !stop; ++i) {
            const std::string name = "attr" + std::to_string(i % 7);
            if (f->addAttrib(name.c_str(), "changing", TYPE_I32, &i, 1, 0) != 0)
                f->removeAttrib(name.c_str());
        }
    });
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(f->save((dir + "/f.bin").c_str(), FSAVE_BINARY), 0) << f->getLastErr();
        FramePtr back = newFrame();
        ASSERT_EQ(back->init((dir + "/f.bin").c_str(), false), 0) << back->getLastErr();
    }
    stop = true;
    attribs.join();
}

} // namespace
