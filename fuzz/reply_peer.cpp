// The solver the reply target talks to: "reply_peer -i -e FILE" reads commands until the
// echo of the end marker arrives, then writes FILE verbatim (markers, prompts and all) and
// ends, so that what follows the reply is the end of the solver's output.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  std::string seen;
  char buf[4096];
  for (;;) {
    ssize_t n = read(0, buf, sizeof buf);
    if (n <= 0) break;
    seen.append(buf, static_cast<size_t>(n));
    if (seen.find("END_OUTPUT") != std::string::npos) break;
    if (seen.size() > 4096) seen.erase(0, seen.size() - 64);
  }
  int fd = open(argv[3], O_RDONLY);
  if (fd < 0) return 2;
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    for (ssize_t off = 0; off < n;) {
      ssize_t w = write(1, buf + off, static_cast<size_t>(n - off));
      if (w <= 0) return 1;
      off += w;
    }
  }
  close(fd);
  return 0;
}
