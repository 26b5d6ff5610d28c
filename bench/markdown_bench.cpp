// Parses a 1 MB assistant message into blocks and inline runs and prints the time beside a
// plain line split of the same text, measured in the same run.
#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "transcript/markdown.h"

namespace {

using Clock = std::chrono::steady_clock;

template <class F>
double bestMilliseconds(int runs, F&& work) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        work();
        best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return best;
}

size_t splitLines(std::string_view text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines.size();
}

}  // namespace

// A reply of about `bytes` bytes holding every line kind.
std::string reply(size_t bytes) {
    std::string text;
    while (text.size() < bytes)
        text +=
            "## Mix notes\n- The kick sits at **-9 LUFS**, a little hot\n1. Pull `Channel EQ` down by 2 dB\n\n"
            "```\ngain -2.0\n```\nThe bass and the kick share the 60-120 Hz range [NOTE: from the last listen].\n"
            "[visual:freq_compare tracks=\"Kick, Bass\" range=\"60-120\"]\n";
    return text;
}

int main() {
    constexpr int kRuns = 5;
    size_t sink = 0;
    // The 4 MB figures show the cost growing with the length, not with its square.
    for (size_t bytes : {size_t{1'000'000}, size_t{4'000'000}}) {
        const std::string text = reply(bytes);
        const double split = bestMilliseconds(kRuns, [&] { sink += splitLines(text); });
        const double blocks = bestMilliseconds(kRuns, [&] {
            sink += corvane::MessageMarkdown::parseBlocks(corvane::ConversationRole::assistant, text).size();
        });
        const auto parsed = corvane::MessageMarkdown::parseBlocks(corvane::ConversationRole::assistant, text);
        const double runs = bestMilliseconds(kRuns, [&] {
            for (const auto& block : parsed) sink += corvane::MessageMarkdown::renderMarkdownText(block.text).size();
        });
        std::printf("markdown of %zu bytes, %zu blocks (best of %d)\n", text.size(), parsed.size(), kRuns);
        std::printf("  baseline line split:       %8.2f ms\n", split);
        std::printf("  blocks (parseBlocks):      %8.2f ms  (%.1fx the split)\n", blocks, blocks / split);
        std::printf("  inline runs of all blocks: %8.2f ms\n", runs);
    }
    std::printf("(checksum %zu)\n", sink);
    return 0;
}
