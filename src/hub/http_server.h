#pragma once

#include "hub_options.h"

#include <memory>
#include <string>

namespace boost::asio {
class io_context;
}

// The hub's HTTP listener: the JSON API, its live event stream and the page,
// on the hub's one event loop. Boost.Beast is compiled into http_server.cpp
// only.
namespace mc::hub {

class HttpApi;

// Limits on every client, each answered with its own status.
inline constexpr std::size_t kMaxBodyBytes = 64 * 1024;      // 413
inline constexpr std::size_t kMaxHeaderBytes = 16 * 1024;    // 431
inline constexpr int kHeaderSeconds = 10;                    // 408
inline constexpr std::size_t kMaxConnections = 256;          // 503
inline constexpr std::size_t kEventBufferBytes = 256 * 1024; // a slower event client is dropped
inline constexpr int kHeartbeatSeconds = 15;

class HttpServer {
public:
    // token: what clients off loopback must show; empty when the listener is
    // on loopback.
    HttpServer(boost::asio::io_context& io, HttpApi& api, std::string token);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds and prints "ready http HOST:PORT"; false (logged) when it cannot.
    bool listen(const ListenAddress& where);
    // Sends what changed to the event clients.
    void stateMayHaveChanged();
    void stop();

private:
    class Impl;
    std::shared_ptr<Impl> impl_;
};

} // namespace mc::hub
