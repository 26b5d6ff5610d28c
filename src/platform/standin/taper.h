#pragma once

// Logic's fader taper and send ladder, as the simulated channel strip shows them.

#include <string>

namespace corvane::standin::taper {

inline constexpr int kMaxRaw = 255;

// Level in dB of a raw fader value; minus infinity at raw 0. Raw values are clamped to 0..255.
double level(int raw);
// The raw value whose level is nearest to the given one (ties go up); minus infinity gives 0.
int rawFor(double levelDb);
// "-6.0 dB", "0.0 dB", "-∞ dB"; the plain form drops " dB".
std::string levelText(int raw, bool plain = false);

// The send knob's detents: -inf, -60, -50, -40, -35, -30, -27, -24, -21, -18, then every 0.5 dB to +6.0.
inline constexpr int kSendDetents = 58;
inline constexpr long long kSendMaxRaw = 2130706432;
double sendDetentDb(int detent);         // minus infinity at detent 0
long long sendDetentRaw(int detent);     // round(detent * 2130706432 / 57)
std::string sendDetentText(int detent);  // "-12.5", "0.0", "-∞"
int nearestSendDetent(double levelDb);   // minus infinity gives 0
int sendDetentForRaw(long long raw);     // nearest detent to a raw knob value

}  // namespace corvane::standin::taper
