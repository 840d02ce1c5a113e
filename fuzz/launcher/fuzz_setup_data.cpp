// Arbitrary bytes as setup data and as an executable image: the reader either returns
// lists that write back to text it reads again identically, or raises SetupDataError.
#include <cstdint>
#include <span>
#include <string_view>

#include "engine/setup_data.h"
#include "engine/stub_size.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    kem::SetupData d = kem::ReadSetupData(text);
    try {
      std::string again = kem::WriteSetupData(d);
      kem::SetupData e = kem::ReadSetupData(again);
      if (e.StatementNames.Items() != d.StatementNames.Items() || e.ParameterLines.Items() != d.ParameterLines.Items() ||
          e.SourceMap.Items() != d.SourceMap.Items() || e.CodePage != d.CodePage)
        __builtin_trap();
    } catch (const kem::SetupDataError&) {
      // Data that breaks the writer's invariants (odd pairs, unequal lists) is refused.
    }
  } catch (const kem::SetupDataError&) {
  }
  try {
    (void)kem::StubSizeOfFile(std::span<const std::uint8_t>(data, size));
  } catch (const kem::SetupDataError&) {
  }
  return 0;
}
