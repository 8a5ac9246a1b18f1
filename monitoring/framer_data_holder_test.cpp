#include "monitoring/framer_data_holder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<char> bytes(std::string const& text) { return std::vector<char>(text.begin(), text.end()); }

std::string fields(FramerDataHolder const& f)
{
    return f.state + "|" + (f.connected ? "c" : "-") + (f.signalLoss ? "s" : "-") + (f.frameAlignmentLoss ? "a" : "-") +
           "|" + std::to_string(f.negativeSlips) + "|" + std::to_string(f.positiveSlips);
}

TEST(FramerDataHolder, StatusTextsChangeTheFieldsTheyName)
{
    // fields: state|connected, signal loss, alignment loss|negative|positive slips.
    struct Case { std::string text; bool changed; std::string fields; } const cases[] = {
        // Fresh: absent, both losses set.
        {"Loss of Signal          : yes", false, "absent|-sa|0|0"},
        {"Current state           : No Carrier", true, "No Carrier|-sa|0|0"},
        {"x Current state           : In Service\r\nLoss of Signal          : no\n"
         "Loss of Frame Alignment : no\nReceive Slip Negative   :  -12 slips\nReceive Slip Positive   : 7",
         true, "In Service\r|c--|-12|7"},
        // Trailing blanks are part of the value.
        {"Loss of Signal          : yes \n", false, "In Service\r|c--|-12|7"},
        // The last occurrence stands.
        {"Receive Slip Positive   : 1\nReceive Slip Positive   : 2\n", true, "In Service\r|c--|-12|2"},
        {"Receive Slip Negative   : none\nReceive Slip Positive   : 99999999999\n", true,
         "In Service\r|c--|0|2147483647"},
        // Nothing after a zero byte.
        {std::string("Loss of Frame Alignment : yes\0Current state           : No Carrier", 66), true,
         "In Service\r|c-a|0|2147483647"},
        {"", false, "In Service\r|c-a|0|2147483647"},
    };
    FramerDataHolder framer(2, "/proc/driver/hdlc/peb22554/1");
    for (Case const& c : cases) {
        EXPECT_EQ(framer.setFramerStatus(bytes(c.text)), c.changed) << c.text;
        EXPECT_EQ(fields(framer), c.fields) << c.text;
    }
}

TEST(FramerDataHolder, AWholeBufferWithoutZeroIsParsedToItsLastByte)
{
    std::string const label = "Current state           : ";
    std::string text(FramerDataHolder::max_status - label.size() - 3, 'x');
    text += "\n" + label + "ab";
    ASSERT_EQ(text.size(), FramerDataHolder::max_status);
    FramerDataHolder framer(1, "");
    EXPECT_TRUE(framer.setFramerStatus(bytes(text)));
    EXPECT_EQ(framer.state, "ab");
}

}  // namespace
