// Printing to the screen and to the optional log file.
#pragma once
#include <cstdio>

namespace bayescreen {

// A printf-style output function that returns the number of characters it
// wrote. Operations that print lists take one; a null printer means printf.
using Printer = int (*)(const char *fmt, ...);

extern FILE *fflog;        // the open log stream, or null
extern char *logfilename;  // the log file's name while it is open

// Screen and log: formats to standard output and, when the log is open, to
// the log. Returns the count written to the log when it is open, else the
// count written to the screen.
int bprintf(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// A newline on the screen and in the log.
int bnl();
// Log only; returns 0 when no log is open.
int logprintf(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// A newline on the screen only / on standard error.
int nl();
int nlerr();

// Opens the log file `name` (".txt" added when the name has no dot). With
// append 0 an existing file is first renamed to name.bak.
void openlog_file(const char *name, int append);
// Closes the log, if open, and forgets its name.
void closelog_file();
// "Closing the log file `name'" through printer (printf when null) when a
// log is open, then closelog_file; closelog_file_name prints with printf.
void prcloselog_file_name(Printer printer);
void closelog_file_name();

}  // namespace bayescreen
