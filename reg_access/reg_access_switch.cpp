/*
 * Register functions of the switch registers (layouts of the switchen_
 * family). Two registers, ricnt and ppcnt, carry a counter area that is a
 * union of counter layouts: a selector field of the record says which one
 * the area holds, and both directions of the exchange go through that one.
 */
#include <string.h>

#include "reg_access/reg_access.h"
#include "reg_access/reg_access_common.h"

namespace {

// Both counter areas start at byte 8 of their register's image.
constexpr uint32_t kCounterAreaOffset = 8;

// One member of a counter-area union, reached through the union's storage,
// where every member starts.
template <typename Union>
struct CounterSetMember {
    uint32_t selector;
    void (*pack)(const Union* set, uint8_t* buff);
    void (*unpack)(Union* set, const uint8_t* buff);
};

#define COUNTER_SET_MEMBER(value, Union, member, X)                                                    \
    CounterSetMember<Union>                                                                            \
    {                                                                                                  \
        (value), [](const Union* set, uint8_t* buff) { X##_pack(&set->member, buff); },                \
            [](Union* set, const uint8_t* buff) { X##_unpack(&set->member, buff); }                    \
    }

using RouterCounterSets = switchen_router_counter_sets;
using PortCounterSets =
    switchen_eth_802_3_cntrs_grp_data_layout_eth_2863_cntrs_grp_data_layout_eth_2819_cntrs_grp_data_layout_eth_3635_cntrs_grp_data_layout_eth_extended_cntrs_grp_data_layout_eth_per_prio_grp_data_layout_eth_per_traffic_grp_data_layout_phys_layer_cntrs_auto;
unsigned (*const port_counter_sets_size)() =
    switchen_eth_802_3_cntrs_grp_data_layout_eth_2863_cntrs_grp_data_layout_eth_2819_cntrs_grp_data_layout_eth_3635_cntrs_grp_data_layout_eth_extended_cntrs_grp_data_layout_eth_per_prio_grp_data_layout_eth_per_traffic_grp_data_layout_phys_layer_cntrs_auto_size;

// ricnt: counter_set_type of the counter handle names the counter set.
const CounterSetMember<RouterCounterSets> kRouterCounterSets[] = {
    COUNTER_SET_MEMBER(9, RouterCounterSets, minimal, switchen_rif_counter_base_set),
    COUNTER_SET_MEMBER(10, RouterCounterSets, all_separated, switchen_enhanced_counter_set),
    COUNTER_SET_MEMBER(11, RouterCounterSets, mpls_separated, switchen_mixed_counter_set_1),
    COUNTER_SET_MEMBER(12, RouterCounterSets, ipv4_separated, switchen_mixed_counter_set_2),
};

// ppcnt: grp names the counter group. No value names the physical-layer,
// discard or LLR groups.
const CounterSetMember<PortCounterSets> kPortCounterGroups[] = {
    COUNTER_SET_MEMBER(0, PortCounterSets, eth_802_3_cntrs_grp_data_layout, switchen_eth_802_3_cntrs_grp_data_layout),
    COUNTER_SET_MEMBER(1, PortCounterSets, eth_2863_cntrs_grp_data_layout, switchen_eth_2863_cntrs_grp_data_layout),
    COUNTER_SET_MEMBER(2, PortCounterSets, eth_2819_cntrs_grp_data_layout, switchen_eth_2819_cntrs_grp_data_layout),
    COUNTER_SET_MEMBER(3, PortCounterSets, eth_3635_cntrs_grp_data_layout, switchen_eth_3635_cntrs_grp_data_layout),
    COUNTER_SET_MEMBER(5, PortCounterSets, eth_extended_cntrs_grp_data_layout,
                       switchen_eth_extended_cntrs_grp_data_layout),
    COUNTER_SET_MEMBER(16, PortCounterSets, eth_per_prio_grp_data_layout, switchen_eth_per_prio_grp_data_layout),
    COUNTER_SET_MEMBER(17, PortCounterSets, eth_per_traffic_grp_data_layout, switchen_eth_per_traffic_grp_data_layout),
};

template <typename Union, size_t N>
const CounterSetMember<Union>* find_member(const CounterSetMember<Union> (&members)[N], uint32_t selector)
{
    for (const CounterSetMember<Union>& member : members) {
        if (member.selector == selector) {
            return &member;
        }
    }
    return nullptr;
}

// Replaces, in an image just packed into a zeroed buffer, the union's last
// member (which the plain pack always writes) by the member the selector
// names, so that a SET sends what the caller filled. A value that names no
// member keeps the plain pack's image.
template <typename Union, size_t N>
void pack_named_member(const CounterSetMember<Union> (&members)[N], uint32_t selector, const Union* set,
                       uint8_t* area, uint32_t area_size)
{
    const CounterSetMember<Union>* member = find_member(members, selector);
    if (member == nullptr) {
        return;
    }
    memset(area, 0, area_size);
    member->pack(set, area);
}

template <typename Union, size_t N>
void unpack_named_member(const CounterSetMember<Union> (&members)[N], uint32_t selector, Union* set,
                         const uint8_t* area)
{
    const CounterSetMember<Union>* member = find_member(members, selector);
    if (member != nullptr) {
        member->unpack(set, area);
    }
}

void pack_ricnt(const void* record, uint8_t* buff)
{
    const switchen_ricnt* ricnt = static_cast<const switchen_ricnt*>(record);
    switchen_ricnt_pack(ricnt, buff);
    pack_named_member(kRouterCounterSets, ricnt->counter_handle.counter_set_type, &ricnt->counter_set,
                      buff + kCounterAreaOffset, switchen_router_counter_sets_size());
}

void pack_ppcnt(const void* record, uint8_t* buff)
{
    const switchen_ppcnt_reg* ppcnt = static_cast<const switchen_ppcnt_reg*>(record);
    switchen_ppcnt_reg_pack(ppcnt, buff);
    pack_named_member(kPortCounterGroups, ppcnt->grp, &ppcnt->counter_set, buff + kCounterAreaOffset,
                      port_counter_sets_size());
}

}  // namespace

extern "C" void switchen_ricnt_unpack_with_union(struct switchen_ricnt* ricnt, const uint8_t* buff)
{
    switchen_ricnt_unpack(ricnt, buff);
    unpack_named_member(kRouterCounterSets, ricnt->counter_handle.counter_set_type, &ricnt->counter_set,
                        buff + kCounterAreaOffset);
}

extern "C" void switchen_ppcnt_reg_unpack_with_union(struct switchen_ppcnt_reg* ppcnt, const uint8_t* buff)
{
    switchen_ppcnt_reg_unpack(ppcnt, buff);
    unpack_named_member(kPortCounterGroups, ppcnt->grp, &ppcnt->counter_set, buff + kCounterAreaOffset);
}

extern "C" int reg_access_ritr(mFile* mf, uint32_t method, struct switchen_ritr* ritr)
{
    return reg_access::access_register(mf, method, ritr, REG_ACCESS_LAYOUT(0x8002, switchen_ritr));
}

extern "C" int reg_access_ricnt(mFile* mf, uint32_t method, struct switchen_ricnt* ricnt)
{
    const reg_access::RegisterLayout layout{
        0x800B, switchen_ricnt_size(), sizeof(struct switchen_ricnt), pack_ricnt,
        [](void* record, const uint8_t* buff) {
            switchen_ricnt_unpack_with_union(static_cast<struct switchen_ricnt*>(record), buff);
        }};
    return reg_access::access_register(mf, method, ricnt, layout);
}

extern "C" int reg_access_ppcnt(mFile* mf, uint32_t method, struct switchen_ppcnt_reg* ppcnt)
{
    const reg_access::RegisterLayout layout{
        0x5008, switchen_ppcnt_reg_size(), sizeof(struct switchen_ppcnt_reg), pack_ppcnt,
        [](void* record, const uint8_t* buff) {
            switchen_ppcnt_reg_unpack_with_union(static_cast<struct switchen_ppcnt_reg*>(record), buff);
        }};
    return reg_access::access_register(mf, method, ppcnt, layout);
}

extern "C" int reg_access_sbpr(mFile* mf, uint32_t method, struct switchen_sbpr* sbpr)
{
    return reg_access::access_register(mf, method, sbpr, REG_ACCESS_LAYOUT(0xB001, switchen_sbpr));
}

extern "C" int reg_access_sbmm(mFile* mf, uint32_t method, struct switchen_sbmm* sbmm)
{
    return reg_access::access_register(mf, method, sbmm, REG_ACCESS_LAYOUT(0xB004, switchen_sbmm));
}

extern "C" int reg_access_sbcm(mFile* mf, uint32_t method, struct switchen_sbcm* sbcm)
{
    return reg_access::access_register(mf, method, sbcm, REG_ACCESS_LAYOUT(0xB002, switchen_sbcm));
}

extern "C" int reg_access_sbpm(mFile* mf, uint32_t method, struct switchen_sbpm* sbpm)
{
    return reg_access::access_register(mf, method, sbpm, REG_ACCESS_LAYOUT(0xB003, switchen_sbpm));
}

extern "C" int reg_access_msgi(mFile* mf, uint32_t method, struct switchen_msgi* msgi)
{
    return reg_access::access_register(mf, method, msgi, REG_ACCESS_LAYOUT(0x9021, switchen_msgi));
}
