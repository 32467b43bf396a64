// Keys and values: sorted lookups, changes, and the parts made on demand.
#include "winereg/model.h"

#include <algorithm>
#include <ctime>
#include <new>
#include <utility>

#include "winereg/internal/filetime.h"
#include "winereg/internal/key_state.h"

namespace winereg {
namespace {

template <typename T, typename NameOf>
typename std::vector<T>::const_iterator LowerBound(const std::vector<T>& items, std::u16string_view name,
                                                   NameOf name_of) {
  return std::lower_bound(items.begin(), items.end(), name,
                          [&](const T& item, std::u16string_view n) { return CompareNames(name_of(item), n) < 0; });
}

const std::u16string& KeyName(const std::unique_ptr<Key>& k) { return k->name(); }
const std::u16string& ValueName(const Value& v) { return v.name; }

}  // namespace

std::int64_t CurrentFileTime() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * internal::kTicksPerSecond + ts.tv_nsec / 100 +
         internal::kTicks1601To1970;
}

Key::Key() = default;
Key::Key(std::u16string name, std::int64_t modif) : name_(std::move(name)), modif_(modif) {}
Key::Key(Key&& other) noexcept = default;

Key::~Key() {
  // Iterative, so that a very deep tree cannot exhaust the stack.
  std::vector<std::unique_ptr<Key>> pending = std::move(subkeys_);
  while (!pending.empty()) {
    std::unique_ptr<Key> key = std::move(pending.back());
    pending.pop_back();
    for (std::unique_ptr<Key>& child : key->subkeys_) pending.push_back(std::move(child));
    key->subkeys_.clear();
  }
}

Key& Key::operator=(Key&& other) noexcept {
  if (this == &other) return *this;
  Key taken(std::move(other));  // before the old subtree, which may hold `other`, goes
  this->~Key();
  new (this) Key(std::move(taken));
  return *this;
}

internal::KeyState& Key::state() const {
  if (!state_) state_ = std::make_unique<internal::KeyState>();
  return *state_;
}

void Key::Changed() {
  if (state_) state_->Changed();
}

void Key::set_modif(std::int64_t modif) {
  if (modif != modif_) Changed();
  modif_ = modif;
}

void Key::set_class_name(std::optional<std::u16string> name) {
  Changed();
  class_ = std::move(name);
}

void Key::set_link(bool link) {
  if (link != link_) Changed();
  link_ = link;
}

void Key::set_volatile(bool v) {
  if (v != volatile_) Changed();
  volatile_ = v;
}

bool Key::has_subkeys() const { return (state_ && state_->folded != nullptr) || !subkeys_.empty(); }

bool Key::has_values() const { return !values_.empty() || (state_ && !state_->marks->raw_values.empty()); }

void Key::LoadValues() const {
  if (!state_ || state_->marks->raw_values.empty()) return;
  state_->source->LoadValues(std::exchange(state_->marks->raw_values, {}), &values_);
}

void Key::Unfold() const {
  if (!state_ || !state_->folded) return;
  const std::shared_ptr<const internal::LazySource> from = std::move(state_->folded);
  state_->folded = nullptr;
  from->Unfold(*this, state_->marks->fold, &subkeys_);
}

void Key::DropSectionText() {
  LoadValues();
  Changed();
}

Key* Key::FindSubkey(std::u16string_view name) const {
  Unfold();
  auto it = LowerBound(subkeys_, name, KeyName);
  if (it != subkeys_.end() && CompareNames((*it)->name(), name) == 0) return it->get();
  return nullptr;
}

Key& Key::AddSubkey(std::u16string_view name, std::int64_t modif, bool* created) {
  Unfold();
  if (created) *created = true;
  if (subkeys_.empty() || CompareNames(subkeys_.back()->name(), name) < 0) {
    subkeys_.push_back(std::make_unique<Key>(std::u16string(name), modif));
    return *subkeys_.back();
  }
  auto it = LowerBound(subkeys_, name, KeyName);
  if (it != subkeys_.end() && CompareNames((*it)->name(), name) == 0) {
    if (created) *created = false;
    return **it;
  }
  auto pos = subkeys_.begin() + (it - subkeys_.cbegin());
  return **subkeys_.insert(pos, std::make_unique<Key>(std::u16string(name), modif));
}

bool Key::RemoveSubkey(std::u16string_view name) {
  Unfold();
  auto it = LowerBound(subkeys_, name, KeyName);
  if (it == subkeys_.end() || CompareNames((*it)->name(), name) != 0) return false;
  subkeys_.erase(it);
  return true;
}

const Value* Key::FindValue(std::u16string_view name) const {
  LoadValues();
  auto it = LowerBound(values_, name, ValueName);
  if (it != values_.end() && CompareNames(it->name, name) == 0) return &*it;
  return nullptr;
}

void Key::SetValue(std::u16string_view name, DWORD type, std::vector<BYTE> data) {
  LoadValues();
  Changed();
  if (values_.empty() || CompareNames(values_.back().name, name) < 0) {
    values_.push_back(Value{std::u16string(name), type, std::move(data)});
    return;
  }
  auto it = LowerBound(values_, name, ValueName);
  auto pos = values_.begin() + (it - values_.cbegin());
  if (pos != values_.end() && CompareNames(pos->name, name) == 0) {
    pos->type = type;
    pos->data = std::move(data);
    return;
  }
  values_.insert(pos, Value{std::u16string(name), type, std::move(data)});
}

bool Key::RemoveValue(std::u16string_view name) {
  LoadValues();
  auto it = LowerBound(values_, name, ValueName);
  if (it == values_.end() || CompareNames(it->name, name) != 0) return false;
  Changed();
  values_.erase(it);
  return true;
}

}  // namespace winereg
