// The program's entry: the option tables, the run sequence, and how an
// error ends the run.
#pragma once
#include "support/error.h"

#include "engine/settings.h"
#include "cli/longopts.h"
#include "cli/setflags.h"
#include "support/version.h"

namespace bayescreen {

extern Settings settings;   // the run's settings, which the option tables write
extern FlagSpec ss[];       // the program's option table
extern LongOption xopts[];  // the extension options (--name, --name=value)

// The whole run; returns the exit status: 0 when the log holds the whole
// report, 1 when it could not be closed cleanly.
int bayescreen_main(int argc, char **argv);
// Prints the description text that opens every run.
void show_description();

// Prints an error as the run ends with it: the message on its channel, the
// input line it was found in, and the program places where it asks for them.
void print_error(const Error &error);

}  // namespace bayescreen
