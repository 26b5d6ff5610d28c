#pragma once

// The virtual keys this program presses in Logic Pro, and the modifier flags it presses them with.

#include <cstdint>

namespace corvane::key_code {

inline constexpr std::uint16_t kA = 0;
inline constexpr std::uint16_t kS = 1;  // solo of the selected track
inline constexpr std::uint16_t kG = 5;
inline constexpr std::uint16_t kI = 34;       // shows the Inspector
inline constexpr std::uint16_t kReturn = 36;  // confirms a menu choice or a typed name
inline constexpr std::uint16_t kM = 46;       // mute of the selected track
inline constexpr std::uint16_t kTab = 48;
inline constexpr std::uint16_t kSpace = 49;
inline constexpr std::uint16_t kDelete = 51;
inline constexpr std::uint16_t kEscape = 53;  // dismisses a menu
inline constexpr std::uint16_t kLeft = 123;
inline constexpr std::uint16_t kRight = 124;
inline constexpr std::uint16_t kDown = 125;
inline constexpr std::uint16_t kUp = 126;

// Typed text travels as the Unicode string of key events with this number; the key itself is not
// meant (it happens to be A's).
inline constexpr std::uint16_t kTextCarrier = 0;

inline constexpr std::uint64_t kCommandFlag = 0x100000;
inline constexpr std::uint64_t kControlFlag = 0x40000;

}  // namespace corvane::key_code
