#include "support/commnum.h"

#include <cstdio>
#include <cstring>

namespace bayescreen {

static char buff0[32], buff1[32], buff2[32];

const char *commnum(int32_t n) { return commnumb(buff0, n); }
const char *commnum1(int32_t n) { return commnumb(buff1, n); }
const char *commnum2(int32_t n) { return commnumb(buff2, n); }

char *commnumb(char *buf, int32_t n) {
  if (n < -9999 || n > 9999) return commnumbf(buf, n);
  snprintf(buf, kCommnumBufSize, "%ld", static_cast<long>(n));
  return buf;
}

char *commnumbf(char *buf, int32_t n) {
  char *out = buf;
  // The magnitude is taken in 64 bits so that INT32_MIN has one.
  long long mag = n;
  if (mag < 0) {
    *out++ = '-';
    mag = -mag;
  }
  char digits[24];
  int len = snprintf(digits, sizeof digits, "%lld", mag);
  int grouped = len + (len - 1) / 3;
  memset(out, 0, static_cast<size_t>(grouped) + 2);
  int o = grouped - 1;
  for (int k = 0; k < len; k++) {  // k: position counted from the right
    if (k > 0 && k % 3 == 0) out[o--] = ',';
    out[o--] = digits[len - 1 - k];
  }
  return buf;
}

}  // namespace bayescreen
