// Reading a setup data block of 100,000 statements with 10 parameters each, and 1,000,000
// parameter look-ups over it through the hashed index.
#include <chrono>
#include <cstdio>
#include <random>
#include <string>

#include "engine/setup_data.h"

using Clock = std::chrono::steady_clock;

static double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

int main() {
  constexpr std::size_t kStatements = 100000;
  constexpr int kParams = 10;
  kem::SetupData d;
  char id[64];
  for (std::size_t i = 0; i < kStatements; ++i) {
    std::snprintf(id, sizeof(id), "{%08zX-944D-4F75-848E-CD6D0D8FA35E}", i);
    d.StatementNames.Add(i % 3 ? "Set Variable" : "If");
    d.StatementIds.Add(id);
    d.CommentFlags.Add("");
    d.StatementMedia.Add("");
    d.SourceMap.Add("C:\\temp\\Bench\\setup.kem*" + std::to_string(i));
    d.ParameterLines.Add(id);
    for (int p = 0; p < kParams; ++p) d.ParameterLines.Add("VALUE_" + std::to_string(p) + "_$VAR" + std::to_string(i % 97) + "$");
  }
  d.CodePage = 1252;
  const std::string text = kem::WriteSetupData(d);

  auto t0 = Clock::now();
  kem::SetupData read = kem::ReadSetupData(text);
  auto t1 = Clock::now();

  std::mt19937 rng(42);
  std::uniform_int_distribution<std::size_t> pick(0, kStatements - 1);
  std::uniform_int_distribution<int> param(1, kParams);
  constexpr std::size_t kLookUps = 1000000;
  std::size_t bytes = 0;
  auto t2 = Clock::now();
  for (std::size_t i = 0; i < kLookUps; ++i) {
    const std::string& sid = read.StatementIds[pick(rng)];
    bytes += kem::LookUpParameter(read.ParameterLines, sid, param(rng)).size();
  }
  auto t3 = Clock::now();

  std::printf("setup data: %zu statements, %zu lines, %.1f MB\n", read.StatementCount(), read.ParameterLines.Count(),
              text.size() / 1e6);
  std::printf("read:      %.3f s (%.0f statements/s, %.1f MB/s)\n", Seconds(t0, t1), kStatements / Seconds(t0, t1),
              text.size() / 1e6 / Seconds(t0, t1));
  std::printf("look-ups:  %zu in %.3f s (%.0f ns each; checksum %zu)\n", kLookUps, Seconds(t2, t3),
              Seconds(t2, t3) / kLookUps * 1e9, bytes);
  return 0;
}
