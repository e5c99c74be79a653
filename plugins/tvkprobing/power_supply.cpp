#include "power_supply.h"

#include <cmath>

#include "platform/numbers.h"

namespace probing {

namespace {

constexpr uint32_t kOpenTimeoutMs = 2000;
constexpr uint32_t kReplyMax = 256;
constexpr ViStatus kViSuccessMaxCnt = 0x3FFF0006; // the read filled the buffer before the reply's end
constexpr int kDrainReads = 64;                   // reads that drop the rest of an overlong reply
// Instruments answer 9.9E37 (and 9.91E37) for a reading they could not make: no measured value.
constexpr double kNoReading = 9.9e37;

} // namespace

bool VisaLibrary::open(const std::string& path)
{
    if (!module_.open(path)) {
        error_ = module_.error();
        return false;
    }
    const struct {
        const char* name;
        void** slot;
    } functions[] = {{"viOpenDefaultRM", reinterpret_cast<void**>(&viOpenDefaultRM)},
                     {"viOpen", reinterpret_cast<void**>(&viOpen)},
                     {"viClose", reinterpret_cast<void**>(&viClose)},
                     {"viRead", reinterpret_cast<void**>(&viRead)},
                     {"viWrite", reinterpret_cast<void**>(&viWrite)}};
    for (const auto& f : functions) {
        *f.slot = module_.symbol(f.name);
        if (!*f.slot) {
            error_ = module_.error();
            viOpenDefaultRM = nullptr;
            viOpen = nullptr;
            viClose = nullptr;
            viRead = nullptr;
            viWrite = nullptr;
            module_.close();
            return false;
        }
    }
    return true;
}

PowerSupply::~PowerSupply() { close(); }

bool PowerSupply::open(VisaLibrary* visa, int address)
{
    close();
    if (!visa || !visa->viOpen || address <= 0) {
        error_ = "No power supply is configured.";
        return false;
    }
    visa_ = visa;
    const std::string resource = "GPIB::" + std::to_string(address) + "::INSTR";
    if (visa_->viOpenDefaultRM(&rm_) < 0 || visa_->viOpen(rm_, resource.c_str(), 0, kOpenTimeoutMs, &vi_) < 0) {
        error_ = "Cannot open the power supply " + resource + ".";
        close();
        return false;
    }
    if (!write("System:Remote") || !query("*IDN?", &identity_)) {
        close();
        return false;
    }
    return true;
}

void PowerSupply::close()
{
    if (visa_ && vi_)
        visa_->viClose(vi_);
    if (visa_ && rm_)
        visa_->viClose(rm_);
    vi_ = 0;
    rm_ = 0;
}

bool PowerSupply::write(const std::string& text)
{
    const std::string line = text + "\n";
    uint32_t written = 0;
    if (vi_ == 0 || visa_->viWrite(vi_, reinterpret_cast<const unsigned char*>(line.data()),
                                   static_cast<uint32_t>(line.size()), &written) < 0 ||
        written != line.size()) {
        error_ = "Writing \"" + text + "\" to the power supply failed.";
        return false;
    }
    return true;
}

namespace {

// Whether a read of got bytes into a buffer of kReplyMax with that status left part of the reply unread.
bool replyGoesOn(ViStatus status, const unsigned char* buffer, uint32_t got)
{
    return status == kViSuccessMaxCnt || (got == kReplyMax && buffer[got - 1] != '\n');
}

} // namespace

bool PowerSupply::query(const std::string& text, std::string* reply)
{
    if (!write(text))
        return false;
    unsigned char buffer[kReplyMax] = {};
    uint32_t got = 0;
    const ViStatus status = visa_->viRead(vi_, buffer, kReplyMax, &got);
    if (status < 0 || got > kReplyMax) {
        error_ = "Reading the answer to \"" + text + "\" from the power supply failed.";
        return false;
    }
    if (replyGoesOn(status, buffer, got)) {
        // The rest is read and dropped, so that it is not taken for the answer to the next query.
        bool more = true;
        for (int n = 0; more && n < kDrainReads; ++n) {
            unsigned char rest[kReplyMax];
            uint32_t restGot = 0;
            const ViStatus restStatus = visa_->viRead(vi_, rest, kReplyMax, &restGot);
            more = restStatus >= 0 && restGot <= kReplyMax && replyGoesOn(restStatus, rest, restGot);
        }
        error_ = "The power supply's answer to \"" + text + "\" is longer than " + std::to_string(kReplyMax) +
                 " bytes.";
        return false;
    }
    reply->assign(reinterpret_cast<const char*>(buffer), got);
    while (!reply->empty() && (reply->back() == '\n' || reply->back() == '\r'))
        reply->pop_back();
    return true;
}

bool PowerSupply::queryNumber(const std::string& text, double* value)
{
    std::string reply;
    if (!query(text, &reply))
        return false;
    const std::optional<double> number = plat::parseDouble(reply);
    if (!number) {
        error_ = "The power supply's answer \"" + reply + "\" is no number.";
        return false;
    }
    if (std::fabs(*number) >= kNoReading) {
        error_ = "The power supply's answer \"" + reply + "\" is no measured value.";
        return false;
    }
    *value = *number;
    return true;
}

bool PowerSupply::currentMa(double* value)
{
    double amps = 0;
    if (!queryNumber("MEASURE:CURRENT?", &amps))
        return false;
    *value = amps * 1000.0;
    return true;
}

bool PowerSupply::voltage(double* value) { return queryNumber("MEASURE:VOLTAGE?", value); }

} // namespace probing
