/*
 * One simulated PCI function: configuration space, the two gateways, the
 * address spaces with the ICMD mailbox and the tools_cmdif HCR.
 */
#include "tests/sim/sim.h"

#include "tests/sim/sim_bits.h"
#include "tests/sim/sim_i2c.h"
#include "tests/sim/sim_registers.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <stdexcept>

namespace kelvra_sim {

namespace {

constexpr uint32_t kPmCapOffset = 0x40;
constexpr uint32_t kPcieCapOffset = 0x60;
constexpr uint32_t kPcieCapEnd = 0x9C;
constexpr uint32_t kVsecSize = 24;

uint32_t hw_id_address(const FunctionSpec& spec)
{
    bool vq500 = spec.device_id >= 0x2900 && spec.device_id <= 0x29FF;
    return kHwIdAddr + (vq500 ? kVq500CrOffset : 0);
}

void build_config(State& s)
{
    const FunctionSpec& f = s.spec;
    uint8_t* c = s.config.data();
    put_le32(c + 0x00, (uint32_t)f.device_id << 16 | f.vendor_id);
    put_le32(c + 0x04, 0x0010u << 16 | 0x0006u);  // status: capability list; memory, master
    put_le32(c + 0x08, f.class_code << 8 | f.revision);
    uint64_t bar0 = bar0_address(f);
    put_le32(c + 0x10, (uint32_t)bar0 | 0x0000000C);  // 64-bit prefetchable memory
    put_le32(c + 0x14, (uint32_t)(bar0 >> 32));
    put_le32(c + 0x2C, (uint32_t)f.subsystem_id << 16 | f.subsystem_vendor_id);
    c[0x34] = (uint8_t)kPmCapOffset;
    // Power management, then PCI Express, then the vendor capability: the
    // host must walk a chain, not find it first.
    c[kPmCapOffset] = 0x01;
    c[kPmCapOffset + 1] = (uint8_t)kPcieCapOffset;
    c[kPmCapOffset + 2] = 0x03;
    c[kPcieCapOffset] = 0x10;
    c[kPcieCapOffset + 1] = f.vsec ? f.vsec_offset : 0;
    c[kPcieCapOffset + 2] = 0x02;
    if (f.vsec) {
        if (f.vsec_offset % 4 != 0 || f.vsec_offset < kPcieCapEnd || f.vsec_offset + kVsecSize > 0x100) {
            throw std::invalid_argument("vsec_offset must be 4-aligned within 0x9C..0xE8");
        }
        uint8_t* v = c + f.vsec_offset;
        v[0] = 0x09;
        v[1] = 0x00;
        v[2] = (uint8_t)kVsecSize;
        v[3] = (uint8_t)(f.vsec_type & 0x7F);
    }
}

bool is_vsec_word(const State& s, uint32_t offset, uint32_t* which)
{
    if (!s.spec.vsec || offset < s.spec.vsec_offset || offset >= s.spec.vsec_offset + kVsecSize) {
        return false;
    }
    *which = offset - s.spec.vsec_offset;
    return true;
}

bool is_gateway_word(const State& s, uint32_t offset)
{
    uint32_t which;
    return offset == kLegacyAddrOffset || offset == kLegacyDataOffset || is_vsec_word(s, offset, &which);
}

bool space_supported_in(const State& s, uint16_t space)
{
    if (space == kSpaceCr) {
        return true;  // the legacy gateway always reaches CR space
    }
    return s.spec.vsec && space < 32 && (s.spec.vsec_spaces >> space & 1u);
}

// ---------------------------------------------------------------- ICMD

struct IcmdPort {
    uint16_t space;
    uint32_t ctrl;
    uint32_t syndrome;
    uint32_t mailbox;
    size_t mailbox_size;
};

bool vsec_icmd(const State& s) { return s.spec.vsec && s.spec.icmd; }

uint8_t run_icmd(State& s, uint16_t opcode, uint8_t* mailbox, size_t size)
{
    s.stats.icmd_commands++;
    if (s.knobs.icmd_status) {
        s.icmd_syndrome = s.knobs.icmd_syndrome;
        return *s.knobs.icmd_status;
    }
    switch (opcode) {
    case kOpcodeAccessRegister:
        return execute_access_register(s, mailbox, size, StringTlvMode::kAbsent);
    case kOpcodeAccessRegisterString:
        return execute_access_register(s, mailbox, size, StringTlvMode::kPresent);
    default:
        return kIcmdInvalidOpcode;
    }
}

uint32_t storage_read(State& s, uint16_t space, uint32_t address)
{
    auto sp = s.spaces.find(space);
    if (sp == s.spaces.end()) {
        return 0;
    }
    auto w = sp->second.find(address);
    return w == sp->second.end() ? 0 : w->second;
}

void storage_write(State& s, uint16_t space, uint32_t address, uint32_t value)
{
    s.spaces[space][address] = value;
}

void icmd_complete(State& s, const IcmdPort& port)
{
    std::vector<uint8_t> image(port.mailbox_size);
    for (size_t i = 0; i + 4 <= image.size(); i += 4) {
        put_be32(image.data() + i, storage_read(s, port.space, port.mailbox + (uint32_t)i));
    }
    uint8_t status = run_icmd(s, (uint16_t)(s.icmd_ctrl >> 16), image.data(), image.size());
    for (size_t i = 0; i + 4 <= image.size(); i += 4) {
        storage_write(s, port.space, port.mailbox + (uint32_t)i, get_be32(image.data() + i));
    }
    s.icmd_ctrl = (s.icmd_ctrl & ~(0xFFu << 8) & ~kIcmdBusy) | (uint32_t)status << 8;
}

void icmd_ctrl_write(State& s, const IcmdPort& port, uint32_t value)
{
    bool was_busy = s.icmd_ctrl & kIcmdBusy;
    s.icmd_ctrl = value;
    if (!(value & kIcmdBusy) || was_busy) {
        return;
    }
    if (s.icmd_semaphore.owner == 0) {
        s.stats.unguarded_icmd_commands++;
    }
    s.icmd_countdown = s.knobs.icmd_busy_delay;
    if (s.icmd_countdown == 0) {
        icmd_complete(s, port);
    }
}

uint32_t icmd_ctrl_read(State& s, const IcmdPort& port)
{
    if ((s.icmd_ctrl & kIcmdBusy) && s.icmd_countdown > 0 && --s.icmd_countdown == 0) {
        icmd_complete(s, port);
    }
    return s.icmd_ctrl;
}

IcmdPort vsec_icmd_port(const State& s)
{
    return {kSpaceIcmd, kIcmdCtrlAddr, kIcmdSyndromeAddr, kIcmdMailboxAddr, s.spec.icmd_max_size & ~3u};
}

IcmdPort cr_icmd_port(const CrMailboxSpec& m)
{
    return {kSpaceCr, m.mailbox_address + kCrMailboxCtrlOffset, m.mailbox_address + kCrMailboxSyndromeOffset,
            m.mailbox_address, kCrMailboxSize};
}

// ---------------------------------------------------------------- tools_cmdif

void cmdif_execute(State& s)
{
    s.stats.cmdif_commands++;
    uint32_t ctrl = s.hcr[6];
    uint16_t opcode = ctrl & 0xFFF;
    uint32_t modifier = s.hcr[2];
    uint8_t status = 0;
    if (s.knobs.cmdif_status) {
        status = *s.knobs.cmdif_status;
    } else if (opcode == kCmdifMailboxWrite || opcode == kCmdifMailboxRead) {
        size_t at = (size_t)modifier * 4;
        if (at + 8 > kCmdifMailboxSize) {
            status = kCmdifOperationNotSupported;
        } else if (opcode == kCmdifMailboxWrite) {
            put_be32(&s.cmdif_mailbox[at], s.hcr[1]);
            put_be32(&s.cmdif_mailbox[at + 4], s.hcr[0]);
        } else {
            s.hcr[4] = get_be32(&s.cmdif_mailbox[at]);
            s.hcr[3] = get_be32(&s.cmdif_mailbox[at + 4]);
        }
    } else if (opcode == kCmdifAccessRegister) {
        std::array<uint8_t, kCmdifMailboxSize> image{};
        uint8_t* box = s.cmdif_mailbox.data();
        if (modifier == 1) {
            if (!s.spec.cmdif_cr_mailbox) {
                status = kCmdifOperationNotSupported;
            }
            for (size_t i = 0; i < kCmdifMailboxSize; i += 4) {
                put_be32(&image[i], storage_read(s, kSpaceCr, kCmdifCrMailboxAddr + (uint32_t)i));
            }
            box = image.data();
        }
        if (status == 0) {
            // The string TLV is recognised by its type: this mailbox has no
            // opcode that announces it.
            execute_access_register(s, box, kCmdifMailboxSize, StringTlvMode::kDetect);
            if (modifier == 1) {
                for (size_t i = 0; i < kCmdifMailboxSize; i += 4) {
                    storage_write(s, kSpaceCr, kCmdifCrMailboxAddr + (uint32_t)i, get_be32(&image[i]));
                }
            }
        }
    } else {
        status = kCmdifOperationNotSupported;
    }
    s.hcr[6] = (ctrl & ~kHcrGo & 0x00FFFFFFu) | (uint32_t)status << 24;
}

bool is_hcr_word(const State& s, uint32_t address)
{
    return s.spec.tools_cmdif && address >= kHcrAddr && address < kHcrAddr + 28 && address % 4 == 0;
}

bool is_cmdif_cr_mailbox(const State& s, uint32_t address)
{
    return s.spec.tools_cmdif && address >= kCmdifCrMailboxAddr &&
           address < kCmdifCrMailboxAddr + kCmdifMailboxSize;
}

// ---------------------------------------------------------------- spaces

uint32_t cr_read(State& s, uint32_t address)
{
    if (address == hw_id_address(s.spec)) {
        return s.spec.hw_id | (uint32_t)(s.spec.hw_rev & 0xF) << 16;
    }
    uint32_t gateway_word = 0;
    if (i2c_cr_read(s, address, &gateway_word)) {
        return gateway_word;
    }
    if (s.spec.cr_mailbox) {
        const CrMailboxSpec& m = *s.spec.cr_mailbox;
        IcmdPort port = cr_icmd_port(m);
        if (address == port.ctrl) {
            return icmd_ctrl_read(s, port);
        }
        if (address == port.syndrome) {
            return s.icmd_syndrome;
        }
        if (address == m.semaphore_address) {
            return s.icmd_semaphore.read_take();
        }
        if (address == m.cmd_ptr_address) {
            return m.mailbox_address;
        }
        if (address == m.version_address) {
            if (m.version_bitlen >= 32) {
                return m.version;
            }
            uint32_t mask = (1u << m.version_bitlen) - 1;
            return (m.version & mask) << (m.version_bit_offset % 32);
        }
    }
    if (is_hcr_word(s, address)) {
        size_t i = (address - kHcrAddr) / 4;
        if (i == 6 && (s.hcr[6] & kHcrGo) && s.hcr_countdown > 0 && --s.hcr_countdown == 0) {
            cmdif_execute(s);
        }
        return s.hcr[i];
    }
    if (s.spec.tools_cmdif && address == kFlashLockAddr) {
        return s.flash_lock.read_take();
    }
    if (is_cmdif_cr_mailbox(s, address) && !s.spec.cmdif_cr_mailbox) {
        return 0;
    }
    return storage_read(s, kSpaceCr, address);
}

void cr_write(State& s, uint32_t address, uint32_t value)
{
    if (address == hw_id_address(s.spec)) {
        return;
    }
    if (i2c_cr_write(s, address, value)) {
        return;
    }
    if (s.spec.cr_mailbox) {
        const CrMailboxSpec& m = *s.spec.cr_mailbox;
        IcmdPort port = cr_icmd_port(m);
        if (address == port.ctrl) {
            icmd_ctrl_write(s, port, value);
            return;
        }
        if (address == port.syndrome || address == m.cmd_ptr_address || address == m.version_address) {
            return;
        }
        if (address == m.semaphore_address) {
            s.icmd_semaphore.write(value, s.knobs.icmd_semaphore_stuck);
            return;
        }
    }
    if (is_hcr_word(s, address)) {
        size_t i = (address - kHcrAddr) / 4;
        bool was_go = s.hcr[6] & kHcrGo;
        s.hcr[i] = value;
        if (i == 6 && (value & kHcrGo) && !was_go) {
            s.hcr_countdown = s.knobs.cmdif_go_delay;
            if (s.hcr_countdown == 0) {
                cmdif_execute(s);
            }
        }
        return;
    }
    if (s.spec.tools_cmdif && address == kFlashLockAddr) {
        s.flash_lock.write(value, s.knobs.flash_lock_stuck);
        return;
    }
    if (is_cmdif_cr_mailbox(s, address) && !s.spec.cmdif_cr_mailbox) {
        return;
    }
    storage_write(s, kSpaceCr, address, value);
}

uint32_t space_read_in(State& s, uint16_t space, uint32_t address)
{
    if (!space_supported_in(s, space)) {
        return 0;
    }
    if (space == kSpaceCr) {
        return cr_read(s, address);
    }
    if (space == kSpaceIcmd && vsec_icmd(s)) {
        IcmdPort port = vsec_icmd_port(s);
        if (address == port.ctrl) {
            return icmd_ctrl_read(s, port);
        }
        if (address == kIcmdMaxSizeAddr) {
            return s.spec.icmd_max_size;
        }
        if (address == port.syndrome) {
            return s.icmd_syndrome;
        }
    }
    // Taken by writing a ticket: reading it back only shows the owner. A
    // read that took it would leave it with nobody who will ever release it.
    if (space == kSpaceSemaphore && vsec_icmd(s) && address == kIcmdSemaphoreAddr) {
        return s.icmd_semaphore.owner;
    }
    return storage_read(s, space, address);
}

void space_write_in(State& s, uint16_t space, uint32_t address, uint32_t value)
{
    if (!space_supported_in(s, space)) {
        return;
    }
    if (space == kSpaceCr) {
        cr_write(s, address, value);
        return;
    }
    if (space == kSpaceIcmd && vsec_icmd(s)) {
        IcmdPort port = vsec_icmd_port(s);
        if (address == port.ctrl) {
            icmd_ctrl_write(s, port, value);
            return;
        }
        if (address == kIcmdMaxSizeAddr || address == port.syndrome) {
            return;
        }
    }
    if (space == kSpaceSemaphore && vsec_icmd(s) && address == kIcmdSemaphoreAddr) {
        s.icmd_semaphore.write(value, s.knobs.icmd_semaphore_stuck);
        return;
    }
    storage_write(s, space, address, value);
}

// ---------------------------------------------------------------- gateways

void vsec_transfer(State& s)
{
    uint16_t space = s.vsec_space_word & 0xFFFF;
    if (s.vsec_write_pending) {
        space_write_in(s, space, s.vsec_address, s.vsec_data);
        s.vsec_flag = false;  // a write is done when the flag clears
    } else {
        s.vsec_data = space_read_in(s, space, s.vsec_address);
        s.vsec_flag = true;  // a read is done when the flag is set
    }
}

uint32_t vsec_read(State& s, uint32_t which)
{
    switch (which) {
    case 4:
        return s.vsec_space_word;
    case 8: {
        uint32_t ticket = s.vsec_counter++;
        if (s.vsec_counter == 0) {
            s.vsec_counter = 1;
        }
        return ticket;
    }
    case 12:
        return s.vsec_semaphore.owner;
    case 16:
        if (s.vsec_flag_countdown > 0 && --s.vsec_flag_countdown == 0) {
            vsec_transfer(s);
        }
        return s.vsec_address | (s.vsec_flag ? 0x80000000u : 0);
    case 20:
        if (s.vsec_semaphore.owner == 0) {
            s.stats.unguarded_gateway_transfers++;
        }
        return s.vsec_data;
    default:
        return get_le32(&s.config[s.spec.vsec_offset + which]);
    }
}

void vsec_write(State& s, uint32_t which, uint32_t value)
{
    switch (which) {
    case 4: {
        uint16_t space = value & 0xFFFF;
        uint32_t status = space_supported_in(s, space) ? 1u << 29 : 0;
        s.vsec_space_word = (value & 0x1FFF0000u) | space | status;
        return;
    }
    case 12:
        s.vsec_semaphore.write(value, s.knobs.vsec_semaphore_stuck);
        return;
    case 16:
        if (s.vsec_semaphore.owner == 0) {
            s.stats.unguarded_gateway_transfers++;
        }
        s.vsec_address = value & 0x3FFFFFFF;
        s.vsec_write_pending = value & 0x80000000u;
        // Until the transfer is done the flag shows the opposite of "done".
        s.vsec_flag = s.vsec_write_pending;
        s.vsec_flag_countdown = s.knobs.flag_delay;
        if (s.vsec_flag_countdown == 0) {
            vsec_transfer(s);
        }
        return;
    case 20:
        if (s.vsec_semaphore.owner == 0) {
            s.stats.unguarded_gateway_transfers++;
        }
        s.vsec_data = value;
        return;
    default:
        return;  // header and counter are read-only
    }
}

uint32_t legacy_read(State& s, uint32_t offset)
{
    if (offset == kLegacyAddrOffset) {
        return s.spec.legacy_ordered ? kLegacyOrderedMagic : s.legacy_address;
    }
    if (!s.spec.legacy_ordered) {
        s.legacy_data = cr_read(s, s.legacy_address);
    }
    return s.legacy_data;
}

void legacy_write(State& s, uint32_t offset, uint32_t value)
{
    if (s.spec.legacy_ordered) {
        // Ordered device: data first, then an address whose bit 0 asks for
        // a read (clear: write the data latched before).
        if (offset == kLegacyDataOffset) {
            s.legacy_data = value;
        } else if (value & 1u) {
            s.legacy_address = value & ~3u;
            s.legacy_data = cr_read(s, s.legacy_address);
        } else {
            s.legacy_address = value & ~3u;
            cr_write(s, s.legacy_address, s.legacy_data);
        }
        return;
    }
    // Older order: the address selects, the data word moves.
    if (offset == kLegacyAddrOffset) {
        s.legacy_address = value & ~3u;
    } else {
        cr_write(s, s.legacy_address, value);
    }
}

uint32_t dword_read(State& s, uint32_t offset)
{
    uint32_t which;
    if (is_vsec_word(s, offset, &which)) {
        return vsec_read(s, which);
    }
    if (offset == kLegacyAddrOffset || offset == kLegacyDataOffset) {
        return legacy_read(s, offset);
    }
    return get_le32(&s.config[offset]);
}

uint32_t dword_peek(const State& s, uint32_t offset)
{
    uint32_t which;
    if (is_vsec_word(s, offset, &which)) {
        switch (which) {
        case 4: return s.vsec_space_word;
        case 8: return s.vsec_counter;
        case 12: return s.vsec_semaphore.owner;
        case 16: return s.vsec_address | (s.vsec_flag ? 0x80000000u : 0);
        case 20: return s.vsec_data;
        default: break;
        }
    }
    if (offset == kLegacyAddrOffset) {
        return s.spec.legacy_ordered ? kLegacyOrderedMagic : s.legacy_address;
    }
    if (offset == kLegacyDataOffset) {
        return s.legacy_data;
    }
    return get_le32(&s.config[offset]);
}

void dword_write(State& s, uint32_t offset, uint32_t value)
{
    uint32_t which;
    if (is_vsec_word(s, offset, &which)) {
        vsec_write(s, which, value);
    } else if (offset == kLegacyAddrOffset || offset == kLegacyDataOffset) {
        legacy_write(s, offset, value);
    } else if (offset >= 0x40) {
        put_le32(&s.config[offset], value);
    }
}

bool touches(const std::set<uint32_t>& dwords, uint64_t offset, size_t len)
{
    for (uint64_t d = offset & ~3ull; d < offset + len; d += 4) {
        if (dwords.count((uint32_t)d)) {
            return true;
        }
    }
    return false;
}

}  // namespace

uint64_t bar0_address(const FunctionSpec& f)
{
    unsigned d = 0, b = 0, dev = 0, fn = 0;
    sscanf(f.address.c_str(), "%x:%x:%x.%x", &d, &b, &dev, &fn);
    return 0xE000000000ull + ((uint64_t)(d << 16 | b << 8 | dev << 3 | fn) << 20);
}

Function::Function(const FunctionSpec& spec) : spec_(spec)
{
    if (normalize_pci_address(spec.address) != spec.address) {
        throw std::invalid_argument("function address must read dddd:bb:dd.f: " + spec.address);
    }
    state_.spec = spec;
    build_config(state_);
    install_default_registers(state_);
    i2c_init(state_);
    for (const DpaProcessSpec& p : spec.dpa.processes) {
        DpaProcess proc;
        proc.id = p.id;
        proc.name = p.name;
        for (const DpaThreadSpec& t : p.threads) {
            proc.threads.push_back(DpaThread{t.id, t.name, Counters{}, t.rate});
        }
        state_.processes.push_back(proc);
    }
}

ssize_t Function::config_read(uint64_t offset, uint8_t* buf, size_t len, bool privileged)
{
    std::lock_guard<std::mutex> lock(mutex_);
    State& s = state_;
    size_t limit = privileged ? kConfigSize : kConfigUnprivilegedSize;
    if (offset >= limit) {
        return 0;
    }
    if (len > limit - offset) {
        len = limit - (size_t)offset;
    }
    if (touches(s.knobs.failing_config_reads, offset, len)) {
        return -EIO;
    }
    if (len == 4 && offset % 4 == 0 && s.knobs.failing_config_word_reads.count((uint32_t)offset)) {
        return -EIO;
    }
    s.stats.config_reads++;
    if (len == 4 && offset % 4 == 0) {
        put_le32(buf, dword_read(s, (uint32_t)offset));
        return 4;
    }
    for (size_t i = 0; i < len; i++) {
        uint32_t at = (uint32_t)(offset + i);
        uint8_t word[4];
        put_le32(word, dword_peek(s, at & ~3u));
        buf[i] = word[at % 4];
    }
    return (ssize_t)len;
}

ssize_t Function::config_write(uint64_t offset, const uint8_t* buf, size_t len)
{
    std::lock_guard<std::mutex> lock(mutex_);
    State& s = state_;
    if (offset >= kConfigSize) {
        return 0;
    }
    if (len > kConfigSize - offset) {
        len = kConfigSize - (size_t)offset;
    }
    if (touches(s.knobs.failing_config_writes, offset, len)) {
        return -EIO;
    }
    s.stats.config_writes++;
    if (len == 4 && offset % 4 == 0) {
        dword_write(s, (uint32_t)offset, get_le32(buf));
        return 4;
    }
    // Partial writes never reach a gateway register: only whole words move
    // the device.
    for (size_t i = 0; i < len; i++) {
        uint32_t at = (uint32_t)(offset + i);
        if (at >= 0x40 && !is_gateway_word(s, at & ~3u)) {
            s.config[at] = buf[i];
        }
    }
    return (ssize_t)len;
}

uint32_t Function::space_read(uint16_t space, uint32_t address)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return space_read_in(state_, space, address);
}

void Function::space_write(uint16_t space, uint32_t address, uint32_t value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    space_write_in(state_, space, address, value);
}

bool Function::space_supported(uint16_t space)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return space_supported_in(state_, space);
}

IcmdResult Function::icmd_execute(uint16_t opcode, std::vector<uint8_t>& mailbox)
{
    std::lock_guard<std::mutex> lock(mutex_);
    IcmdResult r;
    r.status = run_icmd(state_, opcode, mailbox.data(), mailbox.size());
    r.syndrome = r.status ? state_.icmd_syndrome : 0;
    return r;
}

void Function::dpa_tick(unsigned ticks)
{
    std::lock_guard<std::mutex> lock(mutex_);
    state_.dpa_tick(ticks);
}

Host::Host(const HostSpec& spec)
{
    std::set<std::string> seen;
    for (const FunctionSpec& f : spec.functions) {
        if (!seen.insert(f.address).second) {
            throw std::invalid_argument("function listed twice: " + f.address);
        }
        functions_.push_back(std::make_unique<Function>(f));
    }
}

Function* Host::find(const std::string& name)
{
    std::string address = normalize_pci_address(name);
    for (auto& f : functions_) {
        if (!address.empty() && f->address() == address) {
            return f.get();
        }
    }
    return nullptr;
}

std::vector<std::string> Host::virtual_functions(const std::string& address) const
{
    std::vector<std::string> out;
    for (const auto& f : functions_) {
        if (f->spec().physfn == address) {
            out.push_back(f->address());
        }
    }
    return out;
}

}  // namespace kelvra_sim
