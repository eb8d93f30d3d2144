// The solver process, the upload of commands and the check exchange, against fake solvers
// that play scripted transcripts.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <memory>

#include "fixtures/pipe/fakes.hpp"
#include "math/smt/yices/pipe.hpp"

using namespace vorlax::yices;
using namespace pipetest;
using namespace std::chrono_literals;

namespace {

const std::string B = "_![<[BEGIN_OUTPUT]>]!_";
const std::string E = "_![<[END_OUTPUT]>]!_";

CmdY def(const std::string& name) {
  return mkC(DEFINE{{name, mkT(VarT{"int"})}, std::nullopt});
}

const char* kindName(ResY::Kind k) {
  switch (k) {
    case ResY::Sat: return "Sat";
    case ResY::Unknown: return "Unknown";
    case ResY::UnSat: return "UnSat";
    case ResY::InCon: return "InCon";
  }
  return "?";
}

// Runs one check against the player with the given reply text.
ResY checkAgainst(TempDir& dir, const std::string& reply) {
  YicesPipe p = createYicesPipe(dir.fake("player.sh"), {dir.write("reply", reply)});
  runCmdsYPrime(p, {def("x")});
  return checkY(p);
}

using Lines = std::vector<std::string>;

}  // namespace

TEST(CheckY, VerdictFromTheFramedReply) {
  struct Case {
    const char* what;
    std::string reply;
    ResY::Kind kind;
    Lines lines;
  } cases[] = {
      {"prompts before and inside the frame",
       "yices > yices > \nnoise\n" + B + "\nyices > sat\n(= x 1)\nyices > \n" + E + "\n",
       ResY::Sat, {"(= x 1)"}},
      {"sat without a model", B + "\nsat\n" + E + "\n", ResY::Sat, {}},
      {"empty and bare prompt lines inside the frame",
       B + "\n\nyices > \nsat\n\nyices > (= y 2)\n\n" + E + "\n", ResY::Sat, {"(= y 2)"}},
      {"a prompted copy of the marker before the real one",
       "yices > " + B + "\nunknown\n" + B + "\nunsat\n" + E + "\n", ResY::UnSat, {}},
      {"unsat with its number line", B + "\nunsat\nunsat core ids: 1 2 3\n" + E + "\n",
       ResY::UnSat, {"unsat core ids: 1 2 3"}},
      {"unknown with a model", B + "\nyices > unknown\n(= a 1)\n(= b true)\n" + E + "\n",
       ResY::Unknown, {"(= a 1)", "(= b true)"}},
      {"capitalised verdict", B + "\nSat\n(= x 1)\n" + E + "\n", ResY::InCon, {"Sat", "(= x 1)"}},
      {"leading blank", B + "\n sat\n" + E + "\n", ResY::InCon, {" sat"}},
      {"trailing blank", B + "\nsat \n" + E + "\n", ResY::InCon, {"sat "}},
      {"only one prompt is stripped", B + "\nyices > yices > sat\n" + E + "\n", ResY::InCon,
       {"yices > sat"}},
      {"an error line in place of a verdict",
       B + "\nyices > Error: undefined name: z\nsat\n" + E + "\n", ResY::InCon,
       {"Error: undefined name: z", "sat"}},
      {"CR LF line ends", B + "\r\nyices > sat\r\n(= x 1)\r\n" + E + "\r\n", ResY::Sat,
       {"(= x 1)"}},
      {"a CR not before LF stays", B + "\nsat\r\r\n" + E + "\n", ResY::InCon, {"sat\r"}},
      {"a marker with a blank is an ordinary line", B + " \n" + B + "\nsat\n" + E + " \n" + E,
       ResY::Sat, {E + " "}},
  };
  for (const auto& c : cases) {
    TempDir dir;
    ResY r = checkAgainst(dir, c.reply);
    EXPECT_STREQ(kindName(r.kind()), kindName(c.kind)) << c.what;
    EXPECT_EQ(r.lines(), c.lines) << c.what;
  }
}

TEST(CheckY, BrokenRepliesAreFatal) {
  struct Case {
    const char* what;
    std::string reply;
    std::string message;  // a part of the message
  } cases[] = {
      {"solver exits in the middle of a reply", "yices > " + B + "\nsat\n(= x", "end of file"},
      {"solver exits before the frame", "", "end of file"},
      {"no begin marker", "yices > sat\n" + E + "\n", "Prelude.tail: empty list"},
      {"only a prompted copy of the begin marker", "yices > " + B + "\nsat\n" + E + "\n",
       "Prelude.tail: empty list"},
      {"nothing left after stripping prompts", B + "\nyices > \n\n\r\n" + E + "\n", "checkY"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    std::string msg = fatalMessage([&] { checkAgainst(dir, c.reply); });
    EXPECT_NE(msg.find(c.message), std::string::npos) << c.what << ": " << msg;
  }
}

TEST(CheckY, NextExchangeStartsAfterTheEndMarker) {
  TempDir dir;
  std::string first = B + "\nsat\n" + E + "\nyices > \nleft over\n";
  std::string second = "yices > \n" + B + "\nunsat\n" + E + "\n";
  YicesPipe p = createYicesPipe(dir.fake("player.sh"),
                                {dir.write("r1", first), dir.write("r2", second)});
  EXPECT_EQ(checkY(p).kind(), ResY::Sat);
  ResY r = checkY(p);
  EXPECT_EQ(r.kind(), ResY::UnSat);
  EXPECT_TRUE(r.lines().empty());
}

TEST(Upload, SolverSeesItsArgumentsAndEveryCommandInOrder) {
  TempDir dir;
  std::string log = (dir.path() / "log").string();
  YicesPipe p = createYicesPipe(dir.fake("recorder.sh"), {log, "two words"});
  runCmdsYPrime(p, {def("a"), def("b")});
  runCmdsYPrime(p, {});
  runCmdsYPrime(p, {mkC(PUSH{})});
  ResY r = checkY(p);
  EXPECT_EQ(r.kind(), ResY::InCon);
  EXPECT_EQ(r.lines(), (Lines{"arg=-i", "arg=-e", "arg=" + log, "arg=two words",
                              "in=(define a::int)", "in=(define b::int)", "in=(push)",
                              "in=(echo \"\\n" + B + "\")", "in=(check)"}));
}

TEST(Upload, NothingReachesTheSolverBeforeTheFlush) {
  TempDir dir;
  std::string log = (dir.path() / "log").string();
  YicesPipe p = createYicesPipe(dir.fake("recorder.sh"), {log});
  ASSERT_TRUE(eventually([&] { return readFile(log) == "started\n"; }));
  runCmdsYPrime(p, {def("a"), def("b"), mkC(PUSH{})});
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(readFile(log), "started\n");
  checkY(p);
  EXPECT_EQ(readFile(log), "started\n(define a::int)\n(define b::int)\n(push)\n(echo \"\\n" + B +
                               "\")\n(check)\n(echo \"\\n" + E + "\")\n");
}

// Text that holds commands goes out as it is, in order with the commands sent one by one,
// and like them only with the flush.
TEST(Upload, TextOfCommandsGoesOutAsItIs) {
  TempDir dir;
  std::string log = (dir.path() / "log").string();
  YicesPipe p = createYicesPipe(dir.fake("recorder.sh"), {log});
  ASSERT_TRUE(eventually([&] { return readFile(log) == "started\n"; }));
  runCmdsYPrime(p, {def("a")});
  uploadText(p, "(define b::int)\n(assert (= b  1))\n");
  uploadText(p, "");
  runCmdsYPrime(p, {mkC(PUSH{})});
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(readFile(log), "started\n");
  flushY(p);
  EXPECT_TRUE(eventually([&] {
    return readFile(log) == "started\n(define a::int)\n(define b::int)\n(assert (= b  1))\n(push)\n";
  }));
  exitY(p);
  EXPECT_TRUE(endsWithin(p.process, 10s));
}

TEST(Upload, RunCmdsYAndExitYSendAtOnce) {
  TempDir dir;
  std::string log = (dir.path() / "log").string();
  YicesPipe p = createYicesPipe(dir.fake("recorder.sh"), {log});
  runCmdsY(p, {def("a")});
  EXPECT_TRUE(eventually([&] { return readFile(log) == "started\n(define a::int)\n"; }));
  runCmdsYPrime(p, {def("b")});
  flushY(p);
  EXPECT_TRUE(eventually([&] { return readFile(log) == "started\n(define a::int)\n(define b::int)\n"; }));
  exitY(p);
  EXPECT_TRUE(endsWithin(p.process, 10s));  // the recorder ends on "(exit)"
  EXPECT_EQ(readFile(log), "started\n(define a::int)\n(define b::int)\n(exit)\n");
}

// The solver writes a prompt for every command while nothing is read during the upload: its
// output pipe fills long before the upload ends.
TEST(Upload, ManyCommandsToAChattySolverDoNotDeadlock) {
  alarm(120);  // a deadlock ends the test program instead of hanging it
  TempDir dir;
  YicesPipe p = createYicesPipe(dir.fake("chatty.sh"), {});
  std::vector<CmdY> cmds;
  for (int i = 0; i < 20000; ++i) cmds.push_back(def("variable_number_" + std::to_string(i)));
  runCmdsYPrime(p, cmds);
  runCmdsYPrime(p, cmds);
  ResY r = checkY(p);
  alarm(0);
  EXPECT_EQ(r.kind(), ResY::Sat);
  EXPECT_TRUE(r.lines().empty());
}

TEST(Process, StartFailuresNameThePathAndTheReason) {
  TempDir dir;
  struct Case {
    std::string path;
    std::string reason;
  } cases[] = {
      {(dir.path() / "missing").string(), "No such file or directory"},
      {dir.write("plain.sh", "#!/bin/sh\n"), "Permission denied"},
      {dir.path().string(), "Is a directory"},
      {dir.write("badinterp.sh", "#!/nonexistent/shell\n", fs::perms::owner_all),
       "No such file or directory"},
  };
  for (const auto& c : cases) {
    std::string msg = fatalMessage([&] { createYicesPipe(c.path, {}); });
    EXPECT_NE(msg.find("\"" + c.path + "\""), std::string::npos) << msg;
    EXPECT_NE(msg.find(c.reason), std::string::npos) << msg;
    msg = fatalMessage([&] { quickCheckY(c.path, {}, {}); });
    EXPECT_NE(msg.find(c.reason), std::string::npos) << msg;
  }
}

TEST(Process, ADeadSolverIsAFatalWriteError) {
  TempDir dir;
  YicesPipe p = createYicesPipe(dir.write("quits.sh", "#!/bin/sh\nexit 0\n", fs::perms::owner_all), {});
  ASSERT_EQ(waitpid(p.process, nullptr, 0), p.process);
  runCmdsYPrime(p, {def("a")});  // still buffered
  std::string msg = fatalMessage([&] { checkY(p); });
  EXPECT_NE(msg.find("Broken pipe"), std::string::npos) << msg;
}

// The solver's end of input comes from our ends closing; it must not hang on a copy of them
// held by a second child.
TEST(Process, PipeEndsAreNotInheritedBySiblings) {
  TempDir dir;
  std::string log = (dir.path() / "log").string();
  auto first = std::make_unique<YicesPipe>(createYicesPipe(dir.fake("recorder.sh"), {log}));
  pid_t firstPid = first->process;
  YicesPipe second = createYicesPipe(dir.fake("chatty.sh"), {});
  first.reset();
  EXPECT_TRUE(endsWithin(firstPid, 10s));
  runCmdsYPrime(second, {def("a")});
  EXPECT_EQ(checkY(second).kind(), ResY::Sat);
}

TEST(Process, HandlesWithoutStreamsAreFatal) {
  TempDir dir;
  YicesPipe live = createYicesPipe(dir.fake("chatty.sh"), {});
  YicesPipe none;
  YicesPipe noInput{nullptr, live.out, live.process};
  struct Case {
    const char* what;
    std::function<void()> run;
    std::string names;
  } cases[] = {
      {"upload", [&] { runCmdsYPrime(none, {}); }, "runCmdsY'"},
      {"check without output", [&] { checkY(YicesPipe{live.in, nullptr, live.process}); },
       "checkY"},
      {"check without either", [&] { checkY(none); }, "checkY"},
      {"check without input", [&] { checkY(noInput); }, "runCmdsY'"},
      {"flush", [&] { flushY(none); }, "flushY"},
      {"exit", [&] { exitY(none); }, "exitY"},
  };
  for (const auto& c : cases) {
    std::string msg = fatalMessage(c.run);
    EXPECT_EQ(msg.rfind(c.names, 0), 0u) << c.what << ": " << msg;
  }
  pid_t pid = live.process;
  live = noInput = YicesPipe{};
  EXPECT_TRUE(endsWithin(pid, 10s));
}
