// MD5 of the engine against peers on the same 16 MiB buffer, each iteration
// timing both: OpenSSL's libcrypto (Debian's libssl3, loaded at run time, so
// the benchmark builds without its headers) and the md5sum tool of coreutils
// (a process reading a file from the page cache; its time includes starting
// the process). ratio = engine time / peer time (above 1: the engine is
// slower). Each peer's digest is checked against the engine's first.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "engine/utilities/md5.h"

namespace {

constexpr std::uint32_t kSize = 16u << 20;

const std::vector<std::uint8_t>& Buffer() {
  static const std::vector<std::uint8_t> buffer = [] {
    std::vector<std::uint8_t> b(kSize);
    std::mt19937 rng(1321);
    for (auto& x : b)
      x = static_cast<std::uint8_t>(rng());
    return b;
  }();
  return buffer;
}

// The engine's digest of the buffer in hex; empty when a step fails.
std::string EngineHex() {
  Md5Context c;
  std::uint8_t digest[16];
  std::string hex(32, '\0');
  if (IsFailure(Md5_Init(&Md5Module, &c)) ||
      IsFailure(Md5_Update(&Md5Module, &c, Buffer().data(), kSize)) ||
      IsFailure(Md5_Final(&Md5Module, &c, digest)) ||
      IsFailure(Md5_HexDigest(&Md5Module, digest, hex.data()))) {
    return {};
  }
  return hex;
}

// libcrypto's one-shot digest, found at run time.
struct Crypto {
  using EvpMd5 = const void* (*)();
  using EvpDigest = int (*)(const void*, std::size_t, unsigned char*, unsigned int*, const void*,
                            void*);
  EvpMd5 md5 = nullptr;
  EvpDigest digest = nullptr;

  static const Crypto& Get() {
    static const Crypto crypto = [] {
      Crypto c;
      void* lib = dlopen("libcrypto.so.3", RTLD_NOW | RTLD_LOCAL);
      if (lib != nullptr) {
        c.md5 = reinterpret_cast<EvpMd5>(dlsym(lib, "EVP_md5"));
        c.digest = reinterpret_cast<EvpDigest>(dlsym(lib, "EVP_Digest"));
      }
      return c;
    }();
    return crypto;
  }
  bool ok() const { return md5 != nullptr && digest != nullptr; }
};

std::string OpenSslHex() {
  const Crypto& c = Crypto::Get();
  unsigned char digest[16];
  unsigned int length = 0;
  std::string hex(32, '\0');
  if (c.digest(Buffer().data(), kSize, digest, &length, c.md5(), nullptr) != 1 ||
      IsFailure(Md5_HexDigest(&Md5Module, digest, hex.data()))) {
    return {};
  }
  return hex;
}

// The buffer in a file, for md5sum.
const std::string& BufferFile() {
  static const std::string path = [] {
    char name[] = "/tmp/bench_md5_XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) return std::string();
    const auto& b = Buffer();
    const bool ok = write(fd, b.data(), b.size()) == static_cast<ssize_t>(b.size());
    close(fd);
    if (!ok) return std::string();
    std::atexit([] { unlink(BufferFile().c_str()); });
    return std::string(name);
  }();
  return path;
}

std::string Md5sumHex() {
  const std::string command = "md5sum '" + BufferFile() + "'";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return {};
  char out[33] = {};
  const std::size_t n = std::fread(out, 1, 32, pipe);
  while (std::fgetc(pipe) != EOF) {
  }
  pclose(pipe);
  return std::string(out, n);
}

void BM_Engine(benchmark::State& state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(EngineHex());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kSize);
}

template <std::string (*kPeer)()>
void BM_VsPeer(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  if (kPeer == &OpenSslHex && !Crypto::Get().ok()) {
    state.SkipWithError("libcrypto.so.3 not found");
    return;
  }
  if (kPeer == &Md5sumHex && BufferFile().empty()) {
    state.SkipWithError("cannot write the input file");
    return;
  }
  if (EngineHex() != kPeer()) {
    state.SkipWithError("engine and peer disagree");
    return;
  }
  double engineSeconds = 0;
  double peerSeconds = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    benchmark::DoNotOptimize(EngineHex());
    const auto t1 = Clock::now();
    benchmark::DoNotOptimize(kPeer());
    const auto t2 = Clock::now();
    engineSeconds += std::chrono::duration<double>(t1 - t0).count();
    peerSeconds += std::chrono::duration<double>(t2 - t1).count();
  }
  const double n = static_cast<double>(state.iterations());
  const double mib = static_cast<double>(kSize) / (1 << 20);
  state.counters["engine_MiBps"] = mib * n / engineSeconds;
  state.counters["peer_MiBps"] = mib * n / peerSeconds;
  state.counters["ratio"] = engineSeconds / peerSeconds;
}

BENCHMARK(BM_Engine)->Name("Md5/engine")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VsPeer<OpenSslHex>)->Name("Md5/VsOpenSsl")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VsPeer<Md5sumHex>)->Name("Md5/VsMd5sum")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
