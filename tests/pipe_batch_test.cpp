// The batch variants: one solver run to completion on the whole command text.
#include <gtest/gtest.h>

#include "fixtures/pipe/fakes.hpp"
#include "math/smt/yices/pipe.hpp"

using namespace vorlax::yices;
using namespace pipetest;
using Lines = std::vector<std::string>;

TEST(QuickCheckY, VerdictFromTheWholeOutput) {
  struct Case {
    const char* what;
    std::string reply;
    ResY::Kind kind;
    Lines lines;
  } cases[] = {
      {"no output", "", ResY::InCon, {}},
      {"CRs removed, empty model lines dropped", "sat\r\n\r\n(= x 1)\r\n\n(= y 2)", ResY::Sat,
       {"(= x 1)", "(= y 2)"}},
      {"unknown", "unknown\n(= y 2)\n", ResY::Unknown, {"(= y 2)"}},
      {"unsat keeps its lines as they are", "unsat\n\nids: 1 2\n", ResY::UnSat, {"", "ids: 1 2"}},
      {"no prompt stripping", "yices > sat\n", ResY::InCon, {"yices > sat"}},
      {"no markers", "_![<[BEGIN_OUTPUT]>]!_\nsat\n", ResY::InCon,
       {"_![<[BEGIN_OUTPUT]>]!_", "sat"}},
  };
  for (const auto& c : cases) {
    TempDir dir;
    testing::internal::CaptureStderr();
    ResY r = quickCheckYPrime(dir.fake("batch.sh"), {dir.write("reply", c.reply)}, {});
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(r.kind(), c.kind) << c.what;
    EXPECT_EQ(r.lines(), c.lines) << c.what;
    EXPECT_EQ(err, "args: -e " + (dir.path() / "reply").string() + "\n\n") << c.what;
  }
}

TEST(QuickCheckY, SendsTheCommandsThenCheck) {
  TempDir dir;
  std::vector<CmdY> cmds{mkC(DEFINE{{"x", mkT(VarT{"int"})}, std::nullopt}), mkC(PUSH{})};
  testing::internal::CaptureStderr();
  ResY plain = quickCheckYPrime(dir.fake("batch.sh"), {"echo"}, cmds);
  ResY checked = quickCheckY(dir.fake("batch.sh"), {"echo"}, cmds);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(plain.lines(), (Lines{"(define x::int)", "(push)"}));
  EXPECT_EQ(checked.lines(), (Lines{"(define x::int)", "(push)", "(check)"}));
  EXPECT_EQ(err, "args: -e echo\n\nargs: -e echo\n\n");
}
