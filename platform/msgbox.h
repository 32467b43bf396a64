// Modal message boxes (user32 MessageBoxW).
#pragma once

#include "platform/facility.h"
#include "platform/types.h"

namespace plat {

inline constexpr UINT MB_OK = 0x00;
inline constexpr UINT MB_ICONHAND = 0x10;  // critical
inline constexpr UINT MB_ICONQUESTION = 0x20;
inline constexpr UINT MB_ICONEXCLAMATION = 0x30;
inline constexpr UINT MB_ICONASTERISK = 0x40;  // information
inline constexpr int IDOK = 1;

class MsgBox {
 public:
  virtual ~MsgBox() = default;
  // Shows the box and returns when the user has closed it: the button
  // pressed, IDOK for a box with only OK however it was closed, 0 on failure
  // (an answer, not a status: see facility.h).
  [[nodiscard]] virtual int MessageBoxW(HWND hWnd, const char16_t* lpText, const char16_t* lpCaption, UINT uType) = 0;
};

template <>
MsgBox& Backend<MsgBox>();

}  // namespace plat
