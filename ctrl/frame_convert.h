// Element conversions between the three frame element types (i16, u32, double), as getData and saving
// in another element type use them. Defined for every input: NaN becomes 0, values beyond the range that
// the truncation can represent saturate.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "tvk_types.h"

namespace frameconv {

inline bool isFrameType(int type) { return type == TYPE_I16 || type == TYPE_U32 || type == TYPE_DOUBLE; }

inline uint32_t elementSize(int type)
{
    switch (type) {
    case TYPE_I16: return 2;
    case TYPE_U32: return 4;
    case TYPE_DOUBLE: return 8;
    default: return 0;
    }
}

// Truncation toward zero into 64 bits, saturating outside the int64 range; NaN gives 0.
inline int64_t truncToInt64(double v)
{
    if (std::isnan(v))
        return 0;
    if (v >= 9223372036854775807.0)
        return std::numeric_limits<int64_t>::max();
    if (v <= -9223372036854775808.0)
        return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(v);
}

// u32 -> i16: values above 32767 become 32767.
inline int16_t u32ToI16(uint32_t v) { return v > 32767u ? int16_t(32767) : int16_t(v); }
// i16 -> u32: sign-extended, so a negative count becomes a large unsigned value.
inline uint32_t i16ToU32(int16_t v) { return static_cast<uint32_t>(static_cast<int32_t>(v)); }
// double -> i16: above 32767 gives 32767, else truncated toward zero and kept to its low 16 bits.
inline int16_t doubleToI16(double v)
{
    if (v > 32767.0)
        return 32767;
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint64_t>(truncToInt64(v)) & 0xFFFFu));
}
// double -> u32: above 4294967295 gives 4294967295, else truncated toward zero and kept to its low
// 32 bits (-1.5 gives 4294967295).
inline uint32_t doubleToU32(double v)
{
    if (v > 4294967295.0)
        return 0xFFFFFFFFu;
    return static_cast<uint32_t>(static_cast<uint64_t>(truncToInt64(v)) & 0xFFFFFFFFu);
}

// u32 -> double, exactly, with the widest vectors the processor has.
#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("avx512f"))) inline void u32ToDoubleAvx512(double* d, const uint32_t* s, size_t count)
{
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i));
        _mm512_storeu_pd(d + i, _mm512_maskz_cvtepu32_pd(0xFF, v));
    }
    for (; i < count; ++i)
        d[i] = s[i];
}

// Each value less 2^31 is an int32, converted exactly; 2^31 added back is exact below 2^32.
__attribute__((target("avx2"))) inline void u32ToDoubleAvx2(double* d, const uint32_t* s, size_t count)
{
    size_t i = 0;
    const __m128i flip = _mm_set1_epi32(int32_t(0x80000000u));
    const __m256d twoTo31 = _mm256_set1_pd(2147483648.0);
    for (; i + 4 <= count; i += 4) {
        const __m128i v = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i)), flip);
        _mm256_storeu_pd(d + i, _mm256_add_pd(_mm256_cvtepi32_pd(v), twoTo31));
    }
    for (; i < count; ++i)
        d[i] = s[i];
}
#endif

inline void u32ToDouble(double* d, const uint32_t* s, size_t count)
{
#if defined(__x86_64__) && defined(__GNUC__)
    static const int level = __builtin_cpu_supports("avx512f") ? 2 : __builtin_cpu_supports("avx2") ? 1 : 0;
    if (level == 2)
        return u32ToDoubleAvx512(d, s, count);
    if (level == 1)
        return u32ToDoubleAvx2(d, s, count);
#endif
    for (size_t i = 0; i < count; ++i)
        d[i] = s[i];
}

// Converts count elements from src (type from) into dst (type to); both are frame types. Equal types copy.
inline void convert(void* dst, int to, const void* src, int from, size_t count)
{
    if (to == from) {
        std::memcpy(dst, src, count * elementSize(to));
        return;
    }
    if (from == TYPE_I16) {
        auto s = static_cast<const int16_t*>(src);
        if (to == TYPE_U32) {
            auto d = static_cast<uint32_t*>(dst);
            for (size_t i = 0; i < count; ++i)
                d[i] = i16ToU32(s[i]);
        } else {
            auto d = static_cast<double*>(dst);
            for (size_t i = 0; i < count; ++i)
                d[i] = s[i];
        }
    } else if (from == TYPE_U32) {
        auto s = static_cast<const uint32_t*>(src);
        if (to == TYPE_I16) {
            auto d = static_cast<int16_t*>(dst);
            for (size_t i = 0; i < count; ++i)
                d[i] = u32ToI16(s[i]);
        } else {
            u32ToDouble(static_cast<double*>(dst), s, count);
        }
    } else {
        auto s = static_cast<const double*>(src);
        if (to == TYPE_I16) {
            auto d = static_cast<int16_t*>(dst);
            for (size_t i = 0; i < count; ++i)
                d[i] = doubleToI16(s[i]);
        } else {
            auto d = static_cast<uint32_t*>(dst);
            for (size_t i = 0; i < count; ++i)
                d[i] = doubleToU32(s[i]);
        }
    }
}

} // namespace frameconv
