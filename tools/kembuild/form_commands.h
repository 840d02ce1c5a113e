// The builder's form commands:
//   kembuild form-compile TEXT_FORM BINARY_FORM   text form to binary form file
//   kembuild form-text BINARY_FORM                binary form file as text on standard output
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kem {

// args: the words after the command name. Return the exit status (0 success, 1 failure,
// 2 wrong usage); messages go to standard error.
int RunFormCompile(const std::vector<std::string>& args);
int RunFormText(const std::vector<std::string>& args);

// Compiles a text form into the bytes of a binary form file (with its resource header).
// Throws std::runtime_error "file:line: message" on errors.
std::string CompileTextForm(std::string_view text, const std::string& fileNameForMessages);

}  // namespace kem
