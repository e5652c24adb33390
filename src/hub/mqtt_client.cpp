#include "mqtt_client.h"

#include "link_owner.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <mosquitto.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace mc::hub {
namespace {

// A credentials file is two short lines; anything bigger is not one.
constexpr std::size_t kMaxCredentialsFile = 4096;
constexpr int kQos = 1;
// How long one turn of the connection's loop waits for traffic; publishing
// wakes it at once, so this only bounds how late a keep-alive goes out.
constexpr int kLoopWaitMs = 1000;

std::string systemReason(int error) {
    return std::strerror(error);
}

} // namespace

struct MqttClient::Shared {
    MqttConnection connection;
    Post post;
    Events events;
    mosquitto* mosq = nullptr;
    std::thread thread;

    std::mutex lock;
    std::condition_variable wake;
    bool stopping = false; // under lock
    bool posting = true;   // under lock: false once the loop stopped listening
    std::promise<void> ended;

    std::atomic<bool> up{false}; // a connection stands (CONNACK accepted)
    // The connection thread's own.
    std::string refusal;
    bool welcomed = false; // the broker accepted the connection in this turn
    std::optional<std::chrono::steady_clock::time_point> connectedAt;

    ~Shared() {
        if (mosq != nullptr) {
            mosquitto_destroy(mosq);
        }
    }

    void postEvent(std::function<void()> work) {
        const std::lock_guard guard(lock);
        if (posting) {
            post(std::move(work));
        }
    }

    [[nodiscard]] bool isStopping() {
        const std::lock_guard guard(lock);
        return stopping;
    }

    void run();
};

void MqttClient::Shared::run() {
    RetryBackoff backoff;
    while (!isStopping()) {
        refusal.clear();
        welcomed = false;
        connectedAt.reset();
        errno = 0;
        int rc =
            mosquitto_connect(mosq, connection.host.c_str(), connection.port, static_cast<int>(kMqttKeepAlive.count()));
        int error = errno;
        if (rc == MOSQ_ERR_SUCCESS) {
            do {
                errno = 0;
                rc = mosquitto_loop(mosq, kLoopWaitMs, 1);
                error = errno;
                // Told only once the turn that took the broker's welcome is
                // over: the library has sent again what it still held from
                // the last connection by then, so the hub's fresh state is
                // published after it, never before.
                if (rc == MOSQ_ERR_SUCCESS && welcomed) {
                    welcomed = false;
                    up = true;
                    postEvent([this] { events.connected(); });
                }
            } while (rc == MOSQ_ERR_SUCCESS);
        }
        up = false;
        if (isStopping()) {
            break;
        }
        std::string reason = !refusal.empty()                ? refusal
                             : rc == MOSQ_ERR_ERRNO && error ? systemReason(error)
                                                             : std::string(mosquitto_strerror(rc));
        if (connectedAt && std::chrono::steady_clock::now() - *connectedAt >= kMqttStableTime) {
            backoff.reset();
        }
        const auto wait = backoff.next();
        reason += "; next attempt in " + std::to_string(wait.count()) + " ms";
        postEvent([this, reason] { events.lost(reason); });
        std::unique_lock guard(lock);
        wake.wait_for(guard, wait, [this] { return stopping; });
    }
    ended.set_value();
}

std::unique_ptr<MqttClient> MqttClient::create(MqttConnection connection, Post post, Events events,
                                               std::string& error) {
    static const int initialised = mosquitto_lib_init();
    if (initialised != MOSQ_ERR_SUCCESS) {
        error = std::string("the MQTT library could not start: ") + mosquitto_strerror(initialised);
        return nullptr;
    }
    if (!connection.caFile.empty() && ::access(connection.caFile.c_str(), R_OK) != 0) {
        error = "cannot read the CA file " + connection.caFile + ": " + systemReason(errno);
        return nullptr;
    }
    auto shared = std::make_shared<Shared>();
    shared->connection = std::move(connection);
    shared->post = std::move(post);
    shared->events = std::move(events);
    const MqttConnection& settings = shared->connection;
    // A clean session: commands sent while the hub was away are stale and
    // must not be delivered when it comes back.
    shared->mosq = mosquitto_new(settings.clientId.c_str(), true, shared.get());
    if (shared->mosq == nullptr) {
        error = "the MQTT client could not be made: " + systemReason(errno);
        return nullptr;
    }
    mosquitto* mosq = shared->mosq;
    mosquitto_threaded_set(mosq, true);
    mosquitto_int_option(mosq, MOSQ_OPT_TCP_NODELAY, 1);
    int rc = mosquitto_will_set(mosq, settings.willTopic.c_str(), static_cast<int>(settings.willPayload.size()),
                                settings.willPayload.data(), kQos, true);
    if (rc == MOSQ_ERR_SUCCESS && !settings.user.empty()) {
        rc = mosquitto_username_pw_set(mosq, settings.user.c_str(),
                                       settings.password.empty() ? nullptr : settings.password.c_str());
    }
    if (rc == MOSQ_ERR_SUCCESS && !settings.caFile.empty()) {
        rc = mosquitto_tls_set(mosq, settings.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        error = std::string("the MQTT client could not be set up: ") + mosquitto_strerror(rc);
        return nullptr;
    }
    mosquitto_connect_callback_set(mosq, [](mosquitto* m, void* data, int result) {
        auto* self = static_cast<Shared*>(data);
        if (result != 0) {
            self->refusal = std::string("the broker refused the connection: ") + mosquitto_connack_string(result);
            return;
        }
        for (const std::string& pattern : self->connection.subscriptions) {
            mosquitto_subscribe(m, nullptr, pattern.c_str(), kQos);
        }
        self->connectedAt = std::chrono::steady_clock::now();
        self->welcomed = true;
    });
    mosquitto_message_callback_set(mosq, [](mosquitto* /*m*/, void* data, const mosquitto_message* message) {
        auto* self = static_cast<Shared*>(data);
        MqttMessage copy;
        copy.topic = message->topic;
        const auto size = std::min(static_cast<std::size_t>(std::max(message->payloadlen, 0)), kMaxMqttMessage + 1);
        copy.payload.assign(static_cast<const char*>(message->payload), size);
        copy.retained = message->retain;
        self->postEvent([self, copy = std::move(copy)]() mutable { self->events.message(std::move(copy)); });
    });
    return std::unique_ptr<MqttClient>(new MqttClient(std::move(shared)));
}

MqttClient::MqttClient(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {
}

MqttClient::~MqttClient() {
    if (shared_->thread.joinable()) {
        stop({}, {}, std::chrono::milliseconds(0));
    }
}

void MqttClient::start() {
    shared_->thread = std::thread([shared = shared_] { shared->run(); });
}

bool MqttClient::publish(const std::string& topic, const std::string& payload, bool retained) {
    return mosquitto_publish(shared_->mosq, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(),
                             kQos, retained) == MOSQ_ERR_SUCCESS;
}

void MqttClient::stop(const std::string& lastTopic, const std::string& lastPayload, std::chrono::milliseconds grace) {
    if (!shared_->thread.joinable()) {
        return;
    }
    {
        const std::lock_guard guard(shared_->lock);
        shared_->stopping = true;
    }
    if (shared_->up) {
        // Queued before the goodbye, so written before it: a clean goodbye
        // makes the broker drop the will, and these words stand instead.
        if (!lastTopic.empty()) {
            publish(lastTopic, lastPayload, true);
        }
        mosquitto_disconnect(shared_->mosq);
    }
    shared_->wake.notify_all();
    if (shared_->ended.get_future().wait_for(grace) == std::future_status::ready) {
        shared_->thread.join();
        return;
    }
    // Stuck in a connect to a broker that does not answer: the thread keeps
    // the client to itself until the process ends, and tells nobody.
    {
        const std::lock_guard guard(shared_->lock);
        shared_->posting = false;
    }
    shared_->thread.detach();
}

std::string MqttClient::address() const {
    const auto& host = shared_->connection.host;
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(shared_->connection.port);
}

std::optional<MqttCredentials> readMqttCredentials(const std::string& file, std::string& error) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot read the MQTT credentials file " + file + ": " + systemReason(errno);
        return std::nullopt;
    }
    struct stat info {};
    std::string content;
    bool ok = ::fstat(fd, &info) == 0;
    if (ok && (info.st_mode & S_IROTH) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%03o", static_cast<unsigned>(info.st_mode & 0777U));
        error = "the MQTT credentials file " + file + " may be read by every user (mode " + mode +
                "): it holds a password; make it readable by the hub's user only (chmod 600, or 640 for a group)";
        ::close(fd);
        return std::nullopt;
    }
    char buffer[kMaxCredentialsFile + 1];
    while (ok && content.size() <= kMaxCredentialsFile) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        content.append(buffer, static_cast<std::size_t>(got));
    }
    const int readError = errno;
    ::close(fd);
    if (!ok) {
        error = "cannot read the MQTT credentials file " + file + ": " + systemReason(readError);
        return std::nullopt;
    }
    if (content.size() > kMaxCredentialsFile) {
        error = "the MQTT credentials file " + file + " is longer than " + std::to_string(kMaxCredentialsFile) +
                " bytes: it should hold the user name on one line and the password on the next";
        return std::nullopt;
    }
    MqttCredentials credentials;
    const auto lineEnd = content.find('\n');
    credentials.user = content.substr(0, lineEnd);
    if (lineEnd != std::string::npos) {
        const std::string rest = content.substr(lineEnd + 1);
        credentials.password = rest.substr(0, rest.find('\n'));
    }
    for (std::string* field : {&credentials.user, &credentials.password}) {
        if (!field->empty() && field->back() == '\r') {
            field->pop_back();
        }
    }
    if (credentials.user.empty()) {
        error = "the MQTT credentials file " + file + " has no user name on its first line";
        return std::nullopt;
    }
    return credentials;
}

} // namespace mc::hub
