// The hub's site file against the worst moment: a save killed with SIGKILL at
// any point leaves a file that loads, holding either the old or the new site.
#include "site/site_file.h"
#include "support/pty_peer.h"

#include <gtest/gtest.h>

#include <csignal>
#include <random>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace mc {
namespace {

using namespace std::chrono_literals;

Site siteNamed(const std::string& name, int presets) {
    Site site;
    EXPECT_TRUE(site.setName(name).ok());
    for (int i = 0; i < presets; ++i) {
        EXPECT_TRUE(site.savePreset(Preset{"Preset " + std::to_string(i), {{1 + i % 16, 1 + (i * 7) % 16}}}).ok());
    }
    EXPECT_TRUE(site.setLocked(3, true).ok());
    return site;
}

TEST(SiteSaveKill, aSaveKilledAtAnyMomentLeavesALoadableFileOldOrNew) {
    const test::PortDirectory folder;
    const std::filesystem::path file = folder.path() + "/site.json";
    // Large enough that a save takes a while: many moments to be killed in.
    const Site first = siteNamed("First", 120);
    const Site second = siteNamed("Second", 128);
    ASSERT_FALSE(saveSiteFile(file, first));
    std::mt19937 random(12345);
    for (int round = 0; round < 20; ++round) {
        const pid_t saver = ::fork();
        ASSERT_GE(saver, 0);
        if (saver == 0) {
            // The child saves the two sites in turn until it is killed.
            for (int i = 0;; ++i) {
                (void)saveSiteFile(file, i % 2 == 0 ? second : first);
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        ::kill(saver, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(saver, &status, 0), saver);
        const SiteLoad loaded = loadSiteFile(file);
        ASSERT_TRUE(loaded.ok()) << "round " << round << ": " << loaded.error->message();
        EXPECT_TRUE(loaded.site == first || loaded.site == second) << "round " << round;
    }
}

} // namespace
} // namespace mc
