// The program-place stack: every function of the application records its
// name for as long as it runs, so that a fatal condition can show where the
// run was. Functions record their place with a PlaceGuard.
#pragma once
#include <exception>

namespace bayescreen {

// Each thread has a stack of its own.
extern thread_local const char **prog_place;  // the stack of names (not copied); the slot
                                              // above the top keeps the name popped last
extern thread_local unsigned npg;             // current depth
extern thread_local unsigned nxpg;            // capacity in entries
extern unsigned max_prdepth;         // deepest allowed nesting (100); deeper ends the run
extern int program_place_verbose;    // trace switch, off in every run

// Pushes name; returns it. Ends the run (status 1) beyond max_prdepth.
const char *set_program_place(const char *name);
// Pops the top place; warns (MISMATCH) when name is given and is not the top.
void reset_program_place(const char *name);
// Shows the current places and the previous one on standard error.
void show_program_places();
// Trace line "N. SET_PROGRAM_PLACE(name):  STACK IS:" and the stack.
void track_program_place(const char *setreset, const char *name);

// Records a place for the lifetime of the guard: pushes the name on
// construction and pops it on destruction, so every return, early or not,
// leaves the stack as it found it. An error thrown through the guard leaves
// the place on the stack, so that whoever reports the error can show where
// it arose (a run that ends through exit() keeps its places likewise); a
// host that goes on after an error cuts the stack back with
// truncate_program_places.
class PlaceGuard {
 public:
  explicit PlaceGuard(const char *name)
      : name_(set_program_place(name)), unwinding_(std::uncaught_exceptions()) {}
  ~PlaceGuard() {
    if (std::uncaught_exceptions() <= unwinding_) reset_program_place(name_);
  }
  PlaceGuard(const PlaceGuard &) = delete;
  PlaceGuard &operator=(const PlaceGuard &) = delete;

 private:
  const char *name_;
  int unwinding_;
};

// Cuts the calling thread's stack back to depth entries.
void truncate_program_places(unsigned depth);

}  // namespace bayescreen
