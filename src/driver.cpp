#include "driver.hpp"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "fatal.hpp"
#include "goal_serial.hpp"
#include "yices_domain.hpp"

namespace vorlax {

namespace y = yices;

std::string outputFileName(const std::string& fileName) { return fileName + ".lisp"; }

std::string showCmds(const std::vector<y::CmdY>& cmds) {
  std::string text;
  for (const auto& c : cmds) {
    y::appendCmdY(text, c);
    text += '\n';
  }
  return text;
}

// The kind of an input/output failure, as the open-error messages name it.
static const char* ioErrorKind(int err) {
  switch (err) {
    case ENOENT:
    case ENXIO:
      return "does not exist";
    case EACCES:
    case EPERM:
    case EROFS:
      return "permission denied";
    case EBUSY:
    case ETXTBSY:
      return "resource busy";
    case EISDIR:
    case ENOTDIR:
      return "inappropriate type";
    case EEXIST:
      return "already exists";
    case EMFILE:
    case ENFILE:
    case ENOMEM:
    case ENOSPC:
    case EAGAIN:
    case EFBIG:
      return "resource exhausted";
    case EINTR:
      return "interrupted";
    case EINVAL:
    case ELOOP:
    case ENAMETOOLONG:
      return "invalid argument";
    case EIO:
      return "hardware fault";
    case ENODEV:
      return "unsupported operation";
    default:
      return "failed";
  }
}

void ioFailure(const std::string& path, const char* operation, int err) {
  fatal(path + ": " + operation + ": " + ioErrorKind(err) + " (" + std::strerror(err) + ")");
}

void openFileFailure(const std::string& path, int err) { ioFailure(path, "openFile", err); }

DumpText::DumpText(std::string whole) { append(std::move(whole)); }

void DumpText::append(std::string piece) {
  if (!piece.empty()) pieces_.push_back(std::move(piece));
}

std::string DumpText::str() const {
  std::string whole;
  for (const auto& p : pieces_) whole += p;
  return whole;
}

DumpText writeYices(const std::string& fileName,
                    const std::function<void(const CmdSink&)>& produce) {
  const std::string out = outputFileName(fileName);
  errno = 0;
  std::ofstream os(out, std::ios::out | std::ios::trunc | std::ios::binary);
  if (!os.is_open()) openFileFailure(out, errno);
  // The text goes to the file as it grows, a piece of at least kDumpPiece bytes at a time;
  // each piece is kept as it is.
  constexpr std::size_t kDumpPiece = std::size_t{1} << 20;
  DumpText dump;
  std::string piece;
  auto write = [&] {
    os.write(piece.data(), static_cast<std::streamsize>(piece.size()));
    dump.append(std::move(piece));
    piece = std::string();
  };
  try {
    produce([&](const y::CmdY& c) {
      if (piece.empty()) piece.reserve(kDumpPiece + kDumpPiece / 8);
      y::appendCmdY(piece, c);
      piece += '\n';
      if (piece.size() >= kDumpPiece) write();
    });
  } catch (...) {
    write();  // the commands before the failure, and the failing one up to where it failed
    throw;
  }
  write();
  os.close();
  if (os.fail()) fatal(out + ": hPutStr: the dump could not be written completely");
  return dump;
}

namespace {

// A dump is never written over an input file: not by name, nor through a link.
void checkNotInput(const std::string& dump, const std::string& domainFile,
                   const std::string& serialFile) {
  for (const std::string* input : {&domainFile, &serialFile}) {
    std::error_code ec;
    if (std::filesystem::equivalent(dump, *input, ec) && !ec)
      fatal("the dump " + dump + " would overwrite the input file " + *input +
            "; nothing was written");
  }
}

}  // namespace

DumpText generateDomain(const ast::Domain& dom, const std::string& domainFile,
                        const std::string& serialFile) {
  checkNotInput(outputFileName(domainFile), domainFile, serialFile);
  checkNotInput(outputFileName(serialFile), domainFile, serialFile);
  return writeYices(domainFile, [&](const CmdSink& emit) {
    checkDomainNames(dom, domainFile);
    procDom(dom, emit);
  });
}

DumpText generateGoal(const ast::Domain& dom, const SerialGoal& goal,
                      const std::string& domainFile, const std::string& serialFile) {
  checkNotInput(outputFileName(serialFile), domainFile, serialFile);
  return writeYices(serialFile, [&](const CmdSink& emit) {
    checkGoalNames(dom, goal.vars, domainFile, serialFile);
    goalSetup(dom, goal, emit);
  });
}

}  // namespace vorlax
