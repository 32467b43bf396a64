// How the core reaches a platform facility, and how anything replaces one.
//
// Each facility is an abstract class of Win32-shaped calls (see registry.h,
// msgbox.h, exitwindows.h, app.h). The core calls `Use<Api>()`, which is the
// backend's implementation (`Backend<Api>()`, chosen at link time) unless a
// `ScopedUse<Api>` has installed another one for the current scope: the
// program's own metadata (installed by its entry point), a scripted fake, or
// a decorator that injects failures into the real backend. This is the one
// way a facility is replaced, in the product and in tests alike.
//
// The rule every facility call keeps (a header says so where one differs):
//  - A call that returns a status returns ERROR_SUCCESS or a Win32 system
//    error code (types.h), and is [[nodiscard]]; a caller that ignores one
//    says why, with an explicit (void). Calls shaped after a Win32 function
//    that answers otherwise keep its answer, also [[nodiscard]]:
//    MessageBoxW (the button, 0 on failure), ExitWindowsEx (nonzero when
//    accepted), the code page conversions (a count, 0 on failure) and
//    DialogToolkit::CreateForm (0 when no form was made).
//  - On failure out-parameters are unchanged, except those the Win32 call
//    itself writes on failure, which each contract names: the handle of a
//    registry open or create and of FileInput::OpenForReading is set to 0,
//    the count of FileInput::ReadFile to 0, Shell::FindFile's name to empty,
//    Shell::StartProcess's process id to 0, and the registry's in/out sizes
//    are written as the Win32 documentation says (the size needed on
//    ERROR_MORE_DATA).
//  - No backend call throws, except std::bad_alloc when memory runs out. An
//    installed replacement may throw plat::Error (a run-time fault, error.h)
//    from any call; it reaches the caller of the core operation, and owners
//    of handles (UniqueHKey, TextInput) still give theirs up on the way.
//  - The helpers over the facilities (TextInput, Dir, StartProgram) turn a
//    failed status into a run-time fault only through the mappings in
//    error.h, one per kind of call.
#pragma once

namespace plat {

// The backend's own implementation of a facility; each backend defines the
// specialisations for the facilities it provides.
template <class Api>
Api& Backend();

template <class Api>
class Installed {
 public:
  static Api& Get() { return current_ != nullptr ? *current_ : Backend<Api>(); }

 private:
  template <class>
  friend class ScopedUse;
  static inline Api* current_ = nullptr;
};

template <class Api>
Api& Use() {
  return Installed<Api>::Get();
}

// Installs `api` for the lifetime of this object; restores the previous one.
template <class Api>
class ScopedUse {
 public:
  explicit ScopedUse(Api& api) : previous_(Installed<Api>::current_) { Installed<Api>::current_ = &api; }
  ~ScopedUse() { Installed<Api>::current_ = previous_; }
  ScopedUse(const ScopedUse&) = delete;
  ScopedUse& operator=(const ScopedUse&) = delete;

 private:
  Api* previous_;
};

}  // namespace plat
