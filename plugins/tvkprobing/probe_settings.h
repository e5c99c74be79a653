// The settings of a probing run, kept in the device's settings file: the chip test's section "Settings"
// and the station's section "ProbingStation". Integers are written as decimal text, the floating-point
// chip-test keys with "%.5g". A key that is missing or unreadable keeps its default.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace probing {

struct ChipTestSettings {
    int showPreview = 0;
    int showDepScan = 0;
    std::string outputDir;
    int pulseCount = 1000;
    double pulseHeight = -0.03;
    double pulsePeriod = -0.02;
    int aninBadLimit = 950;
    int aninNoisyLimit = 1050;
    int aninAnalScanStep = 5;
    int aninAnalScanStepZRN = 25;
    int depScanStep = 1;
    int depSetDacsDef = 1;
    int badColsA = 0, badColsB = 1, badColsC = 2, badColsD = 256;
    int badPixsA = 128, badPixsB = 384, badPixsC = 640, badPixsD = 65536;
    int badColPixCount = 128;
    // Set when the dialog is built, not kept in the file: the share of pixels within the ANIN limits
    // that ends the ANIN threshold scan.
    double aninGoodShare = 0.4;

    void load(const std::string& iniFile);
    int save(const std::string& iniFile) const; // 0 or the ini layer's code
    // Every key with its value as written, in the order they are written; set takes a value as read
    // (false: no such key, or no number where one is needed; nothing changed).
    std::vector<std::pair<std::string, std::string>> entries() const;
    bool set(const std::string& key, const std::string& text);
};

struct StationSettings {
    int dieWidth21 = 14489, dieHeight21 = 18193;
    int dieWidthZRN = 14369, dieHeightZRN = 16258;
    int dieWidthSarnet = 14369, dieHeightSarnet = 16258;
    int showVerifyDlg = 1;
    int showChipClass = 0;
    int showMeasCurrent = 0;
    int feedback = 0;
    int upDownCount = 1;
    int maxOvdSteps = 0;
    int currentCondition = 200;
    int fixedOvdCount = 8;
    int waferType = 1;
    int dirReversed = 0;
    std::string comPort;
    int comBaud = 9600;
    int comTimeout = 30000; // ms
    std::string traceFile;  // empty: "<OutputDir>/probecom_trace.txt"
    std::string visaLibrary = "libvisa.so";
    int gpibVDDA = 0; // GPIB address of the analog supply; 0: none
    int gpibVDDD = 0;
    int waferCols = 10;
    int waferRows = 10;

    void load(const std::string& iniFile);
    int save(const std::string& iniFile) const;
    std::vector<std::pair<std::string, std::string>> entries() const;
    bool set(const std::string& key, const std::string& text);
};

} // namespace probing
