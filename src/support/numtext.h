// Reading a real number at the start of a text; writing a count.
#pragma once
#include <cstdint>
#include <string>

namespace bayescreen {

// Reads the real number that begins text (after optional white space), as
// the scanf conversion "%lf" does: decimal or hexadecimal notation, "inf",
// "infinity" and "nan" in any case, with an optional sign; the rest of the
// text is left alone. Stores the value in *value and returns true, or returns
// false and leaves *value alone when no number begins there. Unlike scanf,
// a value beyond the doubles is defined: plus or minus infinity, and a value
// below the least subnormal is 0.
//
// scanf reads ahead before it decides, so it refuses two beginnings that
// strtod would cut short: "0x" without a hexadecimal digit or point after it
// (strtod would read the 0), and "infi" that does not go on to "infinity"
// (strtod would read "inf"). Both are refused here as well, so that every
// text reads as it always has.
bool scan_double(const char *text, double *value);

// A count with its digits in groups of three, as "16,777,216": for counts
// of any size (the report's own comma formats take 32-bit numbers).
std::string grouped_count(uint64_t n);

}  // namespace bayescreen
