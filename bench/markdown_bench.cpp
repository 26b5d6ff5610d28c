// Parses a 1 MB (and a 4 MB) assistant message into blocks and inline runs and prints the time
// beside a plain line split of the same text, both warm and measured alternately in the same run.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "transcript/markdown.h"

namespace {

using Clock = std::chrono::steady_clock;

double milliseconds(const std::function<void()>& work) {
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Spread {
    double median = 0, low = 0, high = 0;
};
Spread spreadOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return {values[values.size() / 2], values.front(), values.back()};
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
    // CORVANE_BENCH_BRIEF set: a short reply, two rounds: only that the bench still runs.
    const bool brief = std::getenv("CORVANE_BENCH_BRIEF") != nullptr;
    const int kRounds = brief ? 2 : 7;
    size_t sink = 0;
    // The 4 MB figures show the cost growing with the length, not with its square.
    for (size_t bytes : brief ? std::vector<size_t>{50'000} : std::vector<size_t>{1'000'000, 4'000'000}) {
        const std::string text = reply(bytes);
        const auto parsed = corvane::MessageMarkdown::parseBlocks(corvane::ConversationRole::assistant, text);
        const auto split = [&] { sink += splitLines(text); };
        const auto blocks = [&] {
            sink += corvane::MessageMarkdown::parseBlocks(corvane::ConversationRole::assistant, text).size();
        };
        const auto runs = [&] {
            for (const auto& block : parsed) sink += corvane::MessageMarkdown::renderMarkdownText(block.text).size();
        };
        // Warm both sides first, then alternate them, so neither pays for cold caches or pages.
        split();
        blocks();
        runs();
        std::vector<double> splitTimes, blockTimes, runTimes, blockRatios;
        for (int round = 0; round < kRounds; ++round) {
            splitTimes.push_back(milliseconds(split));
            blockTimes.push_back(milliseconds(blocks));
            runTimes.push_back(milliseconds(runs));
            blockRatios.push_back(blockTimes.back() / splitTimes.back());
        }
        const Spread s = spreadOf(splitTimes), b = spreadOf(blockTimes), r = spreadOf(runTimes),
                     ratio = spreadOf(blockRatios);
        std::printf("markdown of %zu bytes, %zu blocks (median of %d warm rounds, low-high)\n", text.size(),
                    parsed.size(), kRounds);
        std::printf("  baseline line split:       %8.2f ms (%.2f-%.2f)\n", s.median, s.low, s.high);
        std::printf("  blocks (parseBlocks):      %8.2f ms (%.2f-%.2f): %.1fx the split (%.1f-%.1fx)\n", b.median,
                    b.low, b.high, ratio.median, ratio.low, ratio.high);
        std::printf("  inline runs of all blocks: %8.2f ms (%.2f-%.2f)\n", r.median, r.low, r.high);
    }
    std::printf("(checksum %zu)\n", sink);
    return 0;
}
