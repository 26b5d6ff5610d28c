// Times the parsers that run on the UI thread over stored messages: a visual tag of many
// parameters, the same tag through the regex engine's match list, and a message of such lines
// through the markdown parser. Each figure is printed as a ratio to a baseline doing a plain
// scan of the same text in the same run (these machines are shared), with the spread over the
// rounds. Two sizes show whether the cost grows with the length or with its square.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "diagrams/visual_tag.h"
#include "support/regex.h"
#include "transcript/markdown.h"

namespace {

using Clock = std::chrono::steady_clock;
// CORVANE_BENCH_BRIEF set: short lines, two rounds: only that the bench still runs.
const bool kBrief = std::getenv("CORVANE_BENCH_BRIEF") != nullptr;
const int kRounds = kBrief ? 2 : 5;

size_t sink = 0;

template <class F>
double milliseconds(F&& work) {
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The baseline: one pass over the text that touches every byte (counts quotes and spaces).
size_t scan(std::string_view text) {
    size_t count = 0;
    for (char c : text) count += c == '"' || c == ' ';
    return count;
}

// `distinct`: every key its own ("p0", "p1", …); otherwise one key over and over, the shape of
// the stored message that froze the window (64,000 parameters in about 320 KB).
std::string tagLine(int parameters, bool distinct) {
    std::string line = "[visual:freq_compare";
    for (int i = 0; i < parameters; ++i)
        line += (distinct ? " p" + std::to_string(i) : std::string(" k")) + "=\"" + std::to_string(i % 10) + "\"";
    return line + "]";
}

struct Figures {
    double baseline = 0;         // ms, median
    double work = 0;             // ms, median
    std::vector<double> ratios;  // per round
};

// Per round: the baseline, then the work; the ratio of the two in that round.
template <class Work>
Figures measure(std::string_view text, Work&& work) {
    Figures figures;
    std::vector<double> baselines;
    std::vector<double> works;
    for (int round = 0; round < kRounds; ++round) {
        const double base = milliseconds([&] { sink += scan(text); });
        const double took = milliseconds(work);
        baselines.push_back(base);
        works.push_back(took);
        figures.ratios.push_back(took / std::max(base, 1e-6));
    }
    std::sort(baselines.begin(), baselines.end());
    std::sort(works.begin(), works.end());
    figures.baseline = baselines[baselines.size() / 2];
    figures.work = works[works.size() / 2];
    std::sort(figures.ratios.begin(), figures.ratios.end());
    return figures;
}

void print(const char* what, size_t bytes, const Figures& f) {
    std::printf("  %-36s %8zu B  %7.1fx  (min %.1fx, max %.1fx; %.2f ms, scan %.3f ms)\n", what, bytes,
                f.ratios[f.ratios.size() / 2], f.ratios.front(), f.ratios.back(), f.work, f.baseline);
}

}  // namespace

int main() {
    using namespace corvane;
    const Regex parameter(VisualTagParser::paramPattern);
    std::printf("parser time as a ratio to a byte scan of the same text, median of %d rounds (spread)\n", kRounds);
    for (int parameters : kBrief ? std::vector<int>{1'000} : std::vector<int>{16'000, 64'000}) {
        const std::string repeated = tagLine(parameters, false);
        print("visual tag, one key (VisualTagParser)", repeated.size(),
              measure(repeated, [&] { sink += VisualTagParser::parse(repeated)->params.size(); }));
        const std::string line = tagLine(parameters, true);
        print("visual tag, distinct keys", line.size(),
              measure(line, [&] { sink += VisualTagParser::parse(line)->params.size(); }));
        print("parameter matches (Regex)", line.size(),
              measure(line, [&] { sink += parameter.allMatches(line).size(); }));
        std::string message;
        for (int i = 0; i < 4; ++i) message += "Here is the comparison:\n" + line + "\n";
        print("message of 4 such lines (markdown)", message.size(), measure(message, [&] {
                  sink += MessageMarkdown::parseBlocks(ConversationRole::assistant, message).size();
              }));
    }
    std::printf("(checksum %zu)\n", sink);
    return 0;
}
