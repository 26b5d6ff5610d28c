#include "http/http_client.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <mutex>

namespace corvane::http {
namespace {

std::string lowered(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

void initialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

size_t appendBody(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

struct CurlHandle {
    CURL* handle = curl_easy_init();
    curl_slist* headers = nullptr;
    ~CurlHandle() {
        curl_slist_free_all(headers);
        curl_easy_cleanup(handle);
    }
};

// One transfer driven through a multi handle: a stop wakes its wait at once, where libcurl's
// progress calls come up to a second apart while nothing arrives.
struct CurlTransfer {
    CURLM* multi = curl_multi_init();
    CURL* easy;
    explicit CurlTransfer(CURL* handle) : easy(handle) {
        if (multi != nullptr) curl_multi_add_handle(multi, easy);
    }
    ~CurlTransfer() {
        if (multi == nullptr) return;
        curl_multi_remove_handle(multi, easy);
        curl_multi_cleanup(multi);
    }
    CurlTransfer(const CurlTransfer&) = delete;
    CurlTransfer& operator=(const CurlTransfer&) = delete;

    CURLcode run(const std::stop_token& stop) {
        if (multi == nullptr) return CURLE_OUT_OF_MEMORY;
        std::stop_callback wake(stop, [this] { curl_multi_wakeup(multi); });
        for (;;) {
            if (stop.stop_requested()) return CURLE_ABORTED_BY_CALLBACK;
            int running = 0;
            if (curl_multi_perform(multi, &running) != CURLM_OK) return CURLE_FAILED_INIT;
            if (running == 0) break;
            if (curl_multi_poll(multi, nullptr, 0, 1000, nullptr) != CURLM_OK) return CURLE_FAILED_INIT;
        }
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == easy) return message->data.result;
        }
        return CURLE_FAILED_INIT;
    }
};

}  // namespace

bool isPermittedURL(std::string_view url) {
    const auto schemeEnd = url.find("://");
    if (schemeEnd == std::string_view::npos) return false;
    const std::string scheme = lowered(url.substr(0, schemeEnd));
    if (scheme == "https") return true;
    if (scheme != "http") return false;
    std::string_view authority = url.substr(schemeEnd + 3);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    if (authority.find('@') != std::string_view::npos) return false;  // user info can hide the host
    std::string_view host = authority;
    if (!host.empty() && host.front() == '[') {
        host = host.substr(0, host.find(']') == std::string_view::npos ? host.size() : host.find(']') + 1);
    } else {
        host = host.substr(0, host.find(':'));
    }
    const std::string name = lowered(host);
    return name == "127.0.0.1" || name == "localhost" || name == "[::1]";
}

HTTPClientResponse CurlTransport::send(const HTTPClientRequest& request, std::stop_token stop) {
    if (plainHTTP_ == PlainHTTP::loopbackOnly && !isPermittedURL(request.url)) {
        throw TransportError("refusing to send a request to " + request.url +
                             " without TLS (plain HTTP is for the loopback host only)");
    }
    initialiseCurlOnce();
    CurlHandle curl;
    if (curl.handle == nullptr) throw TransportError("could not start a transfer");
    std::string received;
    char errorText[CURL_ERROR_SIZE] = {};
    for (const auto& [name, value] : request.headers) {
        curl.headers = curl_slist_append(curl.headers, (name + ": " + value).c_str());
    }
    // libcurl would otherwise add "Expect: 100-continue" to large bodies and wait for it.
    curl.headers = curl_slist_append(curl.headers, "Expect:");
    curl_easy_setopt(curl.handle, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(curl.handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl.handle, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl.handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl.handle, CURLOPT_TIMEOUT, static_cast<long>(request.timeout.count()));
    curl_easy_setopt(curl.handle, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    curl_easy_setopt(curl.handle, CURLOPT_HTTPHEADER, curl.headers);
    if (request.body) {
        curl_easy_setopt(curl.handle, CURLOPT_POSTFIELDS, request.body->data());
        curl_easy_setopt(curl.handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body->size()));
    } else if (request.method == "POST") {
        curl_easy_setopt(curl.handle, CURLOPT_POSTFIELDS, "");
        curl_easy_setopt(curl.handle, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t{0});
    }
    curl_easy_setopt(curl.handle, CURLOPT_WRITEFUNCTION, appendBody);
    curl_easy_setopt(curl.handle, CURLOPT_WRITEDATA, &received);
    curl_easy_setopt(curl.handle, CURLOPT_ERRORBUFFER, errorText);
    CurlTransfer transfer(curl.handle);
    const CURLcode code = transfer.run(stop);
    if (code == CURLE_ABORTED_BY_CALLBACK) throw TransportError("the request was cancelled");
    if (code != CURLE_OK) throw TransportError(errorText[0] != '\0' ? errorText : curl_easy_strerror(code));
    long status = 0;
    curl_easy_getinfo(curl.handle, CURLINFO_RESPONSE_CODE, &status);
    return HTTPClientResponse{static_cast<int>(status), std::move(received)};
}

std::shared_ptr<HTTPTransport> defaultTransport() {
    static const auto transport = std::make_shared<CurlTransport>();
    return transport;
}

}  // namespace corvane::http
