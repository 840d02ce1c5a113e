// Arbitrary bytes as an instance data file. A text the damage check passes is read in
// every mode and must write back to itself (the pairs and single lines exactly, lists
// as read); an update of any text either fails or keeps the old file's part before the
// pairs. Nothing may crash, whatever the damage check says.
#include <cstdint>
#include <string>
#include <string_view>

#include "components/instance_data.h"
#include "engine/engine_context.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const bool sound = !kem::InstanceDataDamage(text);
  for (auto mode : {kem::ComponentListsRead::Normal, kem::ComponentListsRead::DropSizes,
                    kem::ComponentListsRead::Merge}) {
    kem::EngineContext ctx;
    auto saved = kem::ReadInstanceData(ctx, text, mode);
    if (sound && !saved) __builtin_trap();  // a sound file always reads
    if (sound && mode == kem::ComponentListsRead::Normal) {
      const std::string again = kem::WriteInstanceData(ctx, *saved);
      kem::EngineContext second;
      auto savedAgain = kem::ReadInstanceData(second, again, mode);
      if (!savedAgain || *savedAgain != *saved || kem::WriteInstanceData(second, *savedAgain) != again)
        __builtin_trap();
    }
    if (auto updated = kem::UpdateInstanceData(ctx, text)) {
      if (updated->size() < 12) __builtin_trap();  // at least the two engine pairs
    }
  }
  return 0;
}
