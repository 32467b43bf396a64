// The calls' wire format: one request frame and one reply frame per call.
//
// Fields, in the order of the call's arguments: a number is 4 bytes, little
// endian; a pointer argument starts with one byte, 1 when it is not null,
// then its content: a string's length and bytes (no NUL), a DWORD's value, a
// buffer's size and bytes. A reply carries the status, then each argument
// the callee may write, in the same form but without the presence byte
// (both sides know it).
#include "platform/remote.h"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace plat::remote {
namespace {

enum class Op : std::uint8_t {
  kOpen = 1,
  kCreate,
  kSet,
  kQuery,
  kEnumValue,
  kEnumKey,
  kDelete,
  kClose,
  kExitWindows,
};

class Writer {
 public:
  void U8(std::uint8_t value) { bytes_.push_back(value); }
  void U32(std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) bytes_.push_back(static_cast<BYTE>(value >> shift));
  }
  void Raw(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const BYTE*>(data);
    bytes_.insert(bytes_.end(), bytes, bytes + size);
  }
  void Text(const char* text) {
    U8(text != nullptr ? 1 : 0);
    if (text == nullptr) return;
    const std::size_t size = std::strlen(text);
    U32(static_cast<std::uint32_t>(size));
    Raw(text, size);
  }
  void Dword(const DWORD* value) {
    U8(value != nullptr ? 1 : 0);
    if (value != nullptr) U32(*value);
  }
  void Buffer(const void* data, std::size_t size) {
    U8(data != nullptr ? 1 : 0);
    if (data == nullptr) return;
    U32(static_cast<std::uint32_t>(size));
    Raw(data, size);
  }
  [[nodiscard]] bool Send(Channel& channel) {
    std::vector<BYTE> frame;
    frame.reserve(4 + bytes_.size());
    for (int shift = 0; shift < 32; shift += 8) frame.push_back(static_cast<BYTE>(bytes_.size() >> shift));
    frame.insert(frame.end(), bytes_.begin(), bytes_.end());
    return channel.Write(frame.data(), frame.size());
  }

 private:
  std::vector<BYTE> bytes_;
};

// What a frame's reader hands the served call: the argument as a pointer
// (null when the caller's was) over storage of its own.
struct TextArg {
  bool present = false;
  std::string text;
  const char* get() const { return present ? text.c_str() : nullptr; }
  char* mutable_get() { return present ? text.data() : nullptr; }
};

struct DwordArg {
  bool present = false;
  DWORD value = 0;
  DWORD* get() { return present ? &value : nullptr; }
};

struct BufferArg {
  bool present = false;
  std::vector<BYTE> bytes;  // one byte more than the content: never a null data()
  std::size_t size = 0;
  BYTE* get() { return present ? bytes.data() : nullptr; }
};

class Reader {
 public:
  explicit Reader(const std::vector<BYTE>& bytes) : bytes_(bytes) {}

  std::uint8_t U8() {
    if (!Have(1)) return 0;
    return bytes_[pos_++];
  }
  std::uint32_t U32() {
    if (!Have(4)) return 0;
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(bytes_[pos_++]) << (8 * i);
    return value;
  }
  void Raw(void* out, std::size_t size) {
    if (!Have(size)) return;
    if (size != 0) std::memcpy(out, bytes_.data() + pos_, size);
    pos_ += size;
  }
  bool Present() {
    const std::uint8_t flag = U8();
    if (flag > 1) ok_ = false;
    return flag == 1;
  }
  TextArg Text() {
    TextArg arg;
    arg.present = Present();
    if (!arg.present) return arg;
    const std::uint32_t size = U32();
    if (!Have(size)) return arg;
    arg.text.assign(reinterpret_cast<const char*>(bytes_.data() + pos_), size);
    pos_ += size;
    return arg;
  }
  DwordArg Dword() {
    DwordArg arg;
    arg.present = Present();
    if (arg.present) arg.value = U32();
    return arg;
  }
  BufferArg Buffer() {
    BufferArg arg;
    arg.present = Present();
    if (!arg.present) return arg;
    arg.size = U32();
    if (!Have(arg.size)) return arg;
    arg.bytes.assign(bytes_.begin() + static_cast<std::ptrdiff_t>(pos_),
                     bytes_.begin() + static_cast<std::ptrdiff_t>(pos_ + arg.size));
    arg.bytes.push_back(0);
    pos_ += arg.size;
    return arg;
  }
  // The whole frame was read, and well-formed.
  bool Done() const { return ok_ && pos_ == bytes_.size(); }

 private:
  bool Have(std::size_t size) {
    if (ok_ && bytes_.size() - pos_ >= size) return true;
    ok_ = false;
    return false;
  }

  const std::vector<BYTE>& bytes_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

// One frame's bytes; false when the stream ends or breaks first (`clean`
// says whether it ended before the frame began).
bool ReadFrame(Channel& channel, std::vector<BYTE>* frame, bool* clean = nullptr) {
  BYTE head[4];
  if (clean != nullptr) *clean = false;
  if (!channel.Read(head, 1)) {
    if (clean != nullptr) *clean = true;
    return false;
  }
  if (!channel.Read(head + 1, 3)) return false;
  const std::uint32_t size = static_cast<std::uint32_t>(head[0]) | static_cast<std::uint32_t>(head[1]) << 8 |
                             static_cast<std::uint32_t>(head[2]) << 16 | static_cast<std::uint32_t>(head[3]) << 24;
  if (size > kMaxFrame) return false;
  frame->resize(size);
  return size == 0 || channel.Read(frame->data(), size);
}

void PutBuffer(Writer& out, BufferArg& arg) {
  if (arg.present) out.Raw(arg.bytes.data(), arg.size);
}

void PutDword(Writer& out, const DwordArg& arg) {
  if (arg.present) out.U32(arg.value);
}

// Serves one request; false when it is malformed.
bool ServeOne(const std::vector<BYTE>& frame, Registry& registry, Shutdown& shutdown, Writer& out) {
  Reader in(frame);
  const std::uint8_t code = in.U8();
  if (code < static_cast<std::uint8_t>(Op::kOpen) || code > static_cast<std::uint8_t>(Op::kExitWindows)) return false;
  switch (static_cast<Op>(code)) {
    case Op::kOpen: {
      const HKEY key = in.U32();
      const TextArg sub = in.Text();
      const DWORD options = in.U32();
      const REGSAM sam = in.U32();
      const bool want = in.Present();
      if (!in.Done()) return false;
      HKEY result = 0;
      out.U32(
          static_cast<std::uint32_t>(registry.RegOpenKeyExA(key, sub.get(), options, sam, want ? &result : nullptr)));
      out.U32(result);
      return true;
    }
    case Op::kCreate: {
      const HKEY key = in.U32();
      const TextArg sub = in.Text();
      const DWORD reserved = in.U32();
      TextArg class_name = in.Text();
      const DWORD options = in.U32();
      const REGSAM sam = in.U32();
      const bool with_attributes = in.Present();
      SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, 0};
      if (with_attributes) attributes.bInheritHandle = static_cast<BOOL>(in.U32());
      const bool want = in.Present();
      DwordArg disposition = in.Dword();
      if (!in.Done()) return false;
      HKEY result = 0;
      out.U32(static_cast<std::uint32_t>(registry.RegCreateKeyExA(key, sub.get(), reserved, class_name.mutable_get(),
                                                                  options, sam, with_attributes ? &attributes : nullptr,
                                                                  want ? &result : nullptr, disposition.get())));
      out.U32(result);
      PutDword(out, disposition);
      return true;
    }
    case Op::kSet: {
      const HKEY key = in.U32();
      const TextArg name = in.Text();
      const DWORD reserved = in.U32();
      const DWORD type = in.U32();
      const DWORD count = in.U32();
      BufferArg data = in.Buffer();  // the counted bytes, and the one after when the caller's call reads it
      if (!in.Done() || (data.present && data.size < count)) return false;
      out.U32(static_cast<std::uint32_t>(registry.RegSetValueExA(key, name.get(), reserved, type, data.get(), count)));
      return true;
    }
    case Op::kQuery: {
      const HKEY key = in.U32();
      const TextArg name = in.Text();
      DwordArg reserved = in.Dword();
      DwordArg type = in.Dword();
      BufferArg data = in.Buffer();
      DwordArg size = in.Dword();
      if (!in.Done()) return false;
      out.U32(static_cast<std::uint32_t>(
          registry.RegQueryValueExA(key, name.get(), reserved.get(), type.get(), data.get(), size.get())));
      PutDword(out, reserved);
      PutDword(out, type);
      PutBuffer(out, data);
      PutDword(out, size);
      return true;
    }
    case Op::kEnumValue: {
      const HKEY key = in.U32();
      const DWORD index = in.U32();
      BufferArg name = in.Buffer();
      DwordArg name_size = in.Dword();
      DwordArg reserved = in.Dword();
      DwordArg type = in.Dword();
      BufferArg data = in.Buffer();
      DwordArg size = in.Dword();
      if (!in.Done()) return false;
      out.U32(static_cast<std::uint32_t>(registry.RegEnumValueA(key, index, reinterpret_cast<char*>(name.get()),
                                                                name_size.get(), reserved.get(), type.get(), data.get(),
                                                                size.get())));
      PutBuffer(out, name);
      PutDword(out, name_size);
      PutDword(out, reserved);
      PutDword(out, type);
      PutBuffer(out, data);
      PutDword(out, size);
      return true;
    }
    case Op::kEnumKey: {
      const HKEY key = in.U32();
      const DWORD index = in.U32();
      BufferArg name = in.Buffer();
      const DWORD count = in.U32();
      if (!in.Done() || (name.present && name.size != count)) return false;
      out.U32(static_cast<std::uint32_t>(registry.RegEnumKeyA(key, index, reinterpret_cast<char*>(name.get()), count)));
      PutBuffer(out, name);
      return true;
    }
    case Op::kDelete: {
      const HKEY key = in.U32();
      const TextArg sub = in.Text();
      if (!in.Done()) return false;
      out.U32(static_cast<std::uint32_t>(registry.RegDeleteKeyA(key, sub.get())));
      return true;
    }
    case Op::kClose: {
      const HKEY key = in.U32();
      if (!in.Done()) return false;
      out.U32(static_cast<std::uint32_t>(registry.RegCloseKey(key)));
      return true;
    }
    case Op::kExitWindows: {
      const UINT flags = in.U32();
      const DWORD reserved = in.U32();
      if (!in.Done()) return false;
      out.U32(static_cast<std::uint32_t>(shutdown.ExitWindowsEx(flags, reserved)));
      return true;
    }
  }
  return false;
}

}  // namespace

bool Serve(Channel& channel, Registry& registry, Shutdown& shutdown) {
  Writer greeting;
  greeting.Raw(kGreeting.data(), kGreeting.size());
  if (!greeting.Send(channel)) return false;
  std::vector<BYTE> frame;
  for (;;) {
    bool clean = false;
    if (!ReadFrame(channel, &frame, &clean)) return clean;
    Writer reply;
    if (!ServeOne(frame, registry, shutdown, reply) || !reply.Send(channel)) return false;
  }
}

bool ReadGreeting(Channel& channel) {
  std::vector<BYTE> frame;
  return ReadFrame(channel, &frame) &&
         std::string_view(reinterpret_cast<const char*>(frame.data()), frame.size()) == kGreeting;
}

// One call: the request built, sent, and its reply read back. Any failure
// gives the stream up.
class RemoteRegistry::Call {
 public:
  Call(RemoteRegistry& owner, Op op) : owner_(owner) { request.U8(static_cast<std::uint8_t>(op)); }

  Writer request;

  // Sends the request and reads the reply's status; false when the stream is
  // (or now is) broken.
  bool Exchange() {
    if (owner_.broken_ || !request.Send(owner_.channel_) || !ReadFrame(owner_.channel_, &reply_)) {
      owner_.broken_ = true;
      return false;
    }
    exchanged_ = true;
    status_ = static_cast<LONG>(reader_.U32());
    return true;
  }
  Reader& reply() { return reader_; }
  LONG status() const { return status_; }
  // Whether the reply was read whole; gives the stream up when it was not.
  bool Finish() {
    if (exchanged_ && reader_.Done()) return true;
    owner_.broken_ = true;
    return false;
  }

 private:
  RemoteRegistry& owner_;
  std::vector<BYTE> reply_;
  Reader reader_{reply_};
  LONG status_ = ERROR_BROKEN_PIPE;
  bool exchanged_ = false;
};

namespace {

// The reply's value of an in/out DWORD, kept aside until the reply is known whole.
struct DwordOut {
  DWORD* target;
  DWORD value = 0;
  void Read(Reader& in) {
    if (target != nullptr) value = in.U32();
  }
  void Store() const {
    if (target != nullptr) *target = value;
  }
};

struct BufferOut {
  void* target;
  std::size_t size;
  std::vector<BYTE> bytes;
  void Read(Reader& in) {
    if (target == nullptr) return;
    bytes.resize(size);
    in.Raw(bytes.data(), size);
  }
  void Store() const {
    if (target != nullptr && size != 0) std::memcpy(target, bytes.data(), size);
  }
};

}  // namespace

LONG RemoteRegistry::RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                   HKEY* phkResult) {
  Call call(*this, Op::kOpen);
  call.request.U32(hKey);
  call.request.Text(lpSubKey);
  call.request.U32(ulOptions);
  call.request.U32(samDesired);
  call.request.U8(phkResult != nullptr ? 1 : 0);
  HKEY result = 0;
  if (call.Exchange()) result = call.reply().U32();
  const bool whole = call.Finish();
  if (phkResult != nullptr) *phkResult = whole ? result : 0;
  return whole ? call.status() : ERROR_BROKEN_PIPE;
}

LONG RemoteRegistry::RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved, char* lpClass, DWORD dwOptions,
                                     REGSAM samDesired, const SECURITY_ATTRIBUTES* lpSecurityAttributes,
                                     HKEY* phkResult, DWORD* lpdwDisposition) {
  Call call(*this, Op::kCreate);
  call.request.U32(hKey);
  call.request.Text(lpSubKey);
  call.request.U32(Reserved);
  call.request.Text(lpClass);
  call.request.U32(dwOptions);
  call.request.U32(samDesired);
  call.request.U8(lpSecurityAttributes != nullptr ? 1 : 0);
  if (lpSecurityAttributes != nullptr)
    call.request.U32(static_cast<std::uint32_t>(lpSecurityAttributes->bInheritHandle));
  call.request.U8(phkResult != nullptr ? 1 : 0);
  call.request.Dword(lpdwDisposition);
  HKEY result = 0;
  DwordOut disposition{lpdwDisposition};
  if (call.Exchange()) {
    result = call.reply().U32();
    disposition.Read(call.reply());
  }
  const bool whole = call.Finish();
  if (phkResult != nullptr) *phkResult = whole ? result : 0;
  if (!whole) return ERROR_BROKEN_PIPE;
  disposition.Store();
  return call.status();
}

LONG RemoteRegistry::RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD Reserved, DWORD dwType,
                                    const BYTE* lpData, DWORD cbData) {
  Call call(*this, Op::kSet);
  call.request.U32(hKey);
  call.request.Text(lpValueName);
  call.request.U32(Reserved);
  call.request.U32(dwType);
  call.request.U32(cbData);
  // The byte after the count goes too when the served call reads it (see
  // registry.h): a string whose last counted byte is not NUL.
  const bool past = lpData != nullptr && IsStringType(dwType) && cbData != 0 && lpData[cbData - 1] != 0;
  call.request.Buffer(lpData, lpData != nullptr ? cbData + (past ? 1U : 0U) : 0);
  if (call.Exchange() && call.Finish()) return call.status();
  return ERROR_BROKEN_PIPE;
}

LONG RemoteRegistry::RegQueryValueExA(HKEY hKey, const char* lpValueName, DWORD* lpReserved, DWORD* lpType,
                                      BYTE* lpData, DWORD* lpcbData) {
  Call call(*this, Op::kQuery);
  const std::size_t room = lpcbData != nullptr ? *lpcbData : 0;
  call.request.U32(hKey);
  call.request.Text(lpValueName);
  call.request.Dword(lpReserved);
  call.request.Dword(lpType);
  call.request.Buffer(lpData, room);
  call.request.Dword(lpcbData);
  DwordOut reserved{lpReserved}, type{lpType}, size{lpcbData};
  BufferOut data{lpData, room, {}};
  if (call.Exchange()) {
    reserved.Read(call.reply());
    type.Read(call.reply());
    data.Read(call.reply());
    size.Read(call.reply());
  }
  if (!call.Finish()) return ERROR_BROKEN_PIPE;
  reserved.Store();
  type.Store();
  data.Store();
  size.Store();
  return call.status();
}

LONG RemoteRegistry::RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName,
                                   DWORD* lpReserved, DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
  Call call(*this, Op::kEnumValue);
  const std::size_t name_room = lpcchValueName != nullptr ? *lpcchValueName : 0;
  const std::size_t room = lpcbData != nullptr ? *lpcbData : 0;
  call.request.U32(hKey);
  call.request.U32(dwIndex);
  call.request.Buffer(lpValueName, name_room);
  call.request.Dword(lpcchValueName);
  call.request.Dword(lpReserved);
  call.request.Dword(lpType);
  call.request.Buffer(lpData, room);
  call.request.Dword(lpcbData);
  BufferOut name{lpValueName, name_room, {}}, data{lpData, room, {}};
  DwordOut name_size{lpcchValueName}, reserved{lpReserved}, type{lpType}, size{lpcbData};
  if (call.Exchange()) {
    name.Read(call.reply());
    name_size.Read(call.reply());
    reserved.Read(call.reply());
    type.Read(call.reply());
    data.Read(call.reply());
    size.Read(call.reply());
  }
  if (!call.Finish()) return ERROR_BROKEN_PIPE;
  name.Store();
  name_size.Store();
  reserved.Store();
  type.Store();
  data.Store();
  size.Store();
  return call.status();
}

LONG RemoteRegistry::RegEnumKeyA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD cchName) {
  Call call(*this, Op::kEnumKey);
  call.request.U32(hKey);
  call.request.U32(dwIndex);
  call.request.Buffer(lpName, lpName != nullptr ? cchName : 0);
  call.request.U32(cchName);
  BufferOut name{lpName, lpName != nullptr ? cchName : 0, {}};
  if (call.Exchange()) name.Read(call.reply());
  if (!call.Finish()) return ERROR_BROKEN_PIPE;
  name.Store();
  return call.status();
}

LONG RemoteRegistry::RegDeleteKeyA(HKEY hKey, const char* lpSubKey) {
  Call call(*this, Op::kDelete);
  call.request.U32(hKey);
  call.request.Text(lpSubKey);
  if (call.Exchange() && call.Finish()) return call.status();
  return ERROR_BROKEN_PIPE;
}

LONG RemoteRegistry::RegCloseKey(HKEY hKey) {
  Call call(*this, Op::kClose);
  call.request.U32(hKey);
  if (call.Exchange() && call.Finish()) return call.status();
  return ERROR_BROKEN_PIPE;
}

BOOL RemoteShutdown::ExitWindowsEx(UINT uFlags, DWORD dwReserved) {
  RemoteRegistry::Call call(stream_, Op::kExitWindows);
  call.request.U32(uFlags);
  call.request.U32(dwReserved);
  if (call.Exchange() && call.Finish()) return static_cast<BOOL>(call.status());
  return FALSE;
}

}  // namespace plat::remote
