// A fresh piece of registry for one test, on the build's own backend.
//
// Natively: a new temporary Wine prefix, with a registry facility over it
// installed for the test's lifetime. Under Windows (or Wine): the real
// registry, with a unique key that is deleted, with everything below it,
// when the test ends.
#pragma once

#include <memory>
#include <string>

#include "platform/registry.h"

namespace testenv {

class RegistryEnv {
 public:
  RegistryEnv();
  ~RegistryEnv();
  RegistryEnv(const RegistryEnv&) = delete;
  RegistryEnv& operator=(const RegistryEnv&) = delete;

  // The root the test works under, and a key path below it that does not
  // exist yet and belongs to this test alone.
  plat::HKEY root() const { return root_; }
  const std::u16string& base() const { return base_; }
  // The registry facility the test runs against (installed for plat::Use).
  plat::Registry& api();

  // Gives root\path (created when missing) `count` REG_SZ values named
  // V00000, V00001, ... holding their own names: quickly, whatever the backend.
  void FillValues(const std::string& path, int count);

  // Deletes root\path and everything below it; missing paths are fine.
  static void DeleteTree(plat::Registry& api, plat::HKEY root, const std::string& path);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  plat::HKEY root_ = 0;
  std::u16string base_;
};

}  // namespace testenv
