// Zelbrowser_id.cpp - decoding of the playback request's 11-character id:
// 4 hex digits of packed day, 2 digits of camera, 5 digits of second of day.
// Digits are read by byte value (unsigned), so the result does not depend on
// whether plain char is signed on the platform.
#include "Zelbrowser.h"

namespace {

constexpr int kMaxCamera = 20;
constexpr long kSecondsPerDay = 86400;
constexpr unsigned int kFailure = static_cast<unsigned int>(-1);

// Offset of byte c from '0'; NUL and other non-digits give values outside
// 0..9 on purpose: only the range of the assembled number is checked.
int digitOffset(char c)
{
    return static_cast<unsigned char>(c) - '0';
}

// Value of one hex digit, or -1 for any other byte.
int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

}  // namespace

int getCmr(char* id)
{
    const int cam = digitOffset(id[4]) * 10 + digitOffset(id[5]);
    return (cam >= 1 && cam <= kMaxCamera) ? cam : -1;
}

unsigned int getDate(char* id)
{
    unsigned int day = 0;
    for (int i = 0; i < 4; ++i) {
        const int digit = hexDigit(id[i]);
        if (digit < 0)
            return kFailure;
        day = day * 16 + static_cast<unsigned int>(digit);
    }
    return day;
}

unsigned int getTime(char* id)
{
    // Five offsets of at most |255 - 48| keep this far inside long's range.
    long seconds = 0;
    for (int i = 6; i <= 10; ++i)
        seconds = seconds * 10 + digitOffset(id[i]);
    return (seconds >= 0 && seconds < kSecondsPerDay) ? static_cast<unsigned int>(seconds)
                                                      : kFailure;
}
