#include "kembuild/quoted_text.h"

#include "common/text.h"
#include "kembuild/code_page.h"

namespace kem::builder {

std::optional<QuotedParse> ParseQuoted(std::string_view line, std::size_t pos, std::string& error,
                                       std::size_t& errorColumn, const CodePage* codePage) {
  QuotedParse r;
  std::size_t i = pos + 1;
  // Literal text is converted to the code page a run at a time; escapes give bytes as they are.
  std::size_t runStart = i;
  auto flush = [&](std::size_t runEnd) {
    if (runEnd > runStart) {
      std::string_view run = line.substr(runStart, runEnd - runStart);
      if (!codePage) {
        r.text += run;
      } else {
        auto converted = codePage->FromUtf8(run, error);
        if (!converted) {
          errorColumn = runStart;
          return false;
        }
        r.text += *converted;
      }
    }
    return true;
  };
  for (;;) {
    if (i >= line.size()) {
      error = "unterminated quoted text";
      errorColumn = pos;
      return std::nullopt;
    }
    char c = line[i];
    if (c == '"') {
      if (!flush(i)) return std::nullopt;
      r.end = i + 1;
      return r;
    }
    if (c == '\r' || c == '\n') {
      error = "a quoted text cannot run past the end of its line (write \\n for a line break)";
      errorColumn = i;
      return std::nullopt;
    }
    if (c != '\\') {
      ++i;
      continue;
    }
    if (!flush(i)) return std::nullopt;
    if (i + 1 >= line.size()) {
      error = "unterminated quoted text";
      errorColumn = pos;
      return std::nullopt;
    }
    char e = line[i + 1];
    switch (e) {
      case '\\': r.text += '\\'; i += 2; break;
      case '"': r.text += '"'; i += 2; break;
      case 'n': r.text += '\n'; i += 2; break;
      case 'r': r.text += '\r'; i += 2; break;
      case 't': r.text += '\t'; i += 2; break;
      case 'x': {
        int hi = i + 2 < line.size() ? HexDigitValue(line[i + 2]) : -1;
        int lo = i + 3 < line.size() ? HexDigitValue(line[i + 3]) : -1;
        if (hi < 0 || lo < 0) {
          error = "\\x must be followed by two hexadecimal digits";
          errorColumn = i;
          return std::nullopt;
        }
        r.text += static_cast<char>(hi * 16 + lo);
        i += 4;
        break;
      }
      default:
        error = std::string("unknown escape \\") + e + ": write \\\\ for a backslash (\"C:\\\\Program Files\")";
        errorColumn = i;
        return std::nullopt;
    }
    runStart = i;
  }
}

std::string Quote(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out = "\"";
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (u < 0x20 || u >= 0x7F) {
          out += "\\x";
          out += kHex[u >> 4];
          out += kHex[u & 15];
        } else {
          out += c;
        }
    }
  }
  out += '"';
  return out;
}

std::string JoinLines(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += "$NEWLINE$";
    } else if (c == '\n') {
      out += "$NEWLINE$";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace kem::builder
