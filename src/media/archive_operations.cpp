// The engine's archive operations over kem.lib.
#include "media/archive_operations.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>

namespace kem {

namespace {

// The password and the overwrite answer of the current call (one call at a time).
std::mutex g_passwordLock;
std::string g_password;
bool g_passwordHeld = false;
int32_t g_overwriteAnswer = 1;

void LoadPassword(const std::string& password) {
  std::lock_guard<std::mutex> lock(g_passwordLock);
  g_password = password;
  g_passwordHeld = !password.empty();
}

int32_t __stdcall DefaultPasswordCallback(char* buffer) {
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

int32_t __stdcall DefaultProgressCallback(const char*, uint32_t, uint32_t, uint32_t, uint32_t) { return 1; }

int32_t __stdcall DefaultEntryProgressCallback(uint32_t, uint32_t) { return 1; }

int32_t __stdcall DefaultOverwriteCallback(const char*, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,
                                           uint32_t, uint32_t, uint32_t) {
  return g_overwriteAnswer;
}

std::string DateText(uint64_t fileTime) {
  FILETIME utc{static_cast<DWORD>(fileTime), static_cast<DWORD>(fileTime >> 32)};
  FILETIME local;
  WORD date = 0, time = 0;
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToDosDateTime(&local, &date, &time)) return {};
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", 1980u + (date >> 9), (date >> 5) & 15u,
                date & 31u, time >> 11, (time >> 5) & 63u, (time & 31u) * 2);
  return text;
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

bool ListArchive(const std::string& archivePath, const std::string& password,
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
    intptr_t handle = OpenListArchive(archivePath.c_str(), 0, passwordCallback, 0, 0, 0, password.c_str(), &entries, &count);
    if (handle == 0) {
      errorText = ArchiveListErrorText(GetLastArchiveError(0));
      return false;
    }
    for (int32_t i = 0; i < count; ++i) {
      const ArchiveListEntry& e = entries[i];
      if (receivers.names) receivers.names->push_back(e.name ? e.name : "");
      if (receivers.sizes) receivers.sizes->push_back(std::to_string(e.size));
      if (receivers.packedSizes) receivers.packedSizes->push_back(std::to_string(e.packedSize));
      if (receivers.dates) receivers.dates->push_back(DateText(e.modificationTime));
      if (receivers.attributes) receivers.attributes->push_back(std::to_string(e.attributes));
    }
    CloseListArchive(handle);
    return true;
  } catch (const std::exception& e) {
    errorText = e.what();
    return false;
  }
}

bool ExtractFromArchive(const std::string& archivePath, const std::string& password,
                        const std::string& destinationFolder, const ArchiveExtractCallbacks& callbacks,
                        const std::vector<std::string>* entryNames, bool overwrite, bool arrangement,
                        std::string& errorText) {
  std::vector<char*> copies;
  auto freeCopies = [&] {
    for (char* c : copies) delete[] c;
    copies.clear();
  };
  try {
    errorText.clear();
    std::vector<std::string> listed;
    if (!entryNames) {
      ArchiveListReceivers receivers;
      receivers.names = &listed;
      if (!ListArchive(archivePath, password, nullptr, receivers, errorText)) return false;
      entryNames = &listed;
    }
    copies.reserve(entryNames->size());
    for (const std::string& name : *entryNames) {
      char* copy = new char[name.size() + 1];
      std::memcpy(copy, name.c_str(), name.size() + 1);
      copies.push_back(copy);
    }
    TSZW_TARGETFILES selection{copies.data(), static_cast<int32_t>(copies.size())};
    ArchiveExtractCallbacks c = callbacks;
    if (!c.password) {
      LoadPassword(password);
      c.password = DefaultPasswordCallback;
    }
    if (!c.progress) c.progress = DefaultProgressCallback;
    if (!c.entryProgress) c.entryProgress = DefaultEntryProgressCallback;
    if (!c.overwrite) {
      g_overwriteAnswer = overwrite ? 4 : 1;
      c.overwrite = DefaultOverwriteCallback;
    }
    int32_t ok = ExtractArchive(archivePath.c_str(), 1, destinationFolder.c_str(), &selection, arrangement ? 0 : 1,
                                password.c_str(), c.password, c.progress, c.entryProgress, c.overwrite);
    if (ok == 0) errorText = "#" + std::to_string(GetLastArchiveError(0));
    freeCopies();
    return ok != 0;
  } catch (const std::exception& e) {
    freeCopies();
    errorText = e.what();
    return false;
  }
}

bool ExtractSupportArchive(const std::string& archivePath, const std::string& destinationFolder,
                           std::string& errorText) {
  return ExtractFromArchive(archivePath, "", destinationFolder, ArchiveExtractCallbacks{}, nullptr, true, true,
                            errorText);
}

}  // namespace kem
