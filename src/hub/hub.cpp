#include "hub.h"

#include "http_api.h"
#include "http_server.h"
#include "http_token.h"
#include "link_owner.h"
#include "listener.h"
#include "mqtt_bridge.h"
#include "mqtt_client.h"
#include "session/log_hook.h"
#include "site/site_file.h"
#include "switchboard.h"
#include "version.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>

namespace mc::hub {
namespace asio = boost::asio;
using asio::ip::tcp;

namespace {

constexpr std::string_view kLogSource = "hub";
// Output waiting for one text client, at most; a client that stops reading is
// dropped once this fills, so the others never wait for it.
constexpr std::size_t kClientOutputLimit = std::size_t{32} * 1024;
// The socket's own send buffer beside it, fixed so a stalled client is found
// after a bounded amount of output rather than after megabytes.
constexpr int kClientSocketBuffer = 32 * 1024;
constexpr std::size_t kClientReadSize = 4096;
// How often a missing serial device is looked for while the link is down.
constexpr auto kDeviceWatchPeriod = std::chrono::milliseconds(250);
// A link that stood this long starts its retries from the first wait again.
constexpr auto kStableLinkTime = std::chrono::seconds(5);

constexpr std::string_view kReadyText = "ready text ";
// How long a stop waits for the broker to take the hub's last words; SIGTERM
// ends the hub within a second whatever the broker does.
constexpr auto kMqttStopGrace = std::chrono::milliseconds(500);

void log(LogLevel level, const std::string& text) {
    logMessage(level, kLogSource, text);
}

std::string refusalLine(int maxClients) {
    return "matrix-hub: refused, " + std::to_string(maxClients) + " clients are connected already\r\n";
}

std::string peerName(const tcp::socket& socket) {
    boost::system::error_code error;
    const auto peer = socket.remote_endpoint(error);
    if (error) {
        return "a text client";
    }
    const auto address = peer.address();
    const std::string host = address.is_v6() ? "[" + address.to_string() + "]" : address.to_string();
    return host + ":" + std::to_string(peer.port());
}

struct TextClient {
    explicit TextClient(tcp::socket s) : socket(std::move(s)) {}
    tcp::socket socket;
    std::string name;
    std::array<char, kClientReadSize> input{};
    std::string output;  // waiting to be written
    std::string writing; // being written
    bool gone = false;
    bool dropping = false; // its output overflowed; it goes at the loop's next turn
};

class Hub final : public SwitchboardWires {
public:
    explicit Hub(const HubOptions& options)
        : options_(options), board_(*this),
          link_(
              options.link, [this](std::function<void()> work) { asio::post(io_, std::move(work)); },
              LinkOwner::Events{[this] { linkUp(); },
                                [this](std::string_view bytes) {
                                    board_.linkBytes(bytes, SteadyClock::now());
                                    armDeadline();
                                    stateMayHaveChanged();
                                },
                                [this](const std::string& reason) { linkFailed(reason); }}) {}

    int run() {
        if (!loadSite()) {
            return kExitFailure;
        }
        signals_.async_wait([this](const boost::system::error_code& error, int signal) {
            if (!error) {
                stop(signal);
            }
        });
        if (options_.text && !listen(*options_.text)) {
            return kExitFailure;
        }
        if (options_.http && !listenHttp(*options_.http)) {
            return kExitFailure;
        }
        if (options_.mqtt && !prepareMqtt(*options_.mqtt)) {
            return kExitFailure;
        }
        log(LogLevel::Info,
            "matrix-hub " + std::string(kVersion) + ": link " + link_.name() + ", polling " +
                (options_.pollInterval.count() == 0 ? std::string("off")
                                                    : "every " + std::to_string(options_.pollInterval.count()) + " s"));
        openLink();
        if (options_.pollInterval.count() > 0) {
            armPoll(SteadyClock::now() + options_.pollInterval);
        }
        io_.run();
        return kExitOk;
    }

    bool writeToLink(std::string_view bytes) override {
        const SendResult result = link_.send(bytes);
        if (result != SendResult::Queued) {
            log(LogLevel::Warning, "the link refused a command (" + std::to_string(static_cast<int>(result)) + ")");
            return false;
        }
        return true;
    }

    void writeToClient(ClientId id, std::string_view bytes) override {
        const auto found = clients_.find(id);
        if (found == clients_.end()) {
            return;
        }
        TextClient& client = *found->second;
        if (client.dropping) {
            return;
        }
        if (client.output.size() + client.writing.size() + bytes.size() > kClientOutputLimit) {
            // Dropped once the switchboard's call returns: it may be going
            // through its clients right now.
            client.dropping = true;
            const std::string why = "it stopped reading (" +
                                    std::to_string(client.output.size() + client.writing.size()) +
                                    " bytes wait for it)";
            asio::post(io_, [this, id, why] { dropClient(id, why); });
            return;
        }
        client.output.append(bytes);
        startWrite(found->second);
    }

private:
    // A broken site file stops the hub before anything opens; it is never
    // written over.
    bool loadSite() {
        sitePath_ = options_.site.empty() ? userSitePath() : std::filesystem::path(options_.site);
        if (sitePath_.empty()) {
            log(LogLevel::Warning, "no site file: no home folder is known (give --site FILE)");
            return true;
        }
        SiteLoad loaded = loadSiteFile(sitePath_);
        if (loaded.error) {
            log(LogLevel::Error, "site file: " + loaded.error->message());
            return false;
        }
        site_ = std::move(loaded.site);
        board_.useSite(&site_);
        log(LogLevel::Info,
            "site file " + sitePath_.string() +
                (loaded.existed ? ": " + std::to_string(site_.inputNames().size() + site_.outputNames().size()) +
                                      " names, " + std::to_string(site_.presets().size()) + " presets, " +
                                      std::to_string(site_.lockedOutputs().size()) + " locked outputs"
                                : " does not exist yet: no names, presets or locks"));
        return true;
    }

    // --- the link ---------------------------------------------------------

    void openLink() {
        log(LogLevel::Info, "opening " + link_.name());
        link_.open();
    }

    void linkUp() {
        log(LogLevel::Info, "link up: " + link_.name());
        lastUp_ = SteadyClock::now();
        board_.linkUp(SteadyClock::now());
        armDeadline();
        stateMayHaveChanged();
    }

    void linkFailed(const std::string& reason) {
        const bool wasStable = lastUp_ && SteadyClock::now() - *lastUp_ >= kStableLinkTime;
        if (wasStable) {
            backoff_.reset();
        }
        lastUp_.reset();
        board_.linkDown(reason);
        stateMayHaveChanged();
        const auto wait = backoff_.next();
        log(LogLevel::Warning, "link down: " + reason + "; next attempt in " + std::to_string(wait.count()) + " ms");
        retryTimer_.expires_after(wait);
        retryTimer_.async_wait([this](const boost::system::error_code& error) {
            if (!error && !stopping_) {
                openLink();
            }
        });
        if (link_.isSerial()) {
            armDeviceWatch();
        }
    }

    void armDeviceWatch() {
        watchTimer_.expires_after(kDeviceWatchPeriod);
        watchTimer_.async_wait([this](const boost::system::error_code& error) {
            if (error || stopping_ || link_.status().state != LinkStatus::Down) {
                return;
            }
            if (link_.deviceReturned()) {
                log(LogLevel::Info, link_.name() + " is back: trying it now");
                retryTimer_.cancel();
                openLink();
                return;
            }
            armDeviceWatch();
        });
    }

    void armPoll(SteadyClock::time_point at) {
        pollTimer_.expires_at(at);
        pollTimer_.async_wait([this, at](const boost::system::error_code& error) {
            if (error || stopping_) {
                return;
            }
            board_.poll(SteadyClock::now());
            armDeadline();
            armPoll(at + options_.pollInterval);
        });
    }

    // Keeps a timer at the switchboard's next deadline.
    void armDeadline() {
        const auto next = board_.nextDeadline();
        if (!next || (deadlineArmed_ && *next >= deadlineAt_)) {
            return;
        }
        deadlineArmed_ = true;
        deadlineAt_ = *next;
        deadlineTimer_.expires_at(*next);
        deadlineTimer_.async_wait([this](const boost::system::error_code& error) {
            if (error) {
                return; // re-armed earlier, or stopping
            }
            deadlineArmed_ = false;
            board_.expire(SteadyClock::now());
            armDeadline();
        });
    }

    // --- HTTP ---------------------------------------------------------------

    // Off loopback every API request shows the token; on loopback none is
    // asked for, as anyone there can read the token file anyway.
    bool listenHttp(const ListenAddress& where) {
        std::string token;
        boost::system::error_code error;
        const auto address = asio::ip::make_address(where.host, error);
        if (!error && !address.is_loopback()) {
            const std::string file = options_.tokenFile.empty() ? defaultTokenPath().string() : options_.tokenFile;
            if (file.empty()) {
                log(LogLevel::Error, "no token file for HTTP off loopback: give --token-file FILE");
                return false;
            }
            auto loaded = loadOrCreateToken(file);
            if (const auto* failure = std::get_if<1>(&loaded)) {
                log(LogLevel::Error, *failure);
                return false;
            }
            token = std::get<0>(std::move(loaded));
        }
        HttpApi::SaveSite save;
        if (!sitePath_.empty()) {
            save = [this](const Site& site) { return saveSiteFile(sitePath_, site); };
        }
        httpApi_ = std::make_unique<HttpApi>(board_, link_, link_.name(), site_, std::move(save));
        httpApi_->setSiteListener([this] { mqttUpdate(); });
        http_ = std::make_unique<HttpServer>(io_, *httpApi_, std::move(token));
        return http_->listen(where);
    }

    void stateMayHaveChanged() {
        if (http_) {
            http_->stateMayHaveChanged();
        }
        mqttUpdate();
    }

    // --- MQTT -----------------------------------------------------------------

    // Checks what the broker needs before anything opens; with a device id
    // given the client starts now, else once the switcher names its MAC.
    bool prepareMqtt(const MqttOptions& mqtt) {
        if (!mqtt.credentialsFile.empty()) {
            std::string error;
            auto read = readMqttCredentials(mqtt.credentialsFile, error);
            if (!read) {
                log(LogLevel::Error, error);
                return false;
            }
            mqttCredentials_ = std::move(*read);
        }
        if (!mqtt.deviceId.empty()) {
            return startMqtt(mqtt.deviceId);
        }
        log(LogLevel::Info, "MQTT: the device id will be the switcher's MAC address once it reports it "
                            "(--device-id sets one now)");
        return true;
    }

    bool startMqtt(const std::string& deviceId) {
        const MqttOptions& mqtt = *options_.mqtt;
        MqttBridge::Wires wires;
        wires.publish = [this](const std::string& topic, const std::string& payload, bool retained) {
            if (!mqtt_->publish(topic, payload, retained)) {
                log(LogLevel::Debug, "MQTT: not published on " + topic + ": not connected");
            }
        };
        if (!sitePath_.empty()) {
            wires.saveSite = [this](const Site& site) { return saveSiteFile(sitePath_, site); };
        }
        wires.siteChanged = [this] {
            if (http_) {
                http_->stateMayHaveChanged();
            }
        };
        mqttBridge_ = std::make_unique<MqttBridge>(board_, link_.status(), link_.name(), site_,
                                                   MqttBridgeSettings{mqtt.base, deviceId, mqtt.discoveryPrefix},
                                                   std::move(wires));
        MqttConnection connection;
        connection.host = mqtt.host;
        connection.port = mqtt.port;
        connection.user = mqttCredentials_.user;
        connection.password = mqttCredentials_.password;
        connection.caFile = mqtt.caFile;
        connection.clientId = "matrix-hub-" + deviceId;
        connection.willTopic = mqttBridge_->topics().availability();
        connection.willPayload = std::string(kOffline);
        connection.subscriptions = mqttBridge_->subscriptions();
        std::string error;
        mqtt_ = MqttClient::create(
            std::move(connection), [this](std::function<void()> work) { asio::post(io_, std::move(work)); },
            MqttClient::Events{[this] {
                                   log(LogLevel::Info, "MQTT: connected to " + mqtt_->address() + " as " +
                                                           mqttBridge_->topics().root());
                                   mqttBridge_->connected();
                               },
                               [this](const std::string& reason) {
                                   if (mqttBridge_->isConnected()) {
                                       mqttBridge_->disconnected();
                                   }
                                   log(LogLevel::Warning, "MQTT: broker " + mqtt_->address() + ": " + reason);
                               },
                               [this](const MqttMessage& message) {
                                   mqttBridge_->message(message.topic, message.payload, message.retained);
                                   armDeadline();
                               }},
            error);
        if (!mqtt_) {
            log(LogLevel::Error, "MQTT: " + error);
            mqttBridge_.reset();
            return false;
        }
        log(LogLevel::Info, "MQTT: connecting to " + mqtt_->address() + " as " + mqttBridge_->topics().root());
        mqtt_->start();
        return true;
    }

    // Another switcher on the same line keeps the identity the hub started
    // with: renaming a device on the broker mid-run would leave the first
    // one's retained topics behind as a ghost.
    void noteOtherSwitcher() {
        const auto& mac = board_.state().mac();
        const auto id = mac ? deviceIdFromMac(mac->value) : std::nullopt;
        if (id && *id != mqttBridge_->topics().deviceId() && *id != otherSwitcher_) {
            otherSwitcher_ = *id;
            log(LogLevel::Warning, "MQTT: the switcher now reports MAC " + mac->value + "; the hub stays device " +
                                       mqttBridge_->topics().deviceId() + " until it is started again");
        }
    }

    void mqttUpdate() {
        if (!options_.mqtt || stopping_) {
            return;
        }
        if (!mqttBridge_) {
            const auto& mac = board_.state().mac();
            if (!mac) {
                return;
            }
            const auto id = deviceIdFromMac(mac->value);
            if (!id) {
                if (!macRefused_) {
                    macRefused_ = true;
                    log(LogLevel::Error, "MQTT: the switcher's MAC address " + quoteForMessage(mac->value) +
                                             " names no device; give --device-id");
                }
                return;
            }
            if (!startMqtt(*id)) {
                return;
            }
        } else if (options_.mqtt->deviceId.empty()) {
            noteOtherSwitcher();
        }
        mqttBridge_->update();
    }

    // --- text clients -----------------------------------------------------

    bool listen(const ListenAddress& where) {
        boost::system::error_code error = openListener(acceptor_, where);
        if (error) {
            log(LogLevel::Error,
                "cannot listen for text clients on " + formatListenAddress(where) + ": " + error.message());
            return false;
        }
        const auto bound = acceptor_.local_endpoint(error);
        const ListenAddress actual{bound.address().to_string(), bound.port()};
        const std::string ready = std::string(kReadyText) + formatListenAddress(actual) + "\n";
        std::fwrite(ready.data(), 1, ready.size(), stdout);
        std::fflush(stdout);
        log(LogLevel::Info, "text clients on " + formatListenAddress(actual));
        accept();
        return true;
    }

    void accept() {
        acceptor_.async_accept([this](const boost::system::error_code& error, tcp::socket socket) {
            if (error == asio::error::operation_aborted || stopping_) {
                return;
            }
            if (!error) {
                admit(std::move(socket));
            } else {
                log(LogLevel::Warning, "accepting a text client failed: " + error.message());
            }
            accept();
        });
    }

    void admit(tcp::socket socket) {
        const std::string name = peerName(socket);
        boost::system::error_code ignored;
        if (static_cast<int>(clients_.size()) >= options_.maxClients) {
            log(LogLevel::Warning, "refused " + name + ": " + std::to_string(options_.maxClients) +
                                       " clients are connected already (--max-clients)");
            // A fresh socket's buffer takes one short line without waiting.
            socket.non_blocking(true, ignored);
            const std::string line = refusalLine(options_.maxClients);
            socket.write_some(asio::buffer(line), ignored);
            socket.shutdown(tcp::socket::shutdown_both, ignored);
            socket.close(ignored);
            return;
        }
        socket.set_option(tcp::no_delay(true), ignored);
        socket.set_option(asio::socket_base::send_buffer_size(kClientSocketBuffer), ignored);
        const ClientId id = nextClient_++;
        auto client = std::make_shared<TextClient>(std::move(socket));
        client->name = name;
        clients_.emplace(id, client);
        board_.addClient(id, name);
        log(LogLevel::Info, "text client " + name + " connected (" + std::to_string(clients_.size()) + " of " +
                                std::to_string(options_.maxClients) + ")");
        read(id, client);
    }

    void read(ClientId id, const std::shared_ptr<TextClient>& client) {
        client->socket.async_read_some(
            asio::buffer(client->input), [this, id, client](const boost::system::error_code& error, std::size_t size) {
                if (client->gone) {
                    return;
                }
                if (error) {
                    dropClient(id, error == asio::error::eof ? "it closed the connection" : error.message());
                    return;
                }
                board_.clientBytes(id, std::string_view(client->input.data(), size), SteadyClock::now());
                armDeadline();
                if (!client->gone) {
                    read(id, client);
                }
            });
    }

    void startWrite(const std::shared_ptr<TextClient>& client) {
        if (!client->writing.empty() || client->output.empty() || client->gone) {
            return;
        }
        client->writing.swap(client->output);
        asio::async_write(client->socket, asio::buffer(client->writing),
                          [this, client](const boost::system::error_code& error, std::size_t /*size*/) {
                              if (client->gone) {
                                  return;
                              }
                              client->writing.clear();
                              if (error) {
                                  return; // the read side notices and drops it
                              }
                              startWrite(client);
                          });
    }

    void dropClient(ClientId id, const std::string& why) {
        const auto found = clients_.find(id);
        if (found == clients_.end()) {
            return;
        }
        const std::shared_ptr<TextClient> client = found->second;
        clients_.erase(found);
        board_.removeClient(id);
        client->gone = true;
        boost::system::error_code ignored;
        client->socket.shutdown(tcp::socket::shutdown_both, ignored);
        client->socket.close(ignored);
        log(LogLevel::Info, "text client " + client->name + " dropped: " + why);
    }

    void stop(int signal) {
        log(LogLevel::Info, std::string("stopping on ") + (signal == SIGTERM ? "SIGTERM" : "SIGINT"));
        stopping_ = true;
        boost::system::error_code ignored;
        acceptor_.close(ignored);
        while (!clients_.empty()) {
            dropClient(clients_.begin()->first, "the hub stops");
        }
        for (auto* timer : {&pollTimer_, &retryTimer_, &watchTimer_, &deadlineTimer_}) {
            timer->cancel();
        }
        if (http_) {
            http_->stop();
        }
        if (mqtt_) {
            // A clean goodbye drops the will: "offline" is said here instead.
            mqtt_->stop(mqttBridge_->topics().availability(), std::string(kOffline), kMqttStopGrace);
        }
        link_.close();
        io_.stop();
    }

    HubOptions options_;
    std::filesystem::path sitePath_;
    Site site_;
    asio::io_context io_{1};
    asio::signal_set signals_{io_, SIGTERM, SIGINT};
    asio::steady_timer pollTimer_{io_};
    asio::steady_timer retryTimer_{io_};
    asio::steady_timer watchTimer_{io_};
    asio::steady_timer deadlineTimer_{io_};
    bool deadlineArmed_ = false;
    SteadyClock::time_point deadlineAt_{};
    tcp::acceptor acceptor_{io_};
    std::map<ClientId, std::shared_ptr<TextClient>> clients_;
    ClientId nextClient_ = 1;
    Switchboard board_;
    LinkOwner link_;
    RetryBackoff backoff_;
    std::optional<SteadyClock::time_point> lastUp_;
    bool stopping_ = false;
    std::unique_ptr<HttpApi> httpApi_;
    std::unique_ptr<HttpServer> http_;
    MqttCredentials mqttCredentials_;
    std::unique_ptr<MqttBridge> mqttBridge_;
    std::unique_ptr<MqttClient> mqtt_;
    bool macRefused_ = false;
    std::string otherSwitcher_; // the device id of a switcher noticed later
};

} // namespace

int runHub(const HubOptions& options) {
#ifndef _WIN32
    // A client that vanishes mid-write must not end the hub. (Winsock reports
    // it as an error of the write; Windows has no SIGPIPE.)
    std::signal(SIGPIPE, SIG_IGN);
#endif
    Hub hub(options);
    return hub.run();
}

} // namespace mc::hub
