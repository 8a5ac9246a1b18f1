#include "slots/slot_factory.h"

#include "tests/slots_test_support.h"
#include "slots/trunk_bri_slot.h"
#include "slots/trunk_slot.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using namespace slotstest;

// Takes echo creates for bus 7 and names the slots it builds after itself; a refusing one
// declines its own kind.
class NamedFactory : public SlotFactory {
public:
    class NamedSlot : public Slot {
    public:
        explicit NamedSlot(char const* name) : name_(name) {}
        char const* GetName() const override { return name_; }

    private:
        char const* name_;
    };

    NamedFactory(char const* name, bool refuse = false) : name_(name), refuse_(refuse) {}
    char const* GetName() const override { return name_; }
    Slot* INewSlot(ZGCP::CreateParams const& params) override
    {
        ++asked;
        if (!params.echo_isSelected() || params.get_echo().get_bus().getValue() != 7 || refuse_)
            return nullptr;
        return new NamedSlot(name_);
    }
    void Query(ZGCP::Resources&) override {}

    int asked = 0;

private:
    char const* name_;
    bool refuse_;
};

struct SlotFactoryTest : SlotsTest {
    std::vector<std::unique_ptr<NamedFactory>> factories;

    // A factory of the test's, built now (so at the head of the list).
    NamedFactory& make(char const* name, bool refuse = false)
    {
        factories.push_back(std::make_unique<NamedFactory>(name, refuse));
        return *factories.back();
    }
    // The slots of the test's factories go before the factories do.
    ~SlotFactoryTest() override { table.OnDisconnect(); }
};

TEST_F(SlotFactoryTest, TheFactoryBuiltLaterWins)
{
    NamedFactory& older = make("older");
    NamedFactory& newer = make("newer");
    EXPECT_EQ(SlotFactory::first(), &newer);
    EXPECT_EQ(newer.next(), &older);
    ASSERT_EQ(create(1, echo(7, 0)), ok());
    EXPECT_EQ(std::string(at(1)->GetName()), "newer");
    EXPECT_EQ(at(1)->GetSlotFactory(), &newer);
    EXPECT_EQ(newer.slots(), std::vector<Slot*>{at(1)});
    EXPECT_EQ(older.asked, 0);
    ASSERT_EQ(destroy(1), ok());
    EXPECT_TRUE(newer.slots().empty());
}

TEST_F(SlotFactoryTest, AFactoryDecliningItsOwnKindLetsOlderFactoriesTry)
{
    make("older");
    NamedFactory& refusing = make("refusing", true);
    ASSERT_EQ(create(1, echo(7, 0)), ok());
    EXPECT_EQ(std::string(at(1)->GetName()), "older");
    EXPECT_EQ(refusing.asked, 1);
    EXPECT_TRUE(refusing.slots().empty());
}

TEST_F(SlotFactoryTest, ACreateNoFactoryTakesReachesTheEndOfTheList)
{
    NamedFactory& refusing = make("refusing", true);
    // A kind no factory builds (a voice record would reach the voice factory once a test
    // of the process has built it).
    ZGCP::CreateParams spiTdm;
    spiTdm.select_spi_tdm();
    EXPECT_EQ(create(1, spiTdm), fail(ZGCP::ErrorCause::insufficientResources));
    EXPECT_EQ(refusing.asked, 1);
}

TEST_F(SlotFactoryTest, TrunkFactoriesAreTheOldestBriLinesBeforeE1Trunks)
{
    std::vector<std::string> names;
    std::vector<SlotFactory*> order;
    for (SlotFactory* f = SlotFactory::first(); f != nullptr; f = f->next()) {
        names.push_back(f->GetName());
        order.push_back(f);
    }
    ASSERT_GE(order.size(), 15u);
    std::vector<SlotFactory*> tail(order.end() - 12, order.end());
    EXPECT_EQ(tail, (std::vector<SlotFactory*>{&trunk_bri7, &trunk_bri6, &trunk_bri5, &trunk_bri4, &trunk_bri3,
                                               &trunk_bri2, &trunk_bri1, &trunk_bri0, &trunk3, &trunk2, &trunk1,
                                               &trunk0}));
    // The daemon's own factories come before them, newest first.
    std::vector<std::string> head(names.end() - 15, names.end() - 12);
    EXPECT_EQ(head, (std::vector<std::string>{"Echo", "Ext", "Map"}));
}

TEST_F(SlotFactoryTest, RemovingASlotItDoesNotHoldChangesNothing)
{
    NamedFactory& factory = make("named");
    ASSERT_EQ(create(1, echo(7, 0)), ok());
    NamedFactory::NamedSlot stranger("stranger");
    factory.Remove(&stranger);
    EXPECT_EQ(factory.slots().size(), 1u);
}

}  // namespace
