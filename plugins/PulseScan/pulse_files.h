// The results of a measurement as text files in one folder: the pulse-height and cluster-size spectra as
// chart series lines, and every accumulated image as a matrix of numbers, a row a line.
#pragma once

#include <string>

#include "pulse_analysis.h"

inline constexpr const char* kSpectrumFile = "PulseScan spectrum.txt";
inline constexpr const char* kSizeSpectrumFile = "Cluster size spectrum.txt";

// One image as text: the values of a row separated by blanks, each row ended by "\n"; numbers in the C
// locale, doubles in their shortest exact form.
std::string pulseImageText(const PulseImage<uint32_t>& image);
std::string pulseImageText(const PulseImage<double>& image);

// Writes every file (each replaced whole, never half-written) into folder; 0, or the code of the first
// failure with its message in error (the files before it are written).
int savePulseResults(const std::string& folder, const PulseResults& results, std::string* error = nullptr);
