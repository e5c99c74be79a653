// The syncs of the file layer as a test sees them: recorded in order (the path each descriptor was open
// on), and the sync of one chosen path failing as a disk that cannot write would. Alive in a fixture, it
// replaces fsync for the whole process.
#pragma once

#include "platform/file_write.h"

#include <cerrno>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

namespace ombrel_test {

class SyncRecorder {
public:
    SyncRecorder()
    {
        plat::setSyncFunctionForTests(&record);
        take();
    }
    ~SyncRecorder()
    {
        plat::setSyncFunctionForTests(nullptr);
        failOn({});
    }
    SyncRecorder(const SyncRecorder&) = delete;
    SyncRecorder& operator=(const SyncRecorder&) = delete;

    // The sync of this path fails with EIO from now on (empty: none fails).
    static void failOn(std::string path)
    {
        std::lock_guard<std::mutex> guard(state().mutex);
        state().failing = std::move(path);
    }
    // The syncs since the last call, in order.
    static std::vector<std::string> take()
    {
        std::lock_guard<std::mutex> guard(state().mutex);
        return std::move(state().synced);
    }
    static size_t count()
    {
        std::lock_guard<std::mutex> guard(state().mutex);
        return state().synced.size();
    }

private:
    struct State {
        std::mutex mutex; // guards synced and failing
        std::vector<std::string> synced;
        std::string failing;
    };
    static State& state()
    {
        static State s;
        return s;
    }
    static int record(int fd, const char* path)
    {
        {
            std::lock_guard<std::mutex> guard(state().mutex);
            state().synced.emplace_back(path);
            if (state().failing == path) {
                errno = EIO;
                return -1;
            }
        }
        return ::fsync(fd);
    }
};

} // namespace ombrel_test
