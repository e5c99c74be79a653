#include "filter_settings.h"

namespace chainedit {

namespace {

constexpr _FilterParDesc row(uint32_t type, uint32_t count, const char* name, const char* description)
{
    return _FilterParDesc{type, count, kParamFlags, name, description, nullptr};
}

template <class S, class M>
ParamRow<S> par(uint32_t type, uint32_t count, const char* name, const char* description, M S::*member,
                bool folder = false)
{
    return ParamRow<S>{row(type, count, name, description), member, folder};
}

} // namespace

std::span<const ParamRow<SaveSettings>> SaveSettings::rows()
{
    using S = SaveSettings;
    static const ParamRow<S> table[] = {
        par(TYPE_CHAR, kTextFieldSize, "Path", "Output path (e.g. C:\\data\\)", &S::path, true),
        par(TYPE_U32, 1, "Mode", "0 - Full matrix, 1 - Sparse [x,c], 2 - Sparse [x,y,c]", &S::mode),
        par(TYPE_BOOL, 1, "Binary", "Save in binary format", &S::binary),
        par(TYPE_U32, 1, "Pixels over threshold",
            "Minimum number of pixels which must have value at least \"Threshold value\"", &S::pixelsOverThreshold),
        par(TYPE_DOUBLE, 1, "Threshold value", "Minimum value of pixel", &S::threshold),
    };
    return table;
}

std::span<const ParamRow<CropSettings>> CropSettings::rows()
{
    using S = CropSettings;
    static const ParamRow<S> table[] = {
        par(TYPE_I32, 1, "Left", "Left position (1-based) of crop rectangle", &S::left),
        par(TYPE_I32, 1, "Bottom", "Bottom position (1-based) of crop rectangle", &S::bottom),
        par(TYPE_I32, 1, "Width", "Width of crop rectangle", &S::width),
        par(TYPE_I32, 1, "Height", "Height of crop rectangle", &S::height),
    };
    return table;
}

std::span<const ParamRow<CountsToTimeSettings>> CountsToTimeSettings::rows()
{
    using S = CountsToTimeSettings;
    static const ParamRow<S> table[] = {
        par(TYPE_U32, 1, "Device ID", "Tarvik device ID (assigned by Ombrel).", &S::deviceId),
        par(TYPE_DOUBLE, 1, "Clock frequency",
            "Clock frequency (MHz), if nonzero this frequency is used instead of clock freq. of device (Device ID is "
            "ignored)",
            &S::clockMHz),
    };
    return table;
}

std::span<const ParamRow<SrnSettings>> SrnSettings::rows()
{
    static const ParamRow<SrnSettings> table[] = {
        par(TYPE_CHAR, kTextFieldSize, "a", "File path to matrix with parameters 'a' (linear part slope).",
            &SrnSettings::pathA),
        par(TYPE_CHAR, kTextFieldSize, "b", "File path to matrix with parameters 'b' (linear part shift).",
            &SrnSettings::pathB),
        par(TYPE_CHAR, kTextFieldSize, "c", "File path to matrix with parameters 'c' (non-linear part extent).",
            &SrnSettings::pathC),
        par(TYPE_CHAR, kTextFieldSize, "t", "File path to matrix with parameters 't' (threshold).",
            &SrnSettings::pathT),
    };
    return table;
}

std::span<const ParamRow<StatisticsSettings>> StatisticsSettings::rows()
{
    using S = StatisticsSettings;
    static const ParamRow<S> table[] = {
        par(TYPE_BOOL, 1, "Write record index", "Record index is written to output file.", &S::writeRecordIndex),
        par(TYPE_BOOL, 1, "Write time stamp", "Time stamp is written to output file.", &S::writeTimeStamp),
        par(TYPE_BOOL, 1, "Write mean count", "Mean count in frame is written to output file.", &S::writeMean),
        par(TYPE_BOOL, 1, "Write total count", "Total count in frame is written to output file.", &S::writeTotal),
        par(TYPE_BOOL, 1, "Write pixels counts", "Individual pixel counts (non-masked) will be saved.",
            &S::writePixelCounts),
        par(TYPE_BOOL, 1, "Write pixels positions", "Pixels positions will be also saved.", &S::writePixelPositions),
        par(TYPE_U32, 1, "Record index", "Current value of record index.", &S::recordIndex),
        par(TYPE_DOUBLE, 1, "Invalid value", "Pixels having this value are skipped when performing frame analysis.",
            &S::invalidValue),
        par(TYPE_CHAR, kTextFieldSize, "Output file path", "Output file name where results will be saved.",
            &S::outputPath),
    };
    return table;
}

std::span<const ParamRow<MaskSettings>> MaskSettings::rows()
{
    using S = MaskSettings;
    static const ParamRow<S> table[] = {
        par(TYPE_U32, 1, "Device ID", "Tarvik device ID (assigned by Ombrel).", &S::deviceId),
        par(TYPE_DOUBLE, 1, "Masked value", "Pixels which are masked will have this value.", &S::maskedValue),
    };
    return table;
}

} // namespace chainedit
