#include "power_supply.h"

#include "platform/numbers.h"

namespace probing {

namespace {

constexpr uint32_t kOpenTimeoutMs = 2000;
constexpr uint32_t kReplyMax = 256;

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

bool PowerSupply::query(const std::string& text, std::string* reply)
{
    if (!write(text))
        return false;
    unsigned char buffer[kReplyMax] = {};
    uint32_t got = 0;
    if (visa_->viRead(vi_, buffer, kReplyMax, &got) < 0 || got > kReplyMax) {
        error_ = "Reading the answer to \"" + text + "\" from the power supply failed.";
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
