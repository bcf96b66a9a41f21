#include "support/toklist.h"

#include <cstdio>
#include <cstring>

#include "support/textbuf.h"

namespace bayescreen {

// The text is gathered in a buffer and handed to the printer once: the same
// characters as word-by-word printing, at a fraction of the formatting cost
// for lists of thousands of words. The buffer comes from the counting
// allocator, so a list too long for memory ends the run with its report.
int toklist(const char *const *items, int n, int col, int width, Printer printer, int gap,
            const char *sep) {
  if (sep == nullptr) sep = "";
  if (printer == nullptr) printer = printf;
  if (items == nullptr) n = 0;
  int seplen = static_cast<int>(strlen(sep));
  int pad = 0;
  TextBuffer text;
  for (int i = 0; i < n; i++) {
    const char *word = items[i] != nullptr ? items[i] : "<NULL>";
    bool last = (i == n - 1);
    int len = static_cast<int>(strlen(word)) + (last ? 0 : seplen);
    col += pad + len;
    if (col > width) {
      text.append("\n  ");
      pad = 0;
      col = len + 2;
    }
    text.append_repeated(' ', static_cast<size_t>(pad));
    text.append(word);
    if (!last) text.append(sep);
    pad = gap;
  }
  text.append("\n");
  return printer("%s", text.c_str());
}

int prqtoklist(const char *title, const char *const *items, int n, Printer printer) {
  if (printer == nullptr) printer = printf;
  int t = printer("%s", title != nullptr ? title : "  ");
  return t + toklist(items, n, t, 75, printer, 2, nullptr);
}

int qtoklist(const char *title, const char *const *items, int n) {
  return prqtoklist(title, items, n, nullptr);
}

int prshow_command_line(const char *name, int argc, const char *const *argv, Printer printer) {
  if (printer == nullptr) printer = printf;
  int t = printer("Command line: %s  ", name != nullptr ? name : "  ");
  return t + toklist(argv + 1, argc - 1, t, 75, printer, 2, nullptr);
}

int show_command_line(const char *name, int argc, const char *const *argv) {
  return prshow_command_line(name, argc, argv, nullptr);
}

}  // namespace bayescreen
