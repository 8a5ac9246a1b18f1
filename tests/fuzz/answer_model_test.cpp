#include "tests/fuzz/answer_model.h"

#include "board/hal.h"
#include "board/mcc.h"
#include "board/rtp.h"
#include "tests/controller_client.h"
#include "tests/slot_commands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using answers::Answers;
using answers::Fate;
using answers::kOpen;
using answers::kSuccess;
using answers::of;
using Cause = ZGCP::ErrorCause;
using namespace testsupport;

constexpr answers::Request kAdd{rtp::kPath, rtp::kAddChannel};

// What the board book tells of the requests after each step.
struct Step {
    enum { arm, made, maybe, blur, loose, clear } what;
    int times = 0;
    Fate fate = Fate::passes;  // of made
};

TEST(BoardBook, TellsTheFateOfEachRequestFromWhatWasArmedAndWhatMayHaveTakenIt)
{
    struct Row {
        char const* name;
        std::vector<Step> steps;
    };
    Fate const passes = Fate::passes, fails = Fate::fails, unknown = Fate::unknown;
    Row const rows[] = {
        {"nothing armed", {{Step::made, 0, passes}}},
        {"two strikes", {{Step::arm, 2}, {Step::made, 0, fails}, {Step::made, 0, fails}, {Step::made, 0, passes}}},
        {"until cleared", {{Step::arm, -1}, {Step::made, 0, fails}, {Step::clear}, {Step::made, 0, passes}}},
        {"a request maybe made", {{Step::arm, 1}, {Step::maybe}, {Step::made, 0, unknown}, {Step::made, 0, passes}}},
        {"uses not followed", {{Step::arm, 2}, {Step::blur}, {Step::made, 0, unknown}, {Step::made, 0, unknown},
                               {Step::made, 0, passes}}},
        {"later uses", {{Step::loose}, {Step::made, 0, passes}, {Step::arm, 1}, {Step::made, 0, unknown},
                        {Step::clear}, {Step::arm, -1}, {Step::made, 0, fails}}},
    };
    for (Row const& row : rows) {
        answers::BoardBook book;
        int made = 0;
        for (Step const& step : row.steps) {
            switch (step.what) {
            case Step::arm: book.arm(rtp::kPath, rtp::kAddChannel, step.times); break;
            case Step::made: EXPECT_EQ(step.fate, book.made(kAdd)) << row.name << ", request " << ++made; break;
            case Step::maybe: book.maybe(kAdd); break;
            case Step::blur: book.blur(kAdd); break;
            case Step::loose: book.loose(kAdd); break;
            case Step::clear: book.clear(); break;
            }
        }
    }
}

answers::Facts facts(ZGCP::Command const& command, unsigned slot)
{
    return answers::factsOf(zgcpCommand(command, 1, slot));
}

// A create on a free number that gets the answer the book expects of it.
Answers create(answers::SlotBook& book, ZGCP::CreateParams const& params, unsigned slot)
{
    answers::Facts const f = facts(createCommand(params), slot);
    Answers const due = book.expect(f).answers;
    book.answered(f, due & kSuccess ? kSuccess : due);
    return due;
}

TEST(SlotBook, ACreateThatNeedsARefusedRequestIsRefusedAndTheNextOneSucceeds)
{
    struct Row {
        char const* name;
        ZGCP::CreateParams params;
        char const* path;
        unsigned long number;
        Answers again;
    };
    ZGCP::CreateParams const rtp = rtpParams(rtpCreate(TERM::Payload::ptG711_Alaw, "10.0.0.1", 5000));
    ZGCP::CreateParams const data = mccParams(ZGCP::MccType::data, ZGCP::MccMode::standard);
    Answers const refused = of(Cause::insufficientResources);
    Row const rows[] = {
        {"RTP open", rtp, rtp::kPath, kOpen, kSuccess},
        {"RTP channel", rtp, rtp::kPath, rtp::kAddChannel, kSuccess},
        {"MCC allocation", data, mcc::kPath, mcc::kAllocate, kSuccess},
        {"MCC time slot", data, mcc::kPath, mcc::kTimeslot, kSuccess},
        {"recorder's time slot", recorderParams("10.0.0.1", 4000), mcc::kPath, mcc::kTimeslot, kSuccess},
        {"ISDN open", isdnParams(ZGCP::IsdnType::bri, 1), mcc::kPath, kOpen, kSuccess},
        // The relay program may not start.
        {"T.38 allocation", t38Params("10.0.0.1", 4000, 4002, {}), mcc::kPath, mcc::kAllocate, kSuccess | refused},
    };
    for (Row const& row : rows) {
        answers::SlotBook book;
        book.begin();
        book.board().arm(row.path, row.number, 1);
        EXPECT_EQ(refused, create(book, row.params, 1)) << row.name;
        EXPECT_EQ(row.again, create(book, row.params, 2)) << row.name << ", again";
    }
}

TEST(SlotBook, AConnectNeedsOneSwitchRequestAndOneMoreToGoBackToTheOldSource)
{
    answers::SlotBook book;
    book.begin();
    for (unsigned n : {1, 2, 3})
        create(book, trunkParams(0, n), n);
    auto const connect = [&](unsigned from, unsigned to) {
        answers::Facts const f = facts(connectCommand(to), from);
        Answers const due = book.expect(f).answers;
        book.answered(f, due & kSuccess ? kSuccess : due);
        return due;
    };
    EXPECT_EQ(kSuccess, connect(1, 3));
    book.board().arm(hal::kPath, hal::kSwitchConnect, 2);
    EXPECT_EQ(of(Cause::connectFail), connect(2, 3));
    EXPECT_EQ(kSuccess, connect(2, 3));
    EXPECT_EQ(kSuccess, connect(2, 3));
    book.failReads(hal::kPath);
    EXPECT_EQ(kSuccess | of(Cause::connectFail), connect(1, 3));
}

}  // namespace
