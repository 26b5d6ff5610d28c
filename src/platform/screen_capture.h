#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/geometry.h"

namespace corvane::platform {

// A raw bitmap as the host's capture APIs hand it over.
struct Image {
    int width = 0;
    int height = 0;
    int bytesPerRow = 0;
    int bitsPerPixel = 32;
    // Byte order and alpha placement bits, as the host reports them:
    // alpha info in the low 5 bits, byte order in bits 12..14.
    std::uint32_t bitmapInfo = 0;
    std::vector<std::uint8_t> bytes;
};

namespace bitmap {
inline constexpr std::uint32_t kAlphaNone = 0;
inline constexpr std::uint32_t kAlphaPremultipliedLast = 1;
inline constexpr std::uint32_t kAlphaPremultipliedFirst = 2;
inline constexpr std::uint32_t kAlphaLast = 3;
inline constexpr std::uint32_t kAlphaFirst = 4;
inline constexpr std::uint32_t kAlphaNoneSkipLast = 5;
inline constexpr std::uint32_t kAlphaNoneSkipFirst = 6;
inline constexpr std::uint32_t kAlphaInfoMask = 0x1F;
inline constexpr std::uint32_t kByteOrderDefault = 0;
inline constexpr std::uint32_t kByteOrder32Little = 0x2000;
inline constexpr std::uint32_t kByteOrder32Big = 0x4000;
inline constexpr std::uint32_t kByteOrderMask = 0x7000;
}  // namespace bitmap

struct ShareableWindow {
    std::uint32_t windowID = 0;
    std::optional<std::string> owningBundleIdentifier;
    std::optional<std::string> owningApplicationName;
    int owningProcessIdentifier = 0;
    std::optional<std::string> title;
    Rect frame;
    bool isOnScreen = true;
};

struct Display {
    std::uint32_t displayID = 0;
    Rect frame;
    double scale = 1;
    bool isMain = false;
};

struct ShareableContent {
    std::vector<ShareableWindow> windows;  // front to back
    std::vector<Display> displays;
};

// Either a value or the host's error text.
template <class T>
struct CaptureResult {
    std::optional<T> value;
    std::string error;
    bool ok() const { return value.has_value(); }
};

class ScreenCapture {
public:
    virtual ~ScreenCapture() = default;
    // Absent content without an error text models a host that answered with nothing.
    virtual CaptureResult<ShareableContent> shareableContent() = 0;
    // One window alone, independent of what covers it.
    virtual CaptureResult<Image> captureWindow(std::uint32_t windowID) = 0;
    // Everything visible on a display, in z-order.
    virtual CaptureResult<Image> captureDisplay(std::uint32_t displayID) = 0;
    // The composite of on-screen windows inside a global rectangle, at nominal resolution.
    virtual CaptureResult<Image> captureRect(Rect rect) = 0;
    virtual std::optional<Display> mainDisplay() = 0;
    virtual bool preflightScreenRecording() = 0;
    virtual bool requestScreenRecording() = 0;
};

}  // namespace corvane::platform
