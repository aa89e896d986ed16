#include "tests/ib/ib_node.h"

#include <string.h>

#include "umad_world.h"

namespace ib_test {

namespace {

IbNode* node = nullptr;

const uint16_t kCrGmp = 0x50;
const uint16_t kCrSmp = 0xFF50;
const uint16_t kRegisterTlv = 0xFF52;
const uint16_t kRegisterGmp = 0x51;
const uint16_t kGeneralInfo = 0x17;
const uint16_t kSwitchInfo = 0x12;
const uint16_t kReset = 0x12;
const uint16_t kSemaphoreLock = 0xFF53;
const uint8_t kGet = 1;
const uint8_t kSet = 2;

void Put32(uint8_t* place, uint32_t value)
{
    place[0] = static_cast<uint8_t>(value >> 24);
    place[1] = static_cast<uint8_t>(value >> 16);
    place[2] = static_cast<uint8_t>(value >> 8);
    place[3] = static_cast<uint8_t>(value);
}

uint32_t Get32(const uint8_t* place)
{
    return static_cast<uint32_t>(place[0]) << 24 | place[1] << 16 | place[2] << 8 | place[3];
}

void Unsupported(uint8_t* reply)
{
    reply[4] = 0x00;
    reply[5] = 0x0C;  // method and attribute combination not supported
}

uint32_t CrWord(uint32_t address)
{
    auto at = node->cr.find(address);
    return at == node->cr.end() ? Pattern(address) : at->second;
}

// Mode 0 only: start address and word count in the modifier.
int CrSpace(const Mad& request, uint8_t* reply, size_t items, size_t room)
{
    uint32_t modifier = request.modifier();
    if (modifier & 0x800000) {
        Unsupported(reply);
        return 1;
    }
    uint32_t words = (modifier >> 16) & 0xFF;
    uint32_t address = (modifier & 0xFFFF) | (modifier >> 24) << 16;
    for (uint32_t i = 0; i < words && 4 * i + 4 <= room; i++) {
        if (request.method() == kSet) {
            node->cr[address + 4 * i] = request.Field32(items + 4 * i);
        }
        Put32(reply + items + 4 * i, CrWord(address + 4 * i));
    }
    return 1;
}

// An operation TLV, a register TLV and the register behind them.
int FramedRegister(uint8_t* payload, size_t room, uint8_t status, int fill)
{
    uint16_t id = static_cast<uint16_t>(payload[4] << 8 | payload[5]);
    uint8_t method = payload[6] & 0x7F;
    uint32_t words = static_cast<uint32_t>(payload[16] & 0x7) << 8 | payload[17];
    size_t bytes = words > 0 ? 4 * (words - 1) : 0;
    if (bytes > room - 20) {
        bytes = room - 20;
    }
    std::vector<uint8_t>& image = node->registers[id];
    if (method == kSet) {
        image.assign(payload + 20, payload + 20 + bytes);
    } else {
        std::vector<uint8_t> answer(image);
        answer.resize(bytes, 0);
        memcpy(payload + 20, answer.data(), bytes);
    }
    if (fill >= 0) {
        memset(payload + 20, fill, bytes);
    }
    payload[2] = static_cast<uint8_t>((payload[2] & 0x80) | (status & 0x7F));
    return 1;
}

int GmpRegister(const Mad& request, uint8_t* reply)
{
    size_t index = node->Count(0x0A, kRegisterGmp) - 1;
    if (index >= node->gmp_silent_from) {
        return 0;
    }
    uint32_t block = static_cast<uint32_t>(request.bytes[32]) << 8 | request.bytes[33];
    std::vector<uint8_t>& image = node->registers[static_cast<uint16_t>(request.modifier())];
    size_t first = 220 * static_cast<size_t>(block);
    if (request.method() == kSet) {
        if (image.size() < first + 220) {
            image.resize(first + 220, 0);
        }
        memcpy(image.data() + first, request.bytes.data() + 36, 220);
        return 1;
    }
    for (size_t i = 0; i < 220; i++) {
        reply[36 + i] = first + i < image.size() ? image[first + i] : 0;
    }
    return 1;
}

int SemaphoreLock(const Mad& request, uint8_t* reply)
{
    const uint8_t* data = request.bytes.data() + 64;
    uint8_t op = data[5] & 0x3;
    uint32_t key = Get32(data + 8);
    uint8_t* answer = reply + 64;
    memset(answer, 0, 64);
    answer[6] = data[6];
    answer[7] = data[7];
    answer[5] = op;
    if (op == 0) {
        answer[3] = node->max_sem_addr;
    } else if (op == 1) {
        uint32_t granted = 0;
        if (node->lock_holder == 0) {
            node->lock_holder = node->next_key;
            granted = node->next_key;
        }
        Put32(answer + 8, granted);
    } else if (op == 3) {
        if (key == node->lock_holder) {
            node->lock_holder = 0;
        }
        Put32(answer + 8, node->lock_holder);
    }
    return 1;
}

int Answer(const uint8_t* request_bytes, uint8_t* reply)
{
    Mad request;
    memcpy(request.bytes.data(), request_bytes, request.bytes.size());
    node->seen.push_back(request);
    uint16_t attribute = request.attribute();
    if (request.smp()) {
        switch (attribute) {
        case kCrSmp:
            return node->smp_cr ? CrSpace(request, reply, 64 + 8, 56) : 0;
        case kRegisterTlv:
            return node->smp_registers ? FramedRegister(reply + 64, 64, node->smp_tlv_status, node->smp_reply_fill) : 0;
        case kSwitchInfo:
            if (!node->switch_info_answers) {
                return 0;
            }
            memset(reply + 64, 0, 64);
            reply[64 + 16] = node->switch_info_byte16;
            return 1;
        case kSemaphoreLock:
            return SemaphoreLock(request, reply);
        default:
            Unsupported(reply);
            return 1;
        }
    }
    if (request.vendor()) {
        switch (attribute) {
        case kCrGmp:
            return node->gmp_cr ? CrSpace(request, reply, 24 + 8, 224) : 0;
        case kRegisterTlv:
            return node->class_a_registers ? FramedRegister(reply + 32, 224, node->class_a_tlv_status, node->class_a_reply_fill) : 0;
        case kRegisterGmp:
            return node->gmp_registers ? GmpRegister(request, reply) : 0;
        case kGeneralInfo:
            if (!node->general_info_answers) {
                return 0;
            }
            memset(reply + 24, 0, 232);
            Put32(reply + 24 + 136, node->capability_mask);
            return 1;
        default:
            break;
        }
        if (attribute == kReset && request.method() == kSet) {
            node->resets.push_back(request.modifier());
            return node->reset_answers ? 1 : 0;
        }
    }
    Unsupported(reply);
    return 1;
}

}  // namespace

size_t IbNode::Count(uint8_t mgmt_class, uint16_t attribute) const
{
    return Of(mgmt_class, attribute).size();
}

std::vector<Mad> IbNode::Of(uint8_t mgmt_class, uint16_t attribute) const
{
    std::vector<Mad> found;
    for (const Mad& mad : seen) {
        bool same_class = mad.mgmt_class() == mgmt_class || (mgmt_class == 0x01 && mad.smp());
        if (same_class && mad.attribute() == attribute) {
            found.push_back(mad);
        }
    }
    return found;
}

uint32_t Pattern(uint32_t address)
{
    return address * 0x9E3779B1u ^ 0xC0DE0000u;
}

void Attach(IbNode* attached)
{
    node = attached;
    umad_world_reset();
    umad_world_get()->responder = attached ? Answer : nullptr;
}

}  // namespace ib_test
