// The solver process, the upload of commands and the check exchange.
//
// One thread drives everything. The input pipe is written through a block buffer that is
// sent only when it fills or on an explicit flush; its descriptor is non-blocking, and
// whenever the solver does not take more input, whatever it has written meanwhile is read
// into memory. Otherwise a solver that writes a prompt per command would fill its output
// pipe, stop reading, and both sides would wait for each other forever.
#include "math/smt/yices/pipe.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <mutex>
#include <streambuf>
#include <thread>

#include "fatal.hpp"

extern char** environ;

namespace vorlax::yices {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kInputBufferSize = 64 * 1024;
constexpr std::size_t kReadChunk = 64 * 1024;

// How long a solver has at the end of the run to end by itself once its input is closed.
constexpr auto kEndGrace = std::chrono::seconds(1);
// How often the end of a solver is looked for while nothing else wakes the wait.
constexpr auto kEndPollSlice = std::chrono::milliseconds(10);

const std::string kBeginMarker = "_![<[BEGIN_OUTPUT]>]!_";
const std::string kEndMarker = "_![<[END_OUTPUT]>]!_";
const std::string kPrompt = "yices > ";

std::string errnoText(int err) { return std::strerror(err); }

// Moves a descriptor to a number above the standard three, close-on-exec, so that the
// child's dup2 onto 0, 1 and 2 never meets a descriptor that already has that number.
int highFd(int fd) {
  if (fd > 2) return fd;
  int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  int err = errno;
  close(fd);
  if (moved < 0) fatal("cannot create a pipe to the solver: " + errnoText(err));
  return moved;
}

struct PipePair {
  int read = -1;
  int write = -1;
};

PipePair makePipe() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) fatal("cannot create a pipe to the solver: " + errnoText(errno));
  return {highFd(fds[0]), highFd(fds[1])};
}

void closeFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

void setNonBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0)
    fatal("cannot set up the pipe to the solver: " + errnoText(errno));
}

// ---------------------------------------------------------------------------------------
// The running solvers: every child is ended when vorlax ends, whatever ends it. The table is
// read by a signal handler, so it holds plain atomic process ids.

constexpr int kMaxChildren = 16;
std::atomic<pid_t> gChildren[kMaxChildren];
const int kEndSignals[] = {SIGINT, SIGTERM, SIGHUP};

void registerChild(pid_t pid) {
  for (auto& slot : gChildren) {
    pid_t none = 0;
    if (slot.compare_exchange_strong(none, pid)) return;
  }
  kill(pid, SIGKILL);  // more solvers than a run ever starts: do not leave one behind
  fatal("too many solver processes");
}

void forgetChild(pid_t pid) {
  for (auto& slot : gChildren) {
    pid_t p = pid;
    if (slot.compare_exchange_strong(p, 0)) return;
  }
}

void onEndSignal(int sig) {
  for (auto& slot : gChildren) {
    pid_t p = slot.load();
    if (p > 0) kill(p, SIGKILL);
  }
  signal(sig, SIG_DFL);
  raise(sig);
}

sigset_t endSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : kEndSignals) sigaddset(&set, s);
  return set;
}

// Blocks the ending signals on this thread for as long as it lives, so that a child is
// never started without being in the table (the thread that starts solvers is the only
// one that takes these signals, see setEndSignalsBlocked).
struct EndSignalsBlocked {
  sigset_t old;
  EndSignalsBlocked() {
    sigset_t set = endSignalSet();
    pthread_sigmask(SIG_BLOCK, &set, &old);
  }
  ~EndSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &old, nullptr); }
};

// A started child with the parent's ends of its pipes (-1 where not captured).
struct Child {
  pid_t pid = -1;
  int stdinFd = -1;
  int stdoutFd = -1;
  int stderrFd = -1;
};

// Starts `path args...` with standard input and output on new pipes, and standard error on
// a pipe too when captureStderr is set (inherited otherwise). Every pipe end is
// close-on-exec, so only the child's 0, 1 (and 2) survive the exec; the child gets the
// default SIGPIPE disposition back even though the parent ignores it.
Child spawnChild(const std::string& path, const std::vector<std::string>& args,
                 bool captureStderr) {
  signal(SIGPIPE, SIG_IGN);

  PipePair in = makePipe();
  PipePair out = makePipe();
  PipePair err;
  if (captureStderr) err = makePipe();
  auto closeAll = [&] {
    closeFd(in.read), closeFd(in.write), closeFd(out.read), closeFd(out.write);
    closeFd(err.read), closeFd(err.write);
  };

  std::vector<std::string> argvText;
  argvText.reserve(args.size() + 1);
  argvText.push_back(path);
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argvText) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attr);
  posix_spawn_file_actions_adddup2(&actions, in.read, 0);
  posix_spawn_file_actions_adddup2(&actions, out.write, 1);
  if (captureStderr) posix_spawn_file_actions_adddup2(&actions, err.write, 2);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  for (int s : kEndSignals) sigaddset(&defaults, s);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  pid_t pid = -1;
  int rc;
  {
    EndSignalsBlocked blocked;
    rc = posix_spawnp(&pid, path.c_str(), &actions, &attr, argv.data(), environ);
    if (rc == 0) registerChild(pid);
  }
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    closeAll();
    struct stat st;
    if (rc == EACCES && path.find('/') != std::string::npos && stat(path.c_str(), &st) == 0 &&
        S_ISDIR(st.st_mode))
      rc = EISDIR;
    fatal("cannot start the solver \"" + path + "\": " + errnoText(rc));
  }

  closeFd(in.read);
  closeFd(out.write);
  closeFd(err.write);
  Child c;
  c.pid = pid;
  c.stdinFd = in.write;
  c.stdoutFd = out.read;
  c.stderrFd = err.read;
  return c;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// The streams of one solver.

struct PipeStreams {
  PipeStreams(pid_t pid, int inFd, int outFd)
      : inFd_(inFd), outFd_(outFd), buf_(*this), process(pid), os(&buf_) {}
  PipeStreams(const PipeStreams&) = delete;
  PipeStreams& operator=(const PipeStreams&) = delete;
  ~PipeStreams() {
    closeFd(inFd_);
    closeFd(outFd_);
  }

  // Sends everything buffered; on failure the reason is kept in writeError.
  bool flush() { return buf_.pubsync() == 0 && writeError.empty(); }
  void throwOnWriteError() const {
    if (!writeError.empty()) fatal("cannot write to the solver's input: " + writeError);
  }

  // The end of the solver's input: sends what is still buffered (unless a write has failed
  // before), then closes the input. Meanwhile the solver's output is read and dropped, so
  // that a solver busy answering the last commands never stops on a full output pipe.
  // Gives up on the rest at the deadline; a solver that is gone or does not take its input
  // is no error here.
  void endInput(Clock::time_point deadline) {
    if (inFd_ < 0) return;
    if (writeError.empty()) {
      std::string_view rest = buf_.unsent();
      const char* p = rest.data();
      std::size_t n = rest.size();
      while (n > 0) {
        ssize_t w = write(inFd_, p, n);
        if (w > 0) {
          p += w;
          n -= static_cast<std::size_t>(w);
          continue;
        }
        if (w < 0 && errno == EINTR) continue;
        if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK) break;
        if (!awaitSolver(deadline, true)) break;
      }
      buf_.dropUnsent();
    }
    closeFd(inFd_);
  }

  // Reads and drops the solver's output until the time comes (once the output has ended,
  // only waits).
  void dropOutputUntil(Clock::time_point until) {
    while (outFd_ >= 0 && awaitSolver(until, false)) {
    }
    if (outFd_ < 0) std::this_thread::sleep_until(until);
  }

  // Reads one line of the solver's output into line, without its line end; a CR LF counts
  // as one line end. A last line cut off by the end of the output counts as a line. False
  // at the end of the output.
  bool readLine(std::string& line) {
    for (;;) {
      const char* base = pending_.data() + pendingPos_;
      std::size_t avail = pending_.size() - pendingPos_;
      if (scanned_ < avail) {
        const void* lf = std::memchr(base + scanned_, '\n', avail - scanned_);
        if (lf) {
          std::size_t n = static_cast<const char*>(lf) - base;
          std::size_t len = (n > 0 && base[n - 1] == '\r') ? n - 1 : n;
          line.assign(base, len);
          consume(n + 1);
          return true;
        }
        scanned_ = avail;
      }
      if (!readError_.empty()) fatal("cannot read the solver's output: " + readError_);
      if (outEof_) {
        if (avail == 0) return false;
        line.assign(base, avail);
        consume(avail);
        return true;
      }
      readMore();
    }
  }

 private:
  class InputBuffer : public std::streambuf {
   public:
    explicit InputBuffer(PipeStreams& s) : s_(s), data_(kInputBufferSize) {
      setp(data_.data(), data_.data() + data_.size());
    }

   protected:
    int_type overflow(int_type ch) override {
      if (!sendBuffered()) return traits_type::eof();
      if (!traits_type::eq_int_type(ch, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(ch);
        pbump(1);
      }
      return traits_type::not_eof(ch);
    }
    int sync() override { return sendBuffered() ? 0 : -1; }

   public:
    std::string_view unsent() const {
      return {pbase(), static_cast<std::size_t>(pptr() - pbase())};
    }
    void dropUnsent() { setp(data_.data(), data_.data() + data_.size()); }

   private:
    bool sendBuffered() {
      if (!s_.writeError.empty()) return false;
      bool ok = s_.writeAll(pbase(), static_cast<std::size_t>(pptr() - pbase()));
      setp(data_.data(), data_.data() + data_.size());
      return ok;
    }
    PipeStreams& s_;
    std::vector<char> data_;
  };

  // Writes all bytes to the solver's input. When the pipe is full, waits until it takes
  // more and meanwhile keeps reading the solver's output into pending_.
  bool writeAll(const char* p, std::size_t n) {
    while (n > 0) {
      ssize_t w = write(inFd_, p, n);
      if (w > 0) {
        p += w;
        n -= static_cast<std::size_t>(w);
        continue;
      }
      if (w < 0 && errno == EINTR) continue;
      if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        writeError = errnoText(errno);
        return false;
      }
      pollfd fds[2] = {{inFd_, POLLOUT, 0}, {outFd_, POLLIN, 0}};
      nfds_t count = (outEof_ || !readError_.empty()) ? 1 : 2;
      if (poll(fds, count, -1) < 0) {
        if (errno == EINTR) continue;
        writeError = errnoText(errno);
        return false;
      }
      if (count == 2 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) readMore();
    }
    return true;
  }

  // One blocking read of the solver's output, appended to pending_. A failure is kept in
  // readError_ (this also runs inside the stream buffer, where nothing may throw) and
  // reported by the next line read.
  void readMore() {
    if (pendingPos_ > 0 && pendingPos_ >= pending_.size() / 2) {
      pending_.erase(0, pendingPos_);
      pendingPos_ = 0;
    }
    std::size_t old = pending_.size();
    pending_.resize(old + kReadChunk);
    ssize_t r;
    do {
      r = read(outFd_, pending_.data() + old, kReadChunk);
    } while (r < 0 && errno == EINTR);
    int err = errno;
    pending_.resize(old + (r > 0 ? static_cast<std::size_t>(r) : 0));
    if (r == 0) outEof_ = true;
    if (r < 0) readError_ = errnoText(err);
  }

  void consume(std::size_t n) {
    pendingPos_ += n;
    scanned_ = 0;
  }

  // For the end of the run: waits until the input takes more (when writing) or the output
  // has something, whose text is dropped. False once the time has come, or when there is
  // nothing left to wait for (the output has ended and nothing is written).
  bool awaitSolver(Clock::time_point until, bool writing) {
    for (;;) {
      auto left = until - Clock::now();
      if (left <= Clock::duration::zero()) return false;
      if (outFd_ < 0 && !writing) return false;
      auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
      pollfd fds[2] = {{outFd_, POLLIN, 0}, {writing ? inFd_ : -1, POLLOUT, 0}};
      int n = poll(fds, 2, static_cast<int>(std::min<decltype(ms)>(ms, 1000)));
      if (n < 0 && errno != EINTR) return false;
      if (n <= 0) continue;
      if (fds[0].revents) {
        char chunk[4096];
        ssize_t r = read(outFd_, chunk, sizeof chunk);
        if (r == 0 || (r < 0 && errno != EINTR && errno != EAGAIN)) closeFd(outFd_);
      }
      if (!writing || fds[1].revents) return true;
    }
  }

  int inFd_;
  int outFd_;
  std::string pending_;         // solver output read but not yet taken as lines
  std::size_t pendingPos_ = 0;  // start of the untaken part
  std::size_t scanned_ = 0;     // bytes after pendingPos_ known to hold no line feed
  bool outEof_ = false;
  std::string readError_;
  InputBuffer buf_;

 public:
  const pid_t process;     // the solver these are the pipes of
  std::string writeError;  // reason of the first failed write; empty while all is well
  std::ostream os;         // the block-buffered input stream
};

// ---------------------------------------------------------------------------------------
// Process and upload.

void endSolversOnSignals() {
  struct sigaction sa {};
  sa.sa_handler = onEndSignal;
  sigemptyset(&sa.sa_mask);
  for (int s : kEndSignals) sigaddset(&sa.sa_mask, s);
  for (int s : kEndSignals) {
    struct sigaction old {};
    // a signal that the caller's parent chose to ignore stays ignored
    if (sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    sigaction(s, &sa, nullptr);
  }
}

void setEndSignalsBlocked(bool blocked) {
  sigset_t set = endSignalSet();
  pthread_sigmask(blocked ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

namespace {

// Streams whose last handle has gone, kept for endSolvers once keepSolversUntilTheEnd() was
// called; otherwise the last handle closes them.
std::atomic<bool> gKeepUntilEnd{false};
std::mutex gKeptMutex;
std::vector<std::unique_ptr<PipeStreams>> gKept;

void releaseStreams(PipeStreams* s) {
  if (gKeepUntilEnd.load()) {
    try {
      std::lock_guard<std::mutex> lock(gKeptMutex);
      gKept.reserve(gKept.size() + 1);
      gKept.emplace_back(s);
      return;
    } catch (...) {
      // no room to keep them: they close now, and the solver still ends with the run
    }
  }
  delete s;
}

// Whether the child has ended; it stays unreaped, so its process id is not given to
// another process meanwhile. One that is no child of ours any more counts as ended.
bool hasEnded(pid_t pid) {
  siginfo_t info;
  for (;;) {
    info.si_pid = 0;
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0)
      return info.si_pid == pid;
    if (errno != EINTR) return true;
  }
}

void reap(pid_t pid) {
  int status;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

void keepSolversUntilTheEnd() { gKeepUntilEnd.store(true); }

void endSolvers() {
  const auto deadline = Clock::now() + kEndGrace;
  std::vector<std::unique_ptr<PipeStreams>> kept;
  {
    std::lock_guard<std::mutex> lock(gKeptMutex);
    kept.swap(gKept);
  }
  for (auto& s : kept) s->endInput(deadline);
  for (auto& slot : gChildren) {
    pid_t p = slot.load();
    if (p <= 0) continue;
    PipeStreams* streams = nullptr;
    for (auto& s : kept)
      if (s->process == p) streams = s.get();
    bool ended = hasEnded(p);
    while (!ended && Clock::now() < deadline) {
      auto slice = std::min(deadline, Clock::now() + kEndPollSlice);
      if (streams) streams->dropOutputUntil(slice);
      else std::this_thread::sleep_until(slice);
      ended = hasEnded(p);
    }
    // An interrupt meanwhile finds the child still in the table until it is sure to end.
    if (!ended) kill(p, SIGKILL);
    forgetChild(p);
    reap(p);
  }
}

YicesPipe createYicesPipe(const std::string& path, const std::vector<std::string>& extraArgs) {
  std::vector<std::string> args{"-i", "-e"};
  args.insert(args.end(), extraArgs.begin(), extraArgs.end());
  Child c = spawnChild(path, args, false);
  setNonBlocking(c.stdinFd);
  std::shared_ptr<PipeStreams> streams(new PipeStreams(c.pid, c.stdinFd, c.stdoutFd),
                                       releaseStreams);
  YicesPipe p;
  p.in = streams;
  p.out = streams;
  p.process = c.pid;
  return p;
}

void runCmdsYPrime(const YicesPipe& p, const std::vector<CmdY>& cmds) {
  if (!p.in) fatal("runCmdsY': the solver handle has no input stream");
  PipeStreams& s = *p.in;
  for (const auto& cmd : cmds) {
    showCmdY(s.os, cmd);
    s.os.put('\n');
    s.throwOnWriteError();
  }
}

void uploadText(const YicesPipe& p, std::string_view text) {
  if (!p.in) fatal("runCmdsY': the solver handle has no input stream");
  PipeStreams& s = *p.in;
  s.os.write(text.data(), static_cast<std::streamsize>(text.size()));
  s.throwOnWriteError();
}

void flushY(const YicesPipe& p) {
  if (!p.in) fatal("flushY: the solver handle has no input stream");
  if (!p.in->flush()) p.in->throwOnWriteError();
}

void runCmdsY(const YicesPipe& p, const std::vector<CmdY>& cmds) {
  runCmdsYPrime(p, cmds);
  flushY(p);
}

void exitY(const YicesPipe& p) {
  if (!p.in) fatal("exitY: the solver handle has no input stream");
  runCmdsYPrime(p, {mkC(EXIT{})});
  flushY(p);
}

// ---------------------------------------------------------------------------------------
// Check exchange.

ResY::ResY(Kind k, std::vector<std::string> lines) : kind_(k), lines_(std::move(lines)) {}

namespace {

// The verdict of the answer lines (markers, prompts and empty lines already removed).
ResY verdictOf(std::vector<std::string> answer) {
  const std::string& first = answer.front();
  ResY::Kind kind = first == "sat"       ? ResY::Sat
                    : first == "unknown" ? ResY::Unknown
                    : first == "unsat"   ? ResY::UnSat
                                         : ResY::InCon;
  if (kind != ResY::InCon) answer.erase(answer.begin());
  return ResY(kind, std::move(answer));
}

}  // namespace

ResY checkY(const YicesPipe& p) {
  if (!p.out) fatal("checkY: the solver handle has no output stream");
  if (!p.in) fatal("runCmdsY': the solver handle has no input stream");

  runCmdsYPrime(p, {mkC(ECHO{"\n" + kBeginMarker}), mkC(CHECK{}), mkC(ECHO{"\n" + kEndMarker})});
  flushY(p);

  PipeStreams& s = *p.out;
  bool begun = false;
  std::vector<std::string> answer;
  std::string line;
  for (;;) {
    if (!s.readLine(line))
      fatal("checkY: end of file on the solver's output before the end marker");
    if (line == kEndMarker) break;
    if (!begun) {
      begun = line == kBeginMarker;
      continue;
    }
    if (line.compare(0, kPrompt.size(), kPrompt) == 0) line.erase(0, kPrompt.size());
    if (!line.empty()) answer.push_back(std::move(line));
  }
  if (!begun) fatal("Prelude.tail: empty list");
  if (answer.empty()) fatal("checkY: the solver's reply holds no answer line");
  return verdictOf(std::move(answer));
}

// ---------------------------------------------------------------------------------------
// Batch variants.

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t lf = text.find('\n', start);
    if (lf == std::string::npos) lf = text.size();
    lines.push_back(text.substr(start, lf - start));
    start = lf + 1;
  }
  return lines;
}

namespace {

// Feeds input to the child and collects its standard output and error until both end.
void exchangeBatch(Child& c, const std::string& input, std::string& out, std::string& err) {
  std::size_t written = 0;
  if (input.empty()) closeFd(c.stdinFd);
  char chunk[kReadChunk];
  while (c.stdinFd >= 0 || c.stdoutFd >= 0 || c.stderrFd >= 0) {
    pollfd fds[3] = {{c.stdinFd, POLLOUT, 0}, {c.stdoutFd, POLLIN, 0}, {c.stderrFd, POLLIN, 0}};
    if (poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      fatal("quickCheckY': cannot wait for the solver: " + errnoText(errno));
    }
    if (fds[0].revents) {
      ssize_t w = write(c.stdinFd, input.data() + written, input.size() - written);
      if (w > 0) written += static_cast<std::size_t>(w);
      // A solver that stops reading early has simply not taken the rest.
      if ((w < 0 && errno != EINTR && errno != EAGAIN) || written == input.size())
        closeFd(c.stdinFd);
    }
    int* readers[2] = {&c.stdoutFd, &c.stderrFd};
    std::string* sinks[2] = {&out, &err};
    for (int i = 0; i < 2; ++i) {
      if (!fds[i + 1].revents) continue;
      ssize_t r = read(*readers[i], chunk, sizeof chunk);
      if (r > 0) sinks[i]->append(chunk, static_cast<std::size_t>(r));
      else if (r == 0 || errno != EINTR) closeFd(*readers[i]);
    }
  }
}

}  // namespace

ResY quickCheckYPrime(const std::string& path, const std::vector<std::string>& extraArgs,
                      const std::vector<CmdY>& cmds) {
  std::string input;
  for (const auto& cmd : cmds) input += showCmdY(cmd) + "\n";

  std::vector<std::string> args{"-e"};
  args.insert(args.end(), extraArgs.begin(), extraArgs.end());
  Child c = spawnChild(path, args, true);
  setNonBlocking(c.stdinFd);
  std::string out, err;
  exchangeBatch(c, input, out, err);
  int status;
  while (waitpid(c.pid, &status, 0) < 0 && errno == EINTR) {
  }
  forgetChild(c.pid);

  if (!err.empty()) std::cerr << err << std::endl;

  std::string text;
  text.reserve(out.size());
  for (char ch : out)
    if (ch != '\r') text += ch;
  std::vector<std::string> lines = splitLines(text);
  if (lines.empty()) return ResY(ResY::InCon, {});
  const std::string first = lines.front();
  if (first == "sat" || first == "unknown") {
    std::vector<std::string> model;
    for (std::size_t i = 1; i < lines.size(); ++i)
      if (!lines[i].empty()) model.push_back(std::move(lines[i]));
    return ResY(first == "sat" ? ResY::Sat : ResY::Unknown, std::move(model));
  }
  if (first == "unsat") {
    lines.erase(lines.begin());
    return ResY(ResY::UnSat, std::move(lines));
  }
  return ResY(ResY::InCon, std::move(lines));
}

ResY quickCheckY(const std::string& path, const std::vector<std::string>& extraArgs,
                 const std::vector<CmdY>& cmds) {
  std::vector<CmdY> all = cmds;
  all.push_back(mkC(CHECK{}));
  return quickCheckYPrime(path, extraArgs, all);
}

}  // namespace vorlax::yices
