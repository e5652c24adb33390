#include "link_owner.h"

#include "link/com_port_name.h"
#include "link/tcp_backend.h"
#include "session/log_hook.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace mc::hub {
namespace {

constexpr std::string_view kLogSource = "link";
// Received bytes not yet taken by the loop, at most; the worker then waits.
constexpr std::size_t kInboxLimit = std::size_t{64} * 1024;
// The wait's slices, so a close ends it soon.
constexpr auto kInboxWaitSlice = std::chrono::milliseconds(20);
// The link number the hub's serial links carry (any, since it owns one link).
constexpr int kSerialLinkNumber = 1;

// Tells the loop once a TCP connection stands; every other call goes straight
// through.
class ConnectReporting final : public LinkBackend {
public:
    ConnectReporting(std::unique_ptr<LinkBackend> inner, std::function<void()> connected)
        : inner_(std::move(inner)), connected_(std::move(connected)) {}

    bool open() override { return inner_->open(); }
    bool connect() override {
        if (!inner_->connect()) {
            return false;
        }
        connected_();
        return true;
    }
    bool configure(const LineSettings& line) override { return inner_->configure(line); }
    void close() override { inner_->close(); }
    void wakeForStop() override { inner_->wakeForStop(); }
    void wakeForWrite() override { inner_->wakeForWrite(); }
    void takeWriteWake() override { inner_->takeWriteWake(); }
    LinkWake wait(bool watchLine) override { return inner_->wait(watchLine); }
    void endWait() override { inner_->endWait(); }
    long queuedBytes() override { return inner_->queuedBytes(); }
    LinkRead readByte(std::uint8_t& byte) override { return inner_->readByte(byte); }
    LinkWrite write(std::string_view bytes, Clock::time_point deadline) override {
        return inner_->write(bytes, deadline);
    }
    void purgeInput() override { inner_->purgeInput(); }
    void purgeAll() override { inner_->purgeAll(); }
    [[nodiscard]] std::string failure() const override { return inner_->failure(); }

private:
    std::unique_ptr<LinkBackend> inner_;
    std::function<void()> connected_;
};

LineSettings hubLineSettings() {
    LineSettings line;
    // Several clients' commands go out while replies to earlier ones still
    // arrive: a purge before each write would lose those replies.
    line.purgeInputBeforeWrite = false;
    return line;
}

} // namespace

std::chrono::milliseconds RetryBackoff::next() {
    const auto wait = next_;
    next_ = std::min(next_ * 2, kLongest);
    return wait;
}

const char* linkStateName(LinkStatus::State state) {
    switch (state) {
    case LinkStatus::Connecting:
        return "connecting";
    case LinkStatus::Up:
        return "up";
    case LinkStatus::Down:
        return "down";
    }
    return "?";
}

LinkOwner::LinkOwner(LinkAddress address, Post post, Events events)
    : address_(std::move(address)), name_(formatLinkAddress(address_)), post_(std::move(post)),
      events_(std::move(events)) {
    status_.since = std::chrono::system_clock::now();
    status_.reason = "not opened yet";
}

LinkOwner::~LinkOwner() {
    channel_.closeLink();
}

bool LinkOwner::isSerial() const {
    return std::holds_alternative<SerialLinkAddress>(address_);
}

std::optional<std::string> LinkOwner::devicePath() const {
    const auto* serial = std::get_if<SerialLinkAddress>(&address_);
    if (serial == nullptr) {
        return std::nullopt;
    }
    if (!serial->devicePath.empty()) {
        return serial->devicePath;
    }
    return comPortDevicePath(serial->comPort);
}

std::string LinkOwner::deviceIdentity() const {
#ifdef _WIN32
    // A COM port has no device node whose identity would tell that an
    // adapter was plugged back: the retries' backoff alone finds it again.
    return {};
#else
    const auto path = devicePath();
    struct stat info {};
    if (!path || ::stat(path->c_str(), &info) != 0) {
        return {};
    }
    return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino) + ":" + std::to_string(info.st_rdev);
#endif
}

bool LinkOwner::deviceReturned() {
    if (status_.state != LinkStatus::Down || !isSerial()) {
        return false;
    }
    const std::string now = deviceIdentity();
    if (now.empty() || now == deviceAtFailure_) {
        deviceAtFailure_ = now;
        return false;
    }
    return true;
}

void LinkOwner::setStatus(LinkStatus::State state, std::string reason) {
    status_.state = state;
    status_.reason = std::move(reason);
    status_.since = std::chrono::system_clock::now();
}

void LinkOwner::open() {
    close();
    std::uint64_t generation = 0;
    {
        const std::lock_guard lock(inboxLock_);
        generation = ++generation_;
    }
    const auto upLater = [this, generation] {
        post_([this, generation] {
            if (generation == generation_ && status_.state == LinkStatus::Connecting) {
                setStatus(LinkStatus::Up, {});
                events_.up();
            }
        });
    };
    std::unique_ptr<LinkBackend> backend;
    int linkNumber = kSerialLinkNumber;
    if (const auto* tcp = std::get_if<TcpLinkAddress>(&address_)) {
        backend = makeTcpBackend(*tcp);
        linkNumber = kNetworkLinkNumber;
        if (backend) {
            backend = std::make_unique<ConnectReporting>(std::move(backend), upLater);
        }
    } else {
#ifdef _WIN32
        // Windows opens serial ports by their COM number ("\\.\COMn" too).
        if (const auto& serial = std::get<SerialLinkAddress>(address_); serial.comPort > 0) {
            backend = makeSerialBackend(serial.comPort);
        }
#else
        if (const auto path = devicePath()) {
            backend = makeSerialDeviceBackend(*path);
        }
#endif
    }
    setStatus(LinkStatus::Connecting, {});
    // The channel keeps its error flag until told: each attempt starts clean.
    channel_.clearPortError();
    if (!backend) {
        fail(name_ + ": names no device on this system");
        return;
    }
    if (!channel_.openLink(*this, linkNumber, std::move(backend), hubLineSettings())) {
        fail(name_ + ": " + channel_.lastFailure());
        return;
    }
    if (channel_.portError()) {
        fail(name_ + ": the port opened but cannot be set to 57600 baud 8N1");
        return;
    }
    if (!channel_.startPortWorker()) {
        fail(name_ + ": the port's reader cannot be started");
        return;
    }
    if (isSerial()) {
        upLater();
    }
}

void LinkOwner::close() {
    channel_.closeLink();
    const std::lock_guard lock(inboxLock_);
    inbox_.clear();
    inboxFailed_ = false;
    drainPosted_ = false;
    ++generation_;
    inboxDrained_.notify_all();
}

SendResult LinkOwner::send(std::string_view bytes) {
    if (status_.state != LinkStatus::Up) {
        return SendResult::NoWriteBuffer;
    }
    return channel_.sendTextCommand(bytes);
}

void LinkOwner::receiveBytes(std::span<const std::uint8_t> bytes, int /*comPort*/, std::stop_token stop) {
    // A failed write raises the flag without ending the worker: what comes
    // after it counts as the failure.
    const bool failed = channel_.portError();
    std::unique_lock lock(inboxLock_);
    while (inbox_.size() + bytes.size() > kInboxLimit && !stop.stop_requested()) {
        inboxDrained_.wait_for(lock, kInboxWaitSlice);
    }
    if (stop.stop_requested()) {
        return;
    }
    if (failed) {
        inboxFailed_ = true;
    } else {
        inbox_.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    postDrain();
}

void LinkOwner::linkFailed(int /*comPort*/, std::string /*reason*/, std::stop_token /*stop*/) {
    // The reason is the channel's lastFailure(), which the drain reports.
    const std::lock_guard lock(inboxLock_);
    inboxFailed_ = true;
    postDrain();
}

void LinkOwner::postDrain() {
    if (!drainPosted_) {
        drainPosted_ = true;
        const std::uint64_t generation = generation_;
        post_([this, generation] { drain(generation); });
    }
}

void LinkOwner::drain(std::uint64_t generation) {
    std::string bytes;
    bool failed = false;
    {
        const std::lock_guard lock(inboxLock_);
        if (generation != generation_) {
            return;
        }
        bytes.swap(inbox_);
        failed = inboxFailed_;
        drainPosted_ = false;
        inboxDrained_.notify_all();
    }
    if (!bytes.empty()) {
        events_.received(bytes);
    }
    if (failed) {
        // A TCP failure names the peer already; a serial one names the call.
        const std::string reason = channel_.lastFailure();
        fail(reason.empty() ? name_ + ": the line failed" : (isSerial() ? name_ + ": " + reason : reason));
    }
}

void LinkOwner::fail(const std::string& reason) {
    channel_.closeLink();
    {
        const std::lock_guard lock(inboxLock_);
        ++generation_;
        inbox_.clear();
        inboxFailed_ = false;
        drainPosted_ = false;
    }
    deviceAtFailure_ = deviceIdentity();
    setStatus(LinkStatus::Down, reason);
    events_.failed(reason);
}

} // namespace mc::hub
