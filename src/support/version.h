// The program's version, as the description of every run and the result
// files name it.
#pragma once

namespace bayescreen {

inline constexpr char kProgramVersion[] = "April 9, 2008";

}  // namespace bayescreen
