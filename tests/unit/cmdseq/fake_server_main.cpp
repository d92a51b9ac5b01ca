// A stand-in server program for the local server start tests. Its last two arguments
// are "-hn" and the hand-shake descriptor. The first argument picks what it does:
//   ready REPORT     writes its arguments and open descriptors to REPORT, then status 0
//   status N         writes status N (two bytes, little-endian)
//   exit             leaves without writing anything
//   silent           waits 30 seconds without writing anything
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  if (argc < 4 || std::strcmp(argv[argc - 2], "-hn") != 0) return 2;
  const int fd = std::atoi(argv[argc - 1]);
  const std::string mode = argv[1];
  unsigned status = 0;
  if (mode == "exit") return 0;
  if (mode == "silent") {
    sleep(30);
    return 0;
  }
  if (mode == "status") status = static_cast<unsigned>(std::atoi(argv[2]));
  if (mode == "ready") {
    FILE* out = std::fopen(argv[2], "w");
    if (out == nullptr) return 3;
    for (int i = 1; i < argc; ++i) std::fprintf(out, "arg %s\n", argv[i]);
    DIR* dir = opendir("/proc/self/fd");
    if (dir != nullptr) {
      while (dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        const int n = std::atoi(e->d_name);
        if (n == dirfd(dir) || n == fileno(out)) continue;
        std::fprintf(out, "fd %d\n", n);
      }
      closedir(dir);
    }
    std::fclose(out);
  }
  const unsigned char bytes[2] = {static_cast<unsigned char>(status),
                                  static_cast<unsigned char>(status >> 8)};
  return write(fd, bytes, 2) == 2 ? 0 : 4;
}
