// Web builds (media-mode = 2): which media folder each file-carrying statement draws from,
// the block passwords as the setup data stores them, and the block archives.
//
// A "Web Media Block" statement names the block that the file-carrying statements after it
// (in script order) draw from; before the first one, and after one with an empty name,
// statements draw from the offline data shipped in data\OFFLINE\ beside the setup. Each
// block's files travel in BLOCK.7zip: a 7z archive whose data and headers are encrypted
// with the block's password, holding the files below a top folder named after the block.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kembuild/project.h"

namespace kem::builder {

// The media folder of the data shipped beside a web build's setup.
inline constexpr const char* kOfflineMedia = "OFFLINE";
// The file name extension of a block archive.
inline constexpr const char* kBlockArchiveExtension = ".7zip";

// The stored form of a block password (code page bytes): each byte written as two
// hexadecimal digits, low digit first, and every character then XORed with its position
// (modulo 256). A digit whose XORed form would be a line break, which a setup data line
// cannot hold, is written in lower case instead. Some passwords still cannot be stored that
// way (a decimal digit that lands on a line break): nullopt then, with *badCharacter set to
// the 0-based index of the password character to change.
std::optional<std::string> ScrambleBlockPassword(std::string_view password, std::size_t* badCharacter = nullptr);

struct WebPlan {
  // Per statement: the media folder its files come from (a block name as the first
  // "Web Media Block" naming it spells it, or kOfflineMedia), empty for statements that
  // carry no files.
  std::vector<std::string> media;
  // The blocks that "Web Media Block" statements name, in order of first appearance.
  std::vector<std::string> blocks;
  // WebBlockSources: block name, stored password, ... in manifest order.
  std::vector<std::string> sources;
};

// Plans a web build: checks the "Web Media Block" statements against [web-blocks] and
// assigns the media folders. Errors and warnings carry file and line. carriesFiles says
// which statements carry files (one flag per statement).
WebPlan PlanWebBuild(const Project& project, const std::vector<bool>& carriesFiles, std::vector<Diagnostic>& errors,
                     std::vector<Diagnostic>& warnings);

// The password of a block as [web-blocks] gives it (its own entry, else the one named
// "offline"); empty when there is none.
std::string BlockPasswordOf(const Project& project, std::string_view block);

// One file of a block archive.
struct BlockArchiveFile {
  std::filesystem::path source;  // read from here while packing
  std::string name;              // path in the archive, UTF-8, "/" separated
};

// Writes a block archive: the files LZMA2-compressed in one stream, data and headers
// AES-256 encrypted with password (UTF-16, as the setup hands it to the archive library).
// The same files and password always give the same bytes: the initialisation vectors are
// derived from the password and the contents. workDir holds a temporary file (removed).
// Raises std::runtime_error.
void WriteBlockArchive(const std::vector<BlockArchiveFile>& files, const std::u16string& password,
                       const std::filesystem::path& archivePath, const std::filesystem::path& workDir);

// UTF-8 to UTF-16 (the manifest's texts are UTF-8).
std::u16string Utf8ToUtf16(std::string_view utf8);

}  // namespace kem::builder
