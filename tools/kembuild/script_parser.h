// The script as text: one statement per line.
//
//   [//] [{ID}] Statement Name ["param 1" "param 2" ...] [# remark]
//
// A line that is empty or starts with "#" is a remark and no statement. "//" in front
// comments the statement out (it stays in the script, the engine skips it). The name runs
// to the first double quote or "#"; blanks around it are dropped. Parameters are quoted
// texts (see quoted_text.h) separated by blanks.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "kembuild/project.h"

namespace kem::builder {

class CodePage;

// Parses a script file's text (a leading byte-order mark is skipped); appends its statements
// to out and its problems to diagnostics. file is the project-relative path used in both.
// With a code page the text is UTF-8, and names and parameters are converted to the code
// page; without one the bytes are taken as they are.
void ParseScript(std::string_view text, const std::string& file, std::vector<ScriptStatement>& out,
                 std::vector<Diagnostic>& diagnostics, const CodePage* codePage = nullptr);

// The source form of one statement (without the line end): the inverse of ParseScript
// for one line.
std::string FormatStatement(const ScriptStatement& s);

}  // namespace kem::builder
