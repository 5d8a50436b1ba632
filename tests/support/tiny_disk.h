// A small file system of a test's own, to fill up: a tmpfs in a child's own mount namespace
// (and user namespace when not root), so that a full disk is met without touching the machine's.
#pragma once

#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

namespace lovar::testing {

// Runs check in a child with a file system of its own mounted at folder: a tmpfs of size
// bytes, in a mount namespace of the child's (a user namespace too when not root). check
// returns "" when all is well. False when no such file system can be had here.
inline bool OnATinyDisk(const std::filesystem::path& folder, const char* size,
                 const std::function<std::string()>& check, std::string& failure) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return false;
  const uid_t uid = geteuid();
  const gid_t gid = getegid();
  const pid_t pid = fork();
  if (pid == 0) {
    close(pipe_fds[0]);
    if (uid != 0) {
      if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) _exit(77);
      std::ofstream("/proc/self/setgroups") << "deny";
      std::ofstream("/proc/self/uid_map") << "0 " << uid << " 1";
      std::ofstream("/proc/self/gid_map") << "0 " << gid << " 1";
    } else if (unshare(CLONE_NEWNS) != 0) {
      _exit(77);
    }
    if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", folder.c_str(), "tmpfs", 0, (std::string("size=") + size).c_str()) != 0)
      _exit(77);
    const std::string text = check();
    if (!text.empty()) (void)!write(pipe_fds[1], text.data(), text.size());
    _exit(0);
  }
  close(pipe_fds[1]);
  char buffer[1024];
  for (ssize_t n; (n = read(pipe_fds[0], buffer, sizeof buffer)) > 0;)
    failure.append(buffer, static_cast<size_t>(n));
  close(pipe_fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace lovar::testing
