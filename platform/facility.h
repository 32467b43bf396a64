// How the core reaches a platform facility, and how tests replace one.
//
// Each facility is an abstract class of Win32-shaped calls (see registry.h,
// msgbox.h, exitwindows.h). The core calls `Use<Api>()`, which is the
// backend's implementation unless a `ScopedUse<Api>` has installed another
// one for the current scope (a scripted fake, or a decorator that injects
// failures into the real backend).
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
