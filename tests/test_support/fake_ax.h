#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/accessibility.h"

namespace corvane::testing {

// A hand-built Accessibility tree for search tests that need shapes no application shows
// (stray white space, odd roles, unreadable attributes).
class FakeElement : public platform::AXElementImpl, public std::enable_shared_from_this<FakeElement> {
public:
    static std::shared_ptr<FakeElement> make(std::string role, std::string description = {}) {
        auto e = std::make_shared<FakeElement>();
        e->attributes["AXRole"] = std::move(role);
        if (!description.empty()) e->attributes["AXDescription"] = std::move(description);
        return e;
    }

    std::shared_ptr<FakeElement> set(const std::string& name, platform::AXValue value) {
        attributes[name] = std::move(value);
        return shared_from_this();
    }
    std::shared_ptr<FakeElement> add(std::shared_ptr<FakeElement> child) {
        children.push_back(child);
        return shared_from_this();
    }
    platform::AXElement handle() { return platform::AXElement(shared_from_this()); }

    platform::AXError copyAttributeValue(const std::string& name, platform::AXValue& out) const override {
        ++reads;
        if (name == "AXChildren") {
            std::vector<platform::AXElement> list;
            for (auto& c : children) list.emplace_back(c);
            out = list;
            return platform::AXError::success;
        }
        auto it = attributes.find(name);
        if (it == attributes.end()) return platform::AXError::attributeUnsupported;
        out = it->second;
        return platform::AXError::success;
    }
    platform::AXError setAttributeValue(const std::string& name, const platform::AXValue& value) override {
        if (rejectWrites) return platform::AXError::attributeUnsupported;
        writes.push_back(value);
        if (writeTransform)
            attributes[name] = writeTransform(value);
        else
            attributes[name] = value;
        return platform::AXError::success;
    }
    platform::AXError isAttributeSettable(const std::string&, bool& out) const override {
        out = true;
        return platform::AXError::success;
    }
    platform::AXError copyAttributeNames(std::vector<std::string>& out) const override {
        for (auto& [k, v] : attributes) out.push_back(k);
        return platform::AXError::success;
    }
    platform::AXError copyActionNames(std::vector<std::string>& out) const override {
        out = actions;
        return platform::AXError::success;
    }
    platform::AXError performAction(const std::string& action) override {
        performed.push_back(action);
        return platform::AXError::success;
    }
    platform::AXError processIdentifier(int& out) const override {
        out = 4242;
        return platform::AXError::success;
    }
    bool isSameElement(const platform::AXElementImpl& other) const override { return &other == this; }
    std::size_t identityHash() const override { return reinterpret_cast<std::size_t>(this); }

    std::map<std::string, platform::AXValue> attributes;
    std::vector<std::shared_ptr<FakeElement>> children;
    std::vector<std::string> actions;
    std::vector<std::string> performed;
    std::vector<platform::AXValue> writes;
    std::function<platform::AXValue(const platform::AXValue&)> writeTransform;
    bool rejectWrites = false;
    mutable int reads = 0;
};

}  // namespace corvane::testing
