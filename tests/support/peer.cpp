#include "tests/support/peer.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "tests/support/temp_dir.h"

bool PeerAvailable(const std::string& tool) {
  const std::string command = "command -v '" + tool + "' >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

bool RunningInCi() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && (std::strcmp(ci, "true") == 0 || std::strcmp(ci, "1") == 0);
}

std::string RunPeer(const std::string& command, const std::string& input, int* exitStatus) {
  TempDir dir;
  const std::string inPath = dir.File("stdin");
  {
    std::ofstream in(inPath, std::ios::binary);
    in.write(input.data(), static_cast<std::streamsize>(input.size()));
  }
  const std::string full = "(" + command + ") < '" + inPath + "'";
  std::string out;
  FILE* pipe = popen(full.c_str(), "r");
  if (pipe == nullptr) {
    if (exitStatus) *exitStatus = -1;
    return out;
  }
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  const int status = pclose(pipe);
  if (exitStatus) *exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}
