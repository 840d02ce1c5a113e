// Owners of Win32 resources: each closes or frees its resource when it goes out of
// scope, so an exception can never skip the release.
#pragma once

#include <windows.h>

#include <utility>

namespace kem::platform {

// A kernel handle (files, processes, threads, tokens, events). Both null and
// INVALID_HANDLE_VALUE mean "none".
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE h) : h_(h) {}
  ~UniqueHandle() { Reset(); }
  UniqueHandle(UniqueHandle&& o) noexcept : h_(std::exchange(o.h_, nullptr)) {}
  UniqueHandle& operator=(UniqueHandle&& o) noexcept {
    if (this != &o) {
      Reset();
      h_ = std::exchange(o.h_, nullptr);
    }
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  bool Valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return h_; }
  // For out parameters of Win32 calls: releases what is held first.
  HANDLE* Receive() {
    Reset();
    return &h_;
  }
  void Reset() {
    if (Valid()) CloseHandle(h_);
    h_ = nullptr;
  }

 private:
  HANDLE h_ = nullptr;
};

// A search handle of FindFirstFile.
class FindHandle {
 public:
  explicit FindHandle(HANDLE h) : h_(h) {}
  ~FindHandle() {
    if (Valid()) FindClose(h_);
  }
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;
  bool Valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  HANDLE Get() const { return h_; }

 private:
  HANDLE h_;
};

// An open registry key.
class RegistryKey {
 public:
  RegistryKey() = default;
  ~RegistryKey() {
    if (key_) RegCloseKey(key_);
  }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  HKEY Get() const { return key_; }
  HKEY* Receive() {
    if (key_) RegCloseKey(key_);
    key_ = nullptr;
    return &key_;
  }

 private:
  HKEY key_ = nullptr;
};

// A loaded library.
class Library {
 public:
  Library() = default;
  explicit Library(HMODULE m) : module_(m) {}
  ~Library() {
    if (module_) FreeLibrary(module_);
  }
  Library(Library&& o) noexcept : module_(std::exchange(o.module_, nullptr)) {}
  Library& operator=(Library&& o) noexcept {
    if (this != &o) {
      if (module_) FreeLibrary(module_);
      module_ = std::exchange(o.module_, nullptr);
    }
    return *this;
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  HMODULE Get() const { return module_; }
  explicit operator bool() const { return module_ != nullptr; }

 private:
  HMODULE module_ = nullptr;
};

// A security identifier from AllocateAndInitializeSid.
class SidHolder {
 public:
  SidHolder() = default;
  ~SidHolder() {
    if (sid_) FreeSid(sid_);
  }
  SidHolder(const SidHolder&) = delete;
  SidHolder& operator=(const SidHolder&) = delete;
  PSID Get() const { return sid_; }
  PSID* Receive() { return &sid_; }

 private:
  PSID sid_ = nullptr;
};

// A GDI object (font, brush, bitmap, pen).
class GdiObject {
 public:
  GdiObject() = default;
  explicit GdiObject(HGDIOBJ o) : obj_(o) {}
  ~GdiObject() { Reset(); }
  GdiObject(GdiObject&& o) noexcept : obj_(std::exchange(o.obj_, nullptr)) {}
  GdiObject& operator=(GdiObject&& o) noexcept {
    if (this != &o) {
      Reset();
      obj_ = std::exchange(o.obj_, nullptr);
    }
    return *this;
  }
  GdiObject(const GdiObject&) = delete;
  GdiObject& operator=(const GdiObject&) = delete;
  HGDIOBJ Get() const { return obj_; }
  void Reset() {
    if (obj_) DeleteObject(obj_);
    obj_ = nullptr;
  }

 private:
  HGDIOBJ obj_ = nullptr;
};

// A window this program created; destroyed with its children.
class WindowHandle {
 public:
  WindowHandle() = default;
  explicit WindowHandle(HWND w) : w_(w) {}
  ~WindowHandle() { Reset(); }
  WindowHandle(const WindowHandle&) = delete;
  WindowHandle& operator=(const WindowHandle&) = delete;
  HWND Get() const { return w_; }
  void Reset(HWND w = nullptr) {
    if (w_ && IsWindow(w_)) DestroyWindow(w_);
    w_ = w;
  }

 private:
  HWND w_ = nullptr;
};

}  // namespace kem::platform
