#include "engine/setup_data.h"

#include <charconv>

#include "common/text.h"

namespace kem {
namespace {

constexpr std::string_view kTerminator = "$";

class LineReader {
 public:
  explicit LineReader(std::string_view bytes) : bytes_(bytes) {}

  // Next line without its CR LF (a lone LF also ends a line). Raises at the end of data.
  std::string_view Next(const char* item) {
    if (pos_ >= bytes_.size())
      throw SetupDataError(std::string("setup data ends early, in item ") + item);
    std::size_t end = bytes_.find('\n', pos_);
    std::string_view line;
    if (end == std::string_view::npos) {
      line = bytes_.substr(pos_);
      pos_ = bytes_.size();
    } else {
      line = bytes_.substr(pos_, end - pos_);
      pos_ = end + 1;
    }
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
  }

 private:
  std::string_view bytes_;
  std::size_t pos_ = 0;
};

template <typename List>
void ReadList(LineReader& in, List& list, const char* item) {
  for (;;) {
    std::string_view line = in.Next(item);
    if (line == kTerminator) return;
    if constexpr (std::is_same_v<List, HashedStringList>)
      list.Add(std::string(line));
    else
      list.emplace_back(line);
  }
}

std::int64_t ParseDecimal(std::string_view line, const char* item) {
  std::string_view s = line;
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  bool neg = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    neg = s.front() == '-';
    s.remove_prefix(1);
  }
  std::uint64_t v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || ec != std::errc() || p != s.data() + s.size() ||
      v > (neg ? 0x8000000000000000ull : 0x7FFFFFFFFFFFFFFFull))
    throw SetupDataError(std::string("'") + std::string(line) + "' is not a valid integer value in item " + item);
  return neg ? static_cast<std::int64_t>(0 - v) : static_cast<std::int64_t>(v);
}

template <typename List>
void WriteList(std::string& out, const List& list, const char* item, bool escapeDollar = false) {
  for (const std::string& s : list) {
    if (s.find_first_of("\r\n") != std::string::npos)
      throw SetupDataError(std::string("an entry of item ") + item + " holds a line break");
    if (s == kTerminator) {
      if (!escapeDollar) throw SetupDataError(std::string("an entry of item ") + item + " is \"$\"");
      out += "$DOLLAR$";
    } else {
      out += s;
    }
    out += "\r\n";
  }
  out += "$\r\n";
}

void WriteSingle(std::string& out, std::string_view s, const char* item) {
  if (s.find_first_of("\r\n") != std::string::npos)
    throw SetupDataError(std::string("item ") + item + " holds a line break");
  out += s;
  out += "\r\n";
}

}  // namespace

SetupData ReadSetupData(std::string_view bytes) {
  SetupData d;
  LineReader in(bytes);
  ReadList(in, d.StatementNames, "StatementNames");
  ReadList(in, d.StatementIds, "StatementIds");
  {
    // The escape of a parameter that is exactly "$": whole entries only, any letter case,
    // "$WILD_DOLLAR$" first.
    StringList params;
    ReadList(in, params, "ParameterLines");
    for (auto& p : params)
      if (SameText(p, "$WILD_DOLLAR$")) p = "$";
    for (auto& p : params)
      if (SameText(p, "$DOLLAR$")) p = "$";
    d.ParameterLines = HashedStringList(std::move(params));
  }
  ReadList(in, d.CommentFlags, "CommentFlags");
  d.ProductCode = in.Next("ProductCode");
  d.ProductTitle = in.Next("ProductTitle");
  d.CompiledTitle = d.ProductTitle;
  ReadList(in, d.PluginStatements, "PluginStatements");
  d.CompanyName = in.Next("CompanyName");
  d.ContactName = in.Next("ContactName");
  d.HelpLinkUrl = in.Next("HelpLinkUrl");
  d.UpdateInfoUrl = in.Next("UpdateInfoUrl");
  d.ProductComments = in.Next("ProductComments");
  d.ProductVersion = in.Next("ProductVersion");
  ReadList(in, d.WebBlockSources, "WebBlockSources");
  ReadList(in, d.StatementMedia, "StatementMedia");
  d.MediaMode = ParseDecimal(in.Next("MediaMode"), "MediaMode");
  ReadList(in, d.ComponentSizes, "ComponentSizes");
  d.RevisionCode = in.Next("RevisionCode");
  ReadList(in, d.MediaFileMap, "MediaFileMap");
  d.SelectLanguageAtStart = in.Next("SelectLanguageAtStart") == "TRUE";
  d.DefaultLanguage = in.Next("DefaultLanguage");
  ReadList(in, d.CommandHeaders, "CommandHeaders");
  ReadList(in, d.CompilerVariables, "CompilerVariables");
  d.CodePage = static_cast<std::uint32_t>(ParseDecimal(in.Next("CodePage"), "CodePage"));
  ReadList(in, d.SourceMap, "SourceMap");
  // Every per-statement list has one entry per statement: a short one would hand a
  // statement another's ID, flag or source position, or none at all.
  const std::size_t n = d.StatementNames.Count();
  auto sameLength = [&](std::size_t count, const char* item) {
    if (count != n)
      throw SetupDataError(std::string("item ") + item + " has " + std::to_string(count) + " entries for " +
                           std::to_string(n) + " statements");
  };
  sameLength(d.StatementIds.Count(), "StatementIds");
  sameLength(d.CommentFlags.Count(), "CommentFlags");
  sameLength(d.StatementMedia.Count(), "StatementMedia");
  sameLength(d.SourceMap.Count(), "SourceMap");
  ResolveStatementKinds(d);
  return d;
}

void ResolveStatementKinds(SetupData& data) {
  data.Kinds.clear();
  data.Kinds.reserve(data.StatementNames.Count());
  for (const auto& name : data.StatementNames.Items()) data.Kinds.push_back(ResolveStatementKind(name));
}

std::string WriteSetupData(const SetupData& d) {
  const std::size_t n = d.StatementNames.Count();
  if (d.StatementIds.Count() != n || d.CommentFlags.Count() != n || d.StatementMedia.Count() != n ||
      d.SourceMap.Count() != n)
    throw SetupDataError("the per-statement lists differ in length");
  for (std::size_t i = 0; i < n; ++i) {
    if (d.StatementIds.IndexOf(d.StatementIds[i]) != static_cast<std::ptrdiff_t>(i))
      throw SetupDataError("statement ID " + d.StatementIds[i] + " occurs twice");
  }
  // A parameter look-up takes the first line equal to the ID: a statement ID may stand
  // only once in the parameter lines, as its own block's first line.
  std::vector<int> seen(n, 0);
  for (const std::string& line : d.ParameterLines.Items()) {
    auto id = d.StatementIds.IndexOf(line);
    if (id != HashedStringList::npos && ++seen[static_cast<std::size_t>(id)] > 1)
      throw SetupDataError("statement ID " + line + " occurs more than once in the parameter lines");
  }
  if (d.WebBlockSources.size() % 2 || d.ComponentSizes.size() % 2 || d.CommandHeaders.Count() % 2 ||
      d.CompilerVariables.Count() % 2)
    throw SetupDataError("a list of pairs has an odd number of entries");
  if (d.MediaFileMap.Count() % 3) throw SetupDataError("the media file map is not made of triples");

  std::string out;
  WriteList(out, d.StatementNames.Items(), "StatementNames");
  WriteList(out, d.StatementIds.Items(), "StatementIds");
  WriteList(out, d.ParameterLines.Items(), "ParameterLines", /*escapeDollar=*/true);
  WriteList(out, d.CommentFlags.Items(), "CommentFlags");
  WriteSingle(out, d.ProductCode, "ProductCode");
  WriteSingle(out, d.ProductTitle, "ProductTitle");
  WriteList(out, d.PluginStatements, "PluginStatements");
  WriteSingle(out, d.CompanyName, "CompanyName");
  WriteSingle(out, d.ContactName, "ContactName");
  WriteSingle(out, d.HelpLinkUrl, "HelpLinkUrl");
  WriteSingle(out, d.UpdateInfoUrl, "UpdateInfoUrl");
  WriteSingle(out, d.ProductComments, "ProductComments");
  WriteSingle(out, d.ProductVersion, "ProductVersion");
  WriteList(out, d.WebBlockSources, "WebBlockSources");
  WriteList(out, d.StatementMedia.Items(), "StatementMedia");
  WriteSingle(out, std::to_string(d.MediaMode), "MediaMode");
  WriteList(out, d.ComponentSizes, "ComponentSizes");
  WriteSingle(out, d.RevisionCode, "RevisionCode");
  WriteList(out, d.MediaFileMap.Items(), "MediaFileMap");
  WriteSingle(out, d.SelectLanguageAtStart ? "TRUE" : "FALSE", "SelectLanguageAtStart");
  WriteSingle(out, d.DefaultLanguage, "DefaultLanguage");
  WriteList(out, d.CommandHeaders.Items(), "CommandHeaders");
  WriteList(out, d.CompilerVariables.Items(), "CompilerVariables");
  WriteSingle(out, std::to_string(d.CodePage), "CodePage");
  WriteList(out, d.SourceMap.Items(), "SourceMap");
  return out;
}

std::string LookUpParameter(const HashedStringList& lines, std::string_view id, int n) {
  auto p = lines.IndexOf(id);
  if (p == HashedStringList::npos || n < 0) return {};
  std::size_t at = static_cast<std::size_t>(p) + static_cast<std::size_t>(n);
  return at < lines.Count() ? lines[at] : std::string();
}

std::string LookUpCommandHeader(const HashedStringList& headers, std::size_t statementIndex) {
  // Headers and indexes alternate; only odd positions hold indexes.
  std::string key = std::to_string(statementIndex);
  auto p = headers.IndexOf(key);
  if (p == HashedStringList::npos) return {};
  if (p % 2 == 1) return headers[static_cast<std::size_t>(p) - 1];
  // The decimal text also occurs as a header: fall back to scanning the index positions.
  for (std::size_t i = 1; i < headers.Count(); i += 2)
    if (headers[i] == key) return headers[i - 1];
  return {};
}

std::uint64_t LookUpComponentSize(const StringList& sizes, std::string_view name) {
  for (std::size_t i = 0; i + 1 < sizes.size(); i += 2) {
    if (SameText(sizes[i], name)) {
      std::uint64_t v = 0;
      const std::string& s = sizes[i + 1];
      auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
      return ec == std::errc() && p == s.data() + s.size() ? v : 0;
    }
  }
  return 0;
}

std::string LookUpWebBlockPassword(const StringList& sources, std::string_view block) {
  for (std::size_t i = 0; i + 1 < sources.size(); i += 2)
    if (SameText(sources[i], block)) return sources[i + 1];
  return {};
}

}  // namespace kem
