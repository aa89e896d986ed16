#include "tests/sim/sim_tlv.h"

#include "tests/sim/sim_bits.h"

#include <string.h>

namespace kelvra_sim {

void OpTlv::pack(uint8_t* out) const
{
    memset(out, 0, kOpTlvSize);
    put_bits(out, 0, 5, type);
    put_bits(out, 5, 11, len);
    put_bits(out, 16, 1, dr);
    put_bits(out, 17, 7, status);
    put_bits(out, 32, 16, register_id);
    put_bits(out, 48, 1, r);
    put_bits(out, 49, 7, method);
    put_bits(out, 56, 8, cls);
    // The transaction id travels in host byte order.
    memcpy(out + 8, &tid, 8);
}

OpTlv OpTlv::unpack(const uint8_t* in)
{
    OpTlv t;
    t.type = (uint8_t)get_bits(in, 0, 5);
    t.len = (uint16_t)get_bits(in, 5, 11);
    t.dr = (uint8_t)get_bits(in, 16, 1);
    t.status = (uint8_t)get_bits(in, 17, 7);
    t.register_id = (uint16_t)get_bits(in, 32, 16);
    t.r = (uint8_t)get_bits(in, 48, 1);
    t.method = (uint8_t)get_bits(in, 49, 7);
    t.cls = (uint8_t)get_bits(in, 56, 8);
    memcpy(&t.tid, in + 8, 8);
    return t;
}

void RegTlvHeader::pack(uint8_t* out) const
{
    memset(out, 0, kRegTlvSize);
    put_bits(out, 0, 5, type);
    put_bits(out, 5, 11, len);
}

RegTlvHeader RegTlvHeader::unpack(const uint8_t* in)
{
    RegTlvHeader t;
    t.type = (uint8_t)get_bits(in, 0, 5);
    t.len = (uint16_t)get_bits(in, 5, 11);
    return t;
}

void StringTlv::pack(uint8_t* out) const
{
    memset(out, 0, kStringTlvSize);
    put_bits(out, 0, 5, type);
    put_bits(out, 5, 11, len);
    memcpy(out + 4, text.data(), text.size() < 127 ? text.size() : 127);
}

StringTlv StringTlv::unpack(const uint8_t* in)
{
    StringTlv t;
    t.type = (uint8_t)get_bits(in, 0, 5);
    t.len = (uint16_t)get_bits(in, 5, 11);
    const char* s = reinterpret_cast<const char*>(in + 4);
    t.text.assign(s, strnlen(s, 127));
    return t;
}

std::vector<uint8_t> frame_access_register(uint16_t register_id, uint8_t method,
                                           const std::vector<uint8_t>& payload, bool string_tlv)
{
    size_t header = kOpTlvSize + (string_tlv ? kStringTlvSize : 0) + kRegTlvSize;
    std::vector<uint8_t> buf(header + payload.size(), 0);
    OpTlv op;
    op.register_id = register_id;
    op.method = method;
    op.pack(buf.data());
    size_t at = kOpTlvSize;
    if (string_tlv) {
        StringTlv().pack(buf.data() + at);
        at += kStringTlvSize;
    }
    RegTlvHeader reg;
    reg.len = (uint16_t)((payload.size() + 4) / 4);
    reg.pack(buf.data() + at);
    if (!payload.empty()) {
        memcpy(buf.data() + header, payload.data(), payload.size());
    }
    return buf;
}

}  // namespace kelvra_sim
