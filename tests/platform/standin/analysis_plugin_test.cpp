// The simulated analysis plug-in: what it posts, when, and how its knobs bend it. A small
// loopback receiver stands in for the companion's server and records every body it is sent.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>
#include <thread>

#include "platform/standin/standin_fixture.h"

namespace corvane::standin {
namespace {

using Json = nlohmann::json;

class Receiver {
public:
    Receiver() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd_, 64);
        socklen_t length = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &length);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~Receiver() {
        ::shutdown(fd_, SHUT_RDWR);
        thread_.join();
        ::close(fd_);
    }
    int port() const { return port_; }
    std::vector<std::string> bodies() const {
        std::lock_guard lock(mutex_);
        return bodies_;
    }
    std::vector<std::string> heads() const {
        std::lock_guard lock(mutex_);
        return heads_;
    }

private:
    void serve() {
        for (;;) {
            const int c = ::accept(fd_, nullptr, nullptr);
            if (c < 0) return;
            std::string got;
            char buffer[4096];
            std::size_t need = std::string::npos;
            while (need == std::string::npos || got.size() < need) {
                const ssize_t n = ::recv(c, buffer, sizeof buffer, 0);
                if (n <= 0) break;
                got.append(buffer, std::size_t(n));
                const auto end = got.find("\r\n\r\n");
                const auto cl = got.find("Content-Length: ");
                if (end != std::string::npos && cl != std::string::npos)
                    need = end + 4 + std::stoul(got.substr(cl + 16));
            }
            const auto end = got.find("\r\n\r\n");
            {
                std::lock_guard lock(mutex_);
                heads_.push_back(got.substr(0, end));
                bodies_.push_back(end == std::string::npos ? "" : got.substr(end + 4));
            }
            const std::string answer =
                "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 11\r\nConnection: "
                "close\r\n\r\n{\"ok\":true}";
            ::send(c, answer.data(), answer.size(), MSG_NOSIGNAL);
            ::close(c);
        }
    }

    int fd_ = -1;
    int port_ = 0;
    mutable std::mutex mutex_;
    std::vector<std::string> bodies_;
    std::vector<std::string> heads_;
    std::thread thread_;
};

class AnalysisPluginTest : public testing::StandinTest {
protected:
    void SetUp() override {
        StandinTest::SetUp();
        world().setKnob("analysisPort", receiver_.port());
    }
    void play(int bar = 9) {
        world().mutateProject([bar](Project& p) {
            p.transport.setPlayhead({bar, 1, 1, 1});
            p.transport.playing = true;
        });
    }
    std::vector<Json> posts() {
        std::vector<Json> out;
        for (const auto& b : receiver_.bodies()) out.push_back(Json::parse(b, nullptr, false));
        return out;
    }
    Receiver receiver_;
};

TEST_F(AnalysisPluginTest, PostsEveryHalfSecondOfPlaybackInTrackOrderWithWholeBodies) {
    world().setKnob("postWhileStopped", false);  // only playback's posts here
    world().advance(3);
    EXPECT_TRUE(receiver_.bodies().empty());
    const double start = world().virtualSeconds();
    play();
    world().advance(1.2);

    const auto events = world().events(EventKind::analysisPost);
    ASSERT_EQ(events.size(), 4u);
    const std::string vox = events[0].name;
    const std::string out = events[1].name;
    EXPECT_EQ(vox.rfind("AI-", 0), 0u);
    for (std::size_t i = 0; i < events.size(); ++i) {
        EXPECT_DOUBLE_EQ(events[i].time, start + 0.5 * double(i / 2 + 1));
        EXPECT_EQ(events[i].name, i % 2 ? out : vox);
        EXPECT_EQ(events[i].outcome, "delivered");
        EXPECT_EQ(events[i].code, 200);
    }

    const auto bodies = posts();
    ASSERT_EQ(bodies.size(), 4u);
    EXPECT_NE(receiver_.heads()[0].find("POST /analysis HTTP/1.1"), std::string::npos);
    EXPECT_NE(receiver_.heads()[0].find("Content-Type: application/json"), std::string::npos);
    EXPECT_EQ(bodies[0]["instanceID"], vox);
    EXPECT_EQ(bodies[0]["trackName"], "Lead Vox");
    EXPECT_EQ(bodies[1]["trackName"], "Stereo Out");
    EXPECT_EQ(bodies[0]["audioAnalysis"].size(), 38u);
    ASSERT_EQ(bodies[0]["barAnalysisMap"].size(), 1u);
    EXPECT_EQ(bodies[0]["barAnalysisMap"][0].size(), 13u);
    EXPECT_EQ(bodies[0]["barAnalysisMap"][0]["bar"], 9);
    EXPECT_EQ(bodies[0]["audioAnalysis"]["bpm"], 120.0);
    EXPECT_TRUE(bodies[0]["audioAnalysis"]["transportWasPlaying"]);
}

// A running Logic Pro keeps calling its plug-ins while stopped: a loaded song must not look as
// if it had none before playback.
TEST_F(AnalysisPluginTest, StoppedInstancesPostSilenceEveryHalfSecondUnlessToldToGoQuiet) {
    world().advance(1);
    auto bodies = posts();
    ASSERT_EQ(bodies.size(), 4u) << "posts while stopped, from the start";
    play();
    world().advance(0.5);
    ASSERT_EQ(posts().size(), 6u);
    EXPECT_TRUE(posts()[4]["audioAnalysis"]["transportWasPlaying"]);
    world().mutateProject([](Project& p) { p.transport.playing = false; });
    world().advance(1);
    bodies = posts();
    ASSERT_EQ(bodies.size(), 12u) << "one at the stop, then every half second";
    for (std::size_t i : {0u, 1u, 2u, 3u, 6u, 7u, 8u, 9u, 10u, 11u}) {
        SCOPED_TRACE(i);
        EXPECT_EQ(bodies[i]["audioAnalysis"]["momentaryLufs"], -100.0);
        EXPECT_EQ(bodies[i]["audioAnalysis"]["peakDbfs"], -100.0);
        EXPECT_FALSE(bodies[i]["audioAnalysis"]["transportWasPlaying"]);
    }
    EXPECT_EQ(bodies[6]["instanceID"], bodies[4]["instanceID"]) << "the ID survives a stop";

    world().setKnob("postWhileStopped", false);
    world().advance(5);
    EXPECT_EQ(posts().size(), 12u);
    play();
    world().advance(0.5);
    world().mutateProject([](Project& p) { p.transport.playing = false; });
    world().advance(5);
    EXPECT_EQ(posts().size(), 16u) << "told to go quiet: one silent post on stop, then nothing";
    world().setKnob("postWhileStopped", true);
    world().advance(1);
    EXPECT_EQ(posts().size(), 20u);
}

TEST_F(AnalysisPluginTest, BarsPassedInThisPlaybackUpToTheLastSixteen) {
    world().mutateProject([](Project& p) { p.transport.cycleOn = false; });
    play(1);
    world().advance(40);  // 20 bars at 120 bpm in 4/4
    const auto last = posts().back();
    const auto bars = posts()[posts().size() - 2]["barAnalysisMap"];
    ASSERT_EQ(bars.size(), 16u);
    EXPECT_EQ(bars.back()["bar"], 21);
    EXPECT_EQ(bars.front()["bar"], 6);
    // Before its region the voice is silent; from bar 9 on it sounds.
    EXPECT_EQ(bars[2]["lufs"], -100.0);
    EXPECT_EQ(bars[3]["lufs"], -16.0);
    EXPECT_EQ(last["trackName"], "Stereo Out");
}

TEST_F(AnalysisPluginTest, RenamesAndMovesKeepTheInstanceAndKnobsBendIt) {
    play();
    world().advance(0.5);
    const std::string vox = posts()[0]["instanceID"];
    const std::string out = posts()[1]["instanceID"];
    world().mutateProject([](Project& p) {
        p.track("Lead Vox")->name = "Vocal";
        std::rotate(p.tracks.begin(), p.tracks.begin() + 1, p.tracks.end());
    });
    world().advance(0.5);
    EXPECT_EQ(posts()[2]["instanceID"], vox);
    EXPECT_EQ(posts()[2]["trackName"], "Vocal");

    world().setKnob("analysis", Json{{vox, {{"dropFields", {"trackName", "bpm"}}, {"nameOverride", "Hidden"}}},
                                     {out, {{"malformed", "bars"}}}});
    world().advance(0.5);
    auto bodies = posts();
    EXPECT_FALSE(bodies[4].contains("trackName"));
    EXPECT_FALSE(bodies[4]["audioAnalysis"].contains("bpm"));
    EXPECT_EQ(bodies[5]["barAnalysisMap"].size(), 2u);
    EXPECT_FALSE(bodies[5]["barAnalysisMap"][0].contains("bar"));
    EXPECT_EQ(bodies[5]["barAnalysisMap"][1]["bar"], 3.5);

    world().setKnob("analysis",
                    Json{{vox, {{"nameOverride", "Hidden"}, {"malformed", "array"}}}, {out, {{"malformed", "json"}}}});
    world().advance(0.5);
    bodies = posts();
    EXPECT_TRUE(bodies[6].is_array());
    EXPECT_EQ(bodies[6][0]["trackName"], "Hidden");
    EXPECT_TRUE(bodies[7].is_discarded());

    world().setKnob("analysis", Json{{vox, {{"silent", true}}}});
    world().advance(0.5);
    ASSERT_EQ(posts().size(), 9u);
    EXPECT_EQ(posts()[8]["instanceID"], out);
}

TEST_F(AnalysisPluginTest, RefusedConnectionsAreLoggedAndDropped) {
    const corvane::testing::ClosedPort closed;
    world().setKnob("analysisPort", closed.port());
    play();
    world().advance(1);
    const auto events = world().events(EventKind::analysisPost);
    ASSERT_EQ(events.size(), 4u);
    for (const auto& e : events) {
        EXPECT_EQ(e.outcome, "dropped");
        EXPECT_EQ(e.detail, "connection refused");
    }
}

}  // namespace
}  // namespace corvane::standin
