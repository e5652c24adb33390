#include "link/pending_commands.h"

namespace mc {

const char* sendResultText(SendResult result) {
    switch (result) {
    case SendResult::Queued:
        return "queued";
    case SendResult::NoWriteBuffer:
        return "no port open";
    case SendResult::TooLong:
        return "longer than the write buffer";
    case SendResult::Empty:
        return "empty";
    case SendResult::QueueFull:
        return "too many commands wait for the line";
    }
    return "refused";
}

void PendingCommands::open(int writeBufferSize) {
    const std::lock_guard lock(mutex_);
    queue_.clear();
    open_ = writeBufferSize > 0;
    writeBufferSize_ = open_ ? static_cast<std::size_t>(writeBufferSize) : 0;
}

void PendingCommands::close() {
    const std::lock_guard lock(mutex_);
    queue_.clear();
    open_ = false;
    writeBufferSize_ = 0;
}

SendResult PendingCommands::push(std::string_view bytes) {
    const std::lock_guard lock(mutex_);
    if (!open_) {
        return SendResult::NoWriteBuffer;
    }
    if (bytes.empty()) {
        return SendResult::Empty;
    }
    if (bytes.size() > writeBufferSize_) {
        return SendResult::TooLong;
    }
    if (queue_.size() >= kPendingCommandLimit) {
        return SendResult::QueueFull;
    }
    queue_.emplace_back(bytes);
    return SendResult::Queued;
}

std::optional<std::string> PendingCommands::pop() {
    const std::lock_guard lock(mutex_);
    if (queue_.empty()) {
        return std::nullopt;
    }
    std::string front = std::move(queue_.front());
    queue_.pop_front();
    return front;
}

std::size_t PendingCommands::size() const {
    const std::lock_guard lock(mutex_);
    return queue_.size();
}

bool PendingCommands::isOpen() const {
    const std::lock_guard lock(mutex_);
    return open_;
}

} // namespace mc
