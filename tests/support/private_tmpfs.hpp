// A fresh tmpfs that only one test sees, for tests of full and read-only file systems and of
// files on another device than their folder's parent.
#pragma once

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

#include "temp_folder.hpp"

namespace quorin::test {

constexpr int kNamespaceRefused = 77;

// Runs `body` in a forked child that has its own mount namespace with a fresh tmpfs (mount
// options `options`) at a temporary folder, so the mount disappears with the child. The child's
// test failures fail this test. Skips when the kernel refuses the namespace or the mount.
inline void inPrivateTmpfs(const char* options,
                           const std::function<void(const std::filesystem::path&)>& body) {
  TempFolder folder;
  std::fflush(stdout);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const uid_t uid = geteuid();
    const gid_t gid = getegid();
    bool isolated = uid == 0 && unshare(CLONE_NEWNS) == 0;
    if (!isolated && unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0) {
      // Root inside a user namespace of our own: enough to mount a tmpfs.
      std::ofstream("/proc/self/setgroups") << "deny";
      std::ofstream("/proc/self/uid_map") << "0 " << uid << " 1";
      std::ofstream("/proc/self/gid_map") << "0 " << gid << " 1";
      isolated = true;
    }
    if (!isolated || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", folder.path.c_str(), "tmpfs", 0, options) != 0) {
      _exit(kNamespaceRefused);
    }
    body(folder.path);
    std::fflush(stdout);
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the child died, status " << status;
  if (WEXITSTATUS(status) == kNamespaceRefused) {
    GTEST_SKIP() << "no private mount namespace and tmpfs (unshare/mount) here";
  }
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the child's checks failed (see above)";
}

}  // namespace quorin::test
