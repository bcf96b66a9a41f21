// A growable list of strings that owns its own copies.
#pragma once
#include <cstdint>

#include "support/logfile.h"

namespace bayescreen {

// The list; create it with new_strlist and release it with free_strlist.
struct StringList {
  char **strs;      // the strings in the order added; null until the first add
  int32_t nstr;     // strings stored
  int32_t nmax;     // slots the array holds (three zeroed spares not counted)
  int32_t batsize;  // slots added at each growth
};

// An empty list that grows 100 slots at a time.
StringList *new_strlist();
// Appends a copy of text (a missing text stores an empty string) and returns
// the copy; a null list does nothing and returns null.
char *add_strlist(StringList *list, const char *text);
// Formats into the caller's buffer buf (of bufsize bytes; longer output is
// cut to fit) and appends the result.
char *add_strprintf(StringList *list, char *buf, unsigned bufsize, const char *format, ...)
    __attribute__((format(printf, 4, 5)));
// Strings stored (0 for a null list).
int num_strlist(const StringList *list);
// String index, or null when there is no such string.
char *itm_strlist(const StringList *list, int32_t index);
// Release the strings and the list and set *handle to null; the same.
void free_strlist(StringList **handle);
void kill_strlist(StringList **handle);
// Prints the list as one wrapped line of words after title (two spaces when
// null); returns the number of characters printed.
int prqtok_strlist(const char *title, const StringList *list, Printer printer);

}  // namespace bayescreen
