// matrix-ctl's device search over fake ports: which ports it names when no
// switcher answers, and why each could not be opened.
#include "ctl_commands.h"
#include "link/link_backend.h"

#include <gtest/gtest.h>
#include <map>
#include <string>

namespace mc::ctl {
namespace {

// A port that opens and never answers.
class SilentLink final : public LineLink {
public:
    bool send(std::string_view /*bytes*/) override { return true; }
    Wait nextLine(std::string& /*line*/, Clock::time_point /*deadline*/) override { return Wait::Timeout; }
    [[nodiscard]] std::string error() const override { return {}; }
    [[nodiscard]] std::string name() const override { return "COM3"; }
};

Outcome search(const std::map<int, PortRefusal>& refused, bool silentCom3) {
    Invocation inv;
    inv.command = Command::Search;
    Environment env;
    env.openCom = [&](int comPort, OpenFailure& failure) -> std::unique_ptr<LineLink> {
        if (silentCom3 && comPort == 3) {
            return std::make_unique<SilentLink>();
        }
        const auto it = refused.find(comPort);
        failure = {"COM" + std::to_string(comPort) + ": no such port", PortRefusal::None};
        if (it != refused.end()) {
            failure.refusal = it->second;
        }
        return nullptr;
    };
    return runCommand(inv, env);
}

TEST(Search, namesThePortsThatAreThereButHeldOrForbiddenAndWhy) {
    const std::map<int, PortRefusal> refused{
        {2, PortRefusal::InUse}, {5, PortRefusal::PermissionDenied}, {40, PortRefusal::PermissionDenied}};
    const Outcome silent = search(refused, true);
    EXPECT_EQ(silent.exit, kExitNoReply);
    EXPECT_EQ(silent.error, "search: no switcher answered on the 1 port(s) that opened from COM1 to COM99; "
                            "in use by another program: COM2; permission denied: COM5, COM40 " +
                                std::string(kSerialPermissionHint));

    const Outcome none = search({{7, PortRefusal::InUse}}, false);
    EXPECT_EQ(none.exit, kExitLink);
    EXPECT_EQ(none.error, "search: no port from COM1 to COM99 can be opened; in use by another program: COM7");

    // Absent ports are not worth naming: 99 of them would bury the answer.
    EXPECT_EQ(search({}, true).error, "search: no switcher answered on the 1 port(s) that opened from COM1 to COM99");
}

} // namespace
} // namespace mc::ctl
