#include "tests/fuzz/answer_model.h"

#include "board/hal.h"
#include "board/mcc.h"
#include "board/rtp.h"
#include "tests/controller_client.h"
#include "tests/radio_commands.h"
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

// A command that gets the answer the book expects of it (success where that may be one).
Answers answer(answers::SlotBook& book, ZGCP::Command const& command, unsigned slot)
{
    answers::Facts const f = facts(command, slot);
    Answers const due = book.expect(f).answers;
    book.answered(f, due & kSuccess ? kSuccess : due);
    return due;
}

Answers create(answers::SlotBook& book, ZGCP::CreateParams const& params, unsigned slot)
{
    return answer(book, createCommand(params), slot);
}

ZGCP::CreateParams radioParams(TERM::RadioStatus const& status)
{
    return rtpParams(radioCreate(status, "10.0.0.1", 5000));
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
        // A radio is made as an RTP slot is; its radio control's requests leave it made.
        {"ZARN radio's channel", radioParams(radioStatus(zarnStatus())), rtp::kPath, rtp::kAddChannel, kSuccess},
        {"ED-137 radio's session", radioParams(radioStatus(ed137Status(false))), rtp::kPath, rtp::kBeginSession,
         kSuccess},
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

TEST(SlotBook, ACreateIsDecidedByTheRequestsItNeedsAlone)
{
    struct Row {
        char const* name;
        ZGCP::CreateParams params;
        char const* path;  // refused until cleared; null: nothing
        unsigned long number;
        Answers due;
    };
    Answers const refused = of(Cause::insufficientResources);
    Row const rows[] = {
        // The board has no echo bus.
        {"echo on bus 0", echoParams(0, 5), nullptr, 0, refused},
        {"echo on no bus", echoParams(-1, 0), nullptr, 0, refused},
        {"ZARN radio without its extension", radioParams(radioStatus(zarnStatus())), rtp_ext::kPath, rtp_ext::kInit,
         kSuccess},
        {"ED-137 radio without its extension", radioParams(radioStatus(ed137Status(false))), rtp_ext::kPath, kOpen,
         kSuccess},
    };
    for (Row const& row : rows) {
        answers::SlotBook book;
        book.begin();
        if (row.path)
            book.board().arm(row.path, row.number, -1);
        EXPECT_EQ(row.due, create(book, row.params, 1)) << row.name;
    }
}

TEST(SlotBook, APdRequestOfAnRtpOrRadioSlotNeedsItsRequest)
{
    struct Row {
        char const* name;
        ZGCP::CreateParams params;
    };
    Row const rows[] = {
        {"RTP", rtpParams(rtpCreate(TERM::Payload::ptG711_Alaw, "10.0.0.1", 5000))},
        {"ZARN radio", radioParams(radioStatus(zarnStatus()))},
        {"ED-137 radio", radioParams(radioStatus(ed137Status(true)))},
    };
    ZGCP::IoctlParams pd;
    pd.select_pd_enable().set_timeout(100);
    for (Row const& row : rows) {
        answers::SlotBook book;
        book.begin();
        ASSERT_EQ(kSuccess, create(book, row.params, 1)) << row.name;
        book.board().arm(rtp::kPath, rtp::kEnableEvent, 1);
        Answers const refused = answer(book, ioctlCommand(pd), 1);
        EXPECT_TRUE(refused != 0 && (refused & kSuccess) == 0) << row.name << ":" << answers::text(refused);
        EXPECT_EQ(kSuccess, answer(book, ioctlCommand(pd), 1)) << row.name;
    }
}

// A PSTN slot with no link (cas) takes user data and sends it nowhere: success, and nothing on
// a line; a link's user data may be refused by the link.
TEST(SlotBook, UserDataOfAPstnSlotWithNoLinkSucceedsAndGoesNowhere)
{
    struct Row {
        char const* name;
        ZGCP::CreateParams params;
        bool refusable;
        bool quiet;
    };
    Row const rows[] = {
        {"cas", pstnCasParams(2), false, true},
        {"LAPD link", pstnIsdnParams(ZGCP::IsdnType::pri, 2, false), true, false},
        {"SS7 link", ss7Params(2, 1, 2, 3, false), true, false},
    };
    for (Row const& row : rows) {
        answers::SlotBook book;
        book.begin();
        ASSERT_EQ(kSuccess, create(book, row.params, 1)) << row.name;
        answers::SlotBook::Due const due = book.expect(facts(userDataCommand({8, 1}), 1));
        EXPECT_TRUE(due.answers & kSuccess) << row.name;
        EXPECT_EQ(row.refusable, (due.answers & ~kSuccess) != 0) << row.name << ":" << answers::text(due.answers);
        EXPECT_EQ(row.quiet, due.quiet) << row.name;
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

// A step of a session on trunk slots 1 to 3 (E1 trunk 0, time slots 1 to 3) and 4 (BRI line
// 0, channel 1: slot 1's switch channel), and the answer the book expects of it.
struct Link {
    enum { create, connect, disconnect, destroy, armWrite, armConnect, failReads } what;
    unsigned slot = 0;
    unsigned other = 0;  // connect: the target; arm: times
    Answers due = 0;
};

TEST(SlotBook, ADisconnectFailsWhenTheSwitchRefusesTheIdleByteWhereItStillRecordsTheLink)
{
    struct Row {
        char const* name;
        std::vector<Link> steps;
    };
    Answers const ok = kSuccess, failed = of(Cause::disconnectFail), either = ok | failed;
    Row const rows[] = {
        {"no link, no write", {{Link::armWrite, 0, 1}, {Link::disconnect, 2, 0, ok}, {Link::connect, 1, 2, ok},
                               {Link::disconnect, 2, 0, failed}}},
        {"a refused write", {{Link::connect, 1, 2, ok}, {Link::armWrite, 0, 1}, {Link::disconnect, 2, 0, failed},
                             {Link::disconnect, 2, 0, ok}, {Link::connect, 1, 2, ok}, {Link::disconnect, 2, 0, ok}}},
        {"a connect over the old source writes",
         {{Link::connect, 1, 3, ok}, {Link::armWrite, 0, 1}, {Link::connect, 2, 3, ok}, {Link::disconnect, 3, 0, ok}}},
        {"no link back to the old source",
         {{Link::connect, 1, 3, ok}, {Link::armConnect, 0, 2}, {Link::connect, 2, 3, of(Cause::connectFail)},
          {Link::armWrite, 0, 1}, {Link::disconnect, 3, 0, ok}}},
        {"a destroyed source writes",
         {{Link::connect, 1, 2, ok}, {Link::armWrite, 0, 1}, {Link::destroy, 1, 0, ok}, {Link::create, 1, 0, ok},
          {Link::connect, 1, 2, ok}, {Link::disconnect, 2, 0, ok}}},
        {"a channel another slot links", {{Link::connect, 2, 1, ok}, {Link::connect, 3, 4, ok},
                                          {Link::armWrite, 0, 1}, {Link::disconnect, 1, 0, either}}},
        {"the switch's reads failed", {{Link::connect, 1, 2, ok}, {Link::failReads}, {Link::armWrite, 0, 1},
                                       {Link::disconnect, 2, 0, either}}},
    };
    for (Row const& row : rows) {
        answers::SlotBook book;
        book.begin();
        for (unsigned n : {1, 2, 3})
            create(book, trunkParams(0, n), n);
        create(book, briParams(0, 1), 4);
        int step = 0;
        for (Link const& s : row.steps) {
            ++step;
            switch (s.what) {
            case Link::create:
                EXPECT_EQ(s.due, create(book, trunkParams(0, s.slot), s.slot)) << row.name << ", step " << step;
                break;
            case Link::connect:
                EXPECT_EQ(s.due, answer(book, connectCommand(s.other), s.slot)) << row.name << ", step " << step;
                break;
            case Link::disconnect:
                EXPECT_EQ(s.due, answer(book, plainCommand(ZGCP::Command::disconnect::id), s.slot))
                    << row.name << ", step " << step;
                break;
            case Link::destroy:
                EXPECT_EQ(s.due, answer(book, destroyCommand(), s.slot)) << row.name << ", step " << step;
                break;
            case Link::armWrite: book.board().arm(hal::kPath, hal::kSwitchWrite, int(s.other)); break;
            case Link::armConnect: book.board().arm(hal::kPath, hal::kSwitchConnect, int(s.other)); break;
            case Link::failReads: book.failReads(hal::kPath); break;
            }
        }
    }
}

}  // namespace
