#include "script/worker/progress_channel.h"

#include <charconv>

#include "script/store/variable_manager.h"

namespace kem {
namespace {

std::int64_t NumberOf(const std::string& text) {
  std::int64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() ? value : 0;
}

}  // namespace

void WriteProgress(TVariableManager& vars, std::uint32_t tick, std::string_view text, std::int64_t min,
                   std::int64_t max, std::int64_t position) {
  TVariableManager::ReadLock lock(vars);
  vars.Set("VRAX_LastDelegateTick", std::to_string(tick));
  if (text == kProgressAlive) return;
  if (position != -1) {
    vars.Set("VRAX_thMax", std::to_string(max));
    vars.Set("VRAX_thMin", std::to_string(min));
    vars.Set("VRAX_thProgress", std::to_string(position));
  }
  if (text != kKeepProgressText) vars.Set("VRAX_thProgressText", text);
}

ProgressReport ReadProgress(const TVariableManager& vars) {
  TVariableManager::ReadLock lock(vars);
  ProgressReport r;
  r.Text = vars.Get("VRAX_thProgressText");
  r.Min = NumberOf(vars.Get("VRAX_thMin"));
  r.Max = NumberOf(vars.Get("VRAX_thMax"));
  r.Position = NumberOf(vars.Get("VRAX_thProgress"));
  return r;
}

int ProgressPercent(const ProgressReport& report) {
  if (report.Max <= report.Min) return 100;
  // Wide enough for any 64-bit range: the difference may not fit in 64 bits signed.
  const long double span = static_cast<long double>(report.Max) - static_cast<long double>(report.Min);
  const long double done = static_cast<long double>(report.Position) - static_cast<long double>(report.Min);
  const long double percent = done * 100.0L / span;
  if (percent <= 0) return 0;
  if (percent >= 100) return 100;
  return static_cast<int>(percent);
}

}  // namespace kem
