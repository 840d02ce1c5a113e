#include "kemlib/library.h"

#include <atomic>
#include <new>
#include <optional>
#include <vector>

namespace kem::kemlib {

namespace {

using namespace kem::sevenzip;
namespace codes = kem::archive_codes;

constexpr uint32_t kDirectoryAttribute = 0x10;

std::atomic<int32_t> g_lastError{0};

int32_t CodeOf(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::kNotFound: return codes::kNotFound;
    case ErrorKind::kSelection: return codes::kBadSelection;
    case ErrorKind::kUnsupported: return codes::kUnsupported;
    case ErrorKind::kUnsafeName: return codes::kUnsafeName;
    case ErrorKind::kDataError: return codes::kDataError;
    case ErrorKind::kCancelled: return codes::kCancelled;
    case ErrorKind::kWriteError: return codes::kWriteError;
    case ErrorKind::kLimit: return codes::kLimit;
    case ErrorKind::kReadError: return codes::kReadError;
  }
  return codes::kInternal;
}

// The password: the given text, else the callback, asked at most once per call.
PasswordProvider MakePasswordProvider(const char* password, ArchivePasswordCallback callback) {
  std::string given = password ? password : "";
  return [given, callback]() -> std::optional<std::string> {
    if (!given.empty()) return given;
    if (!callback) return std::nullopt;
    std::vector<char> buffer(kArchivePasswordBufferSize, '\0');
    if (callback(buffer.data()) == 0) return std::nullopt;
    buffer.back() = '\0';
    return std::string(buffer.data());
  };
}

ReaderOptions AnsiOptions(LibraryHost& host) {
  ReaderOptions options;
  options.nameConverter = [&host](std::u16string_view text) { return host.ToAnsi(text); };
  options.passwordConverter = [&host](std::string_view text) { return host.FromAnsi(text); };
  // A 32-bit process: keep decoder allocations well inside the address space.
  options.maxDictionarySize = 1024ull << 20;
  return options;
}

struct BadArgument {};

template <typename F>
int32_t Guarded(F&& body, int32_t failure) {
  try {
    return body();
  } catch (const ArchiveError& e) {
    g_lastError = CodeOf(e.kind());
  } catch (const BadArgument&) {
    g_lastError = codes::kBadArgument;
  } catch (const std::bad_alloc&) {
    g_lastError = codes::kLimit;
  } catch (...) {
    g_lastError = codes::kInternal;
  }
  return failure;
}

struct ListHandle {
  std::unique_ptr<Archive> archive;
  std::vector<ArchiveListEntry> entries;
};

}  // namespace

int32_t Extract(LibraryHost& host, const char* archivePath, const char* destinationFolder,
                const TSZW_TARGETFILES* selection, int32_t withoutFolders, const char* password,
                ArchivePasswordCallback passwordCallback, ArchiveProgressCallback progress,
                ArchiveEntryProgressCallback entryProgress, ArchiveOverwriteCallback overwrite) {
  return Guarded(
      [&]() -> int32_t {
        if (!archivePath || !*archivePath) throw ArchiveError(ErrorKind::kNotFound, "No archive");
        if (!destinationFolder || (selection && selection->count > 0 && !selection->names) ||
            (selection && selection->count < 0))
          throw BadArgument{};
        ExtractRequest request;
        if (selection) {
          request.selection.emplace();
          request.selection->reserve(static_cast<size_t>(selection->count));
          for (int32_t i = 0; i < selection->count; ++i) {
            if (!selection->names[i]) throw BadArgument{};
            request.selection->push_back(selection->names[i]);
          }
        }
        Archive archive(host.OpenArchive(host.FromAnsi(archivePath)), MakePasswordProvider(password, passwordCallback),
                        AnsiOptions(host));
        request.destination = host.FromAnsi(destinationFolder);
        request.withoutFolders = withoutFolders != 0;
        request.toCallerText = [&host](std::u16string_view text) { return host.ToAnsi(text); };
        request.fromCallerText = [&host](std::string_view text) { return host.FromAnsi(text); };
        if (progress)
          request.progress = [progress](const std::string& name, uint64_t done, uint64_t total) {
            return progress(name.c_str(), static_cast<uint32_t>(done), static_cast<uint32_t>(done >> 32),
                            static_cast<uint32_t>(total), static_cast<uint32_t>(total >> 32)) != 0;
          };
        if (entryProgress)
          request.entryProgress = [entryProgress](uint32_t done, uint32_t total) { return entryProgress(done, total) != 0; };
        if (overwrite) {
          const std::vector<Entry>* entries = &archive.Entries();
          request.overwrite = [overwrite, entries](const std::string& path, const Entry& e,
                                                   const OutputFolder::Existing& existing) {
            uint32_t index = static_cast<uint32_t>(&e - entries->data());
            int32_t answer = overwrite(path.c_str(), static_cast<uint32_t>(existing.size),
                                       static_cast<uint32_t>(existing.size >> 32),
                                       static_cast<uint32_t>(existing.modificationTime),
                                       static_cast<uint32_t>(existing.modificationTime >> 32),
                                       static_cast<uint32_t>(e.size), static_cast<uint32_t>(e.size >> 32),
                                       static_cast<uint32_t>(e.modificationTime),
                                       static_cast<uint32_t>(e.modificationTime >> 32), index);
            if (answer < 0 || answer > 4) return OverwriteAnswer::kCancel;
            return static_cast<OverwriteAnswer>(answer);
          };
        }
        std::unique_ptr<OutputFolder> folder = host.Destination();
        ExtractToFolder(archive, *folder, request);
        return 1;
      },
      0);
}

intptr_t OpenList(LibraryHost& host, const char* archivePath, ArchivePasswordCallback passwordCallback,
                  const char* password, ArchiveListEntry** entries, int32_t* count) {
  intptr_t result = 0;
  Guarded(
      [&]() -> int32_t {
        if (entries) *entries = nullptr;
        if (count) *count = 0;
        if (!archivePath || !*archivePath) throw ArchiveError(ErrorKind::kNotFound, "No archive");
        if (!entries || !count) throw BadArgument{};
        auto list = std::make_unique<ListHandle>();
        list->archive = std::make_unique<Archive>(host.OpenArchive(host.FromAnsi(archivePath)),
                                                  MakePasswordProvider(password, passwordCallback), AnsiOptions(host));
        const std::vector<Entry>& all = list->archive->Entries();
        list->entries.reserve(all.size());
        for (size_t i = 0; i < all.size(); ++i) {
          const Entry& e = all[i];
          if (e.isAnti) continue;
          ArchiveListEntry item{};
          item.name = e.name.c_str();
          item.index = static_cast<uint32_t>(i);
          item.size = e.size;
          item.packedSize = e.packedSize;
          item.crc = e.crc;
          item.flags = (e.isDirectory ? 1u : 0u) | (e.hasCrc ? 2u : 0u) | (e.encrypted ? 4u : 0u);
          item.modificationTime = e.modificationTime;
          item.attributes = e.hasAttributes ? e.attributes : (e.isDirectory ? kDirectoryAttribute : 0);
          list->entries.push_back(item);
        }
        *entries = list->entries.data();
        *count = static_cast<int32_t>(list->entries.size());
        result = reinterpret_cast<intptr_t>(list.release());
        return 1;
      },
      0);
  return result;
}

void CloseList(intptr_t handle) { delete reinterpret_cast<ListHandle*>(handle); }

int32_t LastError() { return g_lastError; }

}  // namespace kem::kemlib
