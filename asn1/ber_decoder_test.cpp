// Decoding BER: every value kind read back, headers, content the type does not list, open
// types, and hostile input.

#include "asn1/ber_decoder.h"
#include "asn1/ber_encoder.h"

#include <climits>
#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include "asn1/ber_test_support.h"
#include "asn1/zgcp_fixture.h"

namespace {

using ber_test::decode;
using ber_test::encode;
using ber_test::octets;

TEST(BerDecoder, EveryValueKindReadsBack) {
    struct Case {
        char const* name;
        std::function<ASN1::AbstractData*()> make;
    };
    Case const cases[] = {
        {"every kind with both extension additions", [] { return Fixture::everyKind().clone(); }},
        {"optional parts absent",
         [] {
             auto* value = new Fixture::Kinds();
             value->ref_mode().select_read();
             return value;
         }},
        {"a controller message",
         [] {
             auto* message = new ZGCP::Message();
             message->set_seq(-70000);
             message->set_slot(1023);
             message->set_pdu().select_command().select_trunkCfg().set_trunk(2);
             return message;
         }},
        {"an extension alternative",
         [] {
             auto* value = new Fixture::Alternatives();
             value->select_y() = 255u;
             return value;
         }},
        {"a negative enumeration value",
         [] {
             auto* cfg = new ZGCP::TrunkCfg();
             cfg->ref_mode().setFromInt(-1);
             return cfg;
         }},
        {"a sparse enumeration", [] { return new HSP::StandbyCommand(HSP::StandbyCommand::active); }},
        {"the smallest integer", [] { return new ASN1::INTEGER(INT_MIN); }},
    };
    for (Case const& c : cases) {
        for (bool noEnvironment : {true, false}) {
            SCOPED_TRACE(c.name);
            std::unique_ptr<ASN1::AbstractData> const value(c.make());
            std::string const written = encode(*value);
            ASSERT_NE("failed", written);
            std::unique_ptr<ASN1::AbstractData> read(ASN1::AbstractData::create(value->info()));
            ASSERT_TRUE(decode(written, *read, noEnvironment)) << written;
            EXPECT_TRUE(*read == *value) << read->asValueNotation();
            EXPECT_EQ(written, encode(*read));
        }
    }
}

// An INTEGER whose range starts at 0 holds an unsigned 32-bit number, written with a leading
// zero octet from 2^31 on (every BER reader takes a first octet from 0x80 up for a sign);
// others a signed one. A value is read when the type's reading holds it.
TEST(BerDecoder, IntegersAreWrittenAndReadAsTheirTypeHoldsThem) {
    using Unsigned = ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 4294967295u>;
    enum Way { writtenAndRead, read, refused };
    struct Case {
        char const* octets;
        bool isUnsigned;
        Way way;
        unsigned bits;
    };
    Case const cases[] = {
        {"02 01 00", true, writtenAndRead, 0},
        {"02 02 00 80", true, writtenAndRead, 128},
        {"02 04 7F FF FF FF", true, writtenAndRead, 2147483647u},
        {"02 05 00 80 00 00 00", true, writtenAndRead, 2147483648u},
        {"02 05 00 FF FF FF FF", true, writtenAndRead, 4294967295u},
        {"02 04 FF FF FF FF", true, read, 4294967295u},  // as written before the five-octet form
        {"02 05 01 00 00 00 00", true, refused, 0},      // 2^32
        {"02 05 FF FF FF FF FF", true, refused, 0},      // -1 in five octets
        {"02 06 00 00 FF FF FF FF", true, refused, 0},
        {"02 05 00 FF FF FF FF", false, refused, 0},  // beyond a signed number
        {"02 05 FF 80 00 00 00", false, read, 0x80000000u},
        {"02 05 00 7F FF FF FF", false, read, 0x7FFFFFFFu},
    };
    for (Case const& c : cases) {
        std::unique_ptr<ASN1::INTEGER> value(c.isUnsigned ? new Unsigned() : new ASN1::INTEGER());
        ASSERT_EQ(c.way != refused, decode(c.octets, *value)) << c.octets;
        if (c.way != refused) {
            EXPECT_EQ(c.bits, static_cast<unsigned>(value->getValue())) << c.octets;
        }
        if (c.way == writtenAndRead) {
            EXPECT_EQ(c.octets, encode(*value));
            EXPECT_EQ((std::string(c.octets).size() + 1) / 3, ASN1::getObjectLength(*value, -1)) << c.octets;
        }
    }
}

TEST(BerDecoder, Headers) {
    struct Case {
        char const* octets;
        bool read;
        unsigned tag;
        unsigned length;
    };
    Case const cases[] = {
        {"9F 1F 00", true, ASN1::ContextSpecificTagClass | 31, 0},
        {"BF 81 48 7F", true, ASN1::ContextSpecificTagClass | 200, 127},
        {"5F 83 FF 7F 81 80", true, ASN1::ApplicationTagClass | 65535, 128},
        {"C2 84 FF FF FF FF", true, ASN1::PrivateTagClass | 2, 4294967295u},
        {"1F 84 80 80 00 00", false, 0, 0},     // tag number 2^23: beyond a tag word
        {"02 80", false, 0, 0},                 // the indefinite form
        {"02 85 00 00 00 00 01", false, 0, 0},  // five length octets
        {"02 82 01", false, 0, 0},              // length octets cut short
        {"1F 81", false, 0, 0},                 // tag number cut short
        {"02", false, 0, 0},
        {"", false, 0, 0},
    };
    for (Case const& c : cases) {
        std::vector<char> const input = octets(c.octets);
        ASN1::BERDecoder decoder(input.data(), input.data() + input.size());
        unsigned tag = 0;
        unsigned length = 0;
        bool constructed = false;
        ASSERT_EQ(c.read, decoder.decodeHeader(tag, constructed, length)) << c.octets;
        if (!c.read) continue;
        EXPECT_EQ(c.tag, tag) << c.octets;
        EXPECT_EQ(c.length, length) << c.octets;
        EXPECT_EQ((input[0] & 0x20) != 0, constructed) << c.octets;
    }
}

TEST(BerDecoder, HostileContentsAreRefused) {
    struct Case {
        char const* what;
        char const* octets;
        std::function<ASN1::AbstractData*()> make;
    };
    auto integer = [] { return new ASN1::INTEGER(); };
    auto bits = [] { return new ASN1::BIT_STRING(); };
    auto cfg = [] { return new ZGCP::TrunkCfg(); };
    Case const cases[] = {
        {"an empty INTEGER", "02 00", integer},
        {"an empty ENUMERATED", "0A 00", [] { return new ZGCP::ErrorCause(); }},
        {"an INTEGER longer than the input", "02 02 01", integer},
        {"another type's tag", "01 01 FF", integer},
        {"eight unused bits", "03 02 08 00", bits},
        {"unused bits without a data octet", "03 01 01", bits},
        {"a BIT STRING longer than the input", "03 85 00 00 00 10 00 00 FF", bits},
        {"an empty BIT STRING", "03 00", bits},
        {"an odd BMPString", "1E 03 00 41 00", [] { return new ASN1::BMPString(); }},
        {"a list longer than the input", "30 05 02 01 01", [] { return new ASN1::SEQUENCE_OF<ASN1::INTEGER>(); }},
        {"a mandatory field missing", "30 03 81 01 01", cfg},
        {"a field running past its SEQUENCE", "30 04 80 03 05 81 01 00", cfg},
        {"a SEQUENCE longer than the input", "30 07 80 01 05 81 01", cfg},
        {"an alternative of another tag class", "40 00", [] { return new ZGCP::BpcTestMode(); }},
        {"an alternative the type does not have", "83 00", [] { return new ZGCP::BpcTestMode(); }},
        {"an alternative running past its CHOICE", "30 06 A2 02 A0 02 8C 00", [] { return new ZGCP::Message(); }},
    };
    for (Case const& c : cases) {
        std::unique_ptr<ASN1::AbstractData> value(c.make());
        EXPECT_FALSE(decode(c.octets, *value)) << c.what;
    }
}

TEST(BerDecoder, ContentsTheTypeDoesNotListAreSkipped) {
    ZGCP::TrunkCfg cfg;
    ASSERT_TRUE(decode("30 09 80 01 05 81 01 01 82 01 07 FF FF", cfg)) << "a third field, then octets after the value";
    EXPECT_EQ(5, cfg.get_trunk().getValue());
    EXPECT_TRUE(cfg.get_mode().is_master());

    Fixture::VersionedLater later;
    later.ref_a() = 3u;
    later.set_b() = 9u;
    later.set_c() = std::vector<char>{'x'};
    Fixture::Versioned versioned;
    ASSERT_TRUE(decode(encode(later), versioned)) << "an extension addition of a later version";
    EXPECT_TRUE(versioned.b_isPresent());
    EXPECT_EQ(9u, versioned.get_b().getValue());

    ZGCP::Message message;
    message.set_slot(7);
    ASSERT_TRUE(decode("30 09 80 01 01 A2 04 A0 02 8C 00", message));
    EXPECT_TRUE(message.seq_isPresent());
    EXPECT_FALSE(message.slot_isPresent()) << "presence comes from the input alone";
}

TEST(BerDecoder, ReadsStayInsideTheInput) {
    std::vector<char> const input = octets("01 01 FF");
    ASN1::BERDecoder decoder(input.data(), input.data() + input.size());
    ASN1::INTEGER integer;
    unsigned length = 0;
    EXPECT_FALSE(decoder.decodeHeader(integer, length)) << "a BOOLEAN's tag";
    EXPECT_EQ(input.data(), decoder.getPosition()) << "the position is put back";
    EXPECT_EQ(0x01, decoder.decodeByte());
    char buffer[8] = {};
    EXPECT_EQ(2u, decoder.decodeBlock(buffer, sizeof buffer)) << "only what is left";
    EXPECT_EQ('\xFF', buffer[1]);
    EXPECT_TRUE(decoder.atEnd());
    EXPECT_EQ(0, decoder.decodeByte());
    decoder.rollback(input.data() + 2);
    EXPECT_EQ(0xFF, decoder.decodeByte());
    decoder.rollback(input.data() + 100);
    EXPECT_TRUE(decoder.atEnd());
    ASN1::BERDecoder reversed(input.data() + 2, input.data());
    EXPECT_TRUE(reversed.atEnd()) << "a reversed range is empty";
}

// Runs the second pass of an open type, which decodes its held octets into its value.
class Revisit : public ASN1::BERDecoder {
public:
    Revisit() : BERDecoder(nullptr, nullptr) {}
    bool run(ASN1::OpenData& value) { return do_revisit(value); }
};

TEST(BerDecoder, OpenTypes) {
    // A field holding an open type: the field's tag wraps the held value's encoding.
    void const* infos[] = {&ASN1::OpenData::theInfo, &ASN1::INTEGER::theInfo};
    int ids[] = {-1, -1};
    char const* names[] = {"any", "after"};
    ASN1::SequenceInfo const holder{{&ASN1::SEQUENCE::create, 16}, false, infos, ids, 2, 0, 0, nullptr, nullptr, names};
    ASN1::SEQUENCE sent(&holder);
    static_cast<ASN1::OpenData&>(*sent.getField(0)) = ASN1::OpenData(new ASN1::INTEGER(5), &ASN1::OpenData::theInfo);
    static_cast<ASN1::INTEGER&>(*sent.getField(1)).setValue(7);
    EXPECT_EQ("30 08 A0 03 02 01 05 81 01 07", encode(sent));

    ASN1::SEQUENCE read(&holder);
    ASSERT_TRUE(decode(encode(sent), read));
    auto& any = static_cast<ASN1::OpenData&>(*read.getField(0));
    ASSERT_TRUE(any.has_buf());
    EXPECT_EQ("02 01 05", ber_test::hex(any.get_buf()));
    EXPECT_EQ(7, static_cast<ASN1::INTEGER&>(*read.getField(1)).getValue());
    EXPECT_FALSE(Revisit().run(any)) << "no value to decode the octets into";
    any = ASN1::OpenData(new ASN1::INTEGER(), &ASN1::OpenData::theInfo);
    any.grab(new std::vector<char>(octets("02 01 05")));
    ASSERT_TRUE(Revisit().run(any));
    EXPECT_EQ(5, static_cast<ASN1::INTEGER&>(any.get_data()).getValue());

    // Untagged, an open type keeps the inner value's whole encoding.
    ASN1::OpenData bare;
    ASSERT_TRUE(decode("04 02 01 02 FF", bare));
    EXPECT_EQ("04 02 01 02", ber_test::hex(bare.get_buf()));

    // One constrained to a type decodes its value in place.
    static ASN1::TypeConstrainedOpenInfo const holdsInteger = {{&ASN1::TypeConstrainedOpenData::create, 0},
                                                               &ASN1::INTEGER::theInfo};
    std::unique_ptr<ASN1::AbstractData> constrained(ASN1::AbstractData::create(&holdsInteger));
    ASSERT_TRUE(decode("02 01 09", *constrained));
    EXPECT_EQ(9, static_cast<ASN1::INTEGER&>(static_cast<ASN1::OpenData&>(*constrained).get_data()).getValue());
    EXPECT_FALSE(decode("01 01 09", *constrained));
}

}  // namespace
