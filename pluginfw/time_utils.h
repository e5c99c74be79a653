// Precise time, waits that another thread can abort, and the text of a time. Any thread.
#pragma once

#include <atomic>

// Seconds since 1970 with sub-millisecond resolution; successive values never go back.
double getPreciseTime();

// Waits the given seconds, sleeping (never spinning); returns early, with false, once *abort is true
// (checked at least every millisecond). abort may be null. Zero, negative or NaN seconds return at once.
bool preciseWait(double seconds, const std::atomic<bool>* abort);

// Text of a time, e.g. "Wed Jan 14 08:30:13.123456 2026" for 6 fraction digits, into a 64-character
// buffer (6 digits for frame attributes, 4 for the log; at most 9, 0 gives no fraction). Local time,
// English names whatever the locale. Returns out; the text is empty for a time outside years 0..9999.
char* formatTimestamp(double seconds, char* out, unsigned fractionDigits = 6);
