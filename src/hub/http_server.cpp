#include "http_server.h"

#include "http_api.h"
#include "http_token.h"
#include "listener.h"
#include "session/log_hook.h"
#include "web_assets.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
#include <cstdio>
#include <deque>
#include <set>

namespace mc::hub {
namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using asio::ip::tcp;

namespace {

constexpr std::string_view kLogSource = "http";
constexpr std::string_view kReadyHttp = "ready http ";
constexpr std::string_view kEventsPath = "/api/v1/events";
constexpr std::string_view kServerName = "matrix-hub";

// The page loads only what the hub itself serves; nothing runs inline and
// no other site may frame it.
constexpr std::string_view kContentSecurityPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; connect-src 'self'; "
    "base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

void log(LogLevel level, const std::string& text) {
    logMessage(level, kLogSource, text);
}

std::string_view view(boost::beast::string_view text) {
    return {text.data(), text.size()};
}

std::string reasonPhrase(int status) {
    return std::string(view(http::obsolete_reason(static_cast<http::status>(status))));
}

// The connection refused beyond the limit gets this whole answer at once.
std::string cannedError(int status, std::string_view code, std::string_view message) {
    const std::string body = errorResponse(status, code, message).body;
    return "HTTP/1.1 " + std::to_string(status) + " " + reasonPhrase(status) +
           "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

} // namespace

class HttpServer::Impl : public std::enable_shared_from_this<HttpServer::Impl> {
public:
    class Session;

    Impl(asio::io_context& io, HttpApi& api, std::string token)
        : io_(io), api_(api), token_(std::move(token)), acceptor_(io), heartbeat_(io) {}

    bool listen(const ListenAddress& where) {
        boost::system::error_code error = openListener(acceptor_, where);
        if (error) {
            log(LogLevel::Error, "cannot listen for HTTP on " + formatListenAddress(where) + ": " + error.message());
            return false;
        }
        const auto bound = acceptor_.local_endpoint(error);
        const std::string actual = formatListenAddress(ListenAddress{bound.address().to_string(), bound.port()});
        const std::string ready = std::string(kReadyHttp) + actual + "\n";
        std::fwrite(ready.data(), 1, ready.size(), stdout);
        std::fflush(stdout);
        log(LogLevel::Info, "HTTP on " + actual + (token_.empty() ? "" : " (a bearer token is required)"));
        accept();
        armHeartbeat();
        return true;
    }

    void accept();
    void armHeartbeat();
    void publish(std::string_view type, const std::string& data);
    void publishText(const std::string& text);
    void stop();
    void forget(const std::shared_ptr<Session>& session) {
        sessions_.erase(session);
        streams_.erase(session);
    }

    asio::io_context& io_;
    HttpApi& api_;
    std::string token_;
    tcp::acceptor acceptor_;
    asio::steady_timer heartbeat_;
    std::set<std::shared_ptr<Session>> sessions_;
    std::set<std::shared_ptr<Session>> streams_;
    bool stopping_ = false;
};

class HttpServer::Impl::Session : public std::enable_shared_from_this<Session> {
public:
    Session(Impl& server, tcp::socket socket) : server_(server), socket_(std::move(socket)), timer_(server.io_) {}

    void start() { readHeader(); }

    void close() {
        if (closed_) {
            return;
        }
        closed_ = true;
        boost::system::error_code ignored;
        timer_.cancel();
        socket_.shutdown(tcp::socket::shutdown_both, ignored);
        socket_.close(ignored);
        server_.forget(shared_from_this());
    }

    // Event stream: queued for this client; false once it fell too far behind.
    bool queueEvent(std::string_view text) {
        if (pending_.size() + writing_.size() + text.size() > kEventBufferBytes) {
            return false;
        }
        pending_.append(text);
        flush();
        return true;
    }

private:
    void readHeader() {
        parser_.emplace();
        parser_->header_limit(static_cast<std::uint32_t>(kMaxHeaderBytes));
        parser_->body_limit(kMaxBodyBytes);
        timedOut_ = false;
        timer_.expires_after(std::chrono::seconds(kHeaderSeconds));
        timer_.async_wait([weak = weak_from_this()](const boost::system::error_code& error) {
            const auto self = weak.lock();
            if (!error && self && !self->closed_) {
                self->timedOut_ = true;
                boost::system::error_code ignored;
                self->socket_.cancel(ignored);
            }
        });
        http::async_read_header(socket_, buffer_, *parser_,
                                [self = shared_from_this()](const boost::system::error_code& error, std::size_t) {
                                    self->onHeader(error);
                                });
    }

    // A read failed: say why when the client can still hear it.
    void failRead(const boost::system::error_code& error) {
        if (closed_) {
            return;
        }
        if (timedOut_) {
            sendError(408, "timeout", "the request did not arrive within " + std::to_string(kHeaderSeconds) + " s");
        } else if (error == http::error::body_limit) {
            sendError(413, "too_large", "a request body holds at most " + std::to_string(kMaxBodyBytes) + " bytes");
        } else if (error == http::error::header_limit) {
            sendError(431, "headers_too_large",
                      "the request headers hold at most " + std::to_string(kMaxHeaderBytes) + " bytes");
        } else if (error == http::error::end_of_stream || error == asio::error::eof ||
                   error == asio::error::connection_reset || error == asio::error::operation_aborted) {
            close();
        } else {
            sendError(400, "bad_request", "the request is not valid HTTP/1.1: " + error.message());
        }
    }

    void onHeader(const boost::system::error_code& error) {
        if (error) {
            failRead(error);
            return;
        }
        const auto& request = parser_->get();
        const bool hasBody = parser_->content_length().value_or(0) > 0 || parser_->chunked();
        if (hasBody && !parser_->is_done()) {
            http::async_read(socket_, buffer_, *parser_,
                             [self = shared_from_this()](const boost::system::error_code& readError, std::size_t) {
                                 if (readError) {
                                     self->failRead(readError);
                                 } else {
                                     self->dispatch();
                                 }
                             });
            return;
        }
        (void)request;
        dispatch();
    }

    bool authorised(const http::request<http::string_body>& request) const {
        // Off loopback the token is asked of every client, also of one that
        // comes through loopback (a proxy on the same machine may forward
        // anyone's request).
        if (server_.token_.empty()) {
            return true;
        }
        const std::string_view header = view(request[http::field::authorization]);
        constexpr std::string_view kBearer = "Bearer ";
        return header.size() > kBearer.size() && header.substr(0, kBearer.size()) == kBearer &&
               sameToken(std::string_view(header.data() + kBearer.size(), header.size() - kBearer.size()),
                         server_.token_);
    }

    void dispatch() {
        timer_.cancel();
        const auto& request = parser_->get();
        keepAlive_ = request.keep_alive();
        const std::string target(view(request.target()));
        const std::string method(view(request.method_string()));
        const bool api = target.rfind(kApiPrefix, 0) == 0 && target != "/api/v1/openapi.json";
        if (api) {
            // Only the hub's own page may call it from a browser: another
            // site's script carries its own Origin.
            const std::string_view origin = view(request[http::field::origin]);
            if (!origin.empty() && origin != "http://" + std::string(view(request[http::field::host]))) {
                sendError(403, "forbidden_origin", "requests from another site's page are refused");
                return;
            }
            if (!authorised(request)) {
                sendError(401, "unauthorized", "this address needs \"Authorization: Bearer TOKEN\"",
                          "WWW-Authenticate: Bearer realm=\"matrix-hub\"");
                return;
            }
            if (target.substr(0, target.find('?')) == kEventsPath) {
                method == "GET" ? startStream()
                                : sendError(405, "method_not_allowed", "the event stream is read by GET");
                return;
            }
            ApiRequest apiRequest{method, target, std::string(view(request[http::field::content_type])),
                                  request.body()};
            server_.api_.handle(apiRequest, [self = shared_from_this()](ApiResponse response) {
                self->send(response.status, response.contentType, std::move(response.body));
            });
            return;
        }
        const std::string path = target.substr(0, target.find('?'));
        for (const WebAsset& asset : webAssets()) {
            if (asset.path == path) {
                if (method != "GET" && method != "HEAD") {
                    sendError(405, "method_not_allowed", method + " is not allowed on " + path);
                } else {
                    send(200, asset.contentType, std::string(method == "HEAD" ? std::string_view() : asset.body));
                }
                return;
            }
        }
        sendError(404, "not_found", "no such resource: " + path);
    }

    void sendError(int status, std::string_view code, const std::string& message, std::string extra = {}) {
        ApiResponse response = errorResponse(status, code, message);
        if (status >= 400 && status != 404 && status != 409 && status != 405 && status != 401) {
            // After a broken or refused request the rest of the stream
            // cannot be trusted to start at a request.
            keepAlive_ = keepAlive_ && status < 500 && status != 408 && status != 413 && status != 431 && status != 400;
        }
        send(status, response.contentType, std::move(response.body), std::move(extra));
    }

    void send(int status, std::string_view contentType, std::string body, std::string extra = {}) {
        if (closed_) {
            return;
        }
        response_.emplace();
        auto& response = *response_;
        response.result(static_cast<http::status>(status));
        response.version(11);
        response.set(http::field::server, std::string(kServerName));
        response.set(http::field::content_type, std::string(contentType));
        response.set(http::field::cache_control, "no-store");
        response.set("Content-Security-Policy", std::string(kContentSecurityPolicy));
        response.set("X-Content-Type-Options", "nosniff");
        response.set("X-Frame-Options", "DENY");
        response.set("Referrer-Policy", "no-referrer");
        if (!extra.empty()) {
            const auto colon = extra.find(':');
            response.set(extra.substr(0, colon), extra.substr(colon + 2));
        }
        response.body() = std::move(body);
        response.keep_alive(keepAlive_);
        response.prepare_payload();
        http::async_write(socket_, response,
                          [self = shared_from_this()](const boost::system::error_code& error, std::size_t) {
                              if (error || !self->keepAlive_ || self->server_.stopping_) {
                                  self->close();
                              } else {
                                  self->readHeader();
                              }
                          });
    }

    void startStream() {
        std::string head = "HTTP/1.1 200 OK\r\nServer: " + std::string(kServerName) +
                           "\r\nContent-Type: text/event-stream\r\nCache-Control: no-store\r\n"
                           "X-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\n";
        head += "retry: 1000\n\n";
        head += "event: state\ndata: " + jsonText(server_.api_.state()) + "\n\n";
        head += "event: names\ndata: " + namesJsonText() +
                "\n\nevent: presets\ndata: " + jsonText(server_.api_.presetsJson()) + "\n\n";
        streaming_ = true;
        server_.streams_.insert(shared_from_this());
        queueEvent(head);
        watchStream();
    }

    std::string namesJsonText() const;

    // An event client sends nothing; a read ends when it goes.
    void watchStream() {
        socket_.async_read_some(asio::buffer(sink_),
                                [self = shared_from_this()](const boost::system::error_code& error, std::size_t) {
                                    if (error) {
                                        self->close();
                                    } else {
                                        self->watchStream();
                                    }
                                });
    }

    void flush() {
        if (closed_ || !writing_.empty() || pending_.empty()) {
            return;
        }
        writing_.swap(pending_);
        asio::async_write(socket_, asio::buffer(writing_),
                          [self = shared_from_this()](const boost::system::error_code& error, std::size_t) {
                              self->writing_.clear();
                              if (error) {
                                  self->close();
                              } else {
                                  self->flush();
                              }
                          });
    }

    Impl& server_;
    tcp::socket socket_;
    asio::steady_timer timer_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    std::optional<http::response<http::string_body>> response_;
    bool keepAlive_ = true;
    bool timedOut_ = false;
    bool closed_ = false;
    bool streaming_ = false;
    std::string pending_;
    std::string writing_;
    std::array<char, 64> sink_{};
};

std::string HttpServer::Impl::Session::namesJsonText() const {
    return jsonText(server_.api_.names());
}

void HttpServer::Impl::accept() {
    acceptor_.async_accept([self = shared_from_this()](const boost::system::error_code& error, tcp::socket socket) {
        if (error == asio::error::operation_aborted || self->stopping_) {
            return;
        }
        if (error) {
            log(LogLevel::Warning, "accepting an HTTP client failed: " + error.message());
        } else if (self->sessions_.size() >= kMaxConnections) {
            // A fresh socket's buffer takes the short answer without waiting.
            boost::system::error_code ignored;
            socket.non_blocking(true, ignored);
            const std::string answer = cannedError(
                503, "too_many_connections", std::to_string(kMaxConnections) + " HTTP clients are connected already");
            socket.write_some(asio::buffer(answer), ignored);
            socket.shutdown(tcp::socket::shutdown_both, ignored);
            socket.close(ignored);
        } else {
            boost::system::error_code ignored;
            socket.set_option(tcp::no_delay(true), ignored);
            auto session = std::make_shared<Session>(*self, std::move(socket));
            self->sessions_.insert(session);
            session->start();
        }
        self->accept();
    });
}

void HttpServer::Impl::armHeartbeat() {
    heartbeat_.expires_after(std::chrono::seconds(kHeartbeatSeconds));
    heartbeat_.async_wait([weak = weak_from_this()](const boost::system::error_code& error) {
        const auto self = weak.lock();
        if (error || !self || self->stopping_) {
            return;
        }
        self->publishText(": heartbeat\n\n");
        self->armHeartbeat();
    });
}

void HttpServer::Impl::publish(std::string_view type, const std::string& data) {
    publishText("event: " + std::string(type) + "\ndata: " + data + "\n\n");
}

void HttpServer::Impl::publishText(const std::string& text) {
    std::vector<std::shared_ptr<Session>> behind;
    for (const auto& stream : streams_) {
        if (!stream->queueEvent(text)) {
            behind.push_back(stream);
        }
    }
    for (const auto& stream : behind) {
        log(LogLevel::Info,
            "event client dropped: it stopped reading (" + std::to_string(kEventBufferBytes) + " bytes wait for it)");
        stream->close();
    }
}

void HttpServer::Impl::stop() {
    stopping_ = true;
    boost::system::error_code ignored;
    acceptor_.close(ignored);
    heartbeat_.cancel();
    while (!sessions_.empty()) {
        const auto session = *sessions_.begin();
        session->close();
    }
}

HttpServer::HttpServer(asio::io_context& io, HttpApi& api, std::string token)
    : impl_(std::make_shared<Impl>(io, api, std::move(token))) {
    api.setPublisher([weak = std::weak_ptr<Impl>(impl_)](std::string_view type, const std::string& data) {
        if (const auto impl = weak.lock()) {
            impl->publish(type, data);
        }
    });
}

HttpServer::~HttpServer() {
    impl_->stop();
}

bool HttpServer::listen(const ListenAddress& where) {
    return impl_->listen(where);
}

void HttpServer::stateMayHaveChanged() {
    impl_->api_.publishChanges();
}

void HttpServer::stop() {
    impl_->stop();
}

} // namespace mc::hub
