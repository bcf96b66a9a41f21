// The program-place stack: every function of the application pushes its
// name on entry and pops it before returning, so that a fatal condition can
// show where the run was.
#pragma once

namespace bayescreen {

extern const char **prog_place;      // the stack; names are not copied
extern unsigned npg;                 // current depth
extern unsigned nxpg;                // capacity in entries
extern unsigned max_prdepth;         // deepest allowed nesting (100)
extern int program_place_verbose;    // trace switch, off in every run

const char *set_program_place(const char *name);
void reset_program_place(const char *name);
void show_program_places();
void track_program_place(const char *setreset, const char *name);

}  // namespace bayescreen
