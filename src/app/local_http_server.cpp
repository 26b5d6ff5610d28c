#include "app/local_http_server.h"

#include <asio.hpp>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <utility>
#include <vector>

#include "app/loopback_guard.h"
#include "platform/log.h"
#include "platform/serial_queue.h"

namespace corvane::app {

namespace {

using asio::ip::tcp;
using TimePoint = platform::Clock::TimePoint;

constexpr std::size_t kReceiveCap = 65536;  // each receive asks for 1 to 65536 bytes
constexpr std::chrono::milliseconds kAcceptBackoff{100};
constexpr TimePoint kNever = TimePoint::max();

// The request tasks: a pool that grows on demand up to one thread per connection slot, so every
// request gets a thread of its own at once and slow handlers run side by side.
class RequestWorkers {
public:
    explicit RequestWorkers(std::size_t maxThreads) : maxThreads_(maxThreads) {}
    ~RequestWorkers() { shutdown(); }
    RequestWorkers(const RequestWorkers&) = delete;
    RequestWorkers& operator=(const RequestWorkers&) = delete;

    void post(std::function<void()> job) {
        std::unique_lock lock(mutex_);
        jobs_.push_back(std::move(job));
        if (jobs_.size() > idle_ && threads_.size() < maxThreads_) {
            try {
                threads_.emplace_back([this](std::stop_token stop) { run(stop); });
                return;
            } catch (const std::system_error&) {
                if (threads_.empty()) {  // no thread at all could run it: run it here
                    auto inlineJob = std::move(jobs_.back());
                    jobs_.pop_back();
                    lock.unlock();
                    inlineJob();
                    return;
                }
            }
        }
        wake_.notify_one();
    }

    void shutdown() {
        std::vector<std::jthread> threads;
        {
            std::lock_guard lock(mutex_);
            threads.swap(threads_);
        }
        for (auto& t : threads) t.request_stop();
        wake_.notify_all();
        threads.clear();  // joins
    }

private:
    void run(std::stop_token stop) {
        std::unique_lock lock(mutex_);
        for (;;) {
            ++idle_;
            const bool hasJob = wake_.wait(lock, stop, [&] { return !jobs_.empty(); });
            --idle_;
            if (!hasJob) return;
            auto job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            job();
            lock.lock();
        }
    }

    const std::size_t maxThreads_;
    std::mutex mutex_;
    std::condition_variable_any wake_;
    std::deque<std::function<void()>> jobs_;
    std::size_t idle_ = 0;
    std::vector<std::jthread> threads_;
};

struct Connection {
    enum class State { receiving, handling, sending, closed };

    Connection(tcp::socket s, RequestLimits limits) : socket(std::move(s)), parser(limits) {}

    tcp::socket socket;
    // Closed unanswered once the clock passes this: the request time-out while receiving, the
    // send time-out while sending, never while the handler runs.
    TimePoint deadline = kNever;
    RequestParser parser;  // the buffer travels from one receive to the next
    State state = State::receiving;
    std::unique_ptr<char[]> receiveBuffer = std::make_unique<char[]>(kReceiveCap);
    std::string outgoing;
};

struct Listener {
    explicit Listener(asio::io_context& io) : acceptor(io) {}
    tcp::acceptor acceptor;
    TimePoint retryAt = kNever;  // accepting again after running out of descriptors or memory
    bool acceptPending = false;
    bool failed = false;
};

bool isResourceExhaustion(const asio::error_code& ec) {
    return ec == asio::error::no_descriptors || ec == asio::error::no_buffer_space || ec == asio::error::no_memory ||
           ec == std::errc::too_many_files_open_in_system;
}

bool isListenerBroken(const asio::error_code& ec) {
    return ec == asio::error::bad_descriptor || ec == asio::error::invalid_argument || ec == asio::error::not_socket ||
           ec == asio::error::operation_not_supported;
}

}  // namespace

// Everything asio touches runs on the queue "Quillmere.LocalHTTPServer": the io_context is run
// by one item of that queue for the server's whole life, so every listener and connection
// callback, the parsing and the 400, 403 and 413 answers run there, one at a time.
struct LocalHTTPServer::Core {
    Core(std::uint16_t portNumber, Handler requestHandler, HTTPServerLimits serverLimits, platform::Clock& serverClock)
        : port(portNumber),
          handler(std::move(requestHandler)),
          limits(serverLimits),
          clock(serverClock),
          work(asio::make_work_guard(io)),
          workers(std::max<std::size_t>(limits.maxConcurrentRequests, 1)) {
        limits.maxConcurrentRequests = std::max<std::size_t>(limits.maxConcurrentRequests, 1);
        queue.async([this] {
            for (;;) {
                try {
                    io.run();
                    return;
                } catch (const std::exception& e) {
                    corvane::log(std::string("Quillmere HTTP server failed: ") + e.what());
                }
            }
        });
        clockMoves = clock.onMoved([this] { asio::post(io, [this] { sweep(); }); });
    }

    ~Core() {
        clockMoves.reset();
        runOnQueue([this] {
            closeListener();
            // The server is gone: connections still receiving are cancelled.
            std::vector<std::shared_ptr<Connection>> receiving;
            for (const auto& c : connections) {
                if (c->state == Connection::State::receiving) receiving.push_back(c);
            }
            for (auto& c : receiving) finish(c, false);
        });
        {
            // Requests being handled hold the server until their answers are sent.
            std::unique_lock lock(activeMutex);
            activeChanged.wait(lock, [this] { return active == 0; });
        }
        workers.shutdown();
        work.reset();
        io.stop();
        queue.drain();  // io.run() has returned
    }

    template <class F>
    void runOnQueue(F&& f) {
        if (queue.isCurrent()) {
            f();
            return;
        }
        std::promise<void> done;
        auto finished = done.get_future();
        asio::post(io, [&] {
            try {
                f();
                done.set_value();
            } catch (...) {
                done.set_exception(std::current_exception());
            }
        });
        finished.get();
    }

    std::size_t activeCount() {
        std::lock_guard lock(activeMutex);
        return active;
    }

    // ---- listener (queue only)

    void startListener() {
        auto fresh = std::make_shared<Listener>(io);
        fresh->acceptor.open(tcp::v4());  // throws: the listener cannot be created
        fresh->acceptor.set_option(tcp::acceptor::reuse_address(true));
        closeListener();
        listener = fresh;
        asio::error_code ec;
        fresh->acceptor.bind(tcp::endpoint(asio::ip::address_v4::loopback(), port), ec);
        if (!ec) fresh->acceptor.listen(asio::socket_base::max_listen_connections, ec);
        if (ec) {
            failListener(fresh, ec);
            return;
        }
        boundPort = fresh->acceptor.local_endpoint().port();
        acceptNext();
    }

    void closeListener() {
        if (!listener) return;
        asio::error_code ignored;
        listener->acceptor.close(ignored);
        listener.reset();
        boundPort = 0;
    }

    // A failed listener is logged and stays failed: not restarted, and nothing listens.
    void failListener(const std::shared_ptr<Listener>& l, const asio::error_code& ec) {
        l->failed = true;
        asio::error_code ignored;
        l->acceptor.close(ignored);
        if (l == listener) boundPort = 0;
        corvane::log("Quillmere HTTP server failed: " + ec.message());
    }

    void acceptNext() {
        auto l = listener;
        if (!l || l->failed || l->acceptPending || !l->acceptor.is_open()) return;
        if (activeCount() >= limits.maxConcurrentRequests) return;  // finish() resumes accepting
        l->acceptPending = true;
        l->acceptor.async_accept([this, l](const asio::error_code& ec, tcp::socket socket) {
            l->acceptPending = false;
            if (ec == asio::error::operation_aborted || l != listener) return;
            if (ec) {
                acceptFailed(l, ec);
                return;
            }
            accept(std::move(socket));
            acceptNext();
        });
    }

    void acceptFailed(const std::shared_ptr<Listener>& l, const asio::error_code& ec) {
        if (isListenerBroken(ec)) {
            failListener(l, ec);
            return;
        }
        corvane::log("Quillmere HTTP connection failed: " + ec.message());
        if (!isResourceExhaustion(ec)) {
            acceptNext();
            return;
        }
        // Out of descriptors or memory: try again shortly instead of spinning or giving up.
        l->acceptPending = true;
        l->retryAt = after(kAcceptBackoff);
        wakeBy(l->retryAt);
    }

    // ---- deadlines (queue only)
    //
    // Connections and the listener carry the moment of their next timed step, read on the clock;
    // one timer wakes the sweeper at the earliest of them, and a clock moved by hand wakes it at
    // once. A wake that comes early (the clock has not got there) only sets the timer again.

    TimePoint after(std::chrono::milliseconds delay) {
        const TimePoint now = clock.now();
        if (delay >= std::chrono::duration_cast<std::chrono::milliseconds>(kNever - now)) return kNever;
        return now + delay;
    }

    void setDeadline(const std::shared_ptr<Connection>& conn, TimePoint deadline) {
        conn->deadline = deadline;
        wakeBy(deadline);
    }

    // A deadline that goes away leaves the timer set; the wake then finds nothing to do.
    void clearDeadline(const std::shared_ptr<Connection>& conn) { conn->deadline = kNever; }

    void wakeBy(TimePoint at) {
        if (at >= sweepAt) return;
        sweepAt = at;
        const auto wait = std::max(at - clock.now(), TimePoint::duration::zero());
        sweepTimer.expires_after(std::chrono::duration_cast<asio::steady_timer::duration>(wait));
        sweepTimer.async_wait([this](const asio::error_code& ec) {
            if (!ec) sweep();
        });
    }

    void sweep() {
        const TimePoint now = clock.now();
        sweepAt = kNever;
        TimePoint next = kNever;
        std::vector<std::shared_ptr<Connection>> expired;
        for (const auto& c : connections) {
            if (c->deadline <= now)
                expired.push_back(c);
            else
                next = std::min(next, c->deadline);
        }
        for (auto& c : expired) finish(c, false);  // closed unanswered
        if (auto l = listener; l && l->retryAt != kNever) {
            if (l->retryAt <= now) {
                l->retryAt = kNever;
                l->acceptPending = false;
                acceptNext();
            } else {
                next = std::min(next, l->retryAt);
            }
        }
        if (next != kNever) wakeBy(next);
    }

    // ---- connections (queue only)

    void accept(tcp::socket socket) {
        asio::error_code ignored;
        socket.set_option(tcp::no_delay(true), ignored);
        auto conn =
            std::make_shared<Connection>(std::move(socket), RequestLimits{limits.maxHeadBytes, limits.maxBodyBytes});
        {
            std::lock_guard lock(activeMutex);
            ++active;
        }
        connections.insert(conn);
        setDeadline(conn, after(limits.requestTimeout));
        receive(conn);
    }

    void receive(const std::shared_ptr<Connection>& conn) {
        conn->socket.async_read_some(
            asio::buffer(conn->receiveBuffer.get(), kReceiveCap),
            [this, conn](const asio::error_code& ec, std::size_t received) { onReceive(conn, ec, received); });
    }

    void onReceive(const std::shared_ptr<Connection>& conn, const asio::error_code& ec, std::size_t received) {
        if (conn->state != Connection::State::receiving) return;  // timed out, or the server is gone
        if (ec && ec != asio::error::eof) {
            corvane::log("Quillmere HTTP receive error: " + ec.message());
            finish(conn, false);
            return;
        }
        if (received > 0) conn->parser.feed(std::string_view(conn->receiveBuffer.get(), received));
        switch (conn->parser.status()) {
            case ParseStatus::complete: {
                HTTPRequest request = conn->parser.takeRequest();
                if (isForbiddenRequest(request)) {
                    send(conn, serializeResponse(forbiddenResponse()));
                } else {
                    dispatch(conn, std::move(request));
                }
                return;
            }
            case ParseStatus::headTooLarge:
            case ParseStatus::bodyTooLarge: send(conn, serializeResponse(payloadTooLargeResponse())); return;
            case ParseStatus::incomplete: break;
        }
        if (ec == asio::error::eof) {  // the peer finished sending before a whole request arrived
            send(conn, serializeResponse(badRequestResponse()));
            return;
        }
        receive(conn);
    }

    // One task per request: the handler runs on a worker thread, the answer is built there and
    // its sending started on the queue.
    void dispatch(const std::shared_ptr<Connection>& conn, HTTPRequest request) {
        conn->state = Connection::State::handling;
        clearDeadline(conn);
        workers.post([this, conn, request = std::move(request)]() mutable {
            std::string answer;
            try {
                answer = serializeResponse(handler(std::move(request)));
            } catch (...) {
                answer = serializeResponse(internalErrorResponse());
            }
            asio::post(io, [this, conn, answer = std::move(answer)]() mutable { send(conn, std::move(answer)); });
        });
    }

    void send(const std::shared_ptr<Connection>& conn, std::string bytes) {
        if (conn->state == Connection::State::closed) return;
        conn->state = Connection::State::sending;
        conn->outgoing = std::move(bytes);
        setDeadline(conn, after(limits.requestTimeout));
        asio::async_write(conn->socket, asio::buffer(conn->outgoing),
                          [this, conn](const asio::error_code& ec, std::size_t) {
                              if (conn->state != Connection::State::sending) return;  // timed out
                              if (ec) corvane::log("Quillmere HTTP connection failed: " + ec.message());
                              finish(conn, !ec);
                          });
    }

    // Cancels the connection and frees its slot (which may let a waiting connection in).
    void finish(std::shared_ptr<Connection> conn, bool sent) {
        if (conn->state == Connection::State::closed) return;
        conn->state = Connection::State::closed;
        clearDeadline(conn);
        asio::error_code ignored;
        if (sent) conn->socket.shutdown(tcp::socket::shutdown_send, ignored);
        conn->socket.close(ignored);
        connections.erase(conn);
        {
            std::lock_guard lock(activeMutex);
            --active;
        }
        activeChanged.notify_all();
        acceptNext();
    }

    const std::uint16_t port;
    const Handler handler;
    HTTPServerLimits limits;
    platform::Clock& clock;

    platform::SerialQueue queue{"Quillmere.LocalHTTPServer"};
    asio::io_context io{1};
    asio::executor_work_guard<asio::io_context::executor_type> work;
    platform::Clock::Subscription clockMoves;

    // Queue only.
    std::shared_ptr<Listener> listener;
    std::unordered_set<std::shared_ptr<Connection>> connections;
    asio::steady_timer sweepTimer{io};
    TimePoint sweepAt = kNever;  // when the timer is set to wake the sweeper

    std::atomic<std::uint16_t> boundPort{0};

    std::mutex activeMutex;
    std::condition_variable activeChanged;
    std::size_t active = 0;  // connections accepted and not yet closed

    RequestWorkers workers;
};

LocalHTTPServer::LocalHTTPServer(std::uint16_t port, Handler handler, HTTPServerLimits limits, platform::Clock& clock)
    : core_(std::make_unique<Core>(port, std::move(handler), limits, clock)) {}

LocalHTTPServer::~LocalHTTPServer() = default;

void LocalHTTPServer::start() {
    core_->runOnQueue([this] { core_->startListener(); });
}

void LocalHTTPServer::stop() {
    core_->runOnQueue([this] { core_->closeListener(); });
}

std::uint16_t LocalHTTPServer::boundPort() const { return core_->boundPort.load(); }

}  // namespace corvane::app
