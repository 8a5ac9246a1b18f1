#include "control/protocol.h"

#include "base/packet.h"
#include "control/strm_protocol.h"
#include "control/tpkt_protocol.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

typedef std::vector<std::string> Journal;

// A layer that writes every call it gets into a journal; its deactivation reports the
// status it is told to.
class Layer : public Protocol {
public:
    Layer(char const* label, Journal& journal) : label_(label), journal_(journal), name_(label) {}
    ~Layer() override { note("deleted"); }

    Protocol_name const& name() const override { return name_; }
    bool compare_name(Protocol_name const& n) const override { return name_.compare(n); }

    void message(Packet& p) override
    {
        note("message");
        transmit(p);
    }
    void receive(Packet& p) override
    {
        note("receive");
        on_message(p);
    }
    bool local_activate() override
    {
        note("local_activate");
        return climbs ? on_activate() : true;
    }
    void local_deactivate() override
    {
        note("local_deactivate");
        if (fails)
            on_deactivate(new Protocol_status_error(this, std::string(label_) + " failed"));
        else
            Protocol::local_deactivate();
    }
    void deactivate() override
    {
        note("deactivate");
        Protocol::deactivate();
    }
    Protocol_status local_initialize() override
    {
        note("local_initialize");
        if (fails)
            return new Protocol_status_error(this, "init failed");
        return Protocol::local_initialize();
    }

    bool climbs = true;
    bool fails = false;

private:
    void note(char const* what) { journal_.push_back(std::string(label_) + "." + what); }

    char const* label_;
    Journal& journal_;
    Protocol_name_str name_;
};

// A family that records what reaches it from its layers.
class Family : public ProtocolsFamily {
public:
    explicit Family(Journal& journal) : journal_(journal) {}
    void transmit(Packet& p) override
    {
        journal_.push_back("family.transmit");
        ProtocolsFamily::transmit(p);
    }
    void on_message(Packet& p) override
    {
        journal_.push_back("family.on_message");
        ProtocolsFamily::on_message(p);
    }
    bool on_activate() override
    {
        journal_.push_back("family.on_activate");
        return ProtocolsFamily::on_activate();
    }
    void on_deactivated(Protocol* layer, Protocol_status status) override
    {
        deactivated.push_back(layer);
        statuses.push_back(status);
        ProtocolsFamily::on_deactivated(layer, status);
    }

    std::vector<Protocol*> deactivated;
    std::vector<Protocol_status> statuses;

private:
    Journal& journal_;
};

// A family of three recording layers: A (lowest), B, C (top).
class ThreeLayers : public ::testing::Test {
protected:
    ThreeLayers() : a(add("A")), b(add("B")), c(add("C")) {}
    Layer* add(char const* label) { return static_cast<Layer*>(f.add_protocol_tail(new Layer(label, j))); }

    Journal j;
    Family f{j};
    Layer* a;
    Layer* b;
    Layer* c;
};

TEST(ProtocolName, NullAndStringNames)
{
    Protocol_name_null none;
    Protocol_name_str nullText(nullptr);
    Protocol_name_str a("TPKT"), a2("TPKT"), b("StrmProtocol");

    EXPECT_STREQ("(no name)", none.name());
    EXPECT_STREQ("(no name)", nullText.name());
    EXPECT_EQ(0, none.kind());
    EXPECT_EQ(1, a.kind());
    EXPECT_TRUE(a.compare(a2));
    EXPECT_FALSE(a.compare(b));
    // Same text, different kind: never equal.
    EXPECT_FALSE(nullText.compare(none));
    EXPECT_FALSE(none.compare(a));
    EXPECT_TRUE(none.compare(Protocol_name_null()));

    std::ostringstream os;
    os << a << "|" << none;
    EXPECT_EQ("TPKT|(no name)", os.str());
}

TEST(ProtocolStatus, InitializeErrorIsAFailureNamedError)
{
    Protocol plain;
    Protocol_status init = new Protocol_initialize_error(&plain);
    EXPECT_FALSE(init->success());
    EXPECT_EQ("error", init->message());
    EXPECT_EQ(&plain, init->source());
    EXPECT_STREQ("(no name)", plain.name().name());
}

TEST(ProtocolsFamily, PacketsTravelDownAndUpThroughEveryLayer)
{
    Journal j;
    Family f(j);
    f.add_protocol_tail(new Layer("A", j));
    f.add_protocol_tail(new Layer("B", j));
    Packet p;

    f.message(p);
    EXPECT_EQ((Journal{"B.message", "A.message", "family.transmit"}), j);

    j.clear();
    f.receive(p);
    EXPECT_EQ((Journal{"A.receive", "B.receive", "family.on_message"}), j);
    j.clear();
}

TEST(ProtocolsFamily, NestedFamilyHandsPacketsToTheOuterStack)
{
    Journal j;
    Family outer(j);
    Layer* below = new Layer("low", j);
    outer.add_protocol_tail(below);
    Family* inner = new Family(j);
    outer.add_protocol_tail(inner);
    inner->add_protocol_tail(new Layer("A", j));
    Packet p;

    inner->message(p);
    // The inner family's transmit reaches the layer below it in the outer stack.
    EXPECT_EQ((Journal{"A.message", "family.transmit", "low.message", "family.transmit"}), j);
    j.clear();
    below->receive(p);
    EXPECT_EQ((Journal{"low.receive", "A.receive", "family.on_message", "family.on_message"}), j);
    j.clear();
}

TEST(ProtocolsFamily, PrepareHeadOfStreamAndTpktReservesFourBytes)
{
    ProtocolsFamily f;
    f.add_protocol_tail(new StrmProtocol);
    f.add_protocol_tail(new Tpkt_protocol);
    Packet p;
    f.top_layer()->prepare_head(p);
    ASSERT_FALSE(p.null());
    EXPECT_EQ(0u, p.length());
    EXPECT_EQ(65536u - 4u, p.tailroom());

    Packet q;
    f.prepare_head(q);
    EXPECT_EQ(65536u - 4u, q.tailroom());
}

TEST_F(ThreeLayers, ActivationClimbsFromTheLowestLayer)
{

    EXPECT_TRUE(f.activate());
    EXPECT_EQ((Journal{"A.local_activate", "B.local_activate", "C.local_activate", "family.on_activate"}), j);

    // A layer that does not report activation stops the climb there.
    j.clear();
    b->climbs = false;
    f.activate();
    EXPECT_EQ((Journal{"A.local_activate", "B.local_activate"}), j);
    j.clear();
}

TEST_F(ThreeLayers, SuccessfulDeactivationDescendsToTheLowestLayerAndReportsOnce)
{

    f.deactivate();
    EXPECT_EQ((Journal{"C.deactivate", "C.local_deactivate", "B.deactivate", "B.local_deactivate", "A.deactivate",
                       "A.local_deactivate"}),
              j);
    ASSERT_EQ(1u, f.deactivated.size());
    EXPECT_EQ(a, f.deactivated[0]);
    EXPECT_TRUE(f.statuses[0]->success());
    EXPECT_EQ("success", f.statuses[0]->message());
    j.clear();
}

TEST_F(ThreeLayers, ErrorOfTheLowestLayerClimbsWithoutDeactivatingTheOthers)
{
    a->fails = true;

    a->local_deactivate();
    EXPECT_EQ((Journal{"A.local_deactivate"}), j);
    ASSERT_EQ(1u, f.deactivated.size());
    EXPECT_EQ(c, f.deactivated[0]);
    EXPECT_FALSE(f.statuses[0]->success());
    EXPECT_EQ("A failed", f.statuses[0]->message());
    EXPECT_EQ(a, f.statuses[0]->source());
    j.clear();
}

TEST_F(ThreeLayers, InitialisationStopsAtTheFirstFailure)
{

    EXPECT_TRUE(f.initialize()->success());
    EXPECT_EQ((Journal{"A.local_initialize", "B.local_initialize", "C.local_initialize"}), j);

    j.clear();
    b->fails = true;
    Protocol_status s = f.initialize();
    EXPECT_FALSE(s->success());
    EXPECT_EQ(b, s->source());
    EXPECT_EQ((Journal{"A.local_initialize", "B.local_initialize"}), j);
    j.clear();
}

TEST(ProtocolsFamily, EmptyFamilyFailsInitialisationAndActivation)
{
    ProtocolsFamily f;
    Protocol_status s = f.initialize();
    EXPECT_FALSE(s->success());
    EXPECT_EQ("error", s->message());
    EXPECT_FALSE(f.activate());
    Packet p;
    f.message(p);
    f.receive(p);
    f.deactivate();
    EXPECT_TRUE(p.null());
}

TEST(ProtocolsList, OwnsItsLayersDeletesTopFirstAndSearchesByName)
{
    Journal j;
    {
        ProtocolsList list;
        list.add_protocol_tail(new Layer("B", j));
        list.add_protocol_head(new Layer("A", j));
        list.add_protocol_tail(new Layer("C", j));
        EXPECT_EQ(3u, list.layer_count());
        EXPECT_EQ(&list, list.lowest_layer()->owner());

        Protocol* b = list.search(Protocol_name_str("B"));
        ASSERT_NE(nullptr, b);
        EXPECT_EQ(list.lowest_layer()->layer_above(), b);
        EXPECT_EQ(nullptr, list.search(Protocol_name_str("D")));
        EXPECT_EQ(nullptr, list.search(Protocol_name_null()));

        // A layer deleted while in the list takes itself out.
        delete b;
        EXPECT_EQ(2u, list.layer_count());
        EXPECT_EQ(list.top_layer(), list.lowest_layer()->layer_above());
        j.clear();
    }
    EXPECT_EQ((Journal{"C.deleted", "A.deleted"}), j);
}

}  // namespace
