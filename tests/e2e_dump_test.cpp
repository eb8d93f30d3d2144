// Whole runs that end while the dumps are written: which message wins, and what each dump
// holds afterwards. YICES_EXE is unset, so a run that got past both dumps would end with the
// environment variable's error instead.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include "file_support.hpp"

namespace {

using vorlax::testing_support::exists;
using vorlax::testing_support::slurp;


const std::string kFixtures = std::string(VORLAX_FIXTURES) + "/encode/";

class DumpRun : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vorlax-dumprun-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

  std::string path(const std::string& name) const { return dir + "/" + name; }
  void write(const std::string& name, const std::string& text) const {
    std::ofstream(path(name), std::ios::binary) << text;
  }

  struct Outcome {
    int status = -1;
    std::string out, err;
  };
  Outcome run(const std::string& args) const {
    const std::string cmd = "cd '" + dir + "' && env -u YICES_EXE '" + VORLAX_BIN + "' " + args +
                            " > out.txt 2> err.txt < /dev/null";
    const int raw = std::system(cmd.c_str());
    Outcome r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = slurp(path("out.txt"));
    r.err = slurp(path("err.txt"));
    return r;
  }

  std::string dir;
};

TEST_F(DumpRun, FailurePrecedenceAndWhatTheDumpsHold) {
  const std::string domain = slurp(kFixtures + "no_procedures.dom");
  const std::string domainDump = slurp(kFixtures + "no_procedures.dom.lisp.expected");
  const std::string kAbsent = "<absent>";
  const std::string kEarlier = "left by an earlier run\n";
  const struct {
    const char* what;
    std::string domain, goal;
    const char* dirInTheWay;  // a directory where this dump would be created, or nullptr
    std::string err;
    std::string domDump, serDump;  // kAbsent: no such file
  } cases[] = {
      {"domain type error: empty domain dump, the earlier serialization dump untouched",
       domain + "p (s : S) ensure e: s.k = x\n", "@ 1\n-> True\n", nullptr,
       "vorlax: Error typechecking domain: x not found in declarations\n", "", kEarlier},
      {"domain dump cannot be created: no serialization dump either", domain, "@ 1\n-> True\n",
       "d.lisp", "vorlax: d.lisp: openFile: inappropriate type (Is a directory)\n", kAbsent,
       kEarlier},
      {"serialization dump cannot be created: the domain dump is complete", domain,
       "@ 1\n-> True\n", "s.lisp",
       "vorlax: s.lisp: openFile: inappropriate type (Is a directory)\n", domainDump, kAbsent},
      {"initial condition with a type error: the serialization dump keeps the earlier commands",
       domain, "x : S\nx.k = 1\ny.k = 2\n@ 1\n-> True\n", nullptr,
       "vorlax: y not found in declarations\n", domainDump,
       "(define x::S_ref)\n(assert (= (k x 0) 1))\n"},
      {"both dumps complete before the solver run begins", domain, "x : S\nx.k = 1\n@ 1\n-> True\n",
       nullptr, "vorlax: YICES_EXE: getEnv: does not exist (no environment variable)\n",
       domainDump, "(define x::S_ref)\n(assert (= (k x 0) 1))\n"},
  };
  for (const auto& c : cases) {
    std::system(("rm -rf '" + path("d.lisp") + "' '" + path("s.lisp") + "'").c_str());
    write("d", c.domain);
    write("s", c.goal);
    if (c.dirInTheWay) {
      ASSERT_EQ(::mkdir(path(c.dirInTheWay).c_str(), 0755), 0) << c.what;
    }
    if (!exists(path("s.lisp"))) write("s.lisp", kEarlier);

    const Outcome r = run("d s");
    EXPECT_EQ(r.status, 1) << c.what;
    EXPECT_EQ(r.out, "") << c.what;
    EXPECT_EQ(r.err, c.err) << c.what;
    for (const auto& [name, want] : {std::pair{"d.lisp", c.domDump}, std::pair{"s.lisp", c.serDump}}) {
      const std::string p = path(name);
      struct stat sb;
      const bool isFile = ::stat(p.c_str(), &sb) == 0 && S_ISREG(sb.st_mode);
      if (want == kAbsent)
        EXPECT_FALSE(isFile) << c.what << ": " << name;
      else
        EXPECT_EQ(isFile ? slurp(p) : kAbsent, want) << c.what << ": " << name;
    }
  }
}

}  // namespace
