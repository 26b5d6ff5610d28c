#include "chat/chat_response_composer.h"

#include <algorithm>
#include <string_view>

#include "support/unicode.h"

namespace corvane {
namespace {

bool containsAny(const std::string& text, std::initializer_list<const char*> needles) {
    return std::any_of(needles.begin(), needles.end(),
                       [&](const char* needle) { return text.find(needle) != std::string::npos; });
}

// A refusal of the sign-in itself: the backend's own words, or its status 401 as the client
// words it ("HTTP 401: …"). A bare "401" also turns up in port numbers and times of network
// errors ("port 61401", "after 1401 ms"), which are no reason to sign out.
bool refusesTheSignIn(const std::string& description) {
    if (containsAny(description, {"not authenticated"})) return true;
    constexpr std::string_view status = "http 401";
    for (auto at = description.find(status); at != std::string::npos; at = description.find(status, at + 1)) {
        const auto after = at + status.size();
        if (after == description.size() || description[after] < '0' || description[after] > '9') return true;
    }
    return false;
}

}  // namespace

std::string ChatResponseComposer::makeActivitySummary(const std::vector<ToolExecution>& toolsUsed) {
    const bool anyFailed =
        std::any_of(toolsUsed.begin(), toolsUsed.end(), [](const ToolExecution& e) { return !e.succeeded; });
    return anyFailed ? "Ran tools with partial failures; composed a fallback reply." : "Composed a reply.";
}

std::string ChatResponseComposer::makeFallbackAssistantReply(const std::vector<ToolExecution>&,
                                                             const std::string& errorDescription) {
    const std::string description = text::lowercased(errorDescription);
    if (containsAny(description, {"round limit"})) {
        return "Got stuck working through that one. Try giving me a more specific move \u2014 for example, \"drop the "
               "high shelf on the snare by 3 dB\" instead of \"fix the snare\" \u2014 and I'll make that single "
               "change.";
    }
    if (containsAny(description, {"cancelled"})) return "Stopped that one.";
    if (containsAny(description, {"sign-in service is busy"})) {
        return "The sign-in service is busy right now. Try that again in a moment.";
    }
    if (containsAny(description, {"sign-in service could not be reached"})) {
        return "I couldn't reach the sign-in service just now. Try that again in a moment.";
    }
    if (containsAny(description, {"sign-in service did not answer"})) {
        return "The sign-in service didn't answer just now. Try that again in a moment.";
    }
    if (containsAny(description, {"sign-in service refused the app's key"})) {
        return "The sign-in service refused this app's key. Check CORVANE_BACKEND_APIKEY and try again.";
    }
    if (containsAny(description, {"chat service is busy"})) {
        return "The chat service is busy right now. Try that again in a moment.";
    }
    if (containsAny(description, {"no one is signed in"})) {
        return "No one is signed in. Sign in with Corvane's window and I'll be ready.";
    }
    // The sign-in has ended here (signed out, or revoked by a copy that signed out): the window
    // shows the sign-in form, where signing out cannot be done.
    if (containsAny(description, {"please sign in again"})) {
        return "I lost my sign-in. Sign in again and I'll be ready.";
    }
    if (refusesTheSignIn(description)) {
        return "I lost my sign-in. Sign out and back in from the menu and I'll be ready.";
    }
    if (containsAny(description, {"tls", "secure connection", "network"})) {
        return "Network hiccup on my end. Try that again in a second.";
    }
    return "Something went wrong on my side. Try that again, or rephrase what you want \u2014 happy to take another "
           "pass.";
}

}  // namespace corvane
