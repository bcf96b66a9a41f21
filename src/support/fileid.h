// Whether two file names would write the same file, decided before either
// is written: by device and inode where both files exist, and by the
// canonical absolute path of the directory plus the name in any case, so
// that "./x" and "x", or "d/../x" and "x", are one name even while no file
// has that name yet.
#pragma once
#include <sys/types.h>

#include <string>

namespace bayescreen {

// What a name stands for now.
struct FileIdentity {
  std::string entry;      // canonical directory + "/" + last component ("" when empty)
  bool exists = false;    // lstat found something at the name
  mode_t mode = 0;        // its st_mode from lstat (a link is not followed)
  bool target = false;    // stat (links followed) found a file
  dev_t dev = 0;          // its device and inode, when target
  ino_t ino = 0;
};

// The identity of path. A directory that cannot be resolved (it does not
// exist) leaves the path as written, made absolute.
FileIdentity identify_file(const char *path);

// True when a and b name one directory entry, or two names of one file.
bool same_identity(const FileIdentity &a, const FileIdentity &b);

}  // namespace bayescreen
