#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/geometry.h"

namespace corvane::platform {

// Modifier flag bits as the host's event system defines them.
namespace modifier {
inline constexpr std::uint64_t kShift = 0x20000;
inline constexpr std::uint64_t kControl = 0x40000;
inline constexpr std::uint64_t kOption = 0x80000;
inline constexpr std::uint64_t kCommand = 0x100000;
}  // namespace modifier

struct KeyEvent {
    std::uint16_t virtualKey = 0;
    bool keyDown = true;
    std::uint64_t flags = 0;
    std::u16string unicodeText;  // empty: the key's own character
};

enum class MouseEventType { moved, leftDown, leftUp, leftDragged };

struct MouseEvent {
    MouseEventType type = MouseEventType::moved;
    Point location;
    std::uint64_t flags = 0;  // modifier keys held, as for keys
};

// Synthetic input. Posting returns false when the event could not be created or posted.
class Input {
public:
    virtual ~Input() = default;
    virtual bool postKeyToProcess(int processIdentifier, const KeyEvent& event) = 0;
    virtual bool postMouseToProcess(int processIdentifier, const MouseEvent& event) = 0;
    virtual bool postKeyAtHIDTap(const KeyEvent& event) = 0;
    virtual bool postMouseAtHIDTap(const MouseEvent& event) = 0;
    // The cursor location as read from a fresh source-less event; absent when none can be made.
    virtual std::optional<Point> cursorLocation() = 0;
    virtual void warpCursor(Point to) = 0;
};

}  // namespace corvane::platform
