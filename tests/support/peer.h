// Peers: independent tools used as oracles. A test that needs one starts with
// KELPO_REQUIRE_PEER("tool"); without the tool the test is skipped, except
// under CI=true, where a missing peer fails the run.
#pragma once

#include <gtest/gtest.h>

#include <string>

bool PeerAvailable(const std::string& tool);
bool RunningInCi();

// Runs a shell command, feeding `input` on stdin; returns its stdout and
// stores the exit status.
std::string RunPeer(const std::string& command, const std::string& input, int* exitStatus);

#define KELPO_REQUIRE_PEER(tool)                                           \
  do {                                                                     \
    if (!PeerAvailable(tool)) {                                            \
      if (RunningInCi()) {                                                 \
        FAIL() << "peer tool missing: " << (tool);                         \
      } else {                                                             \
        GTEST_SKIP() << "peer tool missing: " << (tool);                   \
      }                                                                    \
    }                                                                      \
  } while (0)
