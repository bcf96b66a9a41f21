// Error and file helpers, counting allocators, console helpers (key press,
// program name) and small string and word helpers.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <utility>

namespace bayescreen {

// ---- File and message helpers -------------------------------------------
// "\n%s %s the file  `%s'\n" on standard error (CANNOT when verb begins with
// an upper-case letter, else Cannot), then the system's error text; -1.
int errmsg(const char *verb, const char *path);
// errmsg, then the end of the run with status 1.
[[noreturn]] void fatal(const char *verb, const char *path);
// As errmsg for a file operation with two names: "... the file  `from'  as  `to'".
int errmsg2(const char *verb, const char *from, const char *to);
// Opens a file or ends the run with "CANNOT OPEN the file ..." (status 1).
FILE *fxopen(const char *path, const char *mode);
// Closes file (nothing for null: -1); a failure is reported with errmsg and
// fclose's result returned.
int fxclose(FILE *file, const char *path);
// 1 when the text after the last dot of name equals ext (ignoring case);
// a name without a dot matches only a missing ext.
int isextent(const char *name, const char *ext);
// New heap string name+ext; never replaces an existing extension.
char *add_extent(const char *name, const char *ext);
// rename / remove with the failure reported (errmsg2 / errmsg); 0 or -1.
int rexname(const char *from, const char *to);
int rexmove(const char *path);
// 1 when a and b name the same file: the same name, or two names of one
// file (the same device and inode, links followed); 0 otherwise.
int same_file(const char *a, const char *b);
// The kind of a file that is not a regular file, for messages ("a named
// pipe (FIFO)", "a symbolic link" ...); mode is st_mode from lstat().
const char *special_file_kind(unsigned mode);
// Attaches /dev/null to each of the descriptors 0, 1 and 2 that is closed,
// so that no file the run opens can take the place of standard input,
// output or error.
void attach_closed_std_descriptors();

// ---- Counting allocators --------------------------------------------------
// Every block is zero-filled; the caller frees with free().
// Shared by every thread, so counted atomically.
extern std::atomic<uint32_t> numalloc, totalloc;      // blocks and bytes obtained fresh
extern std::atomic<uint32_t> numrealloc, totrealloc;  // blocks and bytes obtained by growing a block
// A block the system refuses throws an AllocationError (support/error.h)
// with its size and the allocator's name; the front end reports it with
// no_alloc.
// "CANNOT ALLOCATE %lu bytes" with the total so far and the program places
// on standard error; status 1.
[[noreturn]] void no_alloc(unsigned long bytes, const char *allocator);
// The same report for a block refused to operator new (std::vector,
// std::string, the JSON library ...), whose size the handler is not told:
// "CANNOT ALLOCATE memory (`operator new') from the system.", the total and
// the program places on standard error; status 1. A std::new_handler that
// the command line installs: it never returns, so no std::bad_alloc is
// thrown, not even through a noexcept frame. (A library host leaves it
// out and gets std::bad_alloc.)
[[noreturn]] void no_new_memory();

// count elements of size bytes (a block of 1 byte when that is 0).
void *cxalloc(size_t count, size_t size);
// size bytes (at least 1).
void *mxalloc(size_t size);
// Grows or shrinks an array from oldnum to newnum elements, always keeping 3
// zeroed spare elements; elements from min(oldnum, newnum) on are zeroed.
void *rexxalloc(void *array, size_t elsize, unsigned oldnum, unsigned newnum);

// ---- Key press --------------------------------------------------------------
using KeyHook = void (*)();
extern KeyHook cbrkfun;      // called on Ctrl-C (code 3)
extern KeyHook presskeyfun;  // called when presskey reads Q
[[noreturn]] void exitv();   // exit status 0
// Gives back the terminal settings that the key-press pause changed (echo,
// line editing); does nothing outside the pause. Async-signal-safe.
void restore_terminal();
// Ends the process by the signal sig under its default action, so that the
// parent sees the signal's own status. Async-signal-safe.
[[noreturn]] void exit_by_signal(int sig);
// One key, without echo and without waiting for Enter at a terminal (the
// next byte otherwise); the end of input reads as Enter (10). Echoes the key
// on standard error and calls cbrkfun for Ctrl-C.
int get1char();
// get1char in upper case.
int get2char();
// "Press any key to continue...." on standard error, then get2char; Q calls
// presskeyfun. Returns the key.
int presskey();

// ---- Program name -------------------------------------------------------------
// The path the program was started with (argv[0]); set by the driver.
extern const char *program_path;
// Upper-case base name of program_path without directory and extension.
char *progname();

// ---- String and word helpers (a missing string counts as empty) -------------
// strcmp without regard to case.
int strixcmp(const char *a, const char *b);
// The same for at most n characters.
int strincmp(const char *a, const char *b, size_t n);
// 0 when s begins with prefix, without regard to case.
int strmatch(const char *s, const char *prefix);
// A heap copy of s.
char *strxdup(const char *s);
// strlen, 0 for a missing string.
size_t strxlen(const char *s);
// A heap string a+b / a+b+c.
char *strxdup_app(const char *a, const char *b);
char *strxdup_app2(const char *a, const char *b, const char *c);
// Frees the n strings of *arr and the array itself; sets *arr to null.
void kill_nstrs(char ***arr, int n);
// Turns s to upper case in place; returns s.
char *makeuc(char *s);
// "" for 1, else "s".
const char *plural(long n);
// "ON"/"OFF" and "YES"/"NO" for a flag.
const char *boolon(int f);
const char *boolyn(int f);
// s, or "NULL" for a missing string.
const char *shownull(const char *s);
// x * x.
double square(double x);
// The value paired with the word text is among choices (exact words, case
// counting), into *out; false, *out untouched, when text is none of them.
template <class T>
bool choose_word(const char *text, std::initializer_list<std::pair<const char *, T>> choices, T *out) {
  for (const auto &[word, value] : choices)
    if (text != nullptr && std::strcmp(text, word) == 0) {
      *out = value;
      return true;
    }
  return false;
}

}  // namespace bayescreen
