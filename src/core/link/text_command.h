#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace mc {

// Size of the channel's write buffer as the console opens the port; no text
// command may be longer.
inline constexpr std::size_t kWriteBufferSize = 1024;

// The exact bytes of one command line for the switcher, at most
// kWriteBufferSize long. Built only through the command builders.
class TextCommand {
public:
    TextCommand() = default;

    // nullopt when the bytes would not fit the write buffer.
    static std::optional<TextCommand> fromBytes(std::string bytes) {
        if (bytes.size() > kWriteBufferSize) {
            return std::nullopt;
        }
        TextCommand command;
        command.bytes_ = std::move(bytes);
        return command;
    }

    [[nodiscard]] std::string_view bytes() const { return bytes_; }
    [[nodiscard]] std::size_t size() const { return bytes_.size(); }
    [[nodiscard]] bool empty() const { return bytes_.empty(); }

    // A remark the traffic monitor shows on the command's row (what is wrong
    // with an EDID being uploaded); never sent.
    [[nodiscard]] std::string_view note() const { return note_; }
    void setNote(std::string note) { note_ = std::move(note); }

    friend bool operator==(const TextCommand&, const TextCommand&) = default;

private:
    std::string bytes_;
    std::string note_;
};

// Where pages hand their commands. The one place that tests the port-open
// flag: a command given while the port is closed is dropped, never queued.
class CommandSender {
public:
    virtual ~CommandSender() = default;
    // True when the command was handed to the open port.
    virtual bool send(const TextCommand& command) = 0;
};

} // namespace mc
