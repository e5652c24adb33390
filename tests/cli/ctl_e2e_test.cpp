// The matrix-ctl program against the switcher emulator on pseudo-terminals in
// a port directory: each command's exit status, output (text and JSON) and
// the bytes that reached the switcher.
#include "cli/json_schema.h"
#include "support/hub_process.h"
#include "support/pty_peer.h"
#include "support/switcher_process.h"
#include "version.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace mc::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// Generous: the machine running the tests may be busy.
constexpr auto kRunLimit = 20s;

// matrix-ctl as a child process with its standard output and error caught.
class CtlProcess {
public:
    // `errorTerminal`: a terminal device standard error goes to instead of a pipe.
    explicit CtlProcess(std::vector<std::string> args, const std::string& errorTerminal = {}) {
        int out[2];
        int err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
            return;
        }
        args.insert(args.begin(), MC_CTL_EXECUTABLE);
        std::vector<char*> argv;
        for (auto& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        if (errorTerminal.empty()) {
            posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
        } else {
            posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorTerminal.c_str(), O_RDWR | O_NOCTTY, 0);
        }
        started_ = Clock::now();
        if (::posix_spawn(&pid_, MC_CTL_EXECUTABLE, &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        out_ = out[0];
        err_ = err[0];
        if (!errorTerminal.empty()) {
            ::close(err_);
            err_ = -1;
        }
    }
    ~CtlProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(out_);
        ::close(err_);
    }
    CtlProcess(const CtlProcess&) = delete;
    CtlProcess& operator=(const CtlProcess&) = delete;

    // Reads until stdout holds `text` or the time is up.
    bool waitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
        const auto until = Clock::now() + timeout;
        while (out.find(text) == std::string::npos && Clock::now() < until) {
            pump(50);
        }
        return out.find(text) != std::string::npos;
    }

    void signal(int number) const { ::kill(pid_, number); }

    // Voluntary context switches of all its threads so far: how often it
    // woke up to wait again.
    [[nodiscard]] long wakeUps() const {
        long total = 0;
        for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid_) + "/task")) {
            std::ifstream status(task.path() / "status");
            for (std::string line; std::getline(status, line);) {
                if (line.rfind("voluntary_ctxt_switches:", 0) == 0) {
                    total += std::stol(line.substr(line.find(':') + 1));
                }
            }
        }
        return total;
    }

    // The reader of its standard output goes away, as `| head -1` does.
    void closeOutput() {
        ::close(out_);
        out_ = -1;
    }

    // Reads everything and reaps the program; -1 when it did not end in time.
    int wait() {
        const auto until = started_ + kRunLimit;
        while ((out_ >= 0 || err_ >= 0) && Clock::now() < until) {
            pump(100);
        }
        int status = 0;
        if (out_ >= 0 || err_ >= 0 || ::waitpid(pid_, &status, 0) != pid_) {
            return -1;
        }
        pid_ = -1;
        elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started_);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    std::string out;
    std::string err;
    std::chrono::milliseconds elapsed{0};

private:
    void pump(int ms) {
        std::array<pollfd, 2> fds{{{out_, POLLIN, 0}, {err_, POLLIN, 0}}};
        if (::poll(fds.data(), fds.size(), ms) <= 0) {
            return;
        }
        readFrom(out_, fds[0].revents, out);
        readFrom(err_, fds[1].revents, err);
    }
    static void readFrom(int& fd, short revents, std::string& into) {
        if (fd < 0 || revents == 0) {
            return;
        }
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            into.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            ::close(fd);
            fd = -1;
        }
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    Clock::time_point started_;
};

struct Result {
    int status = -1;
    std::string out;
    std::string err;
    std::chrono::milliseconds elapsed{0};
};

Result ctl(std::vector<std::string> args) {
    CtlProcess process(std::move(args));
    Result result;
    result.status = process.wait();
    result.out = process.out;
    result.err = process.err;
    result.elapsed = process.elapsed;
    return result;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

const JsonValue& schema() {
    static const JsonValue parsed = [] {
        std::string error;
        auto value = parseJson(readFile(MC_CTL_SCHEMA), &error);
        EXPECT_TRUE(value) << "schema: " << error;
        return value.value_or(JsonValue{});
    }();
    return parsed;
}

// The one JSON document of a run, checked against the documented schema.
JsonValue document(const Result& run) {
    std::string error;
    auto doc = parseJson(run.out, &error);
    EXPECT_TRUE(doc) << error << " in: " << run.out;
    if (!doc) {
        return {};
    }
    const auto problems = validateJson(*doc, schema());
    for (const std::string& problem : problems) {
        ADD_FAILURE() << "schema: " << problem << "\n in: " << run.out;
    }
    return *doc;
}

const JsonValue& at(const JsonValue& value, std::string_view key) {
    static const JsonValue none;
    const JsonValue* member = value.find(key);
    EXPECT_NE(member, nullptr) << "no member " << key;
    return member != nullptr ? *member : none;
}

class CtlE2e : public ::testing::Test {
protected:
    void SetUp() override {
        ports_.exportToEnvironment();
        ::unsetenv("MATRIX_CTL_LINK");
    }

    std::unique_ptr<SwitcherProcess> startSwitcher(int comPort, std::string mode = "normal",
                                                   std::optional<long> hangupAfter = std::nullopt) {
        SwitcherProcess::Options options;
        options.portDirectory = ports_.path();
        options.comPort = comPort;
        options.mode = std::move(mode);
        options.hangupAfter = hangupAfter;
        auto sim = std::make_unique<SwitcherProcess>(std::move(options));
        EXPECT_TRUE(sim->ready()) << sim->startupOutput();
        return sim;
    }

    // A file path in the test's own folder.
    [[nodiscard]] fs::path file(const std::string& name) const { return fs::path(ports_.path()) / name; }

    PortDirectory ports_;
};

TEST_F(CtlE2e, statusPrintsSixteenRowsAndTheNetworkAndItsJsonFollowsTheSchema) {
    auto sim = startSwitcher(2);
    const Result text = ctl({"--link", "COM2", "status"});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(std::count(text.out.begin(), text.out.end(), '\n'), 1 + 16 + 1 + 6) << text.out;
    // Port N is output N for the route and audio, input N for the EDID.
    EXPECT_EQ(text.out.find("Port  Output N shows input  Output N audio  Input N presents EDID\n"), 0U) << text.out;
    EXPECT_NE(text.out.find("\n  16                    16  on              16 1080P_2CH_HDR\n"), std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("Host      192.168.0.100\n"), std::string::npos);
    EXPECT_NE(text.out.find("MAC       00:1A:2B:3C:4D:5E\n"), std::string::npos);
    EXPECT_EQ(sim->receivedLines(), std::vector<std::string>{"\r\nGET STA\r\n"});

    const Result json = ctl({"--json", "--link", "COM2", "status"});
    ASSERT_EQ(json.status, 0) << json.err;
    const JsonValue doc = document(json);
    EXPECT_TRUE(at(doc, "ok").boolean);
    EXPECT_EQ(at(doc, "link").string, "COM2");
    const JsonValue& result = at(doc, "result");
    const JsonValue& output5 = at(result, "outputs").array.at(4);
    EXPECT_EQ(at(output5, "input").number, 5);
    EXPECT_EQ(at(output5, "audio").string, "on");
    EXPECT_EQ(at(at(result, "inputs").array.at(6), "edid_name").string, "4K30Hz_3D_2CH(PCM)");
    EXPECT_EQ(at(at(result, "network"), "tcp_port").number, 5000);
    EXPECT_FALSE(at(at(result, "network"), "dhcp").boolean);
}

TEST_F(CtlE2e, routeSendsTheRoutingCommandAndReportsTheConfirmedInput) {
    auto sim = startSwitcher(1);
    const Result run = ctl({"--link", "COM1", "route", "3", "5"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "output 3 shows input 5\n");
    EXPECT_EQ(sim->receivedLines(), std::vector<std::string>{"\r\nSET OUT3  VS IN5 \r\n"});

    const Result json = ctl({"--link", "COM1", "--json", "route", "16", "10"});
    EXPECT_EQ(json.status, 0) << json.err;
    const JsonValue doc = document(json);
    EXPECT_EQ(at(doc, "command").string, "route");
    EXPECT_EQ(at(at(doc, "result"), "output").number, 16);
    EXPECT_EQ(at(at(doc, "result"), "input").number, 10);
    EXPECT_EQ(sim->receivedLines().back(), "\r\nSET OUT16 VS IN10\r\n");

    // The switcher keeps it: a status shows it.
    const Result status = ctl({"--link", "COM1", "status"});
    EXPECT_NE(status.out.find("\n   3                     5  on "), std::string::npos) << status.out;
}

TEST_F(CtlE2e, quietPrintsNothingOnSuccess) {
    auto sim = startSwitcher(1);
    const Result run = ctl({"--quiet", "--link", "COM1", "route", "1", "2"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
}

TEST_F(CtlE2e, badArgumentsSendNothingAndExitTwoWithTheUsageLine) {
    auto sim = startSwitcher(1);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--link", "COM1", "route", "0", "5"},
          {"--link", "COM1", "route", "17", "5"},
          {"--link", "COM1", "route", "x", "5"},
          {"--link", "COM1", "route", "3"},
          {"--link", "COM1", "audio", "3", "loud"},
          {"--link", "COM1", "jump"},
          {"--link", "COM1", "net", "set", "--tcp-port", "5000", "--mac", "zz"}}) {
        const Result run = ctl(args);
        EXPECT_EQ(run.status, 2) << args[2];
        EXPECT_NE(run.err.find("usage: matrix-ctl"), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(sim->receivedLines().empty());
}

TEST_F(CtlE2e, withJsonAUsageErrorIsOneDocumentToo) {
    auto sim = startSwitcher(1);
    for (const auto& [args, command] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"--json", "--link", "COM1", "route", "0", "5"}, "route"},
             {{"--link", "COM1", "jump", "--json"}, ""},
             {{"--json", "status"}, "status"}, // no link given
             {{"--json", "--link", "nowhere:x", "status"}, ""}}) {
        const Result run = ctl(args);
        EXPECT_EQ(run.status, 2) << args[1];
        const JsonValue doc = document(run);
        EXPECT_EQ(at(doc, "exit").number, 2);
        EXPECT_FALSE(at(doc, "ok").boolean);
        EXPECT_FALSE(at(doc, "error").string.empty());
        if (command.empty()) {
            EXPECT_EQ(at(doc, "command").type, JsonValue::Null) << run.out;
        } else {
            EXPECT_EQ(at(doc, "command").string, command) << run.out;
        }
    }
    EXPECT_TRUE(sim->receivedLines().empty());
}

TEST_F(CtlE2e, audioAndEdidChoicesAreConfirmedInTextAndJson) {
    auto sim = startSwitcher(1);
    const Result mute = ctl({"--link", "COM1", "audio", "16", "mute"});
    EXPECT_EQ(mute.status, 0) << mute.err;
    EXPECT_EQ(mute.out, "output 16 audio mute\n");
    const Result on = ctl({"--link", "COM1", "--json", "audio", "16", "on"});
    EXPECT_EQ(at(at(document(on), "result"), "audio").string, "on");

    const Result byNumber = ctl({"--link", "COM1", "edid", "set", "7", "13"});
    EXPECT_EQ(byNumber.status, 0) << byNumber.err;
    EXPECT_EQ(byNumber.out, "input 7 presents EDID 13 4K60HZ(4:4:4)_3D_2CH(PCM)\n");
    const Result byName = ctl({"--link", "COM1", "--json", "edid", "set", "10", "4K60HZ_3D_2CH_HDR"});
    EXPECT_EQ(byName.status, 0) << byName.err;
    EXPECT_EQ(at(at(document(byName), "result"), "edid").number, 28);
    const Result copy = ctl({"--link", "COM1", "edid", "copy", "7", "2"});
    EXPECT_EQ(copy.status, 0) << copy.err;
    EXPECT_EQ(copy.out, "input 7 presents EDID 35 From Out2\n");
    EXPECT_EQ(sim->receivedLines(), (std::vector<std::string>{"\r\nSET OUT16 EXA DIS\r\n", "\r\nSET OUT16 EXA  EN\r\n",
                                                              "\r\nSET IN7  EDID 12\r\n", "\r\nSET IN10 EDID 27\r\n",
                                                              "\r\nSET IN7  EDIDCY OUT 2 \r\n"}));
}

TEST_F(CtlE2e, edidReadWritesTheDisplaysBytesAndNeverOverwritesUnasked) {
    auto sim = startSwitcher(1);
    const fs::path target = file("out2.bin");
    const Result run = ctl({"--link", "COM1", "edid", "read", "out", "2", "-o", target.string()});
    ASSERT_EQ(run.status, 0) << run.err;
    // Output 2's display is the second of the emulator's display EDIDs.
    EXPECT_EQ(readFile(target), readFile(fs::path(MC_SIM_DATA_DIR) / "042-panasonic-meia296.bin"));
    EXPECT_NE(run.out.find("saved " + target.string() + " (256 bytes)\nManufacture's Name:MEI\n"), std::string::npos)
        << run.out;

    writeFile(target, "keep me");
    const std::size_t sent = sim->receivedLines().size();
    const Result refused = ctl({"--link", "COM1", "edid", "read", "out", "2", "-o", target.string()});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("exists; give --force"), std::string::npos) << refused.err;
    EXPECT_EQ(readFile(target), "keep me");
    EXPECT_EQ(sim->receivedLines().size(), sent);

    const Result forced =
        ctl({"--link", "COM1", "--json", "edid", "read", "out", "2", "-o", target.string(), "--force"});
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_EQ(readFile(target).size(), 256U);
    EXPECT_EQ(at(at(document(forced), "result"), "summary").array.size(), 7U);
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(ports_.path()), fs::directory_iterator{}),
              std::ptrdiff_t{1 + 1 + static_cast<std::ptrdiff_t>(fs::exists(sim->logFile()))});
}

// Reads one command (up to its second LF) that a matrix-ctl run sent to the
// far end of a pseudo-terminal; waits while the line is not open yet.
std::string readCommand(const PtyPeer& peer) {
    std::string command;
    const auto until = Clock::now() + 10s;
    while (Clock::now() < until && std::count(command.begin(), command.end(), '\n') < 2) {
        const std::string got = peer.read(1, 100ms);
        if (got.empty()) {
            std::this_thread::sleep_for(10ms); // not opened yet: the master reads as hung up
        }
        command += got;
    }
    return command;
}

// The EDID data line the switcher sends for an output: "OUTn EDID DATA " and
// the 256 bytes as hex pairs.
std::string edidDataLine(int output, const std::string& image) {
    std::string line = "OUT" + std::to_string(output) + " EDID DATA";
    char pair[4];
    for (const char byte : image) {
        std::snprintf(pair, sizeof pair, " %02x", static_cast<unsigned char>(byte));
        line += pair;
    }
    return line + "\r\n";
}

TEST_F(CtlE2e, edidReadWithoutForceKeepsAFileThatAppearedWhileTheSwitcherWasAsked) {
    auto peer = PtyPeer::create();
    ASSERT_TRUE(peer);
    ASSERT_TRUE(peer->linkAs(ports_.path(), 1));
    const fs::path target = file("late.bin");
    CtlProcess read({"--link", "COM1", "edid", "read", "out", "2", "-o", target.string()});
    // The command has reached the switcher: now the file appears, then the answer.
    ASSERT_EQ(readCommand(*peer), "\r\nGET OUT2  EDID  DATA\r\n");
    writeFile(target, "written meanwhile");
    peer->write(edidDataLine(2, readFile(fs::path(MC_SIM_DATA_DIR) / "042-panasonic-meia296.bin")));
    EXPECT_EQ(read.wait(), 1) << read.err;
    EXPECT_NE(read.err.find(target.string() + " appeared meanwhile; kept it"), std::string::npos) << read.err;
    EXPECT_EQ(readFile(target), "written meanwhile");
    for (const auto& entry : fs::directory_iterator(ports_.path())) {
        EXPECT_EQ(entry.path().filename().string().find(".late.bin"), std::string::npos) << entry.path();
    }
}

// Nodes the test makes itself: a FIFO always, and as root a character device
// like the system's null device.
TEST_F(CtlE2e, edidReadForceReplacesOnlyARegularFileAndSendsNothingOtherwise) {
    auto sim = startSwitcher(1);
    const fs::path fifo = file("fifo.bin");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_directory(file("folder.bin"));
    fs::create_symlink(file("elsewhere.bin"), file("link.bin"));
    std::vector<std::pair<fs::path, std::string>> nodes{
        {fifo, "is a FIFO"}, {file("folder.bin"), "is a directory"}, {file("link.bin"), "is a symbolic link"}};
    const fs::path device = file("null.bin");
    if (::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
        nodes.emplace_back(device, "is a character device");
    }
    for (const auto& [node, says] : nodes) {
        const Result run = ctl({"--link", "COM1", "edid", "read", "out", "2", "-o", node.string(), "--force"});
        EXPECT_EQ(run.status, 2) << node;
        EXPECT_NE(run.err.find(node.string() + " " + says + "; --force replaces only a regular file"),
                  std::string::npos)
            << run.err;
    }
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_TRUE(fs::is_directory(file("folder.bin")));
    EXPECT_TRUE(fs::is_symlink(file("link.bin")));
    EXPECT_TRUE(nodes.size() < 4 || fs::is_character_file(device));
    EXPECT_FALSE(fs::exists(file("elsewhere.bin")));
    EXPECT_TRUE(sim->receivedLines().empty());
}

TEST_F(CtlE2e, edidWriteAndDecodeReadOnlyRegularFilesAndNeverWaitOnAFifo) {
    auto sim = startSwitcher(1);
    const fs::path fifo = file("upload.bin");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Should the program wait for a writer, one comes (and goes) after a
    // while, so the test ends either way.
    std::atomic<bool> finished{false};
    std::thread writer([&] {
        for (int i = 0; i < 300 && !finished; ++i) {
            std::this_thread::sleep_for(10ms);
        }
        ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
    });
    const Result write = ctl({"--link", "COM1", "edid", "write", "3", "1", fifo.string()});
    const Result decode = ctl({"edid", "decode", fifo.string(), ports_.path()});
    finished = true;
    writer.join();
    EXPECT_EQ(write.status, 1);
    EXPECT_NE(write.err.find("cannot read " + fifo.string() + ": a FIFO, not a regular file"), std::string::npos)
        << write.err;
    EXPECT_LT(write.elapsed, 2s);
    EXPECT_EQ(decode.status, 1);
    EXPECT_NE(decode.err.find("cannot read " + fifo.string() + ": a FIFO, not a regular file"), std::string::npos)
        << decode.err;
    EXPECT_NE(decode.err.find("cannot read " + ports_.path() + ": a directory, not a regular file"), std::string::npos)
        << decode.err;
    EXPECT_TRUE(sim->receivedLines().empty());
}

TEST_F(CtlE2e, edidReadOfAnInputAsksForItsCurrentChoiceFirst) {
    auto sim = startSwitcher(1);
    const fs::path target = file("in3.bin");
    const Result run = ctl({"--link", "COM1", "--json", "edid", "read", "in", "3", "-o", target.string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(at(at(document(run), "result"), "source").number, 3);
    const auto lines = sim->receivedLines();
    ASSERT_EQ(lines.size(), 2U);
    EXPECT_EQ(lines[0], "\r\nGET STA\r\n");
    EXPECT_EQ(lines[1], "\r\nGET IN3  EDID 02 DATA\r\n");
}

TEST_F(CtlE2e, aFailedEdidReadLeavesNoFile) {
    auto sim = startSwitcher(1, "silent");
    const fs::path target = file("never.bin");
    const Result run = ctl({"--link", "COM1", "--timeout", "300", "edid", "read", "out", "1", "-o", target.string()});
    EXPECT_EQ(run.status, 3);
    EXPECT_FALSE(fs::exists(target));
    for (const auto& entry : fs::directory_iterator(ports_.path())) {
        EXPECT_EQ(entry.path().filename().string().find(".never.bin"), std::string::npos) << entry.path();
    }
}

TEST_F(CtlE2e, edidWriteUploadsWholeImagesAndRefusesOddSizesUnlessPadded) {
    auto sim = startSwitcher(1);
    // A sound base block alone (the display on output 6, cut after its first block, counting no extension).
    std::string image = readFile(fs::path(MC_SIM_DATA_DIR) / "004-dell-dela1cf.bin").substr(0, 128);
    image[127] = static_cast<char>(image[127] + image[126]);
    image[126] = 0;
    writeFile(file("base.bin"), image);
    const Result run = ctl({"--link", "COM1", "edid", "write", "3", "1", file("base.bin").string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "input 3 user slot 1: IN3 U1 STORED\n");
    // Read back from the user slot (EDID source 31): the base block, then 0xFF.
    const Result back = ctl({"--link", "COM1", "edid", "read", "in", "3", "31", "-o", file("back.bin").string()});
    ASSERT_EQ(back.status, 0) << back.err;
    EXPECT_EQ(readFile(file("back.bin")), image + std::string(128, '\xff'));

    writeFile(file("odd.bin"), std::string(100, 'x'));
    const std::size_t sent = sim->receivedLines().size();
    const Result odd = ctl({"--link", "COM1", "edid", "write", "3", "2", file("odd.bin").string()});
    EXPECT_EQ(odd.status, 2);
    EXPECT_NE(odd.err.find("is 100 bytes, not 128 or 256 (--pad"), std::string::npos) << odd.err;
    writeFile(file("long.bin"), std::string(257, 'x'));
    EXPECT_EQ(ctl({"--link", "COM1", "edid", "write", "3", "2", file("long.bin").string(), "--pad"}).status, 2);
    EXPECT_EQ(sim->receivedLines().size(), sent);

    // 100 bytes of "x" are no EDID: only --force sends them.
    const Result padded =
        ctl({"--link", "COM1", "--json", "edid", "write", "3", "2", file("odd.bin").string(), "--pad", "--force"});
    EXPECT_EQ(padded.status, 0) << padded.err;
    EXPECT_EQ(at(at(document(padded), "result"), "bytes").number, 100);
    // The 100 bytes, then 0xFF up to 256.
    const std::string upload = sim->receivedLines().back();
    EXPECT_EQ(upload.rfind("SET IN3 EDID U2 DATA 78 78 ", 0), 0U) << upload;
    EXPECT_NE(upload.find("78 FF"), std::string::npos) << upload;
}

TEST_F(CtlE2e, edidWriteRefusesAnEdidWithErrorsUnlessForcedAndReadReportsWhatItSaves) {
    auto sim = startSwitcher(1);
    // The 4K TV's EDID with block 1's checksum one too high.
    std::string broken = readFile(fs::path(MC_SIM_DATA_DIR) / "019-sony-sny2b05.bin");
    const auto right = static_cast<unsigned char>(broken[255]);
    broken[255] = static_cast<char>(right + 1);
    char finding[96];
    std::snprintf(finding, sizeof finding, "error at byte 255: checksum of block 1 is 0x%02X, should be 0x%02X",
                  (right + 1) & 0xFFU, right);
    writeFile(file("broken.bin"), broken);

    const std::size_t sent = sim->receivedLines().size();
    const Result refused = ctl({"--link", "COM1", "--json", "edid", "write", "3", "1", file("broken.bin").string()});
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.err, std::string("matrix-ctl: edid write: ") + finding + "\nmatrix-ctl: edid write: " +
                               file("broken.bin").string() + " has errors; nothing sent (--force sends it anyway)\n");
    EXPECT_EQ(sim->receivedLines().size(), sent);
    const JsonValue refusedDoc = document(refused);
    const JsonValue& findings = at(at(refusedDoc, "result"), "findings");
    ASSERT_EQ(findings.array.size(), 1U);
    EXPECT_EQ(at(findings.array[0], "severity").string, "error");
    EXPECT_EQ(at(findings.array[0], "offset").number, 255);

    // --force sends it and still says what is wrong.
    const Result forced = ctl({"--link", "COM1", "edid", "write", "3", "1", file("broken.bin").string(), "--force"});
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_EQ(forced.err, std::string("matrix-ctl: edid write: ") + finding + "\n");
    EXPECT_EQ(sim->receivedLines().size(), sent + 1);

    // Read back from the slot: saved as it came, the findings on standard error and in the JSON.
    const Result back =
        ctl({"--link", "COM1", "--json", "edid", "read", "in", "3", "31", "-o", file("back.bin").string()});
    EXPECT_EQ(back.status, 0) << back.err;
    EXPECT_EQ(readFile(file("back.bin")), broken);
    EXPECT_EQ(back.err, std::string("matrix-ctl: edid read: ") + finding + "\n");
    EXPECT_EQ(at(at(document(back), "result"), "findings").array.size(), 1U);

    // A sound EDID reads back with an empty list and nothing on standard error.
    const Result sound = ctl({"--link", "COM1", "--json", "edid", "read", "out", "1", "-o", file("out1.bin").string()});
    EXPECT_EQ(sound.status, 0) << sound.err;
    EXPECT_EQ(sound.err, "");
    EXPECT_TRUE(at(at(document(sound), "result"), "findings").array.empty());
}

TEST_F(CtlE2e, edidDecodeNeedsNoLinkAndReportsUnreadableFiles) {
    const std::string sample = (fs::path(MC_SIM_DATA_DIR) / "019-sony-sny2b05.bin").string();
    const Result run = ctl({"edid", "decode", sample});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.find("==== " + sample + "\n-- video\n"), 0U) << run.out;
    EXPECT_NE(run.out.find("-- summary\nManufacture's Name:SNY\n"), std::string::npos);
    EXPECT_EQ(run.out.find('\r'), std::string::npos);

    const Result json = ctl({"--json", "edid", "decode", sample, file("missing.bin").string()});
    EXPECT_EQ(json.status, 1);
    EXPECT_NE(json.err.find("cannot read " + file("missing.bin").string() + ": No such file"), std::string::npos);
    EXPECT_EQ(at(at(document(json), "result"), "files").array.size(), 1U);
}

TEST_F(CtlE2e, edidListNamesEveryChoiceAsEdidSetTakesIt) {
    const Result run = ctl({"edid", "list"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 49) << run.out;
    EXPECT_EQ(run.out.find(" 1  1080P_2CH(PCM)\n 2  1080P_ audio5.1\n"), 0U) << run.out;
    EXPECT_NE(run.out.find("\n31  User EDID1\n"), std::string::npos);
    EXPECT_NE(run.out.find("\n49  From Out16\n"), std::string::npos);

    const Result json = ctl({"--json", "edid", "list"});
    ASSERT_EQ(json.status, 0) << json.err;
    const JsonValue doc = document(json);
    const auto& items = at(at(doc, "result"), "items").array;
    ASSERT_EQ(items.size(), 49U);
    EXPECT_EQ(at(items.at(1), "edid").number, 2);
    EXPECT_EQ(at(items.at(1), "edid_name").string, "1080P_ audio5.1");
    EXPECT_EQ(at(items.at(0), "edid_name").string, "1080P_2CH(PCM)") << "without the trailing blank";

    // A name typed loosely reaches the switcher as its number.
    auto sim = startSwitcher(1);
    const Result set = ctl({"--link", "COM1", "edid", "set", "4", "1080p_ audio5.1"});
    EXPECT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(set.out, "input 4 presents EDID 2 1080P_ audio5.1\n");
}

TEST_F(CtlE2e, netSetChangesOnlyWhatIsGivenAndShowsTheConfirmedValues) {
    auto sim = startSwitcher(1);
    const Result run = ctl({"--link", "COM1", "--json", "net", "set", "--host", "10.1.2.3", "--tcp-port", "4001"});
    ASSERT_EQ(run.status, 0) << run.err;
    const JsonValue doc = document(run); // `network` points into it
    const JsonValue& network = at(at(doc, "result"), "network");
    EXPECT_EQ(at(network, "host").string, "10.1.2.3");
    EXPECT_EQ(at(network, "mask").string, "255.255.255.0");
    EXPECT_EQ(at(network, "tcp_port").number, 4001);
    const auto lines = sim->receivedLines();
    ASSERT_GE(lines.size(), 2U);
    EXPECT_EQ(lines.front(), "\r\nGET STA\r\n");
    const std::string block = [&] {
        std::string all;
        for (std::size_t i = 1; i < lines.size(); ++i) {
            all += lines[i];
        }
        return all;
    }();
    EXPECT_EQ(block,
              "\r\nSET DHCP 0\r\nSET HIP 010.001.002.003\r\nSET NMK 255.255.255.000\r\nSET RIP192.168.000.001\r\n"
              "SET TIP 4001\r\n");

    const Result show = ctl({"--link", "COM1", "net", "show"});
    EXPECT_EQ(show.status, 0) << show.err;
    EXPECT_NE(show.out.find("Host      10.1.2.3\n"), std::string::npos) << show.out;
    EXPECT_NE(show.out.find("TCP port  4001\n"), std::string::npos);
}

TEST_F(CtlE2e, netSetWithAMacTheSwitcherRewritesIsConfirmedInItsOwnSpelling) {
    auto sim = startSwitcher(1);
    const Result run = ctl({"--link", "COM1", "net", "set", "--mac", "aa-bb-cc-dd-ee-ff"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("MAC       AA:BB:CC:DD:EE:FF\n"), std::string::npos) << run.out;
}

TEST_F(CtlE2e, searchFindsTheSwitcherBehindASilentPort) {
    auto silent = PtyPeer::create();
    ASSERT_TRUE(silent);
    ASSERT_TRUE(silent->linkAs(ports_.path(), 1));
    auto sim = startSwitcher(3);
    const Result run = ctl({"search"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "COM3\n");
    // COM1 got the probe and was given up after its wait.
    EXPECT_EQ(silent->read(11, 1s), "\r\nGET STA\r\n");
    EXPECT_GE(run.elapsed, 500ms);
    const Result json = ctl({"--json", "search"});
    EXPECT_EQ(at(at(document(json), "result"), "found").string, "COM3");
}

TEST_F(CtlE2e, searchWithoutAnAnsweringSwitcherExitsThreeNamingThePortsInUse) {
    auto sim = startSwitcher(4, "silent");
    // COM2 is held by another program, as a console or a terminal would.
    auto held = PtyPeer::create();
    ASSERT_TRUE(held && held->linkAs(ports_.path(), 2));
    const int holder = ::open(ports_.portPath(2).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    const Result run = ctl({"search"});
    ::close(holder);
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.err.find("search: no switcher answered on the 1 port(s) that opened from COM1 to COM99; "
                           "in use by another program: COM2\n"),
              std::string::npos)
        << run.err;
    fs::remove(fs::path(ports_.path()) / "com2");
    fs::remove(fs::path(ports_.path()) / "com4");
    const Result none = ctl({"search"});
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("no port from COM1 to COM99 can be opened"), std::string::npos) << none.err;
}

TEST_F(CtlE2e, sendPrintsEveryReplyLineUntilTheLineIsQuiet) {
    auto sim = startSwitcher(1);
    const Result run = ctl({"--link", "COM1", "send", "GET STA"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 16 + 16 + 6 + 16) << run.out;
    EXPECT_EQ(run.out.find("OUT1 VS IN1\n"), 0U);
    const Result error = ctl({"--link", "COM1", "--json", "send", "HELLO"});
    EXPECT_EQ(error.status, 4);
    const JsonValue refused = document(error);
    EXPECT_FALSE(at(refused, "ok").boolean);
    EXPECT_EQ(at(at(refused, "result"), "replies").array.at(0).string, "ERROR");
    EXPECT_NE(error.err.find("send: the switcher refused \"HELLO\": ERROR"), std::string::npos) << error.err;
}

TEST_F(CtlE2e, sendJoinsItsWordsAndReportsAnInterruptionAsOne) {
    auto sim = startSwitcher(1);
    const Result words = ctl({"--link", "COM1", "send", "GET", "STA"});
    EXPECT_EQ(words.status, 0) << words.err;
    EXPECT_EQ(sim->receivedLines().back(), "\r\nGET STA\r\n");

    auto silent = startSwitcher(2, "silent");
    CtlProcess send({"--link", "COM2", "--timeout", "20000", "send", "GET", "STA"});
    std::this_thread::sleep_for(500ms);
    send.signal(SIGINT);
    EXPECT_EQ(send.wait(), 1);
    EXPECT_NE(send.err.find("send: interrupted"), std::string::npos) << send.err;
    EXPECT_EQ(send.err.find("no reply"), std::string::npos) << send.err;
}

TEST_F(CtlE2e, aSilentSwitcherGivesExitThreeWithinTheTimeoutNamingTheCommand) {
    auto sim = startSwitcher(1, "silent");
    for (const std::vector<std::string>& args : {std::vector<std::string>{"route", "3", "5"},
                                                 {"status"},
                                                 {"edid", "set", "1", "2"},
                                                 {"send", "GET STA"},
                                                 {"net", "show"}}) {
        std::vector<std::string> all{"--link", "COM1", "--timeout", "400"};
        all.insert(all.end(), args.begin(), args.end());
        const Result run = ctl(all);
        EXPECT_EQ(run.status, 3) << args[0] << ": " << run.err;
        EXPECT_EQ(run.err.rfind("matrix-ctl: " + args[0], 0), 0U) << run.err;
        EXPECT_NE(run.err.find("within 400 ms"), std::string::npos) << run.err;
        EXPECT_GE(run.elapsed, 400ms);
        EXPECT_LT(run.elapsed, 2000ms);
    }
    const Result json = ctl({"--link", "COM1", "--timeout", "200", "--json", "status"});
    const JsonValue doc = document(json);
    EXPECT_EQ(at(doc, "exit").number, 3);
    EXPECT_FALSE(at(doc, "ok").boolean);
}

TEST_F(CtlE2e, garbageNeverCrashesTheToolAndGivesExitThree) {
    auto sim = startSwitcher(1, "garbage");
    for (int i = 0; i < 5; ++i) {
        const Result run = ctl({"--link", "COM1", "--timeout", "300", "--json", "status"});
        EXPECT_EQ(run.status, 3) << run.err;
        document(run); // still valid JSON
        const Result send = ctl({"--link", "COM1", "--timeout", "300", "send", "GET STA"});
        EXPECT_EQ(send.status, 3) << send.err;
    }
}

TEST_F(CtlE2e, aHangUpIsALinkErrorWithExitOne) {
    auto sim = startSwitcher(1, "hangup", 5);
    const Result run = ctl({"--link", "COM1", "--timeout", "3000", "status"});
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_NE(run.err.find("COM1: the line failed"), std::string::npos) << run.err;
    EXPECT_LT(run.elapsed, 3000ms);
}

TEST_F(CtlE2e, anAbsentPortOrAPortInUseIsALinkErrorWithTheReason) {
    const Result absent = ctl({"--link", "COM9", "status"});
    EXPECT_EQ(absent.status, 1);
    EXPECT_NE(absent.err.find("COM9: open " + ports_.portPath(9) + ": No such file or directory"), std::string::npos)
        << absent.err;

    auto sim = startSwitcher(2);
    const int held = ::open(ports_.portPath(2).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    const Result busy = ctl({"--json", "--link", "COM2", "route", "1", "1"});
    ::close(held);
    EXPECT_EQ(busy.status, 1);
    EXPECT_NE(busy.err.find("in use by another program"), std::string::npos) << busy.err;
    EXPECT_EQ(at(document(busy), "exit").number, 1);
}

TEST_F(CtlE2e, theLinkComesFromTheEnvironmentOrADevicePathAndIsAskedForWhenMissing) {
    auto sim = startSwitcher(5);
    const Result missing = ctl({"status"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("--link COM3"), std::string::npos) << missing.err;
    EXPECT_NE(missing.err.find("MATRIX_CTL_LINK"), std::string::npos);

    ::setenv("MATRIX_CTL_LINK", "COM5", 1);
    const Result fromEnvironment = ctl({"route", "2", "2"});
    ::unsetenv("MATRIX_CTL_LINK");
    EXPECT_EQ(fromEnvironment.status, 0) << fromEnvironment.err;

    const Result byPath = ctl({"--link", ports_.portPath(5), "route", "2", "3"});
    EXPECT_EQ(byPath.status, 0) << byPath.err;
    writeFile(file("plain"), "");
    const Result notATerminal = ctl({"--link", file("plain").string(), "status"});
    EXPECT_EQ(notATerminal.status, 1);
    EXPECT_NE(notATerminal.err.find("open " + file("plain").string() + ": not a terminal"), std::string::npos)
        << notATerminal.err;
}

TEST_F(CtlE2e, anyTerminalDevicePathIsALinkWhetherOrNotItIsAComPort) {
    // A pseudo-terminal outside the port directory: no COMn names it.
    auto peer = PtyPeer::create();
    ASSERT_TRUE(peer);
    CtlProcess route({"--json", "--link", peer->slavePath(), "route", "3", "5"});
    EXPECT_EQ(readCommand(*peer), "\r\nSET OUT3  VS IN5 \r\n");
    peer->write("OUT3 VS IN5\r\n");
    ASSERT_EQ(route.wait(), 0) << route.err;
    EXPECT_EQ(at(document(Result{0, route.out, route.err, {}}), "link").string, peer->slavePath());
}

TEST_F(CtlE2e, aClosedOutputEndsMonitorAtOnceWithoutAMessage) {
    auto peer = PtyPeer::create();
    ASSERT_TRUE(peer);
    ASSERT_TRUE(peer->linkAs(ports_.path(), 1));
    CtlProcess monitor({"--link", "COM1", "monitor"});
    std::this_thread::sleep_for(300ms);
    peer->write("OUT3 VS IN5\r\n");
    ASSERT_TRUE(monitor.waitForOutput("\n", 5s)) << monitor.err;
    monitor.closeOutput();
    // A flood follows; the first row that cannot be written ends the program.
    std::atomic<bool> stop{false};
    std::thread flood([&] {
        // Never blocked on a full line, so the test ends once the program has.
        pollfd line{peer->masterFd(), POLLOUT, 0};
        while (!stop) {
            if (::poll(&line, 1, 10) > 0 && (line.revents & POLLOUT) != 0) {
                peer->write("OUT1 VS IN1\r\n");
            }
        }
    });
    const auto start = Clock::now();
    const int status = monitor.wait();
    stop = true;
    peer->hangUp();
    flood.join();
    EXPECT_EQ(status, 1);
    EXPECT_LT(Clock::now() - start, 5s);
    EXPECT_EQ(monitor.err, "");
}

TEST_F(CtlE2e, aRouteWhoseOutputCannotBeWrittenIsDoneAndExitsOne) {
    auto sim = startSwitcher(1);
    CtlProcess route({"--link", "COM1", "route", "3", "6"});
    route.closeOutput();
    EXPECT_EQ(route.wait(), 1);
    EXPECT_EQ(route.err, "");
    EXPECT_EQ(sim->receivedLines(), std::vector<std::string>{"\r\nSET OUT3  VS IN6 \r\n"});
    const Result status = ctl({"--link", "COM1", "status"});
    EXPECT_NE(status.out.find("\n   3                     6  on "), std::string::npos) << status.out;
}

// A TCP peer on the loopback that answers the first command line with the
// given reply, then closes or stays open.
class LoopbackPeer {
public:
    LoopbackPeer(std::string reply, bool closeAfter) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(listener_, 1) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            return;
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this, reply = std::move(reply), closeAfter] {
            const int client = ::accept(listener_, nullptr, nullptr);
            if (client < 0) {
                return;
            }
            char c = 0;
            // Up to the LF of the first line that holds more than CR LF.
            std::string line;
            while (::read(client, &c, 1) == 1) {
                line.push_back(c);
                if (c == '\n' && line.size() > 2) {
                    break;
                }
            }
            received = line;
            ::write(client, reply.data(), reply.size());
            if (closeAfter) {
                ::close(client);
                return;
            }
            while (::read(client, &c, 1) == 1) {
            }
            ::close(client);
        });
    }
    ~LoopbackPeer() {
        ::shutdown(listener_, SHUT_RDWR);
        if (thread_.joinable()) {
            thread_.join();
        }
        ::close(listener_);
    }
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    [[nodiscard]] std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
    std::string received;

private:
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
};

// The emulator serves one switcher on its serial line and on TCP: what the
// tool sets over the network is what a console on the serial line then reads.
TEST_F(CtlE2e, overTheEmulatorsTcpSideEveryCommandActsOnTheSameSwitcher) {
    SwitcherProcess::Options options;
    options.portDirectory = ports_.path();
    options.comPort = 6;
    options.listen = "127.0.0.1:0";
    SwitcherProcess sim(std::move(options));
    ASSERT_TRUE(sim.ready()) << sim.startupOutput();
    ASSERT_NE(sim.tcpPort(), 0);
    const std::string link = "127.0.0.1:" + std::to_string(sim.tcpPort());

    const Result route = ctl({"--link", link, "route", "3", "5"});
    ASSERT_EQ(route.status, 0) << route.err;
    EXPECT_EQ(route.out, "output 3 shows input 5\n");
    const Result audio = ctl({"--link", "tcp://" + link, "audio", "3", "mute"});
    ASSERT_EQ(audio.status, 0) << audio.err;

    const Result serial = ctl({"--link", "COM6", "--json", "status"});
    ASSERT_EQ(serial.status, 0) << serial.err;
    const JsonValue doc = document(serial);
    const JsonValue& third = at(at(doc, "result"), "outputs").array.at(2);
    EXPECT_EQ(at(third, "input").number, 5);
    EXPECT_EQ(at(third, "audio").string, "mute");
}

// The same commands through matrix-hub, which owns the switcher's serial
// line and shares it on the switcher's own text protocol: the tool cannot
// tell it from the switcher's network port.
TEST_F(CtlE2e, throughTheHubEveryCommandWorksAsOnTheSwitchersOwnPort) {
    auto sim = startSwitcher(6);
    HubProcess::Options options;
    options.link = ports_.portPath(6);
    options.directory = ports_.path();
    HubProcess hub(std::move(options));
    ASSERT_TRUE(hub.ready()) << hub.startupOutput();
    const std::string link = hub.textAddress();

    const Result route = ctl({"--link", link, "route", "3", "5"});
    ASSERT_EQ(route.status, 0) << route.err;
    EXPECT_EQ(route.out, "output 3 shows input 5\n");
    const Result audio = ctl({"--link", "tcp://" + link, "audio", "3", "mute"});
    ASSERT_EQ(audio.status, 0) << audio.err;
    const Result edid = ctl({"--link", link, "edid", "set", "7", "13"});
    EXPECT_EQ(edid.out, "input 7 presents EDID 13 4K60HZ(4:4:4)_3D_2CH(PCM)\n");

    const Result status = ctl({"--link", link, "--json", "status"});
    ASSERT_EQ(status.status, 0) << status.err;
    const JsonValue doc = document(status);
    const JsonValue& third = at(at(doc, "result"), "outputs").array.at(2);
    EXPECT_EQ(at(third, "input").number, 5);
    EXPECT_EQ(at(third, "audio").string, "mute");

    const fs::path target = file("out2.bin");
    const Result read = ctl({"--link", link, "edid", "read", "out", "2", "-o", target.string()});
    ASSERT_EQ(read.status, 0) << read.err;
    EXPECT_EQ(readFile(target), readFile(fs::path(MC_SIM_DATA_DIR) / "042-panasonic-meia296.bin"));

    const Result net = ctl({"--link", link, "--json", "net", "set", "--tcp-port", "4001"});
    ASSERT_EQ(net.status, 0) << net.err;
    EXPECT_EQ(at(at(at(document(net), "result"), "network"), "tcp_port").number, 4001);

    // The status request and the refusal come back whole, to the asker.
    const Result all = ctl({"--link", link, "send", "GET STA"});
    EXPECT_EQ(all.status, 0) << all.err;
    EXPECT_EQ(std::count(all.out.begin(), all.out.end(), '\n'), 16 + 16 + 6 + 16) << all.out;
    const Result error = ctl({"--link", link, "--json", "send", "HELLO"});
    EXPECT_EQ(at(at(document(error), "result"), "replies").array.at(0).string, "ERROR");
}

TEST_F(CtlE2e, aNetworkLinkCarriesTheSameBytesAndReportsRefusalAndClosing) {
    {
        LoopbackPeer peer("OUT3 VS IN5\r\n", false);
        const Result run = ctl({"--link", "tcp://" + peer.address(), "--json", "route", "3", "5"});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(at(document(run), "link").string, peer.address());
        EXPECT_EQ(run.status == 0 ? peer.received : "", "\r\nSET OUT3  VS IN5 \r\n");
    }
    {
        LoopbackPeer peer("OUT3 VS IN6\r\n", true);
        const Result run = ctl({"--link", peer.address(), "route", "3", "5"});
        EXPECT_EQ(run.status, 4) << run.err;
        EXPECT_NE(run.err.find("output 3 shows input 6, not input 5"), std::string::npos) << run.err;
    }
    {
        LoopbackPeer peer("", true);
        const Result run = ctl({"--link", peer.address(), "status"});
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find(peer.address() + ": the peer closed the connection"), std::string::npos) << run.err;
    }
    // A port nobody listens on any more.
    std::string refusedAddress;
    {
        LoopbackPeer gone("", true);
        refusedAddress = gone.address();
    }
    const Result refused = ctl({"--link", refusedAddress, "status"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find(refusedAddress + ": Connection refused"), std::string::npos) << refused.err;
    EXPECT_LT(refused.elapsed, 3000ms);
}

TEST_F(CtlE2e, monitorStampsEveryLineUntilInterruptedAndEndsOnAHangUp) {
    auto peer = PtyPeer::create();
    ASSERT_TRUE(peer);
    ASSERT_TRUE(peer->linkAs(ports_.path(), 1));
    CtlProcess monitor({"--link", "COM1", "monitor"});
    // The port is open once a probe line would be read; give it a moment.
    std::this_thread::sleep_for(300ms);
    peer->write("OUT3 VS IN5\r\nnoise without end");
    ASSERT_TRUE(monitor.waitForOutput("[output 3 -> input 5]\n", 5s)) << monitor.out << monitor.err;
    monitor.signal(SIGINT);
    EXPECT_EQ(monitor.wait(), 0) << monitor.err;
    // The console's traffic row: "04:30:00.123  received  COM1  OUT3 VS IN5\r\n  [output 3 -> input 5]"
    const std::string& line = monitor.out;
    ASSERT_GE(line.size(), 12U);
    EXPECT_EQ(line[2], ':');
    EXPECT_EQ(line[5], ':');
    EXPECT_EQ(line[8], '.');
    EXPECT_EQ(line.substr(12), "  received  COM1  OUT3 VS IN5\\r\\n  [output 3 -> input 5]\n");

    CtlProcess json({"--link", "COM1", "--json", "monitor"});
    std::this_thread::sleep_for(300ms);
    peer->write("\r\nIN7 EDID 12\r\n");
    ASSERT_TRUE(json.waitForOutput("\"line\":\"IN7 EDID 12\"}\n", 5s)) << json.out << json.err;
    peer->hangUp();
    EXPECT_EQ(json.wait(), 1);
    EXPECT_NE(json.err.find("the line failed"), std::string::npos) << json.err;
}

TEST_F(CtlE2e, monitorOnATerminalSaysWhatItWatchesAndIdlesWithoutWakingUp) {
    auto peer = PtyPeer::create();
    ASSERT_TRUE(peer);
    ASSERT_TRUE(peer->linkAs(ports_.path(), 1));
    auto terminal = PtyPeer::create();
    ASSERT_TRUE(terminal);
    CtlProcess monitor({"--link", "COM1", "monitor"}, terminal->slavePath());
    std::string said;
    for (auto until = Clock::now() + 5s; said.find('\n') == std::string::npos && Clock::now() < until;) {
        said += terminal->read(1, 100ms);
    }
    EXPECT_EQ(said, "matrix-ctl: watching COM1 for the lines the switcher sends; press Ctrl+C to end\n");

    // Idle: it waits on the link, not on a clock (a 50 ms slice was 20
    // wake-ups a second).
    std::this_thread::sleep_for(300ms);
    const long before = monitor.wakeUps();
    std::this_thread::sleep_for(2s);
    EXPECT_LE(monitor.wakeUps() - before, 4);

    // An interrupt still ends the wait at once, and a line still comes.
    peer->write("OUT3 VS IN5\r\n");
    ASSERT_TRUE(monitor.waitForOutput("[output 3 -> input 5]\n", 5s)) << monitor.out;
    const auto interrupted = Clock::now();
    monitor.signal(SIGTERM);
    EXPECT_EQ(monitor.wait(), 0);
    EXPECT_LT(Clock::now() - interrupted, 1s);
}

TEST_F(CtlE2e, versionAndHelpNeedNoLink) {
    const Result version = ctl({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("matrix-ctl ") + mc::kVersion + "\n");
    const Result help = ctl({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("edid read out N|in N [ITEM] -o FILE"), std::string::npos);
    const Result routeHelp = ctl({"route", "--help"});
    EXPECT_EQ(routeHelp.status, 0);
    EXPECT_EQ(routeHelp.out.rfind("usage: matrix-ctl [OPTIONS] route OUTPUT INPUT\n", 0), 0U);
}

TEST_F(CtlE2e, aConfirmationThatDisagreesExitsFourAndSaysWhat) {
    struct Case {
        std::vector<std::string> args;
        std::string reply;
        std::string says;
    };
    std::string edidLine = "OUT5 EDID DATA";
    for (int i = 0; i < 256; ++i) {
        edidLine += " 00";
    }
    const fs::path target = file("wrong.bin");
    for (const Case& c :
         {Case{{"audio", "3", "mute"}, "OUT3 EXA EN\r\n", "reports audio on, not mute"},
          Case{{"edid", "set", "7", "13"}, "IN7 EDID 3\r\n", "input 7 presents EDID 4 1080P_3D_2CH(PCM)"},
          Case{{"edid", "copy", "7", "2"}, "IN0 EDID 33\r\n", "not EDID 35 From Out2"},
          Case{{"edid", "read", "out", "2", "-o", target.string()},
               edidLine + "\r\n",
               "the switcher answered \"OUT5 EDID DATA 00 00 00 00 00 00 00 00 0...\", not the EDID of output 2"},
          Case{{"edid", "write", "1", "1", (fs::path(MC_SIM_DATA_DIR) / "019-sony-sny2b05.bin").string()},
               "ERROR\r\n",
               "refused the upload: ERROR"}}) {
        LoopbackPeer peer(c.reply, false);
        std::vector<std::string> args{"--json", "--link", peer.address()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Result run = ctl(args);
        EXPECT_EQ(run.status, 4) << c.args[0] << ": " << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_EQ(at(document(run), "exit").number, 4);
    }
    EXPECT_FALSE(fs::exists(target));
}

TEST_F(CtlE2e, aReplyCannotSteerTheTerminalThroughSendsText) {
    LoopbackPeer peer("MAC \x1b]0;PWNED\x07\x1b[2J\r\n", false);
    const Result run = ctl({"--link", peer.address(), "send", "GET", "MAC"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "MAC \\x1B]0;PWNED\\x07\\x1B[2J\n");
}

TEST_F(CtlE2e, aMalformedEdidReplyIsNeverSavedAndExitsFourWithTheReason) {
    std::string letters = "OUT2 EDID DATA";
    for (int i = 0; i < 256; ++i) {
        letters += " zz";
    }
    const fs::path target = file("bad.bin");
    for (const auto& [reply, says] : std::vector<std::pair<std::string, std::string>>{
             {"ERROR EDID DATA \r\n", "the switcher answered \"ERROR EDID DATA \", not the EDID of output 2"},
             {"ERROR\r\n", "the switcher answered \"ERROR\", not the EDID of output 2"},
             {"OUT2 EDID DATA 00 ff\r\n", "the EDID of output 2 holds 2 bytes, not whole 128-byte blocks"},
             {letters + "\r\n", "the EDID of output 2 holds \"zz \" at byte 0, not a hex pair"}}) {
        LoopbackPeer peer(reply, false);
        const Result run =
            ctl({"--json", "--link", peer.address(), "edid", "read", "out", "2", "-o", target.string(), "--force"});
        EXPECT_EQ(run.status, 4) << reply;
        EXPECT_NE(run.err.find("edid read: " + says), std::string::npos) << run.err;
        EXPECT_FALSE(at(document(run), "ok").boolean);
        EXPECT_FALSE(fs::exists(target)) << reply;
    }
}

TEST_F(CtlE2e, aConnectThatNeverCompletesGivesUpAfterAboutThreeSeconds) {
    // A loopback listener that never accepts, its backlog filled: further
    // connection attempts get no answer at all.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), size), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size), 0);
    std::vector<int> fillers;
    for (int i = 0; i < 3; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), size);
        fillers.push_back(fd);
    }
    std::this_thread::sleep_for(200ms);
    const std::string link = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    const Result run = ctl({"--link", link, "status"});
    for (const int fd : fillers) {
        ::close(fd);
    }
    ::close(listener);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("connect " + link + ": timed out after 3 s"), std::string::npos) << run.err;
    EXPECT_GE(run.elapsed, 2900ms);
    EXPECT_LT(run.elapsed, 6000ms);
}

} // namespace
} // namespace mc::test
