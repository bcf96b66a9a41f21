// Error and file helpers, counting allocators, console helpers (key press,
// program name) and small string and word helpers.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace bayescreen {

// ---- File and message helpers -------------------------------------------
// "\n%s %s the file  `%s'\n" on standard error (CANNOT when verb begins with
// an upper-case letter, else Cannot), then the system's error text.
int errmsg(const char *verb, const char *path);
[[noreturn]] void fatal(const char *verb, const char *path);
int errmsg2(const char *verb, const char *from, const char *to);
// Opens a file or ends the run with "CANNOT OPEN the file ..." (status 1).
FILE *fxopen(const char *path, const char *mode);
int fxclose(FILE *file, const char *path);
// 1 when the text after the last dot of name equals ext (ignoring case);
// a name without a dot matches only a missing ext.
int isextent(const char *name, const char *ext);
// New heap string name+ext; never replaces an existing extension.
char *add_extent(const char *name, const char *ext);
int checkfile(const char *path);
int rexname(const char *from, const char *to);
int rexmove(const char *path);

// ---- Counting allocators --------------------------------------------------
// Every block is zero-filled; the caller frees with free().
extern uint32_t numalloc, totalloc, numrealloc, totrealloc;
using CantAllocHandler = void (*)(unsigned long bytes, const char *allocator);
extern CantAllocHandler cant_alloc_fptr;
void no_alloc(unsigned long bytes, const char *allocator);

void *cxalloc(size_t count, size_t size);
void *mxalloc(size_t size);
// Grows or shrinks an array from oldnum to newnum elements, always keeping 3
// zeroed spare elements; elements from min(oldnum, newnum) on are zeroed.
void *rexxalloc(void *array, size_t elsize, unsigned oldnum, unsigned newnum);

// ---- Key press --------------------------------------------------------------
using KeyHook = void (*)();
extern KeyHook cbrkfun;      // called on Ctrl-C (code 3)
extern KeyHook presskeyfun;  // called when presskey reads Q
[[noreturn]] void exitv();   // exit status 0
int get1char();
int get2char();
int presskey();

// ---- Program name -------------------------------------------------------------
// The path the program was started with (argv[0]); set by the driver.
extern const char *program_path;
// Upper-case base name of program_path without directory and extension.
char *progname();

// ---- String and word helpers (a missing string counts as empty) -------------
int strixcmp(const char *a, const char *b);
int strincmp(const char *a, const char *b, size_t n);
int strmatch(const char *s, const char *prefix);
char *strxdup(const char *s);
size_t strxlen(const char *s);
char *strxdup_app(const char *a, const char *b);
char *strxdup_app2(const char *a, const char *b, const char *c);
void kill_nstrs(char ***arr, int n);
char *makeuc(char *s);
const char *plural(long n);
const char *boolon(int f);
const char *boolyn(int f);
const char *shownull(const char *s);
double square(double x);

}  // namespace bayescreen
