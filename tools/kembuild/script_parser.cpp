#include "kembuild/script_parser.h"

#include <algorithm>

#include "kembuild/code_page.h"
#include "kembuild/guid.h"
#include "kembuild/quoted_text.h"

namespace kem::builder {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::size_t SkipBlanks(std::string_view s, std::size_t i) {
  while (i < s.size() && IsBlank(s[i])) ++i;
  return i;
}

}  // namespace

void ParseScript(std::string_view text, const std::string& file, std::vector<ScriptStatement>& out,
                 std::vector<Diagnostic>& diagnostics, const CodePage* codePage) {
  text = WithoutBom(text);
  std::size_t lineNo = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t eol = text.find('\n', start);
    std::string_view line = text.substr(start, eol == std::string_view::npos ? std::string_view::npos : eol - start);
    start = eol == std::string_view::npos ? text.size() : eol + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::size_t thisLine = lineNo++;
    auto fail = [&](std::string message) { diagnostics.push_back({file, thisLine + 1, std::move(message)}); };

    std::size_t i = SkipBlanks(line, 0);
    if (i == line.size() || line[i] == '#') continue;

    ScriptStatement s;
    s.file = file;
    s.line = thisLine;
    if (line.substr(i, 2) == "//") {
      s.commentedOut = true;
      i = SkipBlanks(line, i + 2);
    }
    if (i < line.size() && line[i] == '{') {
      std::size_t close = line.find('}', i);
      std::string_view idText = line.substr(i, close == std::string_view::npos ? std::string_view::npos : close - i + 1);
      auto id = CanonicalGuid(idText);
      if (!id) {
        fail("statement ID " + std::string(idText) +
             " is not a GUID in braces ({XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX})");
        continue;
      }
      s.id = *id;
      i = SkipBlanks(line, close + 1);
    }
    s.idColumn = i;
    std::size_t nameEnd = line.find_first_of("\"#", i);
    if (nameEnd == std::string_view::npos) nameEnd = line.size();
    std::string_view name = line.substr(i, nameEnd - i);
    while (!name.empty() && IsBlank(name.back())) name.remove_suffix(1);
    if (name.empty()) {
      fail("statement name missing");
      continue;
    }
    // A name holds no control characters and does not start with a byte-order mark: such a
    // name is never a statement's, and it would not read back the same once written again.
    if (name.substr(0, 3) == "\xEF\xBB\xBF" ||
        std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; })) {
      fail("statement name has control characters");
      continue;
    }
    if (codePage) {
      std::string error;
      auto converted = codePage->FromUtf8(name, error);
      if (!converted) {
        fail("statement name: " + error);
        continue;
      }
      s.name = std::move(*converted);
    } else {
      s.name = std::string(name);
    }

    bool ok = true;
    i = nameEnd;
    while (ok) {
      i = SkipBlanks(line, i);
      if (i >= line.size() || line[i] == '#') break;
      if (line[i] != '"') {
        fail("unexpected text after the parameters (column " + std::to_string(i + 1) +
             "): parameters are quoted texts");
        ok = false;
        break;
      }
      std::string error;
      std::size_t column = 0;
      auto q = ParseQuoted(line, i, error, column, codePage);
      if (!q) {
        fail(error + " (column " + std::to_string(column + 1) + ")");
        ok = false;
        break;
      }
      s.params.push_back(std::move(q->text));
      i = q->end;
      if (i < line.size() && !IsBlank(line[i]) && line[i] != '#') {
        fail("parameters must be separated by blanks (column " + std::to_string(i + 1) + ")");
        ok = false;
      }
    }
    if (ok) out.push_back(std::move(s));
  }
}

std::string FormatStatement(const ScriptStatement& s) {
  std::string out;
  if (s.commentedOut) out += "// ";
  if (!s.id.empty()) out += s.id + " ";
  out += s.name;
  for (const auto& p : s.params) out += " " + Quote(p);
  return out;
}

}  // namespace kem::builder
