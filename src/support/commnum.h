// Integers as decimal text with a comma between groups of three digits.
#pragma once
#include <cstdint>

namespace bayescreen {

// Each returns its own static buffer, valid until its next call, so results
// of different entry points can be used in one print call.
const char *commnum(int32_t n);
const char *commnum1(int32_t n);
const char *commnum2(int32_t n);
// The least size of a caller's buffer: the longest text, "-2,147,483,648",
// and its terminating null fit with a byte to spare.
constexpr unsigned kCommnumBufSize = 16;
// Into the caller's buffer (at least kCommnumBufSize bytes). Values of at
// most four digits get no separator; commnumbf always groups.
char *commnumb(char *buf, int32_t n);
char *commnumbf(char *buf, int32_t n);

}  // namespace bayescreen
