// Builds setup data for tests: statements with their parameters, and the product tables.
#pragma once

#include <string>
#include <vector>

#include "engine/setup_data.h"

namespace kem::test {

class ScriptBuilder {
 public:
  ScriptBuilder();

  // Appends a statement and returns its index. IDs are "{00000000-0000-0000-0000-" + the
  // statement number in 12 hexadecimal digits + "}".
  std::size_t Add(const std::string& name, const std::vector<std::string>& params = {}, bool commentedOut = false);
  // The ID given to statement i.
  static std::string IdOf(std::size_t index);

  SetupData& Data() { return data_; }
  // The setup data as the engine reads it.
  SetupData Build() const;
  std::string Text() const { return WriteSetupData(data_); }

 private:
  SetupData data_;
};

}  // namespace kem::test
