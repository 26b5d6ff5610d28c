#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/geometry.h"

namespace corvane::platform {

// Result codes of Accessibility calls; the numbers are the ones Logic Pro's host system reports,
// since diagnostics print them.
enum class AXError : int {
    success = 0,
    failure = -25200,
    illegalArgument = -25201,
    invalidUIElement = -25202,
    cannotComplete = -25204,
    attributeUnsupported = -25205,
    actionUnsupported = -25206,
    notImplemented = -25208,
    apiDisabled = -25211,
    noValue = -25212,
};

inline int code(AXError e) { return static_cast<int>(e); }

class AXElement;

// A typed attribute value. Integers and reals are kept apart so that dumps keep integers integral.
using AXValue =
    std::variant<std::string, std::int64_t, double, bool, Point, Size, Rect, AXElement, std::vector<AXElement>>;

struct AXRead;
struct AXChildRead;

// What a backend (the real system or the stand-in) implements for one element.
class AXElementImpl {
public:
    virtual ~AXElementImpl() = default;
    virtual AXError copyAttributeValue(const std::string& attribute, AXValue& out) const = 0;
    // Several attributes in one round trip, answered in the order asked; each keeps its own error.
    // A backend without a batched read answers them one by one.
    virtual AXError copyMultipleAttributeValues(const std::vector<std::string>& attributes,
                                                std::vector<AXRead>& out) const;
    // AXChildren, then the given attributes of each child. The host has no call for this: it costs
    // one round trip for the list and one per child, so no backend may answer it cheaper.
    AXError copyChildrenWithAttributeValues(const std::vector<std::string>& attributes,
                                                    std::vector<AXChildRead>& out) const;
    virtual AXError setAttributeValue(const std::string& attribute, const AXValue& value) = 0;
    virtual AXError isAttributeSettable(const std::string& attribute, bool& out) const = 0;
    virtual AXError copyAttributeNames(std::vector<std::string>& out) const = 0;
    virtual AXError copyActionNames(std::vector<std::string>& out) const = 0;
    virtual AXError performAction(const std::string& action) = 0;
    virtual AXError processIdentifier(int& out) const = 0;
    // Two handles to the same on-screen element compare equal.
    virtual bool isSameElement(const AXElementImpl& other) const = 0;
    virtual std::size_t identityHash() const = 0;
};

// A handle to one Accessibility element. Cheap to copy; an empty handle is falsy.
class AXElement {
public:
    AXElement() = default;
    explicit AXElement(std::shared_ptr<AXElementImpl> impl) : impl_(std::move(impl)) {}

    explicit operator bool() const { return impl_ != nullptr; }
    AXElementImpl* impl() const { return impl_.get(); }

    AXError copyAttributeValue(const std::string& attribute, AXValue& out) const;
    AXError setAttributeValue(const std::string& attribute, const AXValue& value) const;
    AXError isAttributeSettable(const std::string& attribute, bool& out) const;
    AXError copyAttributeNames(std::vector<std::string>& out) const;
    AXError copyActionNames(std::vector<std::string>& out) const;
    AXError performAction(const std::string& action) const;
    AXError processIdentifier(int& out) const;

    // Typed reads: absent when the attribute cannot be read or holds another type.
    std::optional<std::string> string(const std::string& attribute) const;
    std::optional<double> number(const std::string& attribute) const;  // integers and reals alike
    std::optional<bool> boolean(const std::string& attribute) const;   // also 0/1 numbers
    std::optional<Point> point(const std::string& attribute) const;
    std::optional<Size> size(const std::string& attribute) const;
    std::optional<AXElement> element(const std::string& attribute) const;
    std::optional<std::vector<AXElement>> elements(const std::string& attribute) const;
    std::vector<AXElement> children() const;  // AXChildren, empty when unreadable

    // Within a read scope (see AXReadScope), fetch in one round trip the attributes not yet read
    // since the last change, so that the reads that follow are answered from the scope's cache.
    // Without a scope they do nothing.
    void prefetch(const std::vector<std::string>& attributes) const;
    void prefetchChildren(const std::vector<std::string>& attributes) const;  // AXChildren too

    // Whether this handle (not another to its element) was refused as stale within the current read
    // scope: the answers kept for its element may still answer it, which tell nothing of the handle.
    bool refusedAsStale() const;

    std::size_t hash() const { return impl_ ? impl_->identityHash() : 0; }
    friend bool operator==(const AXElement& a, const AXElement& b);

private:
    std::shared_ptr<AXElementImpl> impl_;
};

// One attribute as a batched read answered it.
struct AXRead {
    AXError error = AXError::noValue;
    AXValue value;
};

// An element's child with the attributes a batched read asked of it.
struct AXChildRead {
    AXElement element;
    std::vector<AXRead> values;  // in the order asked
};

struct AXElementHash {
    std::size_t operator()(const AXElement& e) const { return e.hash(); }
};

// Accessibility reads cost a round trip to the host application each. Within a read scope the
// answers are kept and read again for free until anything may have changed what the application
// shows: an action or write through AXElement, any synthetic input, workspace activation or
// AppleScript, and any pause on the platform clock all end them (see invalidateAccessibilityReads).
// A scope is opened per unit of work (one agent tool call) and is local to its thread; nothing is
// kept once the outermost scope closes, so no answer outlives the work it was read for.
class AXReadScope {
public:
    AXReadScope();
    ~AXReadScope();
    AXReadScope(const AXReadScope&) = delete;
    AXReadScope& operator=(const AXReadScope&) = delete;

    // Off: reads within scopes go to the host one by one, as without a scope (for comparisons).
    static void setEnabled(bool enabled);
    static bool enabled();
};

// Ends every scope's kept answers, on every thread. The platform layer calls it on each input,
// clock pause, AX action and write; code above it has no need to.
void invalidateAccessibilityReads();
// Counts a write or action that reached an application towards this thread's StoppablePauses.
void noteAccessibilityChange();

// Attribute and action names used across the program.
namespace ax {
inline constexpr const char* kRole = "AXRole";
inline constexpr const char* kSubrole = "AXSubrole";
inline constexpr const char* kRoleDescription = "AXRoleDescription";
inline constexpr const char* kDescription = "AXDescription";
inline constexpr const char* kTitle = "AXTitle";
inline constexpr const char* kHelp = "AXHelp";
inline constexpr const char* kIdentifier = "AXIdentifier";
inline constexpr const char* kValue = "AXValue";
inline constexpr const char* kValueDescription = "AXValueDescription";
inline constexpr const char* kMinValue = "AXMinValue";
inline constexpr const char* kMaxValue = "AXMaxValue";
inline constexpr const char* kEnabled = "AXEnabled";
inline constexpr const char* kFocused = "AXFocused";
inline constexpr const char* kSelected = "AXSelected";
inline constexpr const char* kParent = "AXParent";
inline constexpr const char* kChildren = "AXChildren";
inline constexpr const char* kPosition = "AXPosition";
inline constexpr const char* kSize = "AXSize";
inline constexpr const char* kWindows = "AXWindows";
inline constexpr const char* kMainWindow = "AXMainWindow";
inline constexpr const char* kFocusedWindow = "AXFocusedWindow";
inline constexpr const char* kFocusedUIElement = "AXFocusedUIElement";
inline constexpr const char* kPress = "AXPress";
inline constexpr const char* kShowMenu = "AXShowMenu";
inline constexpr const char* kRaise = "AXRaise";
inline constexpr const char* kIncrement = "AXIncrement";
inline constexpr const char* kDecrement = "AXDecrement";
inline constexpr const char* kCancel = "AXCancel";
}  // namespace ax

class Accessibility {
public:
    virtual ~Accessibility() = default;
    virtual AXElement applicationElement(int processIdentifier) = 0;
    virtual AXElement systemWideElement() = 0;
    // The trust check; with prompt=true the system asks the user once when not yet trusted.
    virtual bool isProcessTrusted(bool prompt) = 0;
};

}  // namespace corvane::platform
