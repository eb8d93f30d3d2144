// Child processes of the whole-run benchmarks: a program started with its standard
// input and output on pipes, standard error to /dev/null and YICES_EXE set to the
// bundled solver.
#pragma once
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace vorlax_bench {

struct Child {
  pid_t pid = -1;
  int in = -1, out = -1;
};

// Starts path with args in the directory cwd (the current one if empty); pid -1 if it
// could not start.
inline Child start(const char* path, std::vector<std::string> args, const std::string& cwd = "") {
  int in[2], out[2];
  Child c;
  if (pipe(in) != 0) return c;
  if (pipe(out) != 0) {
    close(in[0]);
    close(in[1]);
    return c;
  }
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in[0], 0);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  for (int fd : {in[0], in[1], out[0], out[1]}) posix_spawn_file_actions_addclose(&fa, fd);
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e)
    if (std::string(*e).rfind("YICES_EXE=", 0) != 0) env.emplace_back(*e);
  env.push_back(std::string("YICES_EXE=") + VORLAX_SOLVER_BIN);
  std::vector<char*> envp, argv;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  args.insert(args.begin(), path);
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::filesystem::path here = std::filesystem::current_path();
  if (!cwd.empty()) std::filesystem::current_path(cwd);
  if (posix_spawn(&c.pid, path, &fa, nullptr, argv.data(), envp.data()) != 0) c.pid = -1;
  if (!cwd.empty()) std::filesystem::current_path(here);
  posix_spawn_file_actions_destroy(&fa);
  close(in[0]);
  close(out[1]);
  c.in = in[1];
  c.out = out[0];
  return c;
}

inline bool sendAll(int fd, const std::string& s) {
  size_t done = 0;
  while (done < s.size()) {
    ssize_t n = write(fd, s.data() + done, s.size() - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Closes the pipes and waits for the child; its exit status, -1 if it did not exit.
inline int finish(Child& c) {
  if (c.in >= 0) close(c.in);
  if (c.out >= 0) close(c.out);
  int ws = 0;
  if (c.pid > 0) waitpid(c.pid, &ws, 0);
  return WIFEXITED(ws) ? WEXITSTATUS(ws) : -1;
}

}  // namespace vorlax_bench
