#include "edid/edid_choices.h"

#include <gtest/gtest.h>
#include <set>
#include <string>

namespace mc {
namespace {

struct ReadPortRow {
    int item;
    std::optional<EdidPort> port;
    std::string text;
    std::string pattern;
};

TEST(EdidChoices, readPortItemsNameOutputsThenInputs) {
    const ReadPortRow rows[] = {
        {0, EdidPort{EdidPort::Output, 1}, "Out port 1", "Matrix_EDID_out1_%02d.bin"},
        {9, EdidPort{EdidPort::Output, 10}, "Out port 10", "Matrix_EDID_out10_%02d.bin"},
        {15, EdidPort{EdidPort::Output, 16}, "Out port 16", "Matrix_EDID_out16_%02d.bin"},
        {16, EdidPort{EdidPort::Input, 1}, "Input port 1", "Matrix_EDID_inp1_%02d.bin"},
        {20, EdidPort{EdidPort::Input, 5}, "Input port 5", "Matrix_EDID_inp5_%02d.bin"},
        {31, EdidPort{EdidPort::Input, 16}, "Input port 16", "Matrix_EDID_inp16_%02d.bin"},
        {-1, std::nullopt, "", ""},
        {32, std::nullopt, "", ""},
    };
    for (const ReadPortRow& row : rows) {
        SCOPED_TRACE(row.item);
        EXPECT_EQ(readPortOfItem(row.item), row.port);
        EXPECT_EQ(readPortItemText(row.item), row.text);
        if (row.port) {
            EXPECT_EQ(edidReadFilePattern(*row.port), row.pattern);
        }
    }
}

struct UserSlotRow {
    int item;
    std::optional<UserSlot> slot;
    std::string text;
};

TEST(EdidChoices, userSlotItemsAreThreeSlotsPerInput) {
    const UserSlotRow rows[] = {
        {0, UserSlot{1, 1}, "In1 User 1"},
        {1, UserSlot{1, 2}, "In1 User 2"},
        {2, UserSlot{1, 3}, "In1 User 3"},
        {3, UserSlot{2, 1}, "In2 User 1"},
        {28, UserSlot{10, 2}, "In10 User 2"},
        {47, UserSlot{16, 3}, "In16 User 3"},
        {-1, std::nullopt, ""},
        {48, std::nullopt, ""},
    };
    for (const UserSlotRow& row : rows) {
        SCOPED_TRACE(row.item);
        EXPECT_EQ(userSlotOfItem(row.item), row.slot);
        EXPECT_EQ(userSlotItemText(row.item), row.text);
    }
}

// A drop-down's selection is found by its text, so no two items of one list
// may read alike.
TEST(EdidChoices, everyListHasDistinctItemsOfTheRightCount) {
    const std::set<std::string_view> edid(kInputEdidItems.begin(), kInputEdidItems.end());
    EXPECT_EQ(edid.size(), 49U);
    std::set<std::string> readPorts;
    for (int item = 0; item < kReadPortItemCount; ++item) {
        readPorts.insert(readPortItemText(item));
    }
    EXPECT_EQ(readPorts.size(), 32U);
    std::set<std::string> slots;
    for (int item = 0; item < kUserSlotItemCount; ++item) {
        slots.insert(userSlotItemText(item));
    }
    EXPECT_EQ(slots.size(), 48U);
}

// The item index is what the commands carry: the user slots sit at 30-32 and
// "From OutM" at M + 32, where the apply command copies output M.
TEST(EdidChoices, inputEdidItemsLineUpWithTheCommandValues) {
    for (int slot = 1; slot <= 3; ++slot) {
        EXPECT_EQ(kInputEdidItems[static_cast<std::size_t>(29 + slot)], "User EDID" + std::to_string(slot));
    }
    for (int output = 1; output <= 16; ++output) {
        const int item = kFirstCopyEdidChoice + output - 1;
        EXPECT_EQ(kInputEdidItems[static_cast<std::size_t>(item)], "From Out" + std::to_string(output));
        const auto command = applyEdidChoiceCommand(1, item);
        ASSERT_TRUE(command);
        EXPECT_TRUE(command->bytes().find("OUT " + std::to_string(output)) != std::string_view::npos);
    }
}

} // namespace
} // namespace mc
