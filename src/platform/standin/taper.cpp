#include "platform/standin/taper.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include <fmt/format.h>

namespace corvane::standin::taper {

namespace {

struct Knee {
    int raw;
    double db;
};
// Linear between these points, so the steps are 0.2 dB from raw 125 upward.
constexpr std::array<Knee, 5> kKnees{{{1, -96.0}, {45, -60.0}, {125, -20.0}, {225, 0.0}, {255, 6.0}}};

std::string oneDecimal(double v) {
    double rounded = std::round(v * 10.0) / 10.0;
    if (rounded == 0.0) rounded = 0.0;  // never "-0.0"
    return fmt::format("{:.1f}", rounded);
}

}  // namespace

double level(int raw) {
    raw = std::clamp(raw, 0, kMaxRaw);
    if (raw == 0) return -std::numeric_limits<double>::infinity();
    for (std::size_t i = 1; i < kKnees.size(); ++i) {
        const Knee& a = kKnees[i - 1];
        const Knee& b = kKnees[i];
        if (raw <= b.raw) return a.db + (b.db - a.db) * (raw - a.raw) / double(b.raw - a.raw);
    }
    return kKnees.back().db;
}

int rawFor(double levelDb) {
    if (std::isnan(levelDb) || levelDb == -std::numeric_limits<double>::infinity()) return 0;
    int best = 1;
    double bestDistance = std::numeric_limits<double>::infinity();
    for (int raw = 1; raw <= kMaxRaw; ++raw) {
        double d = std::fabs(level(raw) - levelDb);
        if (d <= bestDistance) {
            best = raw;
            bestDistance = d;
        }
    }
    return best;
}

std::string levelText(int raw, bool plain) {
    std::string number = std::clamp(raw, 0, kMaxRaw) == 0 ? std::string("-\u221E") : oneDecimal(level(raw));
    return plain ? number : number + " dB";
}

double sendDetentDb(int detent) {
    static constexpr std::array<double, 9> kLow{-60, -50, -40, -35, -30, -27, -24, -21, -18};
    detent = std::clamp(detent, 0, kSendDetents - 1);
    if (detent == 0) return -std::numeric_limits<double>::infinity();
    if (detent <= 9) return kLow[static_cast<std::size_t>(detent - 1)];
    return -18.0 + 0.5 * (detent - 9);
}

long long sendDetentRaw(int detent) {
    detent = std::clamp(detent, 0, kSendDetents - 1);
    return std::llround(double(detent) * double(kSendMaxRaw) / double(kSendDetents - 1));
}

std::string sendDetentText(int detent) {
    if (std::clamp(detent, 0, kSendDetents - 1) == 0) return "-\u221E";
    return oneDecimal(sendDetentDb(detent));
}

int nearestSendDetent(double levelDb) {
    if (std::isnan(levelDb) || levelDb == -std::numeric_limits<double>::infinity()) return 0;
    int best = 1;
    double bestDistance = std::numeric_limits<double>::infinity();
    for (int d = 1; d < kSendDetents; ++d) {
        double distance = std::fabs(sendDetentDb(d) - levelDb);
        if (distance < bestDistance) {
            best = d;
            bestDistance = distance;
        }
    }
    return best;
}

int sendDetentForRaw(long long raw) {
    int best = 0;
    long long bestDistance = std::numeric_limits<long long>::max();
    for (int d = 0; d < kSendDetents; ++d) {
        long long distance = std::llabs(sendDetentRaw(d) - raw);
        if (distance < bestDistance) {
            best = d;
            bestDistance = distance;
        }
    }
    return best;
}

}  // namespace corvane::standin::taper
