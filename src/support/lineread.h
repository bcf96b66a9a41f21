// A reader of text files one logical line at a time: block reads, LF, CR LF
// and lone CR line ends, leading and trailing white space removed, blank and
// comment lines skipped, physical line numbers kept for error reports.
#pragma once
#include <cstdio>

namespace bayescreen {

// Settings (the program keeps the initial values).
extern const char *lr_commchars;    // comment characters, "#;%"; null: no comment lines
extern int lr_keep_endspace;        // 1: keep white space at the end of a line
extern int lr_keep_initial_space;   // 1: keep white space at the start of a line
extern int lr_keep_blanklines;      // 1: hand out blank lines too
extern int lr_showlines;            // 1: print every line read, numbered, on the screen
extern int lr_quotequotes;          // 1: put a backslash before every " and \ of a line

// State of the file being read.
extern int lr_linenum;              // physical lines read, skipped ones included
extern int lr_errors_to_log;        // 1: lr_fatal_errline writes to the log too (when open)
extern char *readfile;              // name of the file opened with lr_fxopen

// Opens path (or ends the run with "CANNOT OPEN") and keeps its name for the
// error reports.
FILE *lr_fxopen(const char *path, const char *mode);
// Next logical line, or null at end of file; a null file closes the reader.
// A failed read ends the run with "CANNOT READ the file ..." (status 1).
// The text stays valid until the next call.
char *lr_lineread(FILE *file);
// lr_lineread, keeping a copy of the line (or of "NULL" at end of file)
// for lr_fatal_errline.
char *lrs_lineread(FILE *file);
// Releases the line buffer and resets the reader (lr_lineread(null)).
void lr_close();
// Starts a new file: line count 0, block buffer and pushed-back character
// emptied. lr_init is the same.
void lr_reset();
void lr_init();
// Keeps a copy of text for lr_fatal_errline; returns text.
const char *lr_copy(const char *text);
// Pushes back one character, which the next rawfgc returns; returns ch.
int lr_unfbufc(int ch);
// The next byte of file through the 4000-byte block buffer, or -1 at the end.
int rawfgc(FILE *file);
// The next character with CR LF and lone CR read as LF and a NUL byte read
// as 1, or -1 at the end.
int fbuffc(FILE *file);
// Reports an error in the current input ("\n%s!\n" with msg, the last line
// read, its number and the file name) on the screen, and in the log too
// with lr_errors_to_log, and exits with status 1.
[[noreturn]] void lr_fatal_errline(const char *msg);

}  // namespace bayescreen
