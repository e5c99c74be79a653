// The probe station's command line on a pseudo-terminal station that answers every command at once,
// each figure beside its baseline from the same run:
//   a command round trip through the station layer ("prbdn\r" out, "OK@" back, traced to a file)
//   beside a raw write of the same bytes and a read to '@' on the same port   (target: at most 1.5 times)
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <unistd.h>

#include "platform/serial_port.h"
#include "plugins/tvkprobing/station_link.h"

namespace {

// Answers each command (bytes up to '\r') with "OK@" until stopped.
class Responder {
public:
    Responder()
    {
        pty_.open();
        thread_ = std::thread([this] {
            char buf[256];
            while (!stop_) {
                const long n = pty_.read(buf, sizeof buf, 5);
                for (long i = 0; i < n; ++i)
                    if (buf[i] == '\r')
                        pty_.write("OK@", 3);
            }
        });
    }
    ~Responder()
    {
        stop_ = true;
        thread_.join();
    }
    std::string port() const { return pty_.slavePath(); }

private:
    plat::PseudoTerminal pty_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

void BM_StationCommand(benchmark::State& state)
{
    Responder station;
    probing::StationLink link;
    const std::string trace = "/tmp/station_bench_trace_" + std::to_string(::getpid()) + ".txt";
    if (!link.open(station.port(), 9600, 5000, state.range(0) ? trace : std::string())) {
        state.SkipWithError(link.error().c_str());
        return;
    }
    const std::atomic<bool> abort{false};
    for (auto _ : state)
        if (link.command("prbdn", probing::kAwaitDown, abort) != 0)
            state.SkipWithError("no reply");
    link.close();
    std::remove(trace.c_str());
}
BENCHMARK(BM_StationCommand)->Arg(1)->Arg(0)->UseRealTime(); // traced, untraced

void BM_RawWriteAndRead(benchmark::State& state)
{
    Responder station;
    plat::SerialPort port;
    if (!port.open(station.port(), 9600)) {
        state.SkipWithError(port.error().c_str());
        return;
    }
    for (auto _ : state) {
        port.write("prbdn\r", 6);
        std::string reply;
        char buf[64];
        while (reply.empty() || reply.back() != '@') {
            const long n = port.read(buf, sizeof buf, 1000);
            if (n <= 0)
                break;
            reply.append(buf, static_cast<size_t>(n));
        }
        benchmark::DoNotOptimize(reply);
    }
}
BENCHMARK(BM_RawWriteAndRead)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
