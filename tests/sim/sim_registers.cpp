#include "tests/sim/sim_registers.h"

#include "tests/sim/sim_bits.h"
#include "tests/sim/sim_tlv.h"

#include <string.h>

namespace kelvra_sim {

namespace {

void reply_status(uint8_t* buf, uint8_t status)
{
    put_bits(buf, 16, 1, 1);  // dr: a response
    put_bits(buf, 17, 7, status);
}

uint8_t nic_cap_ext(State& s, uint8_t method, std::vector<uint8_t>& p)
{
    if (method != kMethodGet) {
        return kRegMethodNotSupported;
    }
    if (get_bits(p.data(), 0, 16) != 1) {
        return kRegBadParameter;  // only the DPA group is modelled
    }
    const DpaSpec& d = s.spec.dpa;
    memset(p.data() + 0x10, 0, 0x70);
    uint8_t* cap = p.data() + 0x10;
    put_be32(cap + 0x00, (uint32_t)d.max_num_dpa_eu << 16 | d.max_num_dpa_eug);
    put_be32(cap + 0x04, (uint32_t)d.max_num_dpa_eu_per_group << 16 | d.max_num_dpa_eu_partition);
    put_be32(cap + 0x08, (d.process_perf_cnt ? 1u << 30 : 0) | (uint32_t)(d.max_num_partition_vhca_id & 0x1FF) << 16 |
                             (uint32_t)d.perf_sample_type << 8);
    return kRegOk;
}

uint8_t nic_dpa_perf_ctrl(State& s, uint8_t method, std::vector<uint8_t>& p)
{
    uint32_t process_id = get_be32(p.data());
    uint32_t word = get_be32(p.data() + 4);
    uint8_t count_state = word >> 30;
    uint8_t sample_type = (word >> 24) & 7;
    if (method == kMethodGet) {
        DpaProcess* proc = s.find_process(process_id);
        if (!proc) {
            return kRegBadParameter;
        }
        word = (word & 0x00FFFFFFu & ~(7u << 24)) | (uint32_t)(proc->counting ? kActive : kInactive) << 30;
        put_be32(p.data() + 4, word);
        return kRegOk;
    }
    // Only cumulative counting is modelled, and only while the capability
    // says per-process counting exists.
    if (!s.spec.dpa.process_perf_cnt || sample_type != 0) {
        return kRegBadParameter;
    }
    return s.apply_count_state(process_id, count_state) ? kRegOk : kRegBadParameter;
}

// MGIR: the PCI device id and hardware revision, and a fixed firmware
// version 24.42.11 with its build date.
uint8_t mgir(State& s, uint8_t method, std::vector<uint8_t>& p)
{
    if (method != kMethodGet) {
        return kRegMethodNotSupported;
    }
    memset(p.data(), 0, kMgirSize);
    put_be32(p.data() + 0x00, (uint32_t)s.spec.hw_rev << 16 | s.spec.device_id);
    put_be32(p.data() + 0x20, 24u << 16 | 42u << 8 | 11u);
    put_be32(p.data() + 0x28, 0x12u << 24 | 0x10u << 16 | 0x2026u);  // month, day, year
    return kRegOk;
}

// MCQS: the adapter's components are the boot image (index 0, in use) and
// its NV configuration (index 1, present, the last); other indices are bad.
uint8_t mcqs(State&, uint8_t method, std::vector<uint8_t>& p)
{
    if (method != kMethodGet) {
        return kRegMethodNotSupported;
    }
    uint32_t index = get_bits(p.data(), 16, 16);
    if (index > 1) {
        return kRegBadParameter;
    }
    memset(p.data(), 0, kMcqsSize);
    put_be32(p.data() + 0x00, (index == 1 ? 1u << 31 : 0) | index);
    put_be32(p.data() + 0x04, index == 0 ? 1 : 5);           // BOOT_IMG, QRVN_NVCONFIG
    put_be32(p.data() + 0x08, (index == 0 ? 2u : 1u) << 4);  // IN_USE / PRESENT, IDLE
    return kRegOk;
}

// MNVDA: a SET stores the header's length bytes of data for the header's
// type word; a GET answers the stored data and its length.
uint8_t mnvda(State& s, uint8_t method, std::vector<uint8_t>& p)
{
    uint32_t type = get_be32(p.data() + 4);
    if (method == kMethodSet) {
        size_t length = get_bits(p.data(), 23, 9);
        if (length > kMnvdaMaxData || kMnvdaHeaderSize + length > p.size()) {
            return kRegBadParameter;
        }
        s.nv_config[type].assign(p.begin() + kMnvdaHeaderSize, p.begin() + (long)(kMnvdaHeaderSize + length));
        return kRegOk;
    }
    auto stored = s.nv_config.find(type);
    if (stored == s.nv_config.end()) {
        return kRegBadParameter;
    }
    size_t length = stored->second.size();
    if (kMnvdaHeaderSize + length > p.size()) {
        return kRegLengthTooSmall;
    }
    put_bits(p.data(), 23, 9, (uint32_t)length);
    memcpy(p.data() + kMnvdaHeaderSize, stored->second.data(), length);
    return kRegOk;
}

}  // namespace

void install_default_registers(State& s)
{
    s.registers[kRegNicCapExt] = RegisterEntry{kNicCapExtSize, nic_cap_ext};
    s.registers[kRegNicDpaPerfCtrl] = RegisterEntry{kNicDpaPerfCtrlSize, nic_dpa_perf_ctrl};
    s.registers[kRegMgir] = RegisterEntry{kMgirSize, mgir};
    s.registers[kRegMcqs] = RegisterEntry{kMcqsSize, mcqs};
    s.registers[kRegMnvda] = RegisterEntry{kMnvdaHeaderSize, mnvda};
}

uint8_t execute_access_register(State& s, uint8_t* buf, size_t size, StringTlvMode mode)
{
    if (size < kOpTlvSize + kRegTlvSize) {
        return kIcmdBadParam;
    }
    OpTlv op = OpTlv::unpack(buf);
    bool string_tlv = mode == StringTlvMode::kPresent;
    if (mode == StringTlvMode::kDetect) {
        string_tlv = get_bits(buf + kOpTlvSize, 0, 5) == kTlvTypeString;
    }
    size_t reg_at = kOpTlvSize + (string_tlv ? kStringTlvSize : 0);
    if (reg_at + kRegTlvSize > size) {
        return kIcmdBadParam;
    }
    RegTlvHeader reg = RegTlvHeader::unpack(buf + reg_at);
    size_t payload_at = reg_at + kRegTlvSize;
    size_t payload_size = reg.len >= 1 ? (size_t)reg.len * 4 - 4 : 0;
    if (payload_at + payload_size > size) {
        return kIcmdBadParam;  // the request claims more than the mailbox holds
    }

    uint8_t status = kRegOk;
    if (op.type != kTlvTypeOperation || op.len != 4 || reg.type != kTlvTypeRegister || reg.len == 0 ||
        (string_tlv && get_bits(buf + kOpTlvSize, 0, 5) != kTlvTypeString)) {
        status = kRegUnknownTlv;
    } else if (op.cls != 1) {
        status = kRegClassNotSupported;
    } else if (op.method != kMethodGet && op.method != kMethodSet) {
        status = kRegMethodNotSupported;
    } else {
        s.dpa_tick(s.knobs.ticks_per_register_access);
        auto forced = s.knobs.register_status.find(op.register_id);
        auto entry = s.registers.find(op.register_id);
        if (forced != s.knobs.register_status.end()) {
            status = forced->second;
        } else if (entry == s.registers.end()) {
            status = kRegNotSupported;
        } else if (payload_size < entry->second.size) {
            status = kRegLengthTooSmall;
        } else {
            std::vector<uint8_t> payload(buf + payload_at, buf + payload_at + payload_size);
            status = entry->second.handler(s, op.method, payload);
            memcpy(buf + payload_at, payload.data(), payload_size < payload.size() ? payload_size : payload.size());
        }
    }
    reply_status(buf, status);
    s.stats.register_log.push_back(RegisterAccess{op.register_id, op.method, status});
    return kIcmdOk;
}

}  // namespace kelvra_sim
