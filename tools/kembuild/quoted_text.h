// Quoted texts of the project files: a double quote, the text with backslash escapes, a
// closing double quote. Every byte sequence has a quoted form, so a parameter is written
// exactly as the author means it (empty, "$", blanks at either end, quotes, line breaks).
//
//   \\  backslash        \"  double quote      \n  line feed       \r  carriage return
//   \t  tab              \xHH  the byte with hexadecimal code HH
//
// Any other byte stands for itself, except a raw carriage return or line feed, which a
// quoted text cannot hold (a text ends on its own line). A backslash before any other
// character is an error: a backslash of a path is written \\ ("C:\\Program Files").
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kem::builder {

class CodePage;

struct QuotedParse {
  std::string text;      // the unescaped text
  std::size_t end = 0;   // offset just past the closing quote
};

// Parses the quoted text that starts at line[pos] (which must be a double quote). On a
// syntax error returns nullopt and sets error to a message (with the offending column in
// errorColumn, 0-based). With a code page, the literal text is UTF-8 and is converted to
// it (a character the code page cannot hold is an error); escapes give their bytes as they are.
std::optional<QuotedParse> ParseQuoted(std::string_view line, std::size_t pos, std::string& error,
                                       std::size_t& errorColumn, const CodePage* codePage = nullptr);

// The quoted form of a text: printable ASCII as it is, the escapes above for backslash,
// quote, CR, LF and tab, \xHH for every other byte (so that code-page bytes survive a
// project file, which is UTF-8).
std::string Quote(std::string_view text);

// A setup data line cannot hold a line break: multi-line texts travel with the marker
// "$NEWLINE$" in place of each break (CR LF, a lone CR or a lone LF), which the engine's
// NEWLINE variable turns back into a line break.
std::string JoinLines(std::string_view text);

}  // namespace kem::builder
