// Integers as decimal text with a comma between groups of three digits.
#pragma once
#include <cstdint>

namespace bayescreen {

// Each returns its own static buffer, valid until its next call, so results
// of different entry points can be used in one print call.
const char *commnum(int32_t n);
const char *commnum1(int32_t n);
const char *commnum2(int32_t n);
// Into the caller's buffer (at least 16 bytes). Values of at most four digits
// get no separator; commnumbf always groups.
char *commnumb(char *buf, int32_t n);
char *commnumbf(char *buf, int32_t n);

}  // namespace bayescreen
