// tools/deps, the check of the Debian packages that make runs before every
// build: a package that is missing is reported with the command that
// installs it. DEPS_NO_INSTALL keeps a check run as root from installing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "testutil.h"

namespace {

testutil::Outcome run_deps(const std::vector<std::string> &args) {
  return testutil::run_child([&] {
    setenv("DEPS_NO_INSTALL", "1", 1);
    unsetenv("DEPS_USE_SUDO");
    const std::string script = testutil::source_path("tools/deps");
    std::vector<char *> argv = {const_cast<char *>("bash"), const_cast<char *>(script.c_str())};
    for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv("/bin/bash", argv.data());
    _exit(121);
  });
}

bool have_dpkg() { return system("command -v dpkg-query >/dev/null 2>&1") == 0; }

}  // namespace

TEST(Deps, AMissingPackageIsReportedWithItsInstallCommand) {
  if (!have_dpkg()) GTEST_SKIP() << "no dpkg on this system";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;
  };
  const std::string fake = "bayescreen-no-such-package", other = "bayescreen-nor-this:amd64";
  const Case cases[] = {
      {{"check", "dpkg"}, 0, ""},
      {{"check", "dpkg", fake}, 1,
       "tools/deps: missing Debian packages: " + fake + "\nInstall them (as root) with:\n"
       "  apt-get update && apt-get install -y --no-install-recommends " + fake + "\n"},
      {{"check", fake, "dpkg", other}, 1,
       "tools/deps: missing Debian packages: " + fake + " " + other +
           "\nInstall them (as root) with:\n"
           "  apt-get update && apt-get install -y --no-install-recommends " + fake + " " +
           other + "\n"},
      {{"install"}, 2, "usage: tools/deps list | tools/deps check [PACKAGE...]\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.args.back());
    const testutil::Outcome o = run_deps(c.args);
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, c.err);
  }
}
