#include "core/site/site_test_folder.h"
#include "site/site_file.h"
#include "site/site_json.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <random>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace mc {
namespace {

// The largest site the limits allow, so a save takes long enough for kills
// to land at every stage of it; generation picks the names.
Site largeSite(int generation) {
    Site site;
    const std::string tag = "g" + std::to_string(generation) + " ";
    Site::NamesUpdate names;
    for (int port = kFirstPort; port <= kLastPort; ++port) {
        names.inputs[port] = tag + "input " + std::to_string(port);
        names.outputs[port] = tag + "output " + std::to_string(port);
    }
    EXPECT_TRUE(site.updateNames(names).ok());
    EXPECT_TRUE(site.setName(tag + "site").ok());
    for (std::size_t p = 0; p < kMaxPresets; ++p) {
        Preset preset{tag + "preset " + std::to_string(p), {}};
        for (int output = kFirstPort; output <= kLastPort; ++output) {
            preset.routes.push_back({output, (output + static_cast<int>(p)) % kPortCount + kFirstPort,
                                     output % 2 == 0 ? AudioState::On : AudioState::Mute});
        }
        EXPECT_TRUE(site.savePreset(preset).ok());
    }
    return site;
}

// Saves a and b in turn until it is killed, writing one byte to done after
// each save that returned.
[[noreturn]] void saveForever(const std::filesystem::path& file, const Site& a, const Site& b, int done) {
    for (unsigned n = 0;; ++n) {
        if (const auto failed = saveSiteFile(file, n % 2 == 0 ? a : b)) {
            std::fprintf(stderr, "%s\n", failed->c_str());
            _exit(2);
        }
        if (::write(done, "s", 1) != 1) {
            _exit(3);
        }
    }
}

using Clock = std::chrono::steady_clock;

// Blocks until one byte arrives or the writer is gone; false then.
bool readByte(int fd) {
    char byte = 0;
    return ::read(fd, &byte, 1) == 1;
}

TEST(SiteSaveKill, aKillAtAnyMomentOfASaveLeavesTheOldOrTheNewFile) {
    test::TestFolder folder("site-kill");
    const auto file = folder / "site.json";
    const Site first = largeSite(1);
    const Site second = largeSite(2);
    ASSERT_GT(siteToText(first).size(), 100000U);
    ASSERT_EQ(saveSiteFile(file, second), std::nullopt);
    const auto started = Clock::now();
    ASSERT_EQ(saveSiteFile(file, first), std::nullopt);
    // How long a save takes here; refined from the children's saves, whose
    // flushes to the disk may take longer than this first one.
    auto saveTime = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - started);

    std::mt19937 random(std::random_device{}());
    constexpr int kKills = 30;
    for (int kill = 0; kill < kKills; ++kill) {
        const bool wasFirst = loadSiteFile(file).site == first;
        // Save number k (from 1) writes the other site when k is odd.
        const auto afterSaves = [&](int k) { return (k % 2 == 1) != wasFirst ? first : second; };
        int done[2];
        ASSERT_EQ(::pipe(done), 0);
        const auto forked = Clock::now();
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(done[0]);
            saveForever(file, wasFirst ? second : first, wasFirst ? first : second, done[1]);
        }
        ::close(done[1]);
        // Every other kill lands while the first save is under way, the rest
        // while a later one is, after at least one went through.
        int saves = 0;
        if (kill % 2 == 1) {
            ASSERT_TRUE(readByte(done[0]));
            saves = 1;
            saveTime = std::max(saveTime, std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - forked));
        }
        std::uniform_int_distribution<long long> delay(0, saveTime.count());
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        ASSERT_EQ(::kill(child, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the saving child ended by itself: a save failed";
        while (readByte(done[0])) {
            ++saves;
        }
        ::close(done[0]);

        // The saves that returned are on the file; the one under way at the
        // kill either is too (renamed, not yet reported) or is not at all.
        const SiteLoad load = loadSiteFile(file);
        ASSERT_TRUE(load.ok()) << "after kill " << kill << ": " << load.error->message();
        const bool oldOne = saves == 0 ? load.site == (wasFirst ? first : second) : load.site == afterSaves(saves);
        ASSERT_TRUE(oldOne || load.site == afterSaves(saves + 1)) << "after kill " << kill << ", " << saves << " saves";
        const SiteLoad backup = loadSiteFile(siteBackupPath(file));
        ASSERT_TRUE(backup.ok()) << "after kill " << kill << ": " << backup.error->message();
        ASSERT_TRUE(backup.site == first || backup.site == second) << "after kill " << kill;
    }
}

} // namespace
} // namespace mc
