// Send knobs: AXValue writes of raw values (0…2130706432). The knob only rests on its detents; how far a
// write moves it is the sendWrites knob. Every write, even an ignored one, makes the send the last
// touched, which switches the Inspector's second strip to the send's aux.

#include <algorithm>
#include <cmath>

#include "platform/standin/engine.h"
#include "platform/standin/taper.h"

namespace corvane::standin::detail {

using platform::AXError;

AXError Engine::writeSendKnob(int nodeIndex, double raw) {
    const Binding b = tree[nodeIndex].bind;
    Track* track = project.trackById(b.track);
    if (!track || b.index < 0 || b.index >= int(track->strip.sends.size())) return AXError::invalidUIElement;
    Send& send = track->strip.sends[static_cast<std::size_t>(b.index)];
    const double clamped = std::clamp(raw, 0.0, double(taper::kSendMaxRaw));
    const int wanted = taper::sendDetentForRaw(std::llround(clamped));
    switch (faults.sendWrites) {
        case SendWrites::step:
            if (wanted > send.detent)
                ++send.detent;
            else if (wanted < send.detent)
                --send.detent;
            break;
        case SendWrites::absolute: send.detent = wanted; break;
        case SendWrites::ignore: break;
    }
    lastTouchedSend = UiState::TouchedSend{track->id, send.bus};
    changed();
    return AXError::success;
}

}  // namespace corvane::standin::detail
