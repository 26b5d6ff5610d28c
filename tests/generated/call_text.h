#pragma once

// Reading names and answers as the generated check compares them: names told apart whole,
// trimmed and in any case, as Logic Pro's headers read them.

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "generated/project_state.h"
#include "platform/standin/model.h"

namespace corvane::generated {

struct GeneratedCall;

std::string lower(std::string s);
std::string trimmed(const std::string& s);
bool mentions(const std::string& text, const std::string& part);
// Whether the answer's "Failed" part names the track asked by `name`, in quotes: as asked or as
// Logic Pro shows it, in another case.
bool toldFailed(const std::string& answer, const std::string& name);
// Whether `text` names `name` whole: no letter or digit against either end, and not within a
// longer name of `names` standing at the same place ("Kick" is not named by "Kick 2").
bool namesWhole(const std::string& text, const std::string& name, const std::vector<std::string>& names);
// The answer's sentences (and the items of its lists).
std::vector<std::string> sentencesOf(const std::string& text);
// Whether one sentence of the answer names the track whole and says one of the words.
bool namedWith(const std::string& text, const std::string& name, const std::vector<std::string>& words,
               const std::vector<std::string>& names);
// The tracks bearing a name, trimmed and in any case.
std::vector<int> idsNamed(const standin::Project& p, const std::string& name);
// Those a tool that selects its track reaches: in the track list, shown or inside a collapsed
// folder; a track hidden from the list is out of its sight.
std::vector<int> listedIdsNamed(const standin::Project& p, const std::string& name);
// The track names a call addresses as its targets (the side chain's source is not one).
std::vector<std::string> targetNames(const GeneratedCall& c);
// Whether the track is in the track list, shown or inside a collapsed folder.
bool inList(const standin::Project& p, int id);
std::optional<double> numberIn(const nlohmann::json& v);
// An absolute level in dB asked of the fader ("-6 dB"), if that is what the value is.
std::optional<double> absoluteDb(const nlohmann::json& v);
const nlohmann::json* trackIn(const ProjectState& s, int id);
const nlohmann::json* slotIn(const nlohmann::json& track, int uid);

// A stated number against a shown one, each as exact as its text: "500.0" and "500" agree, as do
// "-12.3" and "-12.25". `shownDecimals` absent: the shown value is exact (a raw value, a level
// computed from one). The two agree within half a step of the coarser text: "-31.1" does not pass
// for "-31.2 dB".
int decimalsOf(const std::string& number);
bool sameNumber(const std::string& stated, double shown, std::optional<int> shownDecimals = std::nullopt);
// The leading number of a value's text ("-12.0 dB" -> "-12.0", "40%" -> "40").
std::string numberPart(const std::string& text);

}  // namespace corvane::generated
