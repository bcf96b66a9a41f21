#include "support/fileid.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>

namespace bayescreen {

namespace {

// The current directory, or "" when it cannot be read.
std::string working_directory() {
  char buf[PATH_MAX];
  return getcwd(buf, sizeof buf) != nullptr ? std::string(buf) : std::string();
}

}  // namespace

FileIdentity identify_file(const char *path) {
  FileIdentity id;
  if (path == nullptr || *path == '\0') return id;
  std::string dir, base;
  const char *slash = strrchr(path, '/');
  if (slash == nullptr) {
    dir = ".";
    base = path;
  } else {
    dir = slash == path ? std::string("/") : std::string(path, static_cast<size_t>(slash - path));
    base = slash + 1;
  }
  char *resolved = realpath(dir.c_str(), nullptr);
  if (resolved != nullptr) {
    dir = resolved;
    free(resolved);
  } else if (dir[0] != '/') {
    dir = working_directory() + "/" + dir;
  }
  // "x/." and "x/.." name directories; they are compared as resolved paths.
  if (base == "." || base == "..") {
    char *whole = realpath(path, nullptr);
    if (whole != nullptr) {
      id.entry = whole;
      free(whole);
    } else {
      id.entry = dir + "/" + base;
    }
  } else {
    id.entry = (dir == "/" ? std::string() : dir) + "/" + base;
  }
  struct stat st;
  if (lstat(path, &st) == 0) {
    id.exists = true;
    id.mode = st.st_mode;
  }
  if (stat(path, &st) == 0) {
    id.target = true;
    id.dev = st.st_dev;
    id.ino = st.st_ino;
  }
  return id;
}

bool same_identity(const FileIdentity &a, const FileIdentity &b) {
  if (a.entry.empty() || b.entry.empty()) return false;
  if (a.entry == b.entry) return true;
  return a.target && b.target && a.dev == b.dev && a.ino == b.ino;
}

}  // namespace bayescreen
