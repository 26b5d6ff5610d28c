#include "support/iso8601.h"

#include <fmt/format.h>

#include <cstdio>
#include <ctime>

#include "platform/clock.h"
#include "platform/platform.h"

namespace corvane {

using namespace std::chrono;

ISO8601::TimePoint ISO8601::now() { return platform::clock().now(); }

namespace {
std::string format(ISO8601::TimePoint t, bool millis) {
    auto ms = time_point_cast<milliseconds>(t);
    auto secs = floor<seconds>(ms);
    int frac = static_cast<int>((ms - secs).count());
    std::time_t tt = system_clock::to_time_t(secs);
    std::tm tm{};
    gmtime_r(&tt, &tm);
    if (millis)
        return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}.{:03}Z", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                           tm.tm_hour, tm.tm_min, tm.tm_sec, frac);
    return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}Z", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                       tm.tm_min, tm.tm_sec);
}

bool digits(const std::string& s, size_t pos, size_t n, int& out) {
    if (pos + n > s.size()) return false;
    out = 0;
    for (size_t i = pos; i < pos + n; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        out = out * 10 + (s[i] - '0');
    }
    return true;
}
}  // namespace

std::string ISO8601::corvaneDefault(TimePoint t) { return format(t, true); }
std::string ISO8601::plainString(TimePoint t) { return format(t, false); }

std::optional<ISO8601::TimePoint> ISO8601::parse(const std::string& s) {
    int y, mo, d, h, mi, se;
    if (!digits(s, 0, 4, y) || s.size() < 20 || s[4] != '-' || !digits(s, 5, 2, mo) || s[7] != '-' ||
        !digits(s, 8, 2, d) || s[10] != 'T' || !digits(s, 11, 2, h) || s[13] != ':' || !digits(s, 14, 2, mi) ||
        s[16] != ':' || !digits(s, 17, 2, se))
        return std::nullopt;
    size_t pos = 19;
    long long nanos = 0;
    if (pos < s.size() && s[pos] == '.') {
        ++pos;
        size_t start = pos;
        long long scale = 100000000;
        while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
            nanos += (s[pos] - '0') * scale;
            scale /= 10;
            ++pos;
        }
        if (pos == start) return std::nullopt;
    }
    int offsetMinutes = 0;
    if (pos < s.size() && s[pos] == 'Z') {
        ++pos;
    } else if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) {
        int oh, om;
        int sign = s[pos] == '-' ? -1 : 1;
        if (!digits(s, pos + 1, 2, oh) || pos + 3 >= s.size() || s[pos + 3] != ':' || !digits(s, pos + 4, 2, om))
            return std::nullopt;
        offsetMinutes = sign * (oh * 60 + om);
        pos += 6;
    } else {
        return std::nullopt;
    }
    if (pos != s.size()) return std::nullopt;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || se > 60) return std::nullopt;
    year_month_day ymd{year{y}, month{static_cast<unsigned>(mo)}, day{static_cast<unsigned>(d)}};
    if (!ymd.ok()) return std::nullopt;
    auto tp = sys_days{ymd} + hours{h} + minutes{mi} + seconds{se} + nanoseconds{nanos} - minutes{offsetMinutes};
    return time_point_cast<system_clock::duration>(tp);
}

}  // namespace corvane
