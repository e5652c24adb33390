#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

namespace mc::test {

// The far end of a serial line for tests: the master side of a
// pseudo-terminal whose slave side the code under test opens, usually through
// a comN link in a port directory. The slave is set raw at creation, so no
// byte is echoed or translated before the code under test configures it.
class PtyPeer {
public:
    // nullptr when no pseudo-terminal can be had.
    static std::unique_ptr<PtyPeer> create();
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    [[nodiscard]] const std::string& slavePath() const { return slavePath_; }

    // Links dir/comN to the slave side; replaces an existing link.
    bool linkAs(const std::string& dir, int comPort) const;

    // Writes all bytes to the line (blocking).
    bool write(std::string_view bytes) const;

    // Reads what arrives until `count` bytes are there or `timeout` passes.
    std::string read(std::size_t count, std::chrono::milliseconds timeout) const;

    // Reads whatever arrives within `quiet` of silence, up to `timeout` in all.
    std::string readAll(std::chrono::milliseconds quiet, std::chrono::milliseconds timeout) const;

    // Closes the master side: the other end sees the line hang up.
    void hangUp();

    [[nodiscard]] int masterFd() const { return master_; }

private:
    explicit PtyPeer(int master, std::string slavePath);
    int master_;
    std::string slavePath_;
};

// A temporary port directory (for MATRIX_CONSOLE_PORTS), removed with its
// contents on destruction.
class PortDirectory {
public:
    PortDirectory();
    ~PortDirectory();
    PortDirectory(const PortDirectory&) = delete;
    PortDirectory& operator=(const PortDirectory&) = delete;

    [[nodiscard]] const std::string& path() const { return path_; }
    [[nodiscard]] std::string portPath(int comPort) const;

    // Points MATRIX_CONSOLE_PORTS at this directory for the rest of the process.
    void exportToEnvironment() const;

private:
    std::string path_;
};

} // namespace mc::test
