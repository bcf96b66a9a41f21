// Printing to the screen and to the optional log file.
//
// The log is the report the user keeps, so every write to it, its flush and
// its close are checked: a write that fails ends the run at once with one
// message naming the file and the system's error (status 1), and nothing is
// written to the file after the failure, so that the log is never left with
// a gap in its middle. The screen matters less: once standard output cannot
// be written (a reader that quit early, a full disk) the screen output
// stops and the report goes on in the log alone.
#pragma once
#include <cstdio>

namespace bayescreen {

// A printf-style output function that returns the number of characters it
// wrote. Operations that print lists take one; a null printer means printf.
using Printer = int (*)(const char *fmt, ...);

extern FILE *fflog;        // the open log stream, or null
extern char *logfilename;  // the log file's name while it is open
extern int log_failed;     // set when closing the log failed: the run ends with status 1

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
// append 0 whatever stands at the name is first renamed to name.bak and the
// log is created new, never through a symbolic link nor over something that
// took the name after the backup; with append 1 only a regular file is
// extended.
void openlog_file(const char *name, int append);
// Closes the log, if open, and forgets its name.
void closelog_file();
// "Closing the log file `name'" through printer (printf when null) when a
// log is open, then closelog_file; closelog_file_name prints with printf.
void prcloselog_file_name(Printer printer);
void closelog_file_name();

// Ends the run with a message (status 1) when the log `logname` or its
// backup name would be the input file `input`, before anything is renamed.
void refuse_log_over_input(const char *logname, const char *input);

// For the handlers of the interrupt signals. A handler may finish the log
// only while no write to it is under way: hold_interrupt returns 1 and keeps
// the signal when one is, and the run then ends by that signal as soon as
// the write is complete.
int hold_interrupt(int sig);
// Flushes the log and ends it with the line "RUN INTERRUPTED!  (<signal>
// signal)  The report is incomplete.", which also goes to standard error.
// Async-signal-safe when no log write is under way.
void mark_interrupted_run(int sig);

}  // namespace bayescreen
