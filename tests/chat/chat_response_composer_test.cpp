#include "chat/chat_response_composer.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

TEST(ChatResponseComposer, ActivitySummarySaysWhetherAnyToolFailed) {
    EXPECT_EQ(ChatResponseComposer::makeActivitySummary({}), "Composed a reply.");
    EXPECT_EQ(ChatResponseComposer::makeActivitySummary({{"a", "", true}, {"b", "", true}}), "Composed a reply.");
    EXPECT_EQ(ChatResponseComposer::makeActivitySummary({{"a", "", true}, {"b", "", false}, {"c", "", true}}),
              "Ran tools with partial failures; composed a fallback reply.");
}

TEST(ChatResponseComposer, FallbackReplyFollowsTheFirstMatchInOrder) {
    const std::string roundLimit =
        "Got stuck working through that one. Try giving me a more specific move \u2014 for example, \"drop the high "
        "shelf on the snare by 3 dB\" instead of \"fix the snare\" \u2014 and I'll make that single change.";
    const std::string stopped = "Stopped that one.";
    const std::string signIn = "I lost my sign-in. Sign out and back in from the menu and I'll be ready.";
    const std::string signInAgain = "I lost my sign-in. Sign in again and I'll be ready.";
    const std::string network = "Network hiccup on my end. Try that again in a second.";
    const std::string general =
        "Something went wrong on my side. Try that again, or rephrase what you want \u2014 happy to take another pass.";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"The agent loop reached its round limit before finishing.", roundLimit},
        {"Round Limit hit on the network", roundLimit},
        {"Network error: the request was cancelled", stopped},
        {"The operation was canceled.", general},
        {"OpenAI response could not be parsed: Not authenticated. Please sign in.", signIn},
        {"OpenAI response could not be parsed: HTTP 401: ", signIn},
        // The client's own words where the sign-in has ended: the window shows the sign-in form.
        {"Not authenticated: the sign-in has ended. Please sign in again.", signInAgain},
        {"Not authenticated. Please sign in again.", signInAgain},
        // Where no window is there to sign in with, it says where it is done; a busy backend is
        // no answer that could not be read.
        {"No one is signed in. Sign in with Corvane's window (scripts/run), which stores the session in /h/auth.json.",
         "No one is signed in. Sign in with Corvane's window and I'll be ready."},
        {"The chat service is busy. Try again in a moment.",
         "The chat service is busy right now. Try that again in a moment."},
        {"The sign-in service could not be reached. Try again in a moment.",
         "I couldn't reach the sign-in service just now. Try that again in a moment."},
        {"The sign-in service did not answer. Try again in a moment.",
         "The sign-in service didn't answer just now. Try that again in a moment."},
        {"The sign-in service refused the app's key. Check CORVANE_BACKEND_APIKEY and try again.",
         "The sign-in service refused this app's key. Check CORVANE_BACKEND_APIKEY and try again."},
        // A "401" in a port or a time is no refusal of the sign-in: the service is only down.
        {"Network error: Failed to connect to 127.0.0.1 port 61401 after 0 ms: Couldn't connect to server", network},
        {"Network error: Connection timed out after 1401 milliseconds", network},
        {"OpenAI response could not be parsed: HTTP 4010: ", general},
        {"An SSL error occurred and a secure connection to the server cannot be made.", network},
        {"Network error: Could not connect to server", network},
        {"TLS handshake failed", network},
        {"OpenAI response could not be parsed: HTTP 500: ", general},
    };
    for (const auto& [description, reply] : cases) {
        EXPECT_EQ(ChatResponseComposer::makeFallbackAssistantReply({{"x", "", false}}, description), reply)
            << description;
    }
}

}  // namespace
}  // namespace corvane
