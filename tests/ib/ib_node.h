// A simulated node of an InfiniBand fabric behind the user-MAD stand-in: it
// answers the datagrams that the real libibmad puts on the wire, each from
// the bytes its MAD carries: CR space in mode 0 (vendor attribute 0x50 and
// SMP attribute 0xFF50), access registers framed by TLVs (SMP and class-A
// attribute 0xFF52) and in GMP blocks (vendor attribute 0x51), GeneralInfo
// (vendor 0x17), SwitchInfo (SMP 0x12), the switch reset (vendor Set 0x12)
// and the semaphore lock (SMP 0xFF53). Every datagram is kept in order.
#ifndef KELVRA_TESTS_IB_IB_NODE_H
#define KELVRA_TESTS_IB_IB_NODE_H

#include <stddef.h>
#include <stdint.h>

#include <array>
#include <map>
#include <vector>

namespace ib_test {

struct Mad {
    std::array<uint8_t, 256> bytes;

    uint8_t mgmt_class() const { return bytes[1]; }
    uint8_t method() const { return bytes[3]; }
    uint16_t attribute() const { return static_cast<uint16_t>(bytes[16] << 8 | bytes[17]); }
    uint32_t modifier() const { return Field32(20); }
    bool smp() const { return mgmt_class() == 0x01 || mgmt_class() == 0x81; }
    bool vendor() const { return mgmt_class() == 0x0A; }
    // Where the MAD data starts: SMP data at 64, class-A register payload
    // at 32, vendor data at 24.
    uint32_t Field32(size_t offset) const
    {
        return static_cast<uint32_t>(bytes[offset]) << 24 | bytes[offset + 1] << 16 | bytes[offset + 2] << 8 |
               bytes[offset + 3];
    }
};

struct IbNode {
    // CR space: words not written read as Pattern(address).
    bool gmp_cr = true;      // answers CR-space GMPs (else: silent)
    bool smp_cr = true;      // answers CR-space SMPs
    std::map<uint32_t, uint32_t> cr;

    // GeneralInfo: the capability mask (bit 20 register access by class A
    // and GMP, bit 25 switch reset); silent when not answered.
    bool general_info_answers = true;
    uint32_t capability_mask = 0;

    // Registers by id, their wire images; a register never written reads
    // as zeros of the asked length.
    std::map<uint16_t, std::vector<uint8_t>> registers;
    bool smp_registers = true;       // answers 0xFF52 SMPs
    bool class_a_registers = true;   // answers 0xFF52 class-A MADs
    bool gmp_registers = true;       // answers 0x51 GMPs
    uint8_t smp_tlv_status = 0;      // register status in SMP replies
    uint8_t class_a_tlv_status = 0;  // ... in class-A replies
    int smp_reply_fill = -1;         // 0..255: the register data of SMP replies is this byte throughout
    int class_a_reply_fill = -1;     // ... of class-A replies
    size_t gmp_silent_from = SIZE_MAX;  // GMP register blocks from this one get no answer

    // Switch.
    bool switch_info_answers = true;
    uint8_t switch_info_byte16 = 0;   // bit 3: enhanced port 0 (managed)
    bool reset_answers = true;
    std::vector<uint32_t> resets;     // modifiers of the reset requests

    // Semaphore lock: 0 = free.
    uint8_t max_sem_addr = 0x40;
    uint32_t lock_holder = 0;
    uint32_t next_key = 0x1234;

    std::vector<Mad> seen;

    // The datagrams seen of one class and attribute.
    size_t Count(uint8_t mgmt_class, uint16_t attribute) const;
    std::vector<Mad> Of(uint8_t mgmt_class, uint16_t attribute) const;
};

uint32_t Pattern(uint32_t address);

// Puts the node behind the user-MAD stand-in (null: none), the stand-in
// back at its start: no script, nothing sent, nothing pending.
void Attach(IbNode* node);

}  // namespace ib_test

#endif
