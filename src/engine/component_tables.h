// The component tables: the user-selectable parts of the product, as the script defines
// them and the user chooses among them. Plain data owned by the engine state; the rules
// over it (derived tests, definition, sizes) live in components/.
#pragma once

#include <cstdint>

#include "common/string_list.h"

namespace kem {

struct ComponentTables {
  // Component names in definition order; the index of a name is the component's identity.
  StringList Names;
  // Parallel to Names: "TRUE" (selected) or "FALSE".
  StringList States;
  // Parallel to Names, padded with empty entries as needed.
  StringList Descriptions;
  // Pairs: name, size in bytes (decimal).
  StringList Sizes;
  StringList Deleted;
  StringList Hidden;
  // Names the user may not change.
  StringList Fixed;
  // Bytes already installed (maintenance runs): the selected, not deleted sizes of the
  // instance data.
  std::int64_t InstalledSize = 0;
};

}  // namespace kem
