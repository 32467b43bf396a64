// A scripted file facility for the OEM information reader: one file whose
// content the test gives (or generates), served in chunks of a chosen size,
// with every open, read and close recorded. No disk I/O.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "platform/textfile.h"

namespace testenv {

class ScriptedFileInput final : public plat::FileInput {
 public:
  // Fills `out` with up to `max` bytes of the content at `offset`; returns
  // how many (0 at the end).
  using Source = std::function<plat::DWORD(std::uint64_t offset, char* out, plat::DWORD max)>;

  ScriptedFileInput() = default;
  explicit ScriptedFileInput(std::string content) { SetContent(std::move(content)); }

  void SetContent(std::string content) {
    source_ = [text = std::move(content)](std::uint64_t offset, char* out, plat::DWORD max) -> plat::DWORD {
      if (offset >= text.size()) return 0;
      const auto n = static_cast<plat::DWORD>(std::min<std::uint64_t>(max, text.size() - offset));
      std::memcpy(out, text.data() + offset, n);
      return n;
    };
  }
  void SetSource(Source source) { source_ = std::move(source); }
  // The open fails with this status (ERROR_SUCCESS: it succeeds).
  plat::LONG open_status = plat::ERROR_SUCCESS;
  // At most this many bytes per read, however many are asked for.
  plat::DWORD chunk = 0xFFFFFFFFU;
  // A read that starts at or after this offset fails (ERROR_READ_FAULT).
  std::uint64_t fail_reads_from = UINT64_MAX;
  // The close raises this fault (after closing) when not 0.
  std::int32_t close_fault = 0;

  // What happened.
  std::vector<std::string> opened;  // the paths of the opens, in order
  int closes = 0;
  int reads = 0;
  int bad_handle_calls = 0;
  std::uint64_t consumed = 0;       // bytes handed out by the current or last open
  plat::DWORD largest_request = 0;  // the most bytes one read asked for
  bool open() const { return open_; }

  plat::LONG OpenForReading(const char* lpFileName, plat::FileHandle* phFile) override {
    opened.emplace_back(lpFileName != nullptr ? lpFileName : "");
    *phFile = 0;
    if (open_status != plat::ERROR_SUCCESS) return open_status;
    if (open_) ++bad_handle_calls;  // the reader never opens twice at once
    open_ = true;
    consumed = 0;
    *phFile = kHandle;
    return plat::ERROR_SUCCESS;
  }

  plat::LONG ReadFile(plat::FileHandle hFile, void* lpBuffer, plat::DWORD nNumberOfBytesToRead,
                      plat::DWORD* lpNumberOfBytesRead) override {
    *lpNumberOfBytesRead = 0;
    ++reads;
    if (hFile != kHandle || !open_) {
      ++bad_handle_calls;
      return plat::ERROR_INVALID_HANDLE;
    }
    largest_request = std::max(largest_request, nNumberOfBytesToRead);
    if (consumed >= fail_reads_from) return plat::ERROR_READ_FAULT;
    const plat::DWORD want = std::min(nNumberOfBytesToRead, chunk);
    const plat::DWORD got = source_ ? source_(consumed, static_cast<char*>(lpBuffer), want) : 0;
    consumed += got;
    *lpNumberOfBytesRead = got;
    return plat::ERROR_SUCCESS;
  }

  plat::LONG CloseHandle(plat::FileHandle hFile) override {
    if (hFile != kHandle || !open_) {
      ++bad_handle_calls;
      return plat::ERROR_INVALID_HANDLE;
    }
    open_ = false;
    ++closes;
    if (close_fault != 0) throw plat::Fault(close_fault);
    return plat::ERROR_SUCCESS;
  }

 private:
  static constexpr plat::FileHandle kHandle = 0x44;
  Source source_;
  bool open_ = false;
};

}  // namespace testenv
