#include "sim_box.h"

#include <algorithm>
#include <cstring>

#include "box_commands.h"
#include "platform/clock.h"
#include "tvk_hw.h"

namespace usb::sim {
namespace {

constexpr double kTriggerDelay = 0.002;    // a trigger arrives this long after the box starts waiting
constexpr double kTriggerStopsAfter = 0.02; // in "trigger stops", the stopping trigger arrives after this

void put16(std::vector<uint8_t>& v, unsigned x)
{
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
}

void put32(std::vector<uint8_t>& v, size_t x)
{
    for (int i = 0; i < 4; ++i)
        v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}

double timerTickSeconds(uint8_t clock)
{
    return clock == 2 ? 1.25e-7 : 5e-8;
}

} // namespace

Fault faultFromName(const std::string& name)
{
    std::string n;
    for (char c : name)
        if (c != ' ' && c != '_' && c != '-')
            n.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    if (n == "garbage") return Fault::Garbage;
    if (n == "flip" || n == "flippedbits") return Fault::FlipBits;
    if (n == "stale" || n == "stalereply") return Fault::StaleReply;
    if (n == "partialsync") return Fault::PartialSync;
    if (n == "deviceerror") return Fault::DeviceError;
    if (n == "stall") return Fault::Stall;
    if (n == "shortread") return Fault::ShortRead;
    if (n == "unplug") return Fault::Unplug;
    return Fault::None;
}

SimBox::SimBox(BoxConfig config) : config_(std::move(config)), received_(256, 0), lastParams_(256)
{
    const size_t pixels = static_cast<size_t>(config_.chips) * codec::kPixelsPerChip;
    matrix_.assign(pixels, codec::countToCode(width(), 0));
    config8_.assign(pixels, wire::kCfgEnabled | wire::kCfgTestPulseOff);
    dacs_.assign(static_cast<size_t>(config_.chips), wire::DacRecord{});
}

int SimBox::open()
{
    std::lock_guard<std::mutex> guard(m_);
    if (!plugged_)
        return FT_DEVICE_NOT_FOUND;
    rx_.clear();
    tx_.clear();
    exposures_ = 0;
    exposing_ = waitingTrigger_ = false;
    return FT_OK;
}

int SimBox::write(const uint8_t* data, uint32_t size, uint32_t* written)
{
    std::lock_guard<std::mutex> guard(m_);
    *written = 0;
    if (!plugged_)
        return FT_IO_ERROR;
    rx_.insert(rx_.end(), data, data + size);
    *written = size;
    // Complete commands are handled as they arrive; a code of no row is dropped.
    size_t at = 0;
    while (at < rx_.size()) {
        const uint8_t code = rx_[at];
        if (!findCommand(code)) {
            ++at;
            continue;
        }
        const size_t length = requestLength(code);
        if (rx_.size() - at < 1 + length)
            break;
        handle(code, rx_.data() + at + 1, length);
        at += 1 + length;
        if (!plugged_)
            break;
    }
    rx_.erase(rx_.begin(), rx_.begin() + static_cast<long>(std::min(at, rx_.size())));
    return FT_OK;
}

int SimBox::queueDepth(uint32_t* bytes)
{
    std::lock_guard<std::mutex> guard(m_);
    *bytes = 0;
    if (!plugged_)
        return FT_IO_ERROR;
    pump(plat::monotonicSeconds());
    *bytes = static_cast<uint32_t>(tx_.size());
    return FT_OK;
}

int SimBox::read(uint8_t* buffer, uint32_t wanted, uint32_t* got)
{
    std::lock_guard<std::mutex> guard(m_);
    *got = 0;
    if (!plugged_)
        return FT_IO_ERROR;
    const size_t n = std::min<size_t>(wanted, tx_.size());
    std::copy_n(tx_.begin(), n, buffer);
    tx_.erase(tx_.begin(), tx_.begin() + static_cast<long>(n));
    *got = static_cast<uint32_t>(n);
    return FT_OK;
}

int SimBox::purge()
{
    std::lock_guard<std::mutex> guard(m_);
    if (!plugged_)
        return FT_IO_ERROR;
    rx_.clear();
    tx_.clear();
    return FT_OK;
}

void SimBox::injectFault(Fault fault, int afterCommands, int repeat)
{
    std::lock_guard<std::mutex> guard(m_);
    if (fault == Fault::Unplug && afterCommands <= 0) {
        plugged_ = false;
        ++unplugs_;
        return;
    }
    fault_ = fault;
    faultAfter_ = std::max(afterCommands, 0);
    faultRepeat_ = std::max(repeat, 1);
}

void SimBox::unplug()
{
    std::lock_guard<std::mutex> guard(m_);
    plugged_ = false;
    ++unplugs_;
}

uint64_t SimBox::plugCount() const
{
    std::lock_guard<std::mutex> guard(m_);
    return unplugs_;
}

void SimBox::plugIn()
{
    std::lock_guard<std::mutex> guard(m_);
    plugged_ = true;
}

bool SimBox::plugged() const
{
    std::lock_guard<std::mutex> guard(m_);
    return plugged_;
}

std::vector<uint16_t> SimBox::matrixCodes() const
{
    std::lock_guard<std::mutex> guard(m_);
    return matrix_;
}

std::vector<uint8_t> SimBox::pixelConfigs() const
{
    std::lock_guard<std::mutex> guard(m_);
    return config8_;
}

uint64_t SimBox::received(uint8_t code) const
{
    std::lock_guard<std::mutex> guard(m_);
    return received_[code];
}

std::vector<uint8_t> SimBox::lastParams(uint8_t code) const
{
    std::lock_guard<std::mutex> guard(m_);
    return lastParams_[code];
}

std::string SimBox::commandLog() const
{
    std::lock_guard<std::mutex> guard(m_);
    return log_;
}

int SimBox::exposures() const
{
    std::lock_guard<std::mutex> guard(m_);
    return exposures_;
}

size_t SimBox::requestLength(uint8_t code) const
{
    const size_t chips = static_cast<size_t>(config_.chips);
    if (code == 'S')
        return codec::streamSize(chips, width(), codec::Layout::ToReadout);
    if (code == 'd')
        return 1 + wire::kDacBytesPerChip * chips;
    const BoxCommand* c = findCommand(code);
    return c && c->requestLength > 0 ? static_cast<size_t>(c->requestLength) : 0;
}

void SimBox::send(const std::vector<uint8_t>& bytes)
{
    tx_.insert(tx_.end(), bytes.begin(), bytes.end());
}

void SimBox::sendText(const std::string& text)
{
    std::vector<uint8_t> m{wire::kTextMessage};
    m.insert(m.end(), text.begin(), text.end());
    m.push_back(wire::kTerminator);
    send(m);
}

std::vector<uint8_t> SimBox::matrixReply() const
{
    const size_t chips = static_cast<size_t>(config_.chips);
    std::vector<uint8_t> stream(codec::streamSize(chips, width(), codec::Layout::FromReadout));
    codec::streamFromMatrix(matrix_, chips, width(), codec::Layout::FromReadout, stream);
    std::vector<uint8_t> params;
    params.reserve(4 + stream.size());
    put32(params, stream.size());
    params.insert(params.end(), stream.begin(), stream.end());
    return params;
}

std::vector<uint8_t> SimBox::scopeBlock() const
{
    const size_t samples = std::clamp<size_t>(scopeSamples_, 1, wire::kMaxScopeSamples);
    std::vector<uint8_t> block;
    block.push_back(static_cast<uint8_t>((samples - 1) >> 8));
    block.push_back(static_cast<uint8_t>(samples - 1));
    for (size_t i = 0; i < samples; ++i) {
        const unsigned raw = static_cast<unsigned>((i * 37) % 4096); // a saw tooth
        block.push_back(static_cast<uint8_t>(raw >> 8));
        block.push_back(static_cast<uint8_t>(raw));
    }
    return block;
}

void SimBox::sendFrame(double seconds)
{
    std::vector<uint8_t> m{wire::kFrameMessage};
    put16(m, frameId_++);
    uint8_t t[6];
    codec::putTimer48(t, static_cast<uint64_t>(seconds / timerTickSeconds(clock_)));
    m.insert(m.end(), t, t + 6);
    const std::vector<uint8_t> matrix = matrixReply();
    m.insert(m.end(), matrix.begin(), matrix.end());
    m.push_back(wire::kTerminator);
    send(m);
}

void SimBox::sendIntervalMeasure(double seconds)
{
    std::lock_guard<std::mutex> guard(m_);
    std::vector<uint8_t> m(7, 0);
    m[0] = wire::kIntervalMeasure;
    codec::putTimer48(m.data() + 1, static_cast<uint64_t>(seconds / timerTickSeconds(clock_) + 0.5));
    m.insert(m.end(), {'O', 'K', wire::kTerminator});
    send(m);
}

void SimBox::sendScope()
{
    std::vector<uint8_t> m{wire::kScopeMessage};
    const std::vector<uint8_t> block = scopeBlock();
    m.insert(m.end(), block.begin(), block.end());
    m.push_back(wire::kTerminator);
    send(m);
}

void SimBox::countPattern()
{
    const uint32_t states = codec::stateCount(width());
    for (size_t chip = 0; chip < static_cast<size_t>(config_.chips); ++chip)
        for (size_t row = 0; row < 256; ++row)
            for (size_t col = 0; col < 256; ++col) {
                const size_t i = chip * codec::kPixelsPerChip + row * 256 + col;
                if (!(config8_[i] & wire::kCfgEnabled))
                    continue;
                const uint32_t count =
                    static_cast<uint32_t>(7 * row + 3 * col + 1000 * chip + static_cast<size_t>(exposures_)) % states;
                matrix_[i] = codec::countToCode(width(), static_cast<uint16_t>(count));
            }
    ++exposures_;
}

void SimBox::startExposure(double seconds, bool timed, double now)
{
    exposing_ = true;
    timed_ = timed;
    exposureStart_ = now;
    exposureEnd_ = timed ? now + seconds : 0;
    nextInterval_ = autoEraseTicks_ ? now + double(autoEraseTicks_) * timerTickSeconds(clock_) : 0;
}

void SimBox::finishExposure(double now)
{
    exposing_ = false;
    lastDuration_ = now - exposureStart_;
    countPattern();
}

void SimBox::pump(double now)
{
    if (waitingTrigger_ && now >= triggerAt_) {
        waitingTrigger_ = false;
        sendText("Trigger detected");
        if (trigger_ & 8)
            sendScope();
        startExposure(double(timerTicks_[1]) * timerTickSeconds(clock_), true, now);
    }
    if (!exposing_)
        return;
    if (nextInterval_ > 0 && now >= nextInterval_) {
        sendText("Interval finished");
        nextInterval_ = now + double(autoEraseTicks_) * timerTickSeconds(clock_);
    }
    if (triggerStops_ && now >= exposureStart_ + kTriggerStopsAfter) {
        triggerStops_ = false;
        sendText("Trigger detected");
        if (trigger_ & 8)
            sendScope();
        finishExposure(now);
        sendFrame(lastDuration_);
        return;
    }
    if (timed_ && now >= exposureEnd_) {
        finishExposure(now);
        sendFrame(lastDuration_);
    }
}

void SimBox::reply(uint8_t code, const std::vector<uint8_t>& params, const std::string& status)
{
    std::vector<uint8_t> r{code};
    r.insert(r.end(), params.begin(), params.end());
    r.insert(r.end(), status.begin(), status.end());
    r.push_back(wire::kTerminator);

    Fault fault = Fault::None;
    if (code != ' ' && fault_ != Fault::None) {
        if (faultAfter_ > 0) {
            --faultAfter_;
        } else {
            fault = fault_;
            if (--faultRepeat_ <= 0)
                fault_ = Fault::None;
        }
    }
    if (code == ' ' && partialSyncArmed_) {
        partialSyncArmed_ = false;
        send({'1', '2', '3', '4'});
    }
    switch (fault) {
    case Fault::None:
        send(r);
        break;
    case Fault::Garbage:
        send({0xF1, 0xF7, 0xFE, 0x99, 0xA5});
        send(r);
        break;
    case Fault::FlipBits:
        r[0] ^= 0x80;
        send(r);
        break;
    case Fault::StaleReply:
        send(lastReply_.empty() ? std::vector<uint8_t>{'_', 'O', 'K', '\r'} : lastReply_);
        send(r);
        break;
    case Fault::PartialSync:
        partialSyncArmed_ = true;
        break;
    case Fault::DeviceError: {
        const int kind = replyKindOf(code);
        std::vector<uint8_t> e{code};
        if (kind > 0)
            e.insert(e.end(), static_cast<size_t>(kind), 0);
        else if (kind == kReplyText)
            put16(e, 0);
        else if (kind == kReplyMatrix)
            put32(e, 0);
        else if (kind == kReplyScope)
            e.insert(e.end(), {0, 0, 0, 0});
        else if (kind == kReplyChipboard)
            e.insert(e.end(), 4, 0);
        const std::string text = "Device error";
        e.insert(e.end(), text.begin(), text.end());
        e.push_back(wire::kTerminator);
        send(e);
        break;
    }
    case Fault::Stall:
        break;
    case Fault::ShortRead:
        r.resize(r.size() / 2);
        send(r);
        break;
    case Fault::Unplug:
        plugged_ = false;
        ++unplugs_;
        tx_.clear();
        break;
    }
    lastReply_ = r;
}

void SimBox::handle(uint8_t code, const uint8_t* p, size_t size)
{
    ++received_[code];
    log_.push_back(static_cast<char>(code));
    lastParams_[code].assign(p, p + size);
    const double now = plat::monotonicSeconds();
    pump(now);
    const codec::CounterWidth w = width();
    switch (code) {
    case ' ': {
        const std::string body(wire::kSyncString, 36);
        reply(code, std::vector<uint8_t>(body.begin(), body.end()));
        return;
    }
    case 'i':
    case '?':
    case 'f':
    case ',': {
        const std::string text = code == 'i' ? "Tarvik2 USB readout:" + config_.firmware : "OK";
        std::vector<uint8_t> params;
        put16(params, static_cast<unsigned>(text.size()));
        params.insert(params.end(), text.begin(), text.end());
        reply(code, params);
        return;
    }
    case '|': {
        std::vector<uint8_t> params(4, 0);
        const std::string& id = config_.chipboardId;
        if (id.size() >= 9 && id[3] == '-' && id[4] == 'W') {
            params[0] = static_cast<uint8_t>(id[0]);
            params[1] = static_cast<uint8_t>(std::atoi(id.substr(1, 2).c_str()));
            const unsigned wafer = static_cast<unsigned>(std::atoi(id.substr(5).c_str()));
            params[2] = static_cast<uint8_t>(wafer);
            params[3] = static_cast<uint8_t>(wafer >> 8);
        }
        reply(code, params);
        return;
    }
    case '#':
        reply(code, {static_cast<uint8_t>(config_.chips)});
        return;
    case 'n':
        reply(code, {static_cast<uint8_t>(config_.chipType)});
        return;
    case 'S': {
        std::vector<uint16_t> codes(matrix_.size());
        codec::matrixFromStream({p, size}, static_cast<size_t>(config_.chips), w, codec::Layout::ToReadout, codes);
        matrix_ = codes;
        for (size_t i = 0; i < codes.size(); ++i)
            config8_[i] = wire::pixelConfig(config_.chipType, codes[i]);
        reply(code, {});
        return;
    }
    case 'E':
        std::fill(matrix_.begin(), matrix_.end(), static_cast<uint16_t>(codec::codeCount(w) - 1));
        reply(code, {});
        return;
    case 'e':
        std::fill(matrix_.begin(), matrix_.end(), codec::countToCode(w, 0));
        reply(code, {});
        return;
    case 'm':
        reply(code, matrixReply());
        return;
    case 'd': {
        std::vector<wire::DacRecord> records;
        if (!wire::parseDacBlock(p, size, &records)) {
            reply(code, {0, 0}, "Bad DAC block");
            return;
        }
        dacs_ = records;
        reply(code, {static_cast<uint8_t>(records.size()), 0});
        return;
    }
    case 'o':
        startExposure(0, false, now);
        reply(code, {});
        return;
    case 'c':
    case 'C':
        if (exposing_)
            finishExposure(now);
        reply(code, code == 'C' ? matrixReply() : std::vector<uint8_t>{});
        return;
    case '%': {
        std::vector<uint8_t> params(6);
        codec::putTimer48(params.data(), static_cast<uint64_t>(lastDuration_ / timerTickSeconds(clock_)));
        reply(code, params);
        return;
    }
    case 'O': {
        // The pulse train is an exposure of its own: the counters start from 0.
        const uint32_t count = static_cast<uint32_t>(p[1] | (p[2] << 8)) + 1;
        const uint32_t states = codec::stateCount(w);
        std::fill(matrix_.begin(), matrix_.end(), codec::countToCode(w, 0));
        for (size_t chip = 0; chip < static_cast<size_t>(config_.chips); ++chip)
            for (size_t col = 0; col < 256; ++col) {
                if (config_.chipType >= 2 && !(dacs_[chip].testPulseColumns & (1u << (col % 32))))
                    continue;
                for (size_t row = 0; row < 256; ++row) {
                    const size_t i = chip * codec::kPixelsPerChip + row * 256 + col;
                    if (!(config8_[i] & wire::kCfgEnabled) || (config8_[i] & wire::kCfgTestPulseOff))
                        continue;
                    matrix_[i] = codec::countToCode(w, static_cast<uint16_t>(std::min(count, states - 1)));
                }
            }
        reply(code, matrixReply());
        return;
    }
    case '3':
        clock_ = p[0];
        reply(code, {});
        return;
    case 'b':
        bias_ = p[0];
        reply(code, {});
        return;
    case 'M': {
        uint16_t raw[wire::kAdcChannels] = {};
        raw[wire::kAdcHv] = static_cast<uint16_t>(std::min(4095, bias_ * 16));
        raw[wire::kAdcLeakage] = 100;
        raw[wire::kAdcDac0] = interfaceDac_[0];
        raw[wire::kAdcDac1] = interfaceDac_[1];
        raw[wire::kAdcTvkSense] = static_cast<uint16_t>(1000 + dacs_[0].sense * 10);
        raw[wire::kAdcBsPreamp] = 500;
        raw[wire::kAdcVcc] = 2000;
        raw[wire::kAdcVdd] = 1800;
        raw[wire::kAdcVddBias] = 1500;
        raw[wire::kAdcTemperature] = 1200;
        std::vector<uint8_t> params;
        for (uint16_t v : raw)
            put16(params, v);
        reply(code, params);
        return;
    }
    case 'A':
        scopeSamples_ = static_cast<uint16_t>(p[0] | (p[1] << 8));
        reply(code, {});
        return;
    case '$':
        reply(code, scopeBlock());
        return;
    case '>':
        if (p[0] < 2)
            interfaceDac_[p[0]] = static_cast<uint16_t>((p[1] | (p[2] << 8)) & 0xFFF);
        reply(code, {});
        return;
    case 'Z':
    case ';': {
        const uint64_t ticks = codec::getTimer48(p + 1);
        if (p[0] < 2)
            timerTicks_[p[0]] = ticks;
        else if (p[0] == 128)
            autoEraseTicks_ = ticks;
        if (code == ';')
            startExposure(double(ticks) * timerTickSeconds(clock_), true, now);
        reply(code, {});
        return;
    }
    case 'g':
        startExposure(double(timerTicks_[0]) * timerTickSeconds(clock_), true, now);
        reply(code, {});
        return;
    case 'G':
        // An abort ends the exposure: the counters keep what they counted.
        if (exposing_)
            finishExposure(now);
        exposing_ = waitingTrigger_ = triggerStops_ = false;
        reply(code, {});
        return;
    case 'Q':
        trigger_ = p[0];
        reply(code, {});
        return;
    case 'l':
        waitingTrigger_ = true;
        triggerAt_ = now + kTriggerDelay;
        reply(code, {});
        return;
    case 'L':
        waitingTrigger_ = false;
        reply(code, {});
        return;
    case '~':
        todo_ = p[0];
        // "Trigger stops": the exposure runs from here until the trigger.
        if (trigger_ & 1) {
            if (!(todo_ & 128) && !(todo_ & 4))
                autoEraseTicks_ = 0;
            startExposure(0, false, now);
            triggerStops_ = true;
        }
        reply(code, {});
        return;
    default: {
        const int kind = replyKindOf(code);
        reply(code, std::vector<uint8_t>(kind > 0 ? static_cast<size_t>(kind) : 0, 0));
        return;
    }
    }
}

// ---- backend ----

namespace {
// A link to a box; it dies when the box is unplugged, also once the box is plugged in again.
class SimLink final : public FtLink {
public:
    explicit SimLink(std::shared_ptr<SimBox> box) : box_(std::move(box)), plugCount_(box_->plugCount()) {}
    int queueDepth(uint32_t* bytes) override
    {
        *bytes = 0;
        return usable() ? box_->queueDepth(bytes) : dead();
    }
    int read(uint8_t* buffer, uint32_t wanted, uint32_t* got) override
    {
        *got = 0;
        return usable() ? box_->read(buffer, wanted, got) : dead();
    }
    int write(const uint8_t* data, uint32_t size, uint32_t* written) override
    {
        *written = 0;
        return usable() ? box_->write(data, size, written) : dead();
    }
    int purge() override { return usable() ? box_->purge() : dead(); }
    int close() override
    {
        if (!box_)
            return FT_INVALID_HANDLE;
        box_.reset();
        return FT_OK;
    }

private:
    bool usable() const { return box_ && box_->plugCount() == plugCount_; }
    int dead() const { return box_ ? FT_IO_ERROR : FT_INVALID_HANDLE; }

    std::shared_ptr<SimBox> box_;
    const uint64_t plugCount_;
};
} // namespace

void SimBackend::setBoxes(std::vector<std::shared_ptr<SimBox>> boxes)
{
    std::lock_guard<std::mutex> guard(m_);
    boxes_ = std::move(boxes);
}

std::vector<std::shared_ptr<SimBox>> SimBackend::boxes() const
{
    std::lock_guard<std::mutex> guard(m_);
    return boxes_;
}

int SimBackend::enumerate(std::vector<LinkInfo>* found)
{
    found->clear();
    for (const auto& box : boxes())
        if (box->plugged())
            found->push_back(box->info());
    return FT_OK;
}

int SimBackend::open(const LinkInfo& info, std::unique_ptr<FtLink>* link)
{
    for (const auto& box : boxes())
        if (box->info().serial == info.serial) {
            if (const int status = box->open(); status != FT_OK)
                return status;
            *link = std::make_unique<SimLink>(box);
            return FT_OK;
        }
    return FT_DEVICE_NOT_FOUND;
}

} // namespace usb::sim
