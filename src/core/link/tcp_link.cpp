#include "link/tcp_link.h"

#include <cerrno>
#include <system_error>
#include <thread>
#include <utility>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#endif

namespace mc {

namespace {

std::string boundText(std::chrono::milliseconds bound) {
    const auto ms = bound.count();
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

} // namespace

ResolveJob::~ResolveJob() {
    if (found != nullptr) {
        ::freeaddrinfo(found);
    }
}

TcpBackendBase::TcpBackendBase(TcpLinkAddress address, std::chrono::milliseconds connectTimeout,
                               TcpConnectedFlag connected)
    : address_(std::move(address)), name_(formatLinkAddress(address_)), connectTimeout_(connectTimeout),
      connected_(std::move(connected)) {
}

bool TcpBackendBase::connect() {
    const auto deadline = Clock::now() + connectTimeout_;
    const std::shared_ptr<ResolveJob> job = resolve(deadline);
    if (!job) {
        return false;
    }
    Waited end = Waited::Failed;
    int error = 0;
    for (const addrinfo* a = job->found; a != nullptr; a = a->ai_next) {
        end = connectTo(*a, deadline, error);
        if (end != Waited::Failed) {
            break; // connected, or the time is spent for every further address too
        }
    }
    switch (end) {
    case Waited::Done:
        break;
    case Waited::TimedOut:
        failure_ = "connect " + name_ + ": timed out after " + boundText(connectTimeout_);
        return false;
    case Waited::Stopped:
        failure_ = "connect " + name_ + ": ended by the close";
        return false;
    case Waited::Failed:
        failedWith("connect " + name_, error);
        return false;
    }
    tune();
    if (connected_) {
        connected_->store(true);
    }
    return true;
}

// Resolves the host on a helper thread; nullptr, with the reason, when the
// name has no address, the deadline passes or a stop comes first.
std::shared_ptr<ResolveJob> TcpBackendBase::resolve(Clock::time_point deadline) {
    const std::string what = "resolve " + address_.host;
    int error = 0;
    std::shared_ptr<ResolveJob> job = makeResolveJob(error);
    if (!job) {
        failedWith(what, error);
        return nullptr;
    }
    try {
        std::thread([job, host = address_.host, service = std::to_string(address_.port)] {
            addrinfo hints{};
            hints.ai_family = AF_UNSPEC;
            hints.ai_socktype = SOCK_STREAM;
            hints.ai_flags = AI_ADDRCONFIG | AI_NUMERICSERV;
            addrinfo* found = nullptr;
            const int result = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
            const int savedErrno = errno;
            {
                const std::lock_guard lock(job->lock);
                job->result = result;
                job->savedErrno = savedErrno;
                job->found = found;
            }
            job->signalDone();
        }).detach();
    } catch (const std::system_error& e) {
        failure_ = what + ": " + e.what();
        return nullptr;
    }
    switch (waitResolved(*job, deadline, error)) {
    case Waited::Done:
        break;
    case Waited::Stopped:
        failure_ = what + ": ended by the close";
        return nullptr;
    case Waited::TimedOut:
        failure_ = what + ": timed out after " + boundText(connectTimeout_);
        return nullptr;
    case Waited::Failed:
        failedWith(what, error);
        return nullptr;
    }
    const std::lock_guard lock(job->lock); // the helper's results are there, and it is done with them
    if (job->result != 0) {
        failure_ = what + ": " + resolveErrorText(job->result, job->savedErrno);
        return nullptr;
    }
    return job;
}

long TcpBackendBase::queuedBytes() {
    const long queued = socketQueued();
    return queued < 0 ? -1 : static_cast<long>(received_.size() - receivedAt_) + queued;
}

LinkRead TcpBackendBase::readByte(std::uint8_t& byte) {
    if (receivedAt_ == received_.size()) {
        received_.resize(kTcpReceiveChunk);
        receivedAt_ = 0;
        const long n = receiveSome(received_.data(), received_.size());
        received_.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        if (n == 0) {
            failure_ = "read " + name_ + ": the peer closed the connection";
            return LinkRead::Failed;
        }
        if (n == kNothingYet) {
            return LinkRead::Empty;
        }
        if (n < 0) {
            return LinkRead::Failed;
        }
    }
    byte = static_cast<std::uint8_t>(received_[receivedAt_++]);
    return LinkRead::Byte;
}

void TcpBackendBase::purgeInput() {
    dropReceived();
    if (!hasConnection()) {
        return; // a failed connect: its reason stands
    }
    std::string discard(kTcpReceiveChunk, '\0');
    while (socketQueued() > 0 && receiveSome(discard.data(), discard.size()) > 0) {
    }
}

void TcpBackendBase::dropReceived() {
    received_.clear();
    receivedAt_ = 0;
}

} // namespace mc
