// The design of frmAbout: its window and its eight controls, in twips.
#pragma once

#include <cstddef>

#include "platform/dialog.h"

namespace skelvin::about {

// Positions of the controls in the design's list (creation order).
inline constexpr std::size_t kPicIcon = 0;
inline constexpr std::size_t kCmdOK = 1;
inline constexpr std::size_t kLine1Grey = 2;  // Line1, index 1
inline constexpr std::size_t kLblDescription = 3;
inline constexpr std::size_t kLblTitle = 4;
inline constexpr std::size_t kLine1White = 5;  // Line1, index 0
inline constexpr std::size_t kLblVersion = 6;
inline constexpr std::size_t kLblDisclaimer = 7;
inline constexpr std::size_t kControlCount = 8;

// The one description every toolkit backend builds the dialog from.
const plat::FormDesign& Design();

}  // namespace skelvin::about
