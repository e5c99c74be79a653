// The bench power supply of a probing run: a GPIB instrument reached through a VISA library loaded at
// run time. Our own prototypes of the five functions used, per the public VISA standard; plain
// viWrite/viRead carry the same bytes as the formatted calls, without variadic calls across the library.
// A supply belongs to the run's thread.
#pragma once

#include <cstdint>
#include <string>

#include "platform/module.h"

namespace probing {

using ViStatus = int32_t;
using ViSession = uint32_t;
using ViOpenDefaultRMFn = ViStatus (*)(ViSession* rm);
using ViOpenFn = ViStatus (*)(ViSession rm, const char* resource, uint32_t accessMode, uint32_t timeoutMs,
                              ViSession* vi);
using ViCloseFn = ViStatus (*)(ViSession object);
using ViReadFn = ViStatus (*)(ViSession vi, unsigned char* buffer, uint32_t count, uint32_t* returned);
using ViWriteFn = ViStatus (*)(ViSession vi, const unsigned char* buffer, uint32_t count, uint32_t* returned);

class VisaLibrary {
public:
    // Loads the library and binds the five functions. false: error() holds dlerror's text.
    bool open(const std::string& path);
    const std::string& error() const { return error_; }

    ViOpenDefaultRMFn viOpenDefaultRM = nullptr;
    ViOpenFn viOpen = nullptr;
    ViCloseFn viClose = nullptr;
    ViReadFn viRead = nullptr;
    ViWriteFn viWrite = nullptr;

private:
    plat::Module module_;
    std::string error_;
};

class PowerSupply {
public:
    PowerSupply() = default;
    ~PowerSupply();
    PowerSupply(const PowerSupply&) = delete;
    PowerSupply& operator=(const PowerSupply&) = delete;

    // Opens "GPIB::<address>::INSTR" (address > 0), puts it in remote mode and reads its identity.
    // false: error() says why.
    bool open(VisaLibrary* visa, int address);
    void close();
    bool isOpen() const { return vi_ != 0; }

    // "MEASURE:CURRENT?" in mA (the reply is in A) and "MEASURE:VOLTAGE?" in V. false on a failure: no
    // answer, or one that is not a single finite number, is longer than 256 bytes or is the 9.9E37 of
    // "no reading".
    bool currentMa(double* value);
    bool voltage(double* value);

    const std::string& identity() const { return identity_; }
    const std::string& error() const { return error_; }

private:
    bool write(const std::string& text);
    bool query(const std::string& text, std::string* reply);
    bool queryNumber(const std::string& text, double* value);

    VisaLibrary* visa_ = nullptr;
    ViSession rm_ = 0;
    ViSession vi_ = 0;
    std::string identity_;
    std::string error_;
};

} // namespace probing
