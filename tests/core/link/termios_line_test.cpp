#ifndef _WIN32

#include "link/termios_line.h"

#include <gtest/gtest.h>

namespace mc {
namespace {

termios dirtyTerminal() {
    termios tio{};
    // Cooked-mode flags a fresh terminal may carry.
    tio.c_iflag = ICRNL | IXON | INLCR;
    tio.c_oflag = OPOST | ONLCR;
    tio.c_lflag = ECHO | ICANON | ISIG | IEXTEN;
    tio.c_cflag = CS7 | PARENB | CSTOPB | CRTSCTS;
    return tio;
}

TEST(TermiosLine, consoleSettingsGiveRaw8N1At57600) {
    termios tio = dirtyTerminal();
    ASSERT_TRUE(applyLineSettings(tio, LineSettings{}));
    EXPECT_EQ(::cfgetispeed(&tio), B57600);
    EXPECT_EQ(::cfgetospeed(&tio), B57600);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0U);
    EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    // No echo, no line editing, no CR/LF translation either way.
    EXPECT_EQ(tio.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0U);
    EXPECT_EQ(tio.c_iflag & (ICRNL | INLCR | IXON), 0U);
    EXPECT_EQ(tio.c_oflag & OPOST, 0U);
}

TEST(TermiosLine, otherFramesAndUnsupportedSettings) {
    struct Case {
        const char* name;
        LineSettings line;
        bool ok;
        tcflag_t size;
        tcflag_t parity; // PARENB | PARODD bits
        bool twoStopBits;
    };
    auto line = [](int baud, char parity, int data, int stop) {
        LineSettings s;
        s.baudRate = baud;
        s.parity = parity;
        s.dataBits = data;
        s.stopBits = stop;
        return s;
    };
    const Case cases[] = {
        {"7E2 at 9600", line(9600, 'E', 7, 2), true, CS7, PARENB, true},
        {"8O1 at 115200", line(115200, 'o', 8, 1), true, CS8, PARENB | PARODD, false},
        {"5N1", line(57600, 'N', 5, 1), true, CS5, 0, false},
        {"mark parity", line(57600, 'M', 8, 1), false, CS8, 0, false},
        {"nine data bits", line(57600, 'N', 9, 1), false, CS8, 0, false},
        {"three stop bits", line(57600, 'N', 8, 3), false, CS8, 0, false},
        {"no such speed", line(12345, 'N', 8, 1), false, CS8, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        termios tio = dirtyTerminal();
        tio.c_cflag = (tio.c_cflag & ~CSIZE) | CS8;
        tio.c_cflag &= ~(PARENB | PARODD | CSTOPB);
        EXPECT_EQ(applyLineSettings(tio, c.line), c.ok);
        EXPECT_EQ(tio.c_cflag & CSIZE, c.size);
        EXPECT_EQ(tio.c_cflag & (PARENB | PARODD), c.parity);
        EXPECT_EQ((tio.c_cflag & CSTOPB) != 0, c.twoStopBits);
    }
    EXPECT_EQ(termiosSpeed(57600), static_cast<speed_t>(B57600));
    EXPECT_EQ(termiosSpeed(0), static_cast<speed_t>(B0));
}

} // namespace
} // namespace mc

#endif
