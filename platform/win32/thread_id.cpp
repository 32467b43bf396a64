// GetThreadId for Windows XP, for the Windows programs.
//
// GCC 13 and later link libgcc's thread functions into every program that
// throws (the unwinder locks through them); one of them compares threads with
// GetThreadId, which came with Windows Vista, so XP's loader would refuse the
// program for that import alone. The program defines the import's slot
// itself, so the linker never takes kernel32's: it calls Vista's function
// where the system has one, else asks NtQueryInformationThread, which XP has.
// An object library, linked into the programs.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace {

// NtQueryInformationThread's ThreadBasicInformation (class 0).
struct ThreadBasicInformation {
  LONG exit_status;
  PVOID teb;
  HANDLE process_id;
  HANDLE thread_id;
  ULONG_PTR affinity_mask;
  LONG priority;
  LONG base_priority;
};

template <typename Function>
Function Find(const wchar_t* module, const char* name) {
  const HMODULE handle = GetModuleHandleW(module);
  if (handle == nullptr) return nullptr;
  const FARPROC found = GetProcAddress(handle, name);
  Function function = nullptr;
  static_assert(sizeof function == sizeof found);
  __builtin_memcpy(&function, &found, sizeof function);
  return function;
}

DWORD WINAPI ThreadId(HANDLE thread) {
  using Vista = DWORD(WINAPI*)(HANDLE);
  using Query = LONG(WINAPI*)(HANDLE, int, PVOID, ULONG, PULONG);
  if (const auto get = Find<Vista>(L"kernel32.dll", "GetThreadId")) return get(thread);
  if (const auto query = Find<Query>(L"ntdll.dll", "NtQueryInformationThread")) {
    ThreadBasicInformation info = {};
    if (query(thread, 0, &info, sizeof info, nullptr) >= 0) {
      return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(info.thread_id));
    }
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return 0;
}

}  // namespace

// The slot's name as kernel32's import library spells it.
#ifdef _WIN64
#define SKELVIN_GET_THREAD_ID_SLOT "__imp_GetThreadId"
#else
#define SKELVIN_GET_THREAD_ID_SLOT "__imp__GetThreadId@4"
#endif
extern "C" {
extern DWORD(WINAPI* const skelvin_get_thread_id_slot)(HANDLE) __asm__(SKELVIN_GET_THREAD_ID_SLOT);
DWORD(WINAPI* const skelvin_get_thread_id_slot)(HANDLE) = ThreadId;
}
