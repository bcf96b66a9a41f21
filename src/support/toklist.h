// Printing a list of words on wrapped lines, and the echo of the command line.
#pragma once

#include "support/logfile.h"

namespace bayescreen {

// Prints n words on the current line, which already holds col characters:
// gap blanks between words, each word followed by sep (not the last), a
// break to a new line indented by two blanks whenever a word would pass
// column `width`, and a final newline. Returns the characters printed.
int toklist(const char *const *items, int n, int col, int width, Printer printer, int gap,
            const char *sep);
// title (two blanks when null), then the words wrapped at 75 columns with
// two blanks between them; qtoklist prints with printf.
int prqtoklist(const char *title, const char *const *items, int n, Printer printer);
int qtoklist(const char *title, const char *const *items, int n);
// "Command line: NAME  " and the words argv[1..argc-1], wrapped as above;
// show_command_line prints with printf.
int prshow_command_line(const char *name, int argc, const char *const *argv, Printer printer);
int show_command_line(const char *name, int argc, const char *const *argv);

}  // namespace bayescreen
