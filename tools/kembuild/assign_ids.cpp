#include <fstream>
#include <map>
#include <stdexcept>

#include "kembuild/build_setup.h"

namespace fs = std::filesystem;

namespace kem::builder {

std::size_t AssignStatementIds(const fs::path& projectDir) {
  Project project = LoadProject(projectDir);
  const std::vector<std::string> ids = ResolveStatementIds(project);

  // file -> (0-based line -> (column, ID))
  std::map<std::string, std::map<std::size_t, std::pair<std::size_t, std::string>>> edits;
  for (std::size_t i = 0; i < project.statements.size(); ++i) {
    const auto& s = project.statements[i];
    if (s.id.empty()) edits[s.file][s.line] = {s.idColumn, ids[i]};
  }
  std::size_t written = 0;
  for (const auto& [file, lines] : edits) {
    const std::string text = ReadProjectFile(projectDir, file);
    std::string out;
    out.reserve(text.size() + lines.size() * 39);
    std::size_t lineNo = 0, start = 0;
    while (start < text.size()) {
      std::size_t eol = text.find('\n', start);
      std::size_t end = eol == std::string::npos ? text.size() : eol + 1;
      std::string line = text.substr(start, end - start);
      if (auto it = lines.find(lineNo); it != lines.end()) {
        line.insert(it->second.first, it->second.second + " ");
        ++written;
      }
      out += line;
      start = end;
      ++lineNo;
    }
    const fs::path target = projectDir / file;
    const fs::path temp = target.string() + ".kembuild-tmp";
    {
      std::ofstream f(temp, std::ios::binary | std::ios::trunc);
      f.write(out.data(), static_cast<std::streamsize>(out.size()));
      f.close();
      if (!f) throw std::runtime_error("cannot write " + temp.string());
    }
    fs::rename(temp, target);
  }
  return written;
}

}  // namespace kem::builder
