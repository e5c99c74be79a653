// A simulated probe station behind a pseudo-terminal: reads commands up to '\r', records them, and
// answers each with "OK@" ("X<c> Y<r>@" after "prbpos"). Per command occurrence a fault can be injected:
// an error reply "E<n>@", silence, a reply split in two pieces with a pause between, or a hang-up. A hook
// sees every command before its reply (the tests move the simulated supply current with it).
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/serial_port.h"

namespace probetest {

class StationSim {
public:
    enum class Fault { None, Error, Silence, Split, HangUp };

    StationSim()
    {
        if (!pty_.open())
            throw std::runtime_error(pty_.error());
        thread_ = std::thread([this] { loop(); });
    }
    ~StationSim()
    {
        stop_ = true;
        thread_.join();
    }
    StationSim(const StationSim&) = delete;
    StationSim& operator=(const StationSim&) = delete;

    std::string port() const { return pty_.slavePath(); }

    // The n-th time (1-based) command arrives, it gets fault (error code for Fault::Error).
    void failAt(const std::string& command, int n, Fault fault, int code = 7)
    {
        std::lock_guard<std::mutex> guard(mutex_);
        faults_[{command, n}] = {fault, code};
    }
    void setHook(std::function<void(const std::string&)> hook)
    {
        std::lock_guard<std::mutex> guard(mutex_);
        hook_ = std::move(hook);
    }
    std::vector<std::string> commands() const
    {
        std::lock_guard<std::mutex> guard(mutex_);
        return commands_;
    }
    std::string received() const
    {
        std::lock_guard<std::mutex> guard(mutex_);
        return received_;
    }
    void clear()
    {
        std::lock_guard<std::mutex> guard(mutex_);
        commands_.clear();
        received_.clear();
        seen_.clear();
    }
    // Sends bytes that answer nothing.
    void sendRaw(const std::string& bytes) { pty_.write(bytes.data(), bytes.size()); }

private:
    void loop()
    {
        std::string pending;
        while (!stop_) {
            char buf[256];
            const long n = pty_.read(buf, sizeof buf, 10);
            if (n <= 0)
                continue;
            std::function<void(const std::string&)> hook;
            {
                std::lock_guard<std::mutex> guard(mutex_);
                received_.append(buf, static_cast<size_t>(n));
                hook = hook_;
            }
            pending.append(buf, static_cast<size_t>(n));
            size_t end;
            while ((end = pending.find('\r')) != std::string::npos) {
                const std::string command = pending.substr(0, end);
                pending.erase(0, end + 1);
                answer(command, hook);
            }
        }
    }

    void answer(const std::string& command, const std::function<void(const std::string&)>& hook)
    {
        std::pair<Fault, int> fault{Fault::None, 0};
        {
            std::lock_guard<std::mutex> guard(mutex_);
            commands_.push_back(command);
            const auto it = faults_.find({command, ++seen_[command]});
            if (it != faults_.end())
                fault = it->second;
        }
        if (hook)
            hook(command);
        std::string reply = "OK@";
        if (command == "prbpos")
            reply = "X1 Y1@";
        switch (fault.first) {
        case Fault::None: pty_.write(reply.data(), reply.size()); break;
        case Fault::Error: reply = "E" + std::to_string(fault.second) + "@"; pty_.write(reply.data(), reply.size()); break;
        case Fault::Silence: break;
        case Fault::Split:
            pty_.write(reply.data(), 1);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            pty_.write(reply.data() + 1, reply.size() - 1);
            break;
        case Fault::HangUp: pty_.closeMaster(); stop_ = true; break;
        }
    }

    plat::PseudoTerminal pty_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_; // guards everything below; the hook is called without it
    std::map<std::pair<std::string, int>, std::pair<Fault, int>> faults_;
    std::map<std::string, int> seen_;
    std::vector<std::string> commands_;
    std::string received_;
    std::function<void(const std::string&)> hook_;
};

} // namespace probetest
