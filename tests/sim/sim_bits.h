/*
 * Bit and byte helpers of the simulated adapter. Wire images of the access
 * registers use big-endian bit addressing: bit address 0 is the most
 * significant bit of byte 0. Kept apart from the product's own helpers on
 * purpose: the simulated device must not share code with the host it tests.
 */
#ifndef KELVRA_TESTS_SIM_BITS_H
#define KELVRA_TESTS_SIM_BITS_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

namespace kelvra_sim {

// Writes the low `width` bits (1..32) of value at bit address `bit`, most
// significant bit first; bits outside the field keep their value.
inline void put_bits(uint8_t* buf, uint32_t bit, uint32_t width, uint32_t value)
{
    for (uint32_t i = 0; i < width; i++) {
        uint32_t pos = bit + i;
        uint8_t mask = (uint8_t)(0x80u >> (pos % 8));
        if ((value >> (width - 1 - i)) & 1u) {
            buf[pos / 8] |= mask;
        } else {
            buf[pos / 8] &= (uint8_t)~mask;
        }
    }
}

inline uint32_t get_bits(const uint8_t* buf, uint32_t bit, uint32_t width)
{
    uint32_t value = 0;
    for (uint32_t i = 0; i < width; i++) {
        uint32_t pos = bit + i;
        value = (value << 1) | ((buf[pos / 8] >> (7 - pos % 8)) & 1u);
    }
    return value;
}

inline uint32_t get_be32(const uint8_t* p)
{
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

inline void put_be32(uint8_t* p, uint32_t v)
{
    p[0] = (uint8_t)(v >> 24);
    p[1] = (uint8_t)(v >> 16);
    p[2] = (uint8_t)(v >> 8);
    p[3] = (uint8_t)v;
}

// Little-endian words: the PCI configuration space.
inline uint32_t get_le32(const uint8_t* p)
{
    return (uint32_t)p[3] << 24 | (uint32_t)p[2] << 16 | (uint32_t)p[1] << 8 | p[0];
}

inline void put_le32(uint8_t* p, uint32_t v)
{
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
    p[2] = (uint8_t)(v >> 16);
    p[3] = (uint8_t)(v >> 24);
}

// Host byte order: the resource-dump segments.
inline void put_host32(uint8_t* p, uint32_t v) { memcpy(p, &v, 4); }
inline uint32_t get_host32(const uint8_t* p)
{
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}

}  // namespace kelvra_sim

#endif
