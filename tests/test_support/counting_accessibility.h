#pragma once

// An Accessibility backend wrapper that counts the round trips made through it: every call that
// reaches the wrapped backend. Several attributes of one element read together are one, as the host
// answers them in one call; a list of children with attributes of each is the list and one per child,
// which is what the host costs for it.

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/accessibility.h"

namespace corvane::testing {

// Counts every call made through it into Logic Pro, and hands out counting elements for the
// elements it answers. It calls the wrapped backend directly, past any kept answer.
class CountingElement final : public platform::AXElementImpl {
public:
    CountingElement(platform::AXElement inner, std::atomic<long>& calls) : inner_(std::move(inner)), calls_(calls) {}

    // While set, each round trip is also told to it, with what it asked and of which element: the
    // trace a bench prints to show what each round trip of a call is for.
    using Tracer = std::function<void(const std::string& what, const platform::AXElement& of)>;
    static Tracer& tracer() {
        static Tracer t;
        return t;
    }

    static platform::AXElement wrap(const platform::AXElement& e, std::atomic<long>& calls) {
        return e ? platform::AXElement(std::make_shared<CountingElement>(e, calls)) : e;
    }

    platform::AXError copyAttributeValue(const std::string& attribute, platform::AXValue& out) const override {
        ++calls_;
        trace("read " + attribute);
        auto error = inner().copyAttributeValue(attribute, out);
        wrapValue(out);
        return error;
    }
    platform::AXError copyMultipleAttributeValues(const std::vector<std::string>& attributes,
                                                  std::vector<platform::AXRead>& out) const override {
        ++calls_;
        trace("read " + joined(attributes));
        auto error = inner().copyMultipleAttributeValues(attributes, out);
        for (auto& read : out) wrapValue(read.value);
        return error;
    }
    platform::AXError setAttributeValue(const std::string& attribute, const platform::AXValue& value) override {
        ++calls_;
        trace("write " + attribute);
        return inner().setAttributeValue(attribute, value);
    }
    platform::AXError isAttributeSettable(const std::string& attribute, bool& out) const override {
        ++calls_;
        trace("settable " + attribute);
        return inner().isAttributeSettable(attribute, out);
    }
    platform::AXError copyAttributeNames(std::vector<std::string>& out) const override {
        ++calls_;
        trace(std::string("attribute names"));
        return inner().copyAttributeNames(out);
    }
    platform::AXError copyActionNames(std::vector<std::string>& out) const override {
        ++calls_;
        trace(std::string("action names"));
        return inner().copyActionNames(out);
    }
    platform::AXError performAction(const std::string& action) override {
        ++calls_;
        trace("action " + action);
        return inner().performAction(action);
    }
    platform::AXError processIdentifier(int& out) const override {
        ++calls_;
        trace(std::string("process id"));
        return inner().processIdentifier(out);
    }
    bool isSameElement(const platform::AXElementImpl& other) const override {
        auto* counted = dynamic_cast<const CountingElement*>(&other);
        return inner().isSameElement(counted ? counted->inner() : other);
    }
    std::size_t identityHash() const override { return inner().identityHash(); }

private:
    platform::AXElementImpl& inner() const { return *inner_.impl(); }
    void trace(const std::string& what) const {
        if (tracer()) tracer()(what, inner_);
    }
    static std::string joined(const std::vector<std::string>& names) {
        std::string all;
        for (const auto& n : names) all += (all.empty() ? "" : ",") + n;
        return all;
    }
    void wrapValue(platform::AXValue& value) const {
        if (auto* element = std::get_if<platform::AXElement>(&value)) *element = wrap(*element, calls_);
        if (auto* list = std::get_if<std::vector<platform::AXElement>>(&value))
            for (auto& element : *list) element = wrap(element, calls_);
    }

    platform::AXElement inner_;
    std::atomic<long>& calls_;
};

class CountingAccessibility final : public platform::Accessibility {
public:
    CountingAccessibility(platform::Accessibility& inner, std::atomic<long>& calls) : inner_(inner), calls_(calls) {}
    platform::AXElement applicationElement(int pid) override {
        ++calls_;
        return CountingElement::wrap(inner_.applicationElement(pid), calls_);
    }
    platform::AXElement systemWideElement() override {
        ++calls_;
        return CountingElement::wrap(inner_.systemWideElement(), calls_);
    }
    bool isProcessTrusted(bool prompt) override { return inner_.isProcessTrusted(prompt); }

private:
    platform::Accessibility& inner_;
    std::atomic<long>& calls_;
};

}  // namespace corvane::testing
