#include "platform/plugins/plugin_host_win32.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>

#include "platform/handles.h"

namespace kem::platform {
namespace {

// The plug-in's entry: window, variables, parameter, progress callback, slot, buffer.
using RunTimeExecuteFn = std::int32_t(__stdcall*)(HWND, const char*, const char*, void*, std::int32_t*, char*);

// Results above this size are refused (-1) rather than allocated.
constexpr std::int32_t kLargestResult = 64 * 1024 * 1024;

// --- Progress -------------------------------------------------------------------------
// The callback the plug-in gets carries no context: the call in progress is found by the
// thread it runs on, and reports from other threads go to the latest call.
thread_local const PluginProgress* t_progress = nullptr;
std::mutex g_latestLock;
const PluginProgress* g_latest = nullptr;

unsigned char __stdcall ProgressCallback(std::int32_t percent, const char* text) {
  const PluginProgress* progress = t_progress;
  if (!progress) {
    std::lock_guard<std::mutex> lock(g_latestLock);
    progress = g_latest;
    if (!progress) return 1;
    return (*progress)(percent, text) ? 1 : 0;
  }
  return (*progress)(percent, text) ? 1 : 0;
}

class ProgressScope {
 public:
  explicit ProgressScope(const PluginProgress& progress) : progress_(&progress) {
    t_progress = progress_;
    std::lock_guard<std::mutex> lock(g_latestLock);
    g_latest = progress_;
  }
  ~ProgressScope() {
    t_progress = nullptr;
    std::lock_guard<std::mutex> lock(g_latestLock);
    if (g_latest == progress_) g_latest = nullptr;
  }
  ProgressScope(const ProgressScope&) = delete;
  ProgressScope& operator=(const ProgressScope&) = delete;

 private:
  const PluginProgress* progress_;
};

// --- The fault guard --------------------------------------------------------------------
// GCC has no structured exception handling on x86: the guard registers a frame of its own
// in the thread's handler chain. A fault that the plug-in's own frames leave unhandled
// reaches it; the handler then resumes the thread in LeaveGuard on a spare stack area
// inside the frame, which jumps back to the point saved before the call.
struct GuardFrame {
#if defined(__i386__)
  EXCEPTION_REGISTRATION_RECORD Record;  // first: the system hands the handler its address
#endif
  void* Jump[5];
  DWORD Code;
  alignas(16) unsigned char Spare[256];
};

[[noreturn]] __attribute__((noinline)) void LeaveGuard(GuardFrame* frame) {
  __builtin_longjmp(frame->Jump, 1);
}

#if defined(__i386__)

EXCEPTION_DISPOSITION __cdecl GuardHandler(EXCEPTION_RECORD* record, void* establisher, CONTEXT* context, void*) {
  if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) return ExceptionContinueSearch;
  auto* frame = static_cast<GuardFrame*>(establisher);
  frame->Code = record->ExceptionCode;
  // LeaveGuard (frame) as if called (cdecl): the argument, then a return address it never
  // uses.
  auto* top = reinterpret_cast<DWORD*>(reinterpret_cast<std::uintptr_t>(frame->Spare + sizeof frame->Spare) & ~15u);
  top[-1] = static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(frame));
  top[-2] = 0;
  context->Esp = static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(top - 2));
  context->Eip = static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(&LeaveGuard));
  return ExceptionContinueExecution;
}

class GuardScope {
 public:
  explicit GuardScope(GuardFrame& frame) : tib_(reinterpret_cast<NT_TIB*>(NtCurrentTeb())), previous_(tib_->ExceptionList) {
    frame.Record.Next = previous_;
    frame.Record.Handler = reinterpret_cast<PEXCEPTION_ROUTINE>(reinterpret_cast<void*>(&GuardHandler));
    tib_->ExceptionList = &frame.Record;
  }
  ~GuardScope() { tib_->ExceptionList = previous_; }

 private:
  NT_TIB* tib_;
  EXCEPTION_REGISTRATION_RECORD* previous_;
};

#else

// 64-bit code has no handler chain on the stack: a vectored handler takes the faults of a
// thread while it is inside a guarded call (the 64-bit build is a test vehicle; the
// plug-ins setups load are 32-bit).
thread_local GuardFrame* activeGuard = nullptr;

LONG CALLBACK VectoredGuard(EXCEPTION_POINTERS* info) {
  GuardFrame* frame = activeGuard;
  if (!frame) return EXCEPTION_CONTINUE_SEARCH;
  switch (info->ExceptionRecord->ExceptionCode) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_IN_PAGE_ERROR:
      break;
    default:
      return EXCEPTION_CONTINUE_SEARCH;
  }
  activeGuard = nullptr;
  frame->Code = info->ExceptionRecord->ExceptionCode;
  // LeaveGuard (frame) as if called: the argument in RCX, a return address it never uses,
  // the stack 16-byte aligned before the call and room above for its home area.
  auto top = (reinterpret_cast<std::uintptr_t>(frame->Spare + sizeof frame->Spare) - 64) & ~std::uintptr_t{15};
  *reinterpret_cast<DWORD64*>(top - 8) = 0;
  info->ContextRecord->Rsp = top - 8;
  info->ContextRecord->Rcx = reinterpret_cast<DWORD64>(frame);
  info->ContextRecord->Rip = reinterpret_cast<DWORD64>(&LeaveGuard);
  return EXCEPTION_CONTINUE_EXECUTION;
}

class GuardScope {
 public:
  explicit GuardScope(GuardFrame& frame) {
    static std::once_flag once;
    std::call_once(once, [] { AddVectoredExceptionHandler(1, &VectoredGuard); });
    activeGuard = &frame;
  }
  ~GuardScope() { activeGuard = nullptr; }
};

#endif

// Calls fn(args...) and returns true, or returns false with the exception code when a
// fault left the call.
__attribute__((noinline)) bool GuardedExecute(RunTimeExecuteFn fn, HWND window, const char* variables,
                                              const char* parameter, std::int32_t* slot, char* buffer,
                                              std::int32_t& code, DWORD& fault) {
  GuardFrame frame;
  frame.Code = 0;
  GuardScope scope(frame);  // before the jump point: a fault returns within its lifetime
  if (__builtin_setjmp(frame.Jump)) {
    fault = frame.Code;
    return false;
  }
  code = fn(window, variables, parameter, reinterpret_cast<void*>(&ProgressCallback), slot, buffer);
  return true;
}

std::string Hex(DWORD code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(code));
  return text;
}

// The buffer of the second call ends at a page the plug-in cannot touch, so that writing
// beyond the length it announced faults instead of overwriting the engine's memory.
class ResultBuffer {
 public:
  explicit ResultBuffer(std::size_t size) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const std::size_t page = info.dwPageSize;
    const std::size_t usable = (size + page - 1) / page * page;
    base_ = static_cast<char*>(VirtualAlloc(nullptr, usable + page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (!base_) return;
    DWORD old = 0;
    if (!VirtualProtect(base_ + usable, page, PAGE_NOACCESS, &old)) {
      VirtualFree(base_, 0, MEM_RELEASE);
      base_ = nullptr;
      return;
    }
    data_ = base_ + usable - size;
  }
  ~ResultBuffer() {
    if (base_) VirtualFree(base_, 0, MEM_RELEASE);
  }
  ResultBuffer(const ResultBuffer&) = delete;
  ResultBuffer& operator=(const ResultBuffer&) = delete;
  char* Data() const { return data_; }

 private:
  char* base_ = nullptr;
  char* data_ = nullptr;
};

// A copy of a text handed to the plug-in, which may write into it: the text starts right
// after a page the plug-in cannot touch and is followed by its terminator, writable room
// at least as large again as the text (64 KB at least) and another such page. Writes
// within the room stay in the copy; writes before it or further beyond fault and end the
// call as a failure. The engine's own text is never handed out.
class GuardedText {
 public:
  explicit GuardedText(const std::string& text) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const std::size_t page = info.dwPageSize;
    const std::size_t room = std::max<std::size_t>(text.size(), 64 * 1024);
    const std::size_t usable = (text.size() + 1 + room + page - 1) / page * page;
    size_ = usable + 2 * page;
    base_ = static_cast<char*>(VirtualAlloc(nullptr, size_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (!base_) return;
    DWORD old = 0;
    if (!VirtualProtect(base_, page, PAGE_NOACCESS, &old) || !VirtualProtect(base_ + page + usable, page, PAGE_NOACCESS, &old)) {
      VirtualFree(base_, 0, MEM_RELEASE);
      base_ = nullptr;
      return;
    }
    data_ = base_ + page;
    std::memcpy(data_, text.c_str(), text.size() + 1);  // the rest of the pages is zero
  }
  ~GuardedText() {
    if (base_) VirtualFree(base_, 0, MEM_RELEASE);
  }
  GuardedText(const GuardedText&) = delete;
  GuardedText& operator=(const GuardedText&) = delete;
  const char* Data() const { return data_; }

 private:
  char* base_ = nullptr;
  char* data_ = nullptr;
  std::size_t size_ = 0;
};

class Win32PluginHost : public PluginHost {
 public:
  PluginCallResult Call(const PluginCall& call, const PluginProgress& progress) override {
    PluginCallResult result;
    // The plug-in's own dependencies come from its folder and the system folder only,
    // never from the current folder.
    HMODULE module = LoadLibraryExA(call.LibraryPath.c_str(), nullptr,
                                    LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!module && GetLastError() == ERROR_INVALID_PARAMETER)  // a system without those flags
      module = LoadLibraryExA(call.LibraryPath.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) {
      result.Failure = "not loadable, error " + std::to_string(GetLastError());
      return result;
    }
    Library library(module);
    auto entry = reinterpret_cast<RunTimeExecuteFn>(reinterpret_cast<void*>(GetProcAddress(module, "RunTimeExecute")));
    if (!entry) {
      result.Failure = "no RunTimeExecute";
      return result;
    }
    ProgressScope scope(progress);
    HWND window = reinterpret_cast<HWND>(call.Window);
    std::int32_t slot = 0;
    std::int32_t code = -1;
    DWORD fault = 0;
    // Each call gets fresh copies: what the first call wrote into its texts never reaches
    // the second, nor the engine's store.
    std::optional<GuardedText> variables(std::in_place, call.Variables);
    std::optional<GuardedText> parameter(std::in_place, call.Parameter);
    if (!variables->Data() || !parameter->Data()) {
      result.Failure = "no memory for the plug-in's texts";
      return result;
    }
    if (!GuardedExecute(entry, window, variables->Data(), parameter->Data(), &slot, nullptr, code, fault)) {
      result.Failure = "fault " + Hex(fault) + " in the first call";
      return result;
    }
    if (code == -1) {
      result.Failure = "the plug-in reported a failure";
      return result;
    }
    if (code < 0 || code > kLargestResult) {
      result.Failure = "result length " + std::to_string(code) + " refused";
      return result;
    }
    ResultBuffer buffer(static_cast<std::size_t>(code) + 1);
    if (!buffer.Data()) {
      result.Failure = "no memory for a result of " + std::to_string(code) + " characters";
      return result;
    }
    std::int32_t ignored = 0;
    variables.reset();
    parameter.reset();
    variables.emplace(call.Variables);
    parameter.emplace(call.Parameter);
    if (!variables->Data() || !parameter->Data()) {
      result.Failure = "no memory for the plug-in's texts";
      return result;
    }
    if (!GuardedExecute(entry, window, variables->Data(), parameter->Data(), &slot, buffer.Data(), ignored, fault)) {
      result.Failure = "fault " + Hex(fault) + " in the second call";
      return result;
    }
    // At most the announced length: a plug-in that wrote no terminator is not read beyond.
    result.Result.assign(buffer.Data(), strnlen(buffer.Data(), static_cast<std::size_t>(code)));
    result.Code = static_cast<std::int32_t>(result.Result.size());
    return result;
  }
};

}  // namespace

std::shared_ptr<PluginHost> CreatePluginHost() { return std::make_shared<Win32PluginHost>(); }

}  // namespace kem::platform
