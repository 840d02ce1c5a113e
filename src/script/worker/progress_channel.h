// The progress channel: the reserved variables through which worker threads report what
// they do, and which the page on screen shows. Writes may come from any thread; each
// report is written as a whole under the store's lock.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kem {

class TVariableManager;

// A report's text that keeps the channel's current text.
inline constexpr std::string_view kKeepProgressText = "$IGNORE$";
// A report's text that keeps everything: a pure sign of life.
inline constexpr std::string_view kProgressAlive = "$VRAX$";

struct ProgressReport {
  std::string Text;
  std::int64_t Min = 0;
  std::int64_t Max = 100;
  std::int64_t Position = 0;
};

// Records the tick of the report (VRAX_LastDelegateTick); position -1 leaves range and
// position alone, kKeepProgressText the text, kProgressAlive both.
void WriteProgress(TVariableManager& vars, std::uint32_t tick, std::string_view text, std::int64_t min,
                   std::int64_t max, std::int64_t position);

// The channel as it stands (numbers that do not read as integers count as 0).
ProgressReport ReadProgress(const TVariableManager& vars);

// A position scaled to a control's range: a range of 0 (or an inverted one) shows full,
// never divides by zero; the result lies in 0..100.
int ProgressPercent(const ProgressReport& report);

}  // namespace kem
