#include "platform/accessibility.h"

namespace corvane::platform {

namespace {
template <class F>
AXError withImpl(const std::shared_ptr<AXElementImpl>& impl, F&& f) {
    if (!impl) return AXError::invalidUIElement;
    return f(*impl);
}
}  // namespace

AXError AXElement::copyAttributeValue(const std::string& attribute, AXValue& out) const {
    return withImpl(impl_, [&](AXElementImpl& i) { return i.copyAttributeValue(attribute, out); });
}
AXError AXElement::setAttributeValue(const std::string& attribute, const AXValue& value) const {
    return withImpl(impl_, [&](AXElementImpl& i) { return i.setAttributeValue(attribute, value); });
}
AXError AXElement::isAttributeSettable(const std::string& attribute, bool& out) const {
    return withImpl(impl_, [&](AXElementImpl& i) { return i.isAttributeSettable(attribute, out); });
}
AXError AXElement::copyAttributeNames(std::vector<std::string>& out) const {
    return withImpl(impl_, [&](AXElementImpl& i) { return i.copyAttributeNames(out); });
}
AXError AXElement::copyActionNames(std::vector<std::string>& out) const {
    return withImpl(impl_, [&](AXElementImpl& i) { return i.copyActionNames(out); });
}
AXError AXElement::performAction(const std::string& action) const {
    return withImpl(impl_, [&](AXElementImpl& i) { return i.performAction(action); });
}
AXError AXElement::processIdentifier(int& out) const {
    return withImpl(impl_, [&](AXElementImpl& i) { return i.processIdentifier(out); });
}

namespace {
template <class T>
std::optional<T> typed(const AXElement& e, const std::string& attribute) {
    AXValue v;
    if (e.copyAttributeValue(attribute, v) != AXError::success) return std::nullopt;
    if (auto* p = std::get_if<T>(&v)) return *p;
    return std::nullopt;
}
}  // namespace

std::optional<std::string> AXElement::string(const std::string& attribute) const {
    return typed<std::string>(*this, attribute);
}

std::optional<double> AXElement::number(const std::string& attribute) const {
    AXValue v;
    if (copyAttributeValue(attribute, v) != AXError::success) return std::nullopt;
    if (auto* i = std::get_if<std::int64_t>(&v)) return static_cast<double>(*i);
    if (auto* d = std::get_if<double>(&v)) return *d;
    return std::nullopt;
}

std::optional<bool> AXElement::boolean(const std::string& attribute) const {
    AXValue v;
    if (copyAttributeValue(attribute, v) != AXError::success) return std::nullopt;
    if (auto* b = std::get_if<bool>(&v)) return *b;
    if (auto* i = std::get_if<std::int64_t>(&v)) return *i != 0;
    if (auto* d = std::get_if<double>(&v)) return *d != 0;
    return std::nullopt;
}

std::optional<Point> AXElement::point(const std::string& attribute) const { return typed<Point>(*this, attribute); }
std::optional<Size> AXElement::size(const std::string& attribute) const { return typed<Size>(*this, attribute); }
std::optional<AXElement> AXElement::element(const std::string& attribute) const {
    auto e = typed<AXElement>(*this, attribute);
    if (e && !*e) return std::nullopt;
    return e;
}
std::optional<std::vector<AXElement>> AXElement::elements(const std::string& attribute) const {
    return typed<std::vector<AXElement>>(*this, attribute);
}
std::vector<AXElement> AXElement::children() const {
    return elements(ax::kChildren).value_or(std::vector<AXElement>{});
}

bool operator==(const AXElement& a, const AXElement& b) {
    if (!a.impl_ || !b.impl_) return a.impl_ == b.impl_;
    return a.impl_ == b.impl_ || a.impl_->isSameElement(*b.impl_);
}

}  // namespace corvane::platform
