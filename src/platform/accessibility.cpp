#include "platform/accessibility.h"

#include <algorithm>
#include <atomic>
#include <unordered_map>

namespace corvane::platform {

namespace {
template <class F>
AXError withImpl(const std::shared_ptr<AXElementImpl>& impl, F&& f) {
    if (!impl) return AXError::invalidUIElement;
    return f(*impl);
}

std::atomic<std::uint64_t> gGeneration{1};
std::atomic<bool> gCacheEnabled{true};

using Answers = std::unordered_map<std::string, AXRead>;

// The answers kept by this thread's read scopes, for one generation.
struct ReadCache {
    int depth = 0;
    std::uint64_t generation = 0;
    std::unordered_map<AXElement, Answers, AXElementHash> answers;
    // A handle refused as stale says nothing of the element: other handles to it may still be
    // answered. Its refusals are kept for that handle alone (held, so that its address stays its own).
    struct Refused {
        AXElement handle;
        Answers answers;
    };
    std::unordered_map<const AXElementImpl*, Refused> refused;

    // The kept answers, emptied first when anything changed since they were read; null outside
    // a scope.
    std::unordered_map<AXElement, Answers, AXElementHash>* current() {
        if (depth == 0 || !gCacheEnabled.load()) return nullptr;
        const auto now = gGeneration.load();
        if (now != generation) {
            answers.clear();
            refused.clear();
            generation = now;
        }
        return &answers;
    }

    const AXRead* find(const AXElement& element, const std::string& attribute) {
        auto* kept = current();
        if (!kept) return nullptr;
        if (auto r = refused.find(element.impl()); r != refused.end())
            if (auto a = r->second.answers.find(attribute); a != r->second.answers.end()) return &a->second;
        auto e = kept->find(element);
        if (e == kept->end()) return nullptr;
        auto a = e->second.find(attribute);
        return a == e->second.end() ? nullptr : &a->second;
    }

    // Keeps an answer read in `readIn`, unless something changed while it was being read.
    void keep(std::uint64_t readIn, const AXElement& element, const std::string& attribute, AXRead read) {
        auto* kept = current();
        if (!kept || generation != readIn) return;
        if (read.error == AXError::invalidUIElement) {
            auto& r = refused[element.impl()];
            r.handle = element;
            r.answers[attribute] = std::move(read);
            return;
        }
        (*kept)[element][attribute] = std::move(read);
    }
};

thread_local ReadCache tCache;

}  // namespace

AXReadScope::AXReadScope() { ++tCache.depth; }

AXReadScope::~AXReadScope() {
    if (--tCache.depth == 0) {
        tCache.answers.clear();
        tCache.refused.clear();
    }
}

void AXReadScope::setEnabled(bool enabled) {
    gCacheEnabled = enabled;
    invalidateAccessibilityReads();
}

bool AXReadScope::enabled() { return gCacheEnabled.load(); }

void invalidateAccessibilityReads() { ++gGeneration; }

AXError AXElementImpl::copyMultipleAttributeValues(const std::vector<std::string>& attributes,
                                                   std::vector<AXRead>& out) const {
    out.clear();
    for (const auto& attribute : attributes) {
        AXRead read;
        read.error = copyAttributeValue(attribute, read.value);
        out.push_back(std::move(read));
    }
    return AXError::success;
}

AXError AXElementImpl::copyChildrenWithAttributeValues(const std::vector<std::string>& attributes,
                                                       std::vector<AXChildRead>& out) const {
    out.clear();
    AXValue children;
    const AXError error = copyAttributeValue(ax::kChildren, children);
    if (error != AXError::success) return error;
    auto* list = std::get_if<std::vector<AXElement>>(&children);
    if (!list) return AXError::failure;
    for (auto& child : *list) {
        AXChildRead read{child, {}};
        if (child) child.impl()->copyMultipleAttributeValues(attributes, read.values);
        out.push_back(std::move(read));
    }
    return AXError::success;
}

AXError AXElement::copyAttributeValue(const std::string& attribute, AXValue& out) const {
    if (!impl_) return AXError::invalidUIElement;
    if (const AXRead* kept = tCache.find(*this, attribute)) {
        if (kept->error == AXError::success) out = kept->value;
        return kept->error;
    }
    const auto readIn = tCache.generation;
    AXRead read;
    read.error = impl_->copyAttributeValue(attribute, read.value);
    if (read.error == AXError::success) out = read.value;
    const AXError error = read.error;
    tCache.keep(readIn, *this, attribute, std::move(read));
    return error;
}

bool AXElement::refusedAsStale() const {
    if (!impl_) return true;
    return tCache.current() && tCache.refused.count(impl_.get()) > 0;
}

void AXElement::prefetch(const std::vector<std::string>& attributes) const {
    if (!impl_ || !tCache.current()) return;
    std::vector<std::string> missing;
    for (const auto& attribute : attributes)
        if (!tCache.find(*this, attribute)) missing.push_back(attribute);
    if (missing.empty()) return;
    const auto readIn = tCache.generation;
    std::vector<AXRead> reads;
    const AXError error = impl_->copyMultipleAttributeValues(missing, reads);
    for (std::size_t i = 0; i < missing.size(); ++i) {
        // A batch refused as a whole is the answer each read alone would have had.
        if (error != AXError::success || i >= reads.size())
            tCache.keep(readIn, *this, missing[i], AXRead{error == AXError::success ? AXError::failure : error, {}});
        else
            tCache.keep(readIn, *this, missing[i], std::move(reads[i]));
    }
}

void AXElement::prefetchChildren(const std::vector<std::string>& attributes) const {
    if (!impl_ || !tCache.current()) return;
    // The list read already (with the element's own attributes, say) is not read again, and a child
    // is asked only what it has not answered yet: each read of a child is a round trip of its own.
    const AXRead* kept = tCache.find(*this, ax::kChildren);
    if (!kept) {
        const auto readIn = tCache.generation;
        AXRead read;
        read.error = impl_->copyAttributeValue(ax::kChildren, read.value);
        tCache.keep(readIn, *this, ax::kChildren, std::move(read));
        kept = tCache.find(*this, ax::kChildren);
        if (!kept) return;  // something changed while it was read
    }
    if (kept->error != AXError::success) return;
    const auto* list = std::get_if<std::vector<AXElement>>(&kept->value);
    if (!list) return;
    const std::vector<AXElement> children = *list;
    for (const auto& child : children)
        if (child) child.prefetch(attributes);
}

AXError AXElement::setAttributeValue(const std::string& attribute, const AXValue& value) const {
    const AXError error = withImpl(impl_, [&](AXElementImpl& i) { return i.setAttributeValue(attribute, value); });
    if (error == AXError::success) noteAccessibilityChange();
    invalidateAccessibilityReads();
    return error;
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
    const AXError error = withImpl(impl_, [&](AXElementImpl& i) { return i.performAction(action); });
    if (error == AXError::success) noteAccessibilityChange();
    invalidateAccessibilityReads();
    return error;
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
