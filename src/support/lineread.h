// A reader of text files one logical line at a time: block reads, LF, CR LF
// and lone CR line ends, leading and trailing white space removed, blank and
// comment lines skipped, physical line numbers kept for error reports.
#pragma once
#include <cstdio>

namespace bayescreen {

// Settings (the program keeps the initial values).
extern const char *lr_commchars;    // comment characters, "#;%"
extern int lr_keep_endspace;
extern int lr_keep_initial_space;
extern int lr_keep_blanklines;
extern int lr_showlines;
extern int lr_quotequotes;

// State of the file being read.
extern int lr_linenum;              // physical lines read, skipped ones included
extern char *readfile;              // name of the file opened with lr_fxopen

FILE *lr_fxopen(const char *path, const char *mode);
// Next logical line, or null at end of file; a null file closes the reader.
// The text stays valid until the next call.
char *lr_lineread(FILE *file);
// lr_lineread, keeping a copy of the line (or of "NULL" at end of file)
// for lr_fatal_errline.
char *lrs_lineread(FILE *file);
void lr_close();
void lr_reset();
void lr_init();
const char *lr_copy(const char *text);
int lr_unfbufc(int ch);
int rawfgc(FILE *file);
int fbuffc(FILE *file);
// Reports an error in the current input ("\n%s!\n" with msg, the last line
// read, its number and the file name) on the screen and exits with status 1.
[[noreturn]] void lr_fatal_errline(const char *msg);

}  // namespace bayescreen
