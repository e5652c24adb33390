#include "support/fake_line.h"

#include <utility>

namespace mc::test {

// The channel's side of a fake line, for one open.
class FakeLineBackend : public LinkBackend {
public:
    explicit FakeLineBackend(std::shared_ptr<FakeLine> line) : line_(std::move(line)) {}
    ~FakeLineBackend() override { close(); }
    FakeLineBackend(const FakeLineBackend&) = delete;
    FakeLineBackend& operator=(const FakeLineBackend&) = delete;

    bool open() override {
        const std::lock_guard lock(line_->mutex_);
        if (line_->refuseOpens_ || line_->open_) {
            failure_ = "open fake line: in use by another program";
            return false;
        }
        line_->open_ = true;
        line_->stop_ = false;
        line_->write_ = false;
        opened_ = true;
        line_->note("open");
        return true;
    }

    bool connect() override {
        std::unique_lock lock(line_->mutex_);
        line_->changed_.wait(lock, [&] { return !line_->holdConnects_ || line_->stop_; });
        if (line_->refuseConnects_ || line_->stop_) {
            failure_ = "connect fake line: Connection refused";
            return false;
        }
        return true;
    }

    bool configure(const LineSettings& /*line*/) override {
        const std::lock_guard lock(line_->mutex_);
        line_->note("configure");
        return true;
    }

    void close() override {
        const std::lock_guard lock(line_->mutex_);
        if (opened_) {
            opened_ = false;
            line_->open_ = false;
            line_->note("close");
        }
    }

    void wakeForStop() override { wake(line_->stop_); }
    void wakeForWrite() override { wake(line_->write_); }
    void takeWriteWake() override {
        const std::lock_guard lock(line_->mutex_);
        line_->write_ = false;
    }

    LinkWake wait(bool watchLine) override {
        std::unique_lock lock(line_->mutex_);
        FakeLine& l = *line_;
        l.changed_.wait(lock, [&] { return l.stop_ || l.write_ || (watchLine && (!l.input_.empty() || l.hungUp_)); });
        if (l.stop_) {
            return LinkWake::Stop;
        }
        if (watchLine && l.hungUp_) {
            return LinkWake::HungUp;
        }
        if (watchLine && !l.input_.empty()) {
            return LinkWake::Readable;
        }
        return LinkWake::Write;
    }

    long queuedBytes() override {
        const std::lock_guard lock(line_->mutex_);
        return static_cast<long>(line_->input_.size());
    }

    LinkRead readByte(std::uint8_t& byte) override {
        const std::lock_guard lock(line_->mutex_);
        if (!line_->input_.empty()) {
            byte = line_->input_.front();
            line_->input_.pop_front();
            return LinkRead::Byte;
        }
        if (line_->hungUp_) {
            failure_ = "read: Input/output error";
            return LinkRead::Failed;
        }
        return LinkRead::Empty;
    }

    LinkWrite write(std::string_view bytes, Clock::time_point /*deadline*/) override {
        const std::lock_guard lock(line_->mutex_);
        if (line_->hungUp_) {
            failure_ = "write: Input/output error";
            return LinkWrite::Failed;
        }
        line_->written_ += bytes;
        line_->note("write " + std::string(bytes));
        line_->input_.insert(line_->input_.end(), line_->reply_.begin(), line_->reply_.end());
        line_->changed_.notify_all();
        return LinkWrite::Written;
    }

    void purgeInput() override {
        const std::lock_guard lock(line_->mutex_);
        line_->input_.clear();
        line_->note("purge input");
    }

    void purgeAll() override {
        const std::lock_guard lock(line_->mutex_);
        line_->input_.clear();
        line_->note("purge all");
    }

    [[nodiscard]] std::string failure() const override { return failure_; }

private:
    void wake(bool& flag) {
        const std::lock_guard lock(line_->mutex_);
        flag = true;
        line_->changed_.notify_all();
    }

    std::shared_ptr<FakeLine> line_;
    bool opened_ = false;
    std::string failure_;
};

void FakeLine::note(std::string entry) {
    journal_.push_back(std::move(entry));
    changed_.notify_all();
}

void FakeLine::feed(std::string_view bytes) {
    const std::lock_guard lock(mutex_);
    input_.insert(input_.end(), bytes.begin(), bytes.end());
    changed_.notify_all();
}

void FakeLine::answerEachWrite(std::string_view reply) {
    const std::lock_guard lock(mutex_);
    reply_ = reply;
}

void FakeLine::failFarEnd() {
    const std::lock_guard lock(mutex_);
    hungUp_ = true;
    changed_.notify_all();
}

void FakeLine::restoreFarEnd() {
    const std::lock_guard lock(mutex_);
    hungUp_ = false;
}

void FakeLine::refuseOpens() {
    const std::lock_guard lock(mutex_);
    refuseOpens_ = true;
}

void FakeLine::refuseConnects() {
    const std::lock_guard lock(mutex_);
    refuseConnects_ = true;
}

void FakeLine::holdConnects() {
    const std::lock_guard lock(mutex_);
    holdConnects_ = true;
}

std::vector<std::string> FakeLine::journal() const {
    const std::lock_guard lock(mutex_);
    return journal_;
}

std::string FakeLine::written() const {
    const std::lock_guard lock(mutex_);
    return written_;
}

std::size_t FakeLine::queued() const {
    const std::lock_guard lock(mutex_);
    return input_.size();
}

bool FakeLine::isOpen() const {
    const std::lock_guard lock(mutex_);
    return open_;
}

bool FakeLine::waitWritten(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return written_.size() >= count; });
}

FakeLine& FakeLines::add(int comPort) {
    std::shared_ptr<FakeLine>& line = (*lines_)[comPort];
    if (!line) {
        line = std::make_shared<FakeLine>();
    }
    return *line;
}

LinkBackendFactory FakeLines::factory() {
    // Window thread only, as add() is.
    return [lines = lines_](int comPort) -> std::unique_ptr<LinkBackend> {
        const auto found = lines->find(comPort);
        if (found == lines->end()) {
            return nullptr;
        }
        return std::make_unique<FakeLineBackend>(found->second);
    };
}

} // namespace mc::test
