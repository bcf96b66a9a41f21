#include "support/showplaces.h"

#include <cstdio>
#include <cstdlib>

#include <string>

#include "support/error.h"
#include "support/helpers.h"

namespace bayescreen {

thread_local const char **prog_place = nullptr;
thread_local unsigned npg = 0;
thread_local unsigned nxpg = 0;
unsigned max_prdepth = 100;
int program_place_verbose = 0;

// Deeper nesting than allowed: an error showing the first places.
[[noreturn]] static void stack_overflow() {
  char line[200];
  std::string text = "\nSTACK DEPTH OVERFLOW for PROGRAM PLACE STACK !\n";
  snprintf(line, sizeof line, "Maximum depth: %d\nCurrent depth: %d\n", static_cast<int>(max_prdepth),
           static_cast<int>(npg + 1));
  text += line;
  text += "(If this is not an error, use command\n"
          "  `set_progplace_stackdepth(newdepth)' to set\n"
          "  a new program-place stack depth.)\n";
  unsigned shown = npg;
  if (npg > 20) {
    text += "Showing the first 20  PROGRAM PLACES:\n";
    shown = 20;
  } else {
    text += "Showing the PROGRAM PLACE stack:\n";
  }
  for (unsigned i = 0; i < shown; i++) text += std::string("  ") + prog_place[i] + "\n";
  throw Error(text, Channel::StdErr);
}

const char *set_program_place(const char *name) {
  if (npg >= max_prdepth) stack_overflow();
  if (npg >= nxpg) {
    nxpg = npg + 30;
    prog_place = static_cast<const char **>(
        rexxalloc(prog_place, sizeof(*prog_place), npg, nxpg + 3));
  }
  // The slot above the top keeps the name popped last from this depth; it
  // moves up one so that it can still be shown as the previous place.
  if (prog_place[npg] != nullptr) prog_place[npg + 1] = prog_place[npg];
  prog_place[npg] = name;
  npg++;
  if (program_place_verbose) {
    printf("(Set_program_place(%s))\n", name);
    track_program_place("SET", name);
  }
  return name;
}

void reset_program_place(const char *name) {
  if (npg == 0) return;
  npg--;
  if (name != nullptr && strixcmp(name, prog_place[npg]) != 0) {
    printf("WARNING: RESET_PROGRAM_PLACE MISMATCH ERROR!\n"
           "  RESET(%s) MISMATCHES SET(%s) ON STACK  Stack depth: %d\n",
           name, prog_place[npg], static_cast<int>(npg));
  }
  if (program_place_verbose && name != nullptr) {
    printf("(Reset_program_place(%s))\n", name);
    track_program_place("RESET", nullptr);
  }
}

static void show_places(bool with_previous) {
  if (prog_place == nullptr || prog_place[0] == nullptr) {
    fprintf(stderr, "  (Set some Program Places to find out where this happened.)\n");
    return;
  }
  if (npg == 0) {
    fprintf(stderr, "  NO PROGRAM PLACES CURRENTLY SET\n");
  } else if (npg == 1) {
    fprintf(stderr, "  PROGRAM PLACE = %s\n", prog_place[0]);
  } else {
    fprintf(stderr, "  PROGRAM PLACES:\n");
    for (unsigned i = 0; i < npg; i++) fprintf(stderr, "    %s\n", prog_place[i]);
  }
  if (with_previous && prog_place[npg] != nullptr)
    fprintf(stderr, "  PREVIOUS PLACE: %s\n", prog_place[npg]);
}

void show_program_places() { show_places(true); }

void truncate_program_places(unsigned depth) {
  if (depth < npg) npg = depth;
}

void track_program_place(const char *setreset, const char *name) {
  static int counter = 0;
  counter++;
  if (name != nullptr)
    printf("%d. %s_PROGRAM_PLACE(%s):  STACK IS:\n", counter, setreset, name);
  else
    printf("%d. %s_PROGRAM_PLACE:  STACK IS:\n", counter, setreset);
  show_places(false);
}

}  // namespace bayescreen
