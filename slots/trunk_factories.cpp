// The twelve static trunk factories, in the order they join the factory list: the E1
// trunks 0..3 first, then the BRI lines 0..7. Being in one unit fixes that order.

#include "slots/trunk_bri_slot.h"
#include "slots/trunk_slot.h"

TrunkFactory trunk0(0, 0);
TrunkFactory trunk1(1, 32);
TrunkFactory trunk2(2, 64);
TrunkFactory trunk3(3, 96);

TrunkBRIFactory trunk_bri0(0, 0);
TrunkBRIFactory trunk_bri1(1, 4);
TrunkBRIFactory trunk_bri2(2, 8);
TrunkBRIFactory trunk_bri3(3, 12);
TrunkBRIFactory trunk_bri4(4, 16);
TrunkBRIFactory trunk_bri5(5, 20);
TrunkBRIFactory trunk_bri6(6, 24);
TrunkBRIFactory trunk_bri7(7, 28);

TrunkFactory& TrunkFactory::e1(unsigned int trunk)
{
    static TrunkFactory* const all[] = {&trunk0, &trunk1, &trunk2, &trunk3};
    return *all[trunk & 3];
}

TrunkBRIFactory& TrunkBRIFactory::line(unsigned int trunk)
{
    static TrunkBRIFactory* const all[] = {&trunk_bri0, &trunk_bri1, &trunk_bri2, &trunk_bri3,
                                           &trunk_bri4, &trunk_bri5, &trunk_bri6, &trunk_bri7};
    return *all[trunk & 7];
}
