// The worked example of README.md, run as written there. The README marks its pieces with
// HTML comments, each directly followed by a fenced block:
//   <!-- readme-test: file NAME -->          the block is the content of the file NAME
//   <!-- readme-test: run DOMAIN SERIAL -->  the block is the exact standard output of
//                                            vorlax DOMAIN SERIAL, which must end normally
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>
#include "file_support.hpp"

namespace {

using vorlax::testing_support::exists;
using vorlax::testing_support::slurp;

struct Piece {
  std::string kind, args, text;  // text: the lines of the block, each with its line end
  int line = 0;                  // of the marker, for messages
};

// The marked pieces of a Markdown text; a marker without a fenced block after it is an
// error, reported in `error`.
std::vector<Piece> markedPieces(const std::string& md, std::string& error) {
  std::vector<std::string> lines;
  std::istringstream in(md);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  const std::string open = "<!-- readme-test: ", close = " -->";
  std::vector<Piece> out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string& l = lines[i];
    if (l.rfind(open, 0) != 0) continue;
    Piece p;
    p.line = static_cast<int>(i) + 1;
    if (l.size() < open.size() + close.size() || l.substr(l.size() - close.size()) != close) {
      error = "line " + std::to_string(p.line) + ": marker not closed";
      return {};
    }
    std::string body = l.substr(open.size(), l.size() - open.size() - close.size());
    std::size_t sp = body.find(' ');
    p.kind = body.substr(0, sp);
    p.args = sp == std::string::npos ? "" : body.substr(sp + 1);
    if (i + 1 >= lines.size() || lines[i + 1] != "```") {
      error = "line " + std::to_string(p.line) + ": no fenced block after the marker";
      return {};
    }
    std::size_t j = i + 2;
    for (; j < lines.size() && lines[j] != "```"; ++j) p.text += lines[j] + "\n";
    if (j == lines.size()) {
      error = "line " + std::to_string(p.line) + ": fenced block not closed";
      return {};
    }
    out.push_back(p);
    i = j;
  }
  return out;
}

TEST(ReadmePieces, MarkersAndBlocks) {
  std::string error;
  auto pieces = markedPieces(
      "intro\n<!-- readme-test: file a.dom -->\n```\nx\n\n```\ntext\n"
      "<!-- readme-test: run a.dom a.ser -->\n```\nout\n```\n",
      error);
  EXPECT_EQ(error, "");
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0].kind, "file");
  EXPECT_EQ(pieces[0].args, "a.dom");
  EXPECT_EQ(pieces[0].text, "x\n\n");
  EXPECT_EQ(pieces[1].kind, "run");
  EXPECT_EQ(pieces[1].args, "a.dom a.ser");
  EXPECT_EQ(pieces[1].text, "out\n");

  // a broken marker is an error, never a piece silently left out
  for (const char* md : {"<!-- readme-test: file a.dom -->\ntext\n",
                         "<!-- readme-test: file a.dom -->\n```\nx\n",
                         "<!-- readme-test: file a.dom\n```\nx\n```\n"}) {
    error.clear();
    EXPECT_TRUE(markedPieces(md, error).empty()) << md;
    EXPECT_NE(error, "") << md;
  }
}

TEST(Readme, WorkedExampleRunsAsShown) {
  const std::string readme = std::string(VORLAX_EXAMPLES) + "/../README.md";
  std::string error;
  auto pieces = markedPieces(slurp(readme), error);
  ASSERT_EQ(error, "") << readme;

  char tmpl[] = "/tmp/vorlax-readme-XXXXXX";
  ASSERT_NE(::mkdtemp(tmpl), nullptr);
  const std::string dir = tmpl;
  struct Cleanup {
    std::string dir;
    ~Cleanup() { std::system(("rm -rf '" + dir + "'").c_str()); }
  } cleanup{dir};

  int runs = 0;
  for (const Piece& p : pieces) {
    if (p.kind == "file") {
      ASSERT_EQ(p.args.find_first_of(" /"), std::string::npos) << "line " << p.line;
      std::ofstream(dir + "/" + p.args, std::ios::binary) << p.text;
    } else if (p.kind == "run") {
      std::istringstream names(p.args);
      std::string dom, ser, extra;
      ASSERT_TRUE(names >> dom >> ser && !(names >> extra)) << "line " << p.line;
      std::string cmd = "cd '" + dir + "' && env YICES_EXE='" VORLAX_SOLVER_BIN "' '" VORLAX_BIN
                        "' " + dom + " " + ser + " > out.txt 2> err.txt < /dev/null";
      int raw = std::system(cmd.c_str());
      EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << "line " << p.line;
      EXPECT_EQ(slurp(dir + "/err.txt"), "") << "line " << p.line;
      EXPECT_EQ(slurp(dir + "/out.txt"), p.text) << "line " << p.line;
      // the dumps the README promises, next to the inputs
      EXPECT_TRUE(exists(dir + "/" + dom + ".lisp")) << "line " << p.line;
      EXPECT_TRUE(exists(dir + "/" + ser + ".lisp")) << "line " << p.line;
      ++runs;
    } else {
      ADD_FAILURE() << "line " << p.line << ": unknown marker " << p.kind;
    }
  }
  EXPECT_GE(runs, 1) << "README.md shows no run of its example";
}

}  // namespace
