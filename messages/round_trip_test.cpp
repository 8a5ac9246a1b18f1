// Every alternative of the CHOICEs that services dispatch on, carried in the message that
// holds it on the wire, and of the main CHOICEs of the termination protocol and of the
// type-only modules, carried in their PDUs, filled in every part (extension additions
// included, or with optional parts absent), survives a copy, aligned PER, BER and value
// notation unchanged.

#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "messages/ccp.h"
#include "messages/media.h"
#include "messages/mon.h"
#include "messages/term.h"
#include "messages/wire_test_support.h"
#include "messages/zarngw.h"
#include "messages/zgcp.h"

namespace {

using ASN1::AbstractData;

// Fills a value away from its defaults: the first alternative of every CHOICE that has
// none, the largest value of every enumeration and range, text and octets in every
// string (with double quotes in the text); when `everything`, also every optional field and known extension addition, and
// two elements in every list (otherwise optional parts stay absent and lists empty).
void fill(AbstractData& value, bool everything) {
    if (auto* sequence = dynamic_cast<ASN1::SEQUENCE*>(&value)) {
        ASN1::SequenceInfo const& info = *sequence->info();
        for (unsigned i = 0; i < info.numFields; ++i) {
            if (info.fieldIds[i] < 0) {
                fill(*sequence->getField(i), everything);
            } else if (everything) {
                sequence->includeOptionalField(info.fieldIds[i], i);
                fill(*sequence->getField(i), everything);
            }
        }
        for (unsigned k = 0; everything && k < info.knownExtensions; ++k) {
            sequence->includeOptionalField(info.numOptional + k, info.numFields + k);
            fill(*sequence->getField(info.numFields + k), everything);
        }
    } else if (auto* choice = dynamic_cast<ASN1::CHOICE*>(&value)) {
        if (choice->currentSelection() < 0) choice->select(0);
        fill(*choice->getSelection(), everything);
    } else if (auto* list = dynamic_cast<ASN1::SEQUENCE_OF_Base*>(&value)) {
        if (everything) list->resize(2);
        for (auto& element : *list) fill(*element, everything);
    } else if (auto* enumerated = dynamic_cast<ASN1::ENUMERATED*>(&value)) {
        enumerated->setFromInt(enumerated->getMaximum());
    } else if (auto* integer = dynamic_cast<ASN1::INTEGER*>(&value)) {
        if (integer->getConstraintType() == ASN1::FixedConstraint)
            integer->setValue(static_cast<int>(integer->getUpperLimit()));
        else
            integer->setValue(-300);
    } else if (auto* boolean = dynamic_cast<ASN1::BOOLEAN*>(&value)) {
        *boolean = true;
    } else if (auto* octets = dynamic_cast<ASN1::OCTET_STRING*>(&value)) {
        *octets = std::vector<char>{'\0', '\x7f', '\xff'};
    } else if (auto* text = dynamic_cast<ASN1::AbstractString*>(&value)) {
        text->assign(std::string("a \"b\""));
    }
}

// A message (ZGCP or MON) with alternative n of one CHOICE selected where the wire
// carries that CHOICE, and every other part filled.
struct Row {
    char const* name;
    ASN1::ChoiceInfo const& info;
    unsigned alternatives;
    std::function<ASN1::CHOICE&(AbstractData& message)> place;
    AbstractData::InfoType const& message;
};

// The alternative `n` of a CHOICE, selected unless it is already (then kept as it is).
template <class T>
T& keep(ASN1::CHOICE& choice, int n) {
    choice.select(n);
    return static_cast<T&>(*choice.getSelection());
}

ZGCP::PDU& pdu(AbstractData& message) { return static_cast<ZGCP::Message&>(message).set_pdu(); }
ZGCP::Command& command(AbstractData& message) { return keep<ZGCP::Command>(pdu(message), ZGCP::PDU::command::id); }
ZGCP::Signal& signal(AbstractData& message) { return keep<ZGCP::Signal>(pdu(message), ZGCP::PDU::signal::id); }

TERM::TermControl& termControl(AbstractData& pdu) { return static_cast<TERM::TermPDU&>(pdu).set_pdu(); }
TERM::TermCommand& termCommand(AbstractData& pdu) {
    return keep<TERM::TermCommand>(termControl(pdu), TERM::TermControl::command::id);
}
TERM::TermSignal& termSignal(AbstractData& pdu) {
    return keep<TERM::TermSignal>(termControl(pdu), TERM::TermControl::signal::id);
}
TERM::TermParams& termParams(AbstractData& pdu) {
    return keep<TERM::TermParams>(termCommand(pdu), TERM::TermCommand::create::id);
}
TERM::SignallingParams& signallingParams(AbstractData& pdu) {
    return keep<TERM::SignallingParams>(termParams(pdu).set_type(), TERM::TermType::signalling::id);
}

std::vector<Row> const& rows() {
    using ZGCP::Command;
    using ZGCP::Signal;
    static std::vector<Row> const table = {
        {"ZGCP::Command", Command::theInfo, 15, [](AbstractData& m) -> ASN1::CHOICE& { return command(m); },
         ZGCP::Message::theInfo.header},
        {"ZGCP::Signal", Signal::theInfo, 23, [](AbstractData& m) -> ASN1::CHOICE& { return signal(m); },
         ZGCP::Message::theInfo.header},
        {"ZGCP::CreateParams", ZGCP::CreateParams::theInfo, 19,
         [](AbstractData& m) -> ASN1::CHOICE& {
             return keep<ZGCP::CreateParams>(command(m), Command::create::id);
         },
         ZGCP::Message::theInfo.header},
        {"ZGCP::IoctlParams", ZGCP::IoctlParams::theInfo, 38,
         [](AbstractData& m) -> ASN1::CHOICE& { return keep<ZGCP::IoctlParams>(command(m), Command::ioctl::id); },
         ZGCP::Message::theInfo.header},
        {"ZGCP::IoctlResponse", ZGCP::IoctlResponse::theInfo, 9,
         [](AbstractData& m) -> ASN1::CHOICE& { return keep<ZGCP::IoctlResponse>(signal(m), Signal::ioctl::id); },
         ZGCP::Message::theInfo.header},
        {"ZGCP::DisplayParams", ZGCP::DisplayParams::theInfo, 7,
         [](AbstractData& m) -> ASN1::CHOICE& {
             return keep<ZGCP::DisplayParams>(command(m), Command::display::id);
         },
         ZGCP::Message::theInfo.header},
        {"MON::Command", MON::Command::theInfo, 4,
         [](AbstractData& m) -> ASN1::CHOICE& {
             return keep<MON::Command>(static_cast<MON::Message&>(m).set_pdu(), MON::PDU::command::id);
         },
         MON::Message::theInfo.header},
        {"ZARNGW::ProtoZarnPacketPayload", ZARNGW::ProtoZarnPacketPayload::theInfo, 64,
         [](AbstractData& m) -> ASN1::CHOICE& {
             auto& packets = keep<ZARNGW::ProtoZarnPackets>(command(m), Command::protoZarn::id).set_packets();
             if (packets.empty()) packets.push_back(ZARNGW::ProtoZarnPacket());
             return packets.begin()->set_payload();
         },
         ZGCP::Message::theInfo.header},
        {"TERM::TermCommand", TERM::TermCommand::theInfo, 7, [](AbstractData& m) -> ASN1::CHOICE& { return termCommand(m); },
         TERM::TermPDU::theInfo.header},
        {"TERM::TermResponse", TERM::TermResponse::theInfo, 7,
         [](AbstractData& m) -> ASN1::CHOICE& {
             return keep<TERM::TermResponse>(termControl(m), TERM::TermControl::response::id);
         },
         TERM::TermPDU::theInfo.header},
        {"TERM::TermSignal", TERM::TermSignal::theInfo, 5, [](AbstractData& m) -> ASN1::CHOICE& { return termSignal(m); },
         TERM::TermPDU::theInfo.header},
        {"TERM::TermType", TERM::TermType::theInfo, 8,
         [](AbstractData& m) -> ASN1::CHOICE& { return termParams(m).set_type(); }, TERM::TermPDU::theInfo.header},
        {"TERM::RadioCommand", TERM::RadioCommand::theInfo, 4,
         [](AbstractData& m) -> ASN1::CHOICE& { return termParams(m).set_radio_command(); },
         TERM::TermPDU::theInfo.header},
        {"TERM::ExtendedParameters", TERM::ExtendedParameters::theInfo, 4,
         [](AbstractData& m) -> ASN1::CHOICE& { return signallingParams(m).set_extended(); },
         TERM::TermPDU::theInfo.header},
        {"TERM::NumberType", TERM::NumberType::theInfo, 3,
         [](AbstractData& m) -> ASN1::CHOICE& { return signallingParams(m).set_callerType(); },
         TERM::TermPDU::theInfo.header},
        {"TERM::SignallingProceeding", TERM::SignallingProceeding::theInfo, 9,
         [](AbstractData& m) -> ASN1::CHOICE& {
             auto& proceeding = keep<TERM::TermProceeding>(termSignal(m), TERM::TermSignal::proceeding::id);
             return keep<TERM::SignallingProceeding>(proceeding, TERM::TermProceeding::signalling::id);
         },
         TERM::TermPDU::theInfo.header},
        {"TERM::TermActiveState", TERM::TermActiveState::theInfo, 3,
         [](AbstractData& m) -> ASN1::CHOICE& {
             auto& info = keep<TERM::TermInformation>(termSignal(m), TERM::TermSignal::info::id);
             return keep<TERM::TermActiveState>(info.ref_state(), TERM::TermState::active::id);
         },
         TERM::TermPDU::theInfo.header},
        {"CCP::MessageBody", CCP::MessageBody::theInfo, 3,
         [](AbstractData& m) -> ASN1::CHOICE& { return static_cast<CCP::Message&>(m).set_body(); },
         CCP::Message::theInfo.header},
        {"MEDIA::MediaControl", MEDIA::MediaControl::theInfo, 3,
         [](AbstractData& m) -> ASN1::CHOICE& { return static_cast<MEDIA::MediaPDU&>(m).set_pdu(); },
         MEDIA::MediaPDU::theInfo.header},
    };
    return table;
}

std::unique_ptr<AbstractData> build(Row const& row, int alternative, bool everything) {
    std::unique_ptr<AbstractData> message(AbstractData::create(&row.message));
    ASN1::CHOICE& choice = row.place(*message);
    choice.setSelection(alternative, AbstractData::create(row.info.selectionInfos[alternative]));
    fill(*choice.getSelection(), everything);  // also where the CHOICE sits in an optional field
    fill(*message, everything);
    return message;
}

TEST(RoundTrip, EveryAlternativeOfTheDispatchedChoices) {
    for (Row const& row : rows()) {
        ASSERT_EQ(row.alternatives, row.info.numKnownChoices) << row.name;
        for (int n = 0; n < static_cast<int>(row.alternatives); ++n) {
            for (bool everything : {true, false}) {
                SCOPED_TRACE(std::string(row.name) + " alternative " + row.info.selectionNames[n] +
                             (everything ? ", every part present" : ", optional parts absent"));
                std::unique_ptr<AbstractData> message = build(row, n, everything);
                std::unique_ptr<AbstractData> copy(message->clone());
                EXPECT_TRUE(*copy == *message);
                EXPECT_EQ(n, row.place(*copy).currentSelection());

                std::vector<char> octets;
                ASSERT_TRUE(MessagesTest::encode(*message, octets)) << message->asValueNotation();
                std::unique_ptr<AbstractData> decoded(AbstractData::create(&row.message));
                ASSERT_TRUE(MessagesTest::decodeHex(MessagesTest::hex(octets), *decoded));
                EXPECT_TRUE(*decoded == *message) << decoded->asValueNotation();
                EXPECT_EQ(n, row.place(*decoded).currentSelection());

                ASN1::CoderEnv ber;
                ber.set_encodingRule(ASN1::CoderEnv::ber);
                std::vector<char> berOctets;
                ASSERT_TRUE(ASN1::encode(*message, &ber, std::back_inserter(berOctets)));
                std::unique_ptr<AbstractData> berDecoded(AbstractData::create(&row.message));
                ASSERT_TRUE(ASN1::decode(berOctets.data(), berOctets.data() + berOctets.size(), &ber, *berDecoded));
                EXPECT_TRUE(*berDecoded == *message) << berDecoded->asValueNotation();

                std::string const text = message->asValueNotation();
                std::unique_ptr<AbstractData> parsed(AbstractData::create(&row.message));
                EXPECT_TRUE(parsed->setFromValueNotation(text)) << text;
                EXPECT_TRUE(*parsed == *message) << text << "\nparsed as\n" << parsed->asValueNotation();
            }
        }
    }
}

TEST(RoundTrip, AControllerStringOfDoubleQuotesReadsBack) {
    // A signal whose number is 45 double quotes, as a controller may send it.
    std::string hex = "20 AC";
    for (int i = 0; i < 45; ++i) hex += " 22";
    ZGCP::Message message;
    ASSERT_TRUE(MessagesTest::decodeHex(hex, message));
    std::string const text = message.asValueNotation();
    ZGCP::Message parsed;
    ASSERT_TRUE(parsed.setFromValueNotation(text)) << text;
    EXPECT_TRUE(parsed == message) << text << "\nparsed as\n" << parsed.asValueNotation();
}

}  // namespace
