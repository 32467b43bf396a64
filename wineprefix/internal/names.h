// The fixed names of a prefix's registry that the library's parts share.
#pragma once

namespace wineprefix::internal {

// The key under which a 64-bit prefix keeps the 32-bit view.
inline constexpr char16_t kWowNode[] = u"Wow6432Node";
// The value that makes a key a symbolic link, and names where it leads.
inline constexpr char16_t kLinkValue[] = u"SymbolicLinkValue";
// The user whose keys user.reg holds.
inline constexpr char16_t kUserSid[] = u"S-1-5-21-0-0-0-1000";
// What system.reg and user.reg hold, as their second line says.
inline constexpr char16_t kMachineBranch[] = u"REGISTRY\\Machine";
inline constexpr char16_t kUserBranch[] = u"REGISTRY\\User\\S-1-5-21-0-0-0-1000";

}  // namespace wineprefix::internal
