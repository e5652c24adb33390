#include "session/console_state.h"
#include "session/reply_dispatch.h"
#include "session/reply_marks.h"
#include "session/traffic_file.h"
#include "session/traffic_format.h"
#include "session/traffic_log.h"
#include "support/edid_capture_fakes.h"
#include "support/recording_target.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

using namespace mc;

namespace {

using namespace std::chrono_literals;

// A fixed clock, so rows carry known times.
std::chrono::system_clock::time_point fixedTime() {
    // 2001-09-09 01:46:40.234 UTC: well inside every platform's local time range.
    return std::chrono::system_clock::time_point{} + 1000000000s + 234ms;
}

TrafficLog fixedLog(std::size_t capacity = kTrafficRowLimit) {
    return TrafficLog(capacity, [] { return fixedTime(); });
}

std::string timeField() {
    return formatTrafficTime(fixedTime());
}

} // namespace

TEST(TrafficText, showsEveryControlAndHighByteAndKeepsPrintableText) {
    EXPECT_EQ(visibleBytes("OUT3 VS IN5\r\n"), "OUT3 VS IN5\\r\\n");
    EXPECT_EQ(visibleBytes(std::string("a\0b\x7f\xff\t\\", 7)), "a\\x00b\\x7F\\xFF\\t\\\\");
    EXPECT_EQ(visibleBytes(""), "");
}

TEST(TrafficText, timeIsLocalClockTimeWithMilliseconds) {
    const std::string text = formatTrafficTime(fixedTime());
    ASSERT_EQ(text.size(), 12U) << text;
    EXPECT_EQ(text.substr(8), ".234");
    EXPECT_EQ(text[2], ':');
    EXPECT_EQ(text[5], ':');
    // The seconds, whatever the zone's offset.
    EXPECT_EQ(text.substr(6, 2), "40");
}

TEST(TrafficText, timestampCarriesTheDateAndTheZonesOffset) {
    const std::string text = formatTrafficTimestamp(fixedTime());
    ASSERT_EQ(text.size(), 29U) << text;
    EXPECT_EQ(text[4], '-');
    EXPECT_EQ(text[10], 'T');
    EXPECT_EQ(text.substr(11, 12), formatTrafficTime(fixedTime()));
    EXPECT_TRUE(text[23] == '+' || text[23] == '-') << text;
    EXPECT_EQ(text[26], ':');
    const TrafficRow sent{fixedTime(), TrafficDirection::Sent, "COM2", "GET STA\r\n", {}};
    EXPECT_EQ(formatTrafficRow(sent, TrafficTimeForm::Timestamp), text + "  sent      COM2  GET STA\\r\\n");
#ifndef _WIN32
    // In known zones east and west of UTC (POSIX TZ signs run the other way).
    const char* const saved = std::getenv("TZ");
    const std::string before = saved != nullptr ? saved : "";
    const std::pair<const char*, const char*> zones[] = {
        {"XST-05:30", "2001-09-09T07:16:40.234+05:30"},
        {"YST+03", "2001-09-08T22:46:40.234-03:00"},
        {"UTC0", "2001-09-09T01:46:40.234+00:00"},
    };
    for (const auto& [zone, expected] : zones) {
        ::setenv("TZ", zone, 1);
        ::tzset();
        EXPECT_EQ(formatTrafficTimestamp(fixedTime()), expected) << zone;
    }
    if (saved != nullptr) {
        ::setenv("TZ", before.c_str(), 1);
    } else {
        ::unsetenv("TZ");
    }
    ::tzset();
#endif
}

TEST(TrafficText, rowLineHoldsTimeDirectionLinkTextAndMark) {
    const TrafficRow received{fixedTime(),
                              TrafficDirection::Received,
                              "COM3",
                              "OUT3 VS IN5\r\n",
                              {TrafficMarkKind::ActedOn, "output 3 -> input 5"}};
    EXPECT_EQ(formatTrafficRow(received), timeField() + "  received  COM3  OUT3 VS IN5\\r\\n  [output 3 -> input 5]");

    const TrafficRow sent{fixedTime(), TrafficDirection::Sent, "host:5000", "\r\nGET STA\r\n", {}};
    EXPECT_EQ(formatTrafficRow(sent), timeField() + "  sent      host:5000  \\r\\nGET STA\\r\\n");

    const TrafficRow error{fixedTime(),
                           TrafficDirection::Event,
                           "COM1",
                           "read: Input/output error",
                           {TrafficMarkKind::Event, "port error"}};
    EXPECT_EQ(formatTrafficRow(error), timeField() + "  event     COM1  port error: read: Input/output error");
}

TEST(TrafficText, edidDataLineIsShownWhole) {
    std::string line = "EDID 1 DATA ";
    for (int i = 0; i < 256; ++i) {
        line += "ab ";
    }
    line += "\r\n";
    const TrafficRow row{fixedTime(), TrafficDirection::Received, "COM1", line, {}};
    const std::string text = formatTrafficRow(row);
    EXPECT_NE(text.find(line.substr(0, line.size() - 2) + "\\r\\n"), std::string::npos);
}

TEST(TrafficText, hexDumpHasOffsetsPairsAndPrintableColumn) {
    const std::string dump = hexDump(std::string("OUT3 VS IN5\r\n\x00\xff"
                                                 "ABCDEFG",
                                                 22));
    EXPECT_EQ(dump, "0000  4f 55 54 33 20 56 53 20  49 4e 35 0d 0a 00 ff 41  OUT3 VS IN5....A\n"
                    "0010  42 43 44 45 46 47                                 BCDEFG\n");
    EXPECT_EQ(hexDump(""), "");
}

// A value read from the line as text is shown like the line: a terminal
// escape in it reaches neither the monitor's cell nor a terminal showing the
// log.
TEST(TrafficMarks, controlCharactersInAReplysValueAreMadeVisible) {
    for (const std::string_view line :
         {std::string_view("MAC 00:1A\x1b]0;owned\x07:2B\r\n"), std::string_view("TIP 50\x1b[2J0\r\n")}) {
        const TrafficMark mark = markReplyLine(line);
        EXPECT_EQ(mark.kind, TrafficMarkKind::ActedOn) << mark.text;
        for (const char c : mark.text) {
            EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) << mark.text;
        }
        EXPECT_NE(mark.text.find("\\x1B"), std::string::npos) << mark.text;
    }
    EXPECT_EQ(markReplyLine("MAC 00:1A\x1b]0;owned\x07:2B\r\n").text,
              "MAC -> 00:1A\\x1B]0;owned\\x07:2"); // the 17 characters the parser takes
    const TrafficRow row{fixedTime(), TrafficDirection::Received, "COM1", "MAC \x1b]0;t\x07\r\n",
                         markReplyLine("MAC \x1b]0;t\x07\r\n")};
    EXPECT_EQ(formatTrafficRow(row).find('\x1b'), std::string::npos) << formatTrafficRow(row);
}

TEST(TrafficMarks, repliesAreMarkedWithWhatTheParserChanges) {
    EXPECT_EQ(markReplyLine("\r\nOUT3 VS IN5\r\n"), (TrafficMark{TrafficMarkKind::ActedOn, "output 3 -> input 5"}));
    EXPECT_EQ(markReplyLine("OUT0 VS IN2\r\n").text, "all outputs -> input 2");
    EXPECT_EQ(markReplyLine("OUT16 EXA DIS\r\n").text, "output 16 audio -> mute");
    EXPECT_EQ(markReplyLine("DHCP 1\r\n").text, "DHCP -> on");
    EXPECT_EQ(markReplyLine("HIP 192.168.000.100\r\n").text, "IP address -> 192.168.0.100");
    // Lines the parser does nothing with.
    EXPECT_EQ(markReplyLine("STORED\r\n"), (TrafficMark{TrafficMarkKind::Ignored, "ignored"}));
    EXPECT_EQ(markReplyLine("EXADL 1\r\n").kind, TrafficMarkKind::Ignored);
    EXPECT_EQ(markReplyLine("\r\n").kind, TrafficMarkKind::Ignored);
    // A refusal stands out as such.
    EXPECT_EQ(markReplyLine("ERROR\r\n"), (TrafficMark{TrafficMarkKind::Error, "ERROR"}));
}

TEST(TrafficMarks, markAgreesWithTheDecodedReply) {
    // Whatever the parser decodes, the mark says so: an unusable input index
    // routes to nothing, not to a made-up input.
    const Reply reply = decodeReply("OUT3 VS INx\r\n");
    ASSERT_TRUE(std::holds_alternative<RoutingReply>(reply));
    EXPECT_EQ(std::get<RoutingReply>(reply).input, std::nullopt);
    EXPECT_EQ(markReplyLine("OUT3 VS INx\r\n").text, "output 3 -> no input");
}

TEST(TrafficMarks, aValueFromTheWireShowsItsControlCharactersAndNoRowHoldsOne) {
    const std::string mac = "MAC \x1b]0;PWNED\x07\x1b[2J\r\n";
    EXPECT_EQ(markReplyLine(mac).text, "MAC -> \\x1B]0;PWNED\\x07\\x1B[2J");
    EXPECT_EQ(markReplyLine("TIP \x01\r\n").text, "TCP port -> \\x01");
    const TrafficRow row{{}, TrafficDirection::Received, "COM1", mac, markReplyLine(mac)};
    const std::string line = formatTrafficRow(row);
    EXPECT_TRUE(std::none_of(line.begin(), line.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }))
        << line;
}

TEST(TrafficMarks, duringAnEdidReadOnlyTheDataLineIsActedOn) {
    EXPECT_EQ(markReplyLine("EDID 1 DATA 00 ff\r\n", true).kind, TrafficMarkKind::ActedOn);
    // A routing reply meanwhile goes to the EDID parser, which drops it.
    EXPECT_EQ(markReplyLine("OUT3 VS IN5\r\n", true).kind, TrafficMarkKind::Ignored);
}

TEST(TrafficMarks, anEdidReadBackWithFindingsSaysWhatIsWrong) {
    std::ifstream in(std::string(MC_TEST_DATA_DIR) + "/edid-samples/004-dell-dela1cf.bin", std::ios::binary);
    EdidImage sound{};
    in.read(reinterpret_cast<char*>(sound.data()), static_cast<std::streamsize>(sound.size()));
    const EdidPort out1{EdidPort::Output, 1};
    EXPECT_EQ(markEdidReadBack(checkEdidReply(test::edidDataLine(sound), out1)),
              (TrafficMark{TrafficMarkKind::ActedOn, "EDID data read back"}));

    EdidImage broken = sound;
    broken[126] = 2;
    broken[127] = static_cast<std::uint8_t>(broken[127] - 1);
    EXPECT_EQ(markEdidReadBack(checkEdidReply(test::edidDataLine(broken), out1)),
              (TrafficMark{TrafficMarkKind::Fault, "EDID data read back; EDID check: the extension count (byte 126) is "
                                                   "2, but only 1 extension block follows"}));
    // A line that is not the whole EDID is marked with why nothing is saved.
    EXPECT_EQ(markEdidReadBack(checkEdidReply("OUT1 EDID DATA 00 ff\r\n", out1)),
              (TrafficMark{TrafficMarkKind::Fault,
                           "EDID read back not saved: the EDID of output 1 holds 2 bytes, not whole 128-byte blocks"}));
}

TEST(TrafficLogRing, sentCommandsCarryTheirNoteAsAFaultMark) {
    TrafficLog log = fixedLog();
    log.commandSent("COM3", "GET STA\r\n", {});
    log.commandSent("COM3", "SET IN1 EDID U1 DATA 00\r\n", "EDID check: checksum of block 1 is 0x3C, should be 0x3D");
    ASSERT_EQ(log.size(), 2U);
    EXPECT_EQ(log.row(0).mark, TrafficMark{});
    EXPECT_EQ(log.row(1).mark,
              (TrafficMark{TrafficMarkKind::Fault, "EDID check: checksum of block 1 is 0x3C, should be 0x3D"}));
    EXPECT_NE(formatTrafficRow(log.row(1)).find("  [EDID check: checksum of block 1 is 0x3C, should be 0x3D]"),
              std::string::npos);
}

TEST(TrafficLogRing, keepsTheLastRowsInOrderAndNeverGrowsPastItsBound) {
    TrafficLog log = fixedLog(100);
    for (int i = 0; i < 20000; ++i) {
        log.commandSent("COM1", std::to_string(i));
    }
    EXPECT_EQ(log.size(), 100U);
    EXPECT_EQ(log.ringAllocation(), 100U);
    EXPECT_EQ(log.nextSerial(), 20000U);
    EXPECT_EQ(log.firstSerial(), 19900U);
    EXPECT_EQ(log.row(0).bytes, "19900");
    EXPECT_EQ(log.row(99).bytes, "19999");
    EXPECT_EQ(log.rowBySerial(19950)->bytes, "19950");
    EXPECT_EQ(log.rowBySerial(19899), nullptr);
    EXPECT_EQ(log.rowBySerial(20000), nullptr);

    log.clear();
    EXPECT_EQ(log.size(), 0U);
    log.commandSent("COM1", "next");
    EXPECT_EQ(log.rowBySerial(20000)->bytes, "next");
    EXPECT_EQ(log.ringAllocation(), 100U);
}

// The monitor's own log, as the console makes it: the last 10,000 rows.
TEST(TrafficLogRing, theMonitorsLogKeepsTheLast10000Rows) {
    TrafficLog log;
    for (int i = 0; i <= 10000; ++i) {
        log.commandSent("COM1", std::to_string(i));
    }
    EXPECT_EQ(log.size(), 10000U);
    EXPECT_EQ(log.row(0).bytes, "1");
    EXPECT_EQ(log.row(9999).bytes, "10000");
}

TEST(TrafficLogPending, bytesWithoutLineEndAreOnePendingRowThatTheLineReplaces) {
    TrafficLog log = fixedLog();
    log.linkEvent("COM2", LinkEvent::Opened, {});
    for (const char c : std::string("OUT3 VS")) {
        log.partialByteReceived(c);
    }
    ASSERT_TRUE(log.hasPending());
    EXPECT_EQ(log.pending().direction, TrafficDirection::Pending);
    EXPECT_EQ(log.pending().bytes, "OUT3 VS");
    EXPECT_EQ(log.pending().link, "COM2");
    EXPECT_EQ(log.size(), 1U); // only the event

    log.lineReceived("OUT3 VS IN5\r\n", markReplyLine("OUT3 VS IN5\r\n"));
    EXPECT_FALSE(log.hasPending());
    ASSERT_EQ(log.size(), 2U);
    EXPECT_EQ(log.row(1).direction, TrafficDirection::Received);
    EXPECT_EQ(log.row(1).bytes, "OUT3 VS IN5\r\n");
    EXPECT_EQ(log.row(1).link, "COM2");
}

TEST(TrafficLogPending, pendingRowIsBoundedAndAnOverlongLineEndsAsDiscarded) {
    TrafficLog log = fixedLog();
    for (std::size_t i = 0; i < kPendingRowLimit + 500; ++i) {
        log.partialByteReceived('x');
    }
    EXPECT_EQ(log.pending().bytes.size(), kPendingRowLimit);
    EXPECT_EQ(log.pendingDropped(), 500U);
    EXPECT_EQ(log.pending().mark.text, "500 more bytes not shown");

    // The reply buffer discarded the line: its LF ends no line.
    log.partialByteReceived('\n');
    EXPECT_FALSE(log.hasPending());
    ASSERT_EQ(log.size(), 1U);
    EXPECT_EQ(log.row(0).mark, (TrafficMark{TrafficMarkKind::Ignored, "discarded: over-long line"}));
}

TEST(TrafficLogPending, closeWritesTheUnfinishedBytesBeforeTheEvent) {
    TrafficLog log = fixedLog();
    std::vector<std::string> written;
    log.setRowListener([&](const TrafficRow& row) { written.push_back(formatTrafficRow(row)); });
    log.linkEvent("COM1", LinkEvent::Opened, {});
    log.partialByteReceived('\x01');
    log.partialByteReceived('Z');
    log.linkEvent("COM1", LinkEvent::PortError, "read: Input/output error");
    ASSERT_EQ(written.size(), 3U);
    EXPECT_EQ(written[1], timeField() + "  pending   COM1  \\x01Z  [no line end yet]");
    EXPECT_EQ(written[2], timeField() + "  event     COM1  port error: read: Input/output error");
    EXPECT_FALSE(log.hasPending());
}

// The dispatch feeds the log with each byte as it handles it, and marks a line
// by the mode it meets.
TEST(TrafficDispatch, dispatchReportsPendingBytesLinesAndTheEdidMode) {
    ConsoleState state;
    test::RecordingTarget target;
    test::MemoryEdidFiles files;
    ReplyDispatch dispatch(state, target.views(), files);
    TrafficLog log = fixedLog();
    dispatch.setTrafficObserver(&log);

    for (const char c : std::string("OUT2 VS IN3\r\nOUT4")) {
        dispatch.receive(static_cast<std::uint8_t>(c));
    }
    ASSERT_EQ(log.size(), 1U);
    EXPECT_EQ(log.row(0).mark.text, "output 2 -> input 3");
    EXPECT_EQ(log.pending().bytes, "OUT4");

    dispatch.expectEdid(test::outputReadBack());
    for (const char c : std::string(" VS IN1\r\n")) {
        dispatch.receive(static_cast<std::uint8_t>(c));
    }
    ASSERT_EQ(log.size(), 2U);
    EXPECT_EQ(log.row(1).bytes, "OUT4 VS IN1\r\n");
    EXPECT_EQ(log.row(1).mark.kind, TrafficMarkKind::Ignored);

    // The data line ending the read is marked with what is wrong: a base
    // block of 0xFF holds no EDID header.
    EdidImage ones;
    ones.fill(0xFF);
    ones[126] = 0;
    const std::string line = test::edidDataLine(ones);
    for (const char c : line.substr(0, 15 + 3 * 128) + "\r\n") {
        dispatch.receive(static_cast<std::uint8_t>(c));
    }
    ASSERT_EQ(log.size(), 3U);
    EXPECT_EQ(log.row(2).mark.kind, TrafficMarkKind::Fault);
    EXPECT_EQ(log.row(2).mark.text.rfind("EDID data read back; EDID check: the header (bytes 0 to 7) is FF FF FF FF FF "
                                         "FF FF FF",
                                         0),
              0U)
        << log.row(2).mark.text;

    dispatch.setTrafficObserver(nullptr);
    dispatch.receive('\n');
    EXPECT_EQ(log.size(), 3U);
}

TEST(TrafficFileTest, appendsFormattedRowsAfterWhatTheFileHeld) {
    const auto path =
        std::filesystem::temp_directory_path() /
        ("traffic-file-test-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    {
        std::ofstream earlier(path, std::ios::binary);
        earlier << "earlier run\n";
    }
    const TrafficRow sent{fixedTime(), TrafficDirection::Sent, "COM1", "\r\nGET STA\r\n", {}};
    const TrafficRow received{fixedTime(), TrafficDirection::Received, "COM1", "ERROR\r\n", markReplyLine("ERROR\r\n")};
    {
        std::string error;
        auto file = TrafficFile::open(path.string(), error);
        ASSERT_TRUE(file) << error;
        file->write(sent);
        file->write(received);
        file->flush();
        EXPECT_EQ(file->droppedRows(), 0U);
        EXPECT_EQ(file->failure(), "");
    }
    std::string text;
    {
        // Closed before the removal: Windows removes no file that is open.
        std::ifstream in(path, std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    // Each row led by its date: the file outlives the day.
    EXPECT_EQ(text, "earlier run\n" + formatTrafficRow(sent, TrafficTimeForm::Timestamp) + "\n" +
                        formatTrafficRow(received, TrafficTimeForm::Timestamp) + "\n");
    std::filesystem::remove(path);
}

TEST(TrafficFileTest, fileThatCannotBeOpenedGivesTheReason) {
    std::string error;
    EXPECT_EQ(TrafficFile::open("/nonexistent-dir/for/traffic.log", error), nullptr);
    EXPECT_FALSE(error.empty());
}
