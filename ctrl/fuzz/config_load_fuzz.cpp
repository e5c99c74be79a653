// Fuzz entry: the configuration readers of a device, on the fake hardware library (device 0: two chips
// of type 1, device 1: one chip of type 3). The first byte chooses the device (bit 2) and the file kind
// (bits 0-1); the rest is the file:
//   0: a chip configuration (.tcf): loadTvkCfg, then initTvkDevice with it, then a save of the result,
//      which must load again;
//   1: a binary pixel configuration (.bpc): loadPixelsCfg;
//   2: a DAC file (.dacs) beside a good pixel file: loadPixelsCfg with DACs;
//   3: an ASCII pixel file: loadPixelsCfgAscii as mask and as threshold adjustment.
// Built as a libFuzzer target with clang; the kept inputs are replayed by an ordinary test.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "fuzz_scratch.h"
#include "registry.h"
#include "tvk_ctrl.h"

namespace {

// The module folder with the fake library, set up once.
const std::string& folder()
{
    static const std::string dir = [] {
        const std::string d = ombrel_fuzz::scratchFolder("config-fuzz");
        std::filesystem::create_directories(d + "/hwlibs");
        std::filesystem::copy_file(FAKEHW_PATH, d + "/hwlibs/fake.so",
                                   std::filesystem::copy_options::overwrite_existing);
        const std::string ini = "[Fake]\nDevices=2\n[Device0]\nChips=4\nType=1\nId=A\n[Device1]\nChips=1\nType=3\nId=B\n";
        ombrel_fuzz::writeFile(d + "/hwlibs/fake.ini", reinterpret_cast<const uint8_t*>(ini.data()), ini.size());
        DeviceRegistry::instance().setModuleFolderOverride(d);
        initTvkCtrl();
        return d;
    }();
    return dir;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const std::string& dir = folder();
    const unsigned dev = (data[0] >> 2) & 1;
    const int kind = data[0] & 3;
    ++data;
    --size;
    const uint32_t pixels = dev == 0 ? 4 * 65536 : 65536;
    if (kind == 0) {
        const std::string file = dir + "/c.tcf";
        ombrel_fuzz::writeFile(file, data, size);
        if (loadTvkCfg(dev, file.c_str()) == 0) {
            // What was taken saves and loads again.
            const std::string saved = dir + "/saved.tcf";
            if (saveTvkCfg(dev, saved.c_str()) != 0 || loadTvkCfg(dev, saved.c_str()) != 0)
                std::abort();
        }
        initTvkDevice(dev, file.c_str());
    } else if (kind == 1) {
        const std::string file = dir + "/p.bpc";
        ombrel_fuzz::writeFile(file, data, size);
        loadPixelsCfg(dev, file.c_str(), 0);
    } else if (kind == 2) {
        const std::string file = dir + "/d.bpc";
        const std::string good(pixels, '\x3F');
        ombrel_fuzz::writeFile(file, reinterpret_cast<const uint8_t*>(good.data()), good.size());
        ombrel_fuzz::writeFile(file + ".dacs", data, size);
        loadPixelsCfg(dev, file.c_str(), 1);
    } else {
        const std::string file = dir + "/a.txt";
        ombrel_fuzz::writeFile(file, data, size);
        loadPixelsCfgAscii(dev, file.c_str(), nullptr, file.c_str(), nullptr, 0);
    }
    return 0;
}
