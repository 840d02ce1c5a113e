// The engine's archive operations over kem.lib. Portable: the Windows side (dates, disk
// space) comes through the ArchiveHost it is given.
#include "media/archive_operations.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>


namespace kem {

namespace {

// The password of the current call (one call at a time).
std::mutex g_passwordLock;
std::string g_password;
bool g_passwordHeld = false;
// The default overwrite answer of the extraction running on this thread: kem.lib calls
// the overwrite callback on the thread that called it, so two extractions on two threads
// keep their own answers.
thread_local int32_t t_overwriteAnswer = 1;

void LoadPassword(const std::string& password) {
  std::lock_guard<std::mutex> lock(g_passwordLock);
  g_password = password;
  g_passwordHeld = !password.empty();
}

int32_t KEM_ARCHIVE_CALL DefaultPasswordCallback(char* buffer) {
  std::lock_guard<std::mutex> lock(g_passwordLock);
  if (!g_passwordHeld || !buffer) return 0;
  size_t n = std::min<size_t>(g_password.size(), kArchivePasswordBufferSize - 1);
  std::memcpy(buffer, g_password.data(), n);
  buffer[n] = '\0';
  g_password.assign(g_password.size(), '\0');
  g_password.clear();
  g_passwordHeld = false;
  return 1;
}

int32_t KEM_ARCHIVE_CALL DefaultProgressCallback(const char*, uint32_t, uint32_t, uint32_t, uint32_t) { return 1; }

int32_t KEM_ARCHIVE_CALL DefaultEntryProgressCallback(uint32_t, uint32_t) { return 1; }

int32_t KEM_ARCHIVE_CALL DefaultOverwriteCallback(const char*, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,
                                           uint32_t, uint32_t, uint32_t) {
  return t_overwriteAnswer;
}

// The selection handed to the library: pointers into the caller's names, which stay alive
// for the call (the library only reads them).
struct Selection {
  explicit Selection(const std::vector<std::string>& names) {
    pointers.reserve(names.size());
    for (const std::string& name : names) pointers.push_back(const_cast<char*>(name.c_str()));
    files = TSZW_TARGETFILES{pointers.data(), static_cast<int32_t>(pointers.size())};
  }
  std::vector<char*> pointers;
  TSZW_TARGETFILES files{};
};

// Owns a listing handle of the library.
struct ListingHandle {
  explicit ListingHandle(intptr_t h) : handle(h) {}
  ~ListingHandle() {
    if (handle) CloseListArchive(handle);
  }
  ListingHandle(const ListingHandle&) = delete;
  ListingHandle& operator=(const ListingHandle&) = delete;
  intptr_t handle;
};

// The bytes the listed sizes take on disk, each file rounded up to whole clusters.
uint64_t SpaceNeeded(const std::vector<std::string>& sizes, uint64_t clusterBytes) {
  uint64_t cluster = std::max<uint64_t>(clusterBytes, 1);
  uint64_t need = 0;
  for (const std::string& text : sizes) {
    uint64_t size = std::strtoull(text.c_str(), nullptr, 10);
    uint64_t rounded = size / cluster * cluster + (size % cluster ? cluster : 0);
    need = rounded < size || need + rounded < need ? UINT64_MAX : need + rounded;
  }
  return need;
}

// Extracts the named entries, or every entry without names (no list is passed then).
bool RunExtraction(const std::string& archivePath, const std::string& password, const std::string& destinationFolder,
                   const ArchiveExtractCallbacks& callbacks, const std::vector<std::string>* entryNames,
                   bool overwrite, bool arrangement, std::string& errorText) {
  std::unique_ptr<Selection> selection;
  if (entryNames) selection = std::make_unique<Selection>(*entryNames);
  ArchiveExtractCallbacks c = callbacks;
  if (!c.password) {
    LoadPassword(password);
    c.password = DefaultPasswordCallback;
  }
  if (!c.progress) c.progress = DefaultProgressCallback;
  if (!c.entryProgress) c.entryProgress = DefaultEntryProgressCallback;
  if (!c.overwrite) {
    t_overwriteAnswer = overwrite ? 4 : 1;
    c.overwrite = DefaultOverwriteCallback;
  }
  int32_t ok = ExtractArchive(archivePath.c_str(), 1, destinationFolder.c_str(), selection ? &selection->files : nullptr,
                              arrangement ? 0 : 1, password.c_str(), c.password, c.progress, c.entryProgress,
                              c.overwrite);
  if (ok == 0) errorText = "#" + std::to_string(GetLastArchiveError(0));
  return ok != 0;
}

}  // namespace

std::string ArchiveListErrorText(int32_t code) {
  switch (code) {
    case archive_codes::kNotFound: return kArchiveNotFoundText;
    case archive_codes::kBadSelection: return kArchiveIllegalPathText;
    case archive_codes::kUnsupported: return kArchiveCannotOpenText;
    default: return kArchiveGeneralFailureText;
  }
}

bool ListArchive(ArchiveHost& host, const std::string& archivePath, const std::string& password,
                 ArchivePasswordCallback passwordCallback, const ArchiveListReceivers& receivers,
                 std::string& errorText) {
  try {
    errorText.clear();
    for (auto* r : {receivers.names, receivers.sizes, receivers.packedSizes, receivers.dates, receivers.attributes})
      if (r) r->clear();
    if (!passwordCallback) {
      // Loaded with this call's password, so that nothing from an earlier call is handed out.
      LoadPassword(password);
      passwordCallback = DefaultPasswordCallback;
    }
    ArchiveListEntry* entries = nullptr;
    int32_t count = 0;
    ListingHandle listing(
        OpenListArchive(archivePath.c_str(), 0, passwordCallback, 0, 0, 0, password.c_str(), &entries, &count));
    if (listing.handle == 0) {
      errorText = ArchiveListErrorText(GetLastArchiveError(0));
      return false;
    }
    for (int32_t i = 0; i < count; ++i) {
      const ArchiveListEntry& e = entries[i];
      if (receivers.names) receivers.names->push_back(e.name ? e.name : "");
      if (receivers.sizes) receivers.sizes->push_back(std::to_string(e.size));
      if (receivers.packedSizes) receivers.packedSizes->push_back(std::to_string(e.packedSize));
      if (receivers.dates) receivers.dates->push_back(host.DateText(e.modificationTime));
      if (receivers.attributes) receivers.attributes->push_back(std::to_string(e.attributes));
    }
    return true;
  } catch (const std::exception& e) {
    errorText = e.what();
    return false;
  }
}

bool ExtractFromArchive(ArchiveHost& host, const std::string& archivePath, const std::string& password,
                        const std::string& destinationFolder, const ArchiveExtractCallbacks& callbacks,
                        const std::vector<std::string>* entryNames, bool overwrite, bool arrangement,
                        std::string& errorText) {
  try {
    errorText.clear();
    if (!entryNames) {
      // Listed first for the listing's error texts; the extraction then takes every entry.
      std::vector<std::string> listed;
      ArchiveListReceivers receivers;
      receivers.names = &listed;
      if (!ListArchive(host, archivePath, password, nullptr, receivers, errorText)) return false;
    }
    return RunExtraction(archivePath, password, destinationFolder, callbacks, entryNames, overwrite, arrangement,
                         errorText);
  } catch (const std::exception& e) {
    errorText = e.what();
    return false;
  }
}

bool ExtractSupportArchive(ArchiveHost& host, const std::string& archivePath, const std::string& destinationFolder,
                           std::string& errorText) {
  try {
    errorText.clear();
    std::vector<std::string> names, sizes;
    ArchiveListReceivers receivers;
    receivers.names = &names;
    receivers.sizes = &sizes;
    if (!ListArchive(host, archivePath, "", nullptr, receivers, errorText)) return false;
    // The listed sizes are what will be written: refuse before writing when they do not fit.
    if (std::optional<ArchiveHost::DiskSpace> space = host.FreeSpace(destinationFolder)) {
      if (SpaceNeeded(sizes, space->clusterBytes) > space->freeBytes) {
        errorText = "#" + std::to_string(archive_codes::kWriteError);
        return false;
      }
    }
    return RunExtraction(archivePath, "", destinationFolder, ArchiveExtractCallbacks{}, nullptr, true, true, errorText);
  } catch (const std::exception& e) {
    errorText = e.what();
    return false;
  }
}

}  // namespace kem
