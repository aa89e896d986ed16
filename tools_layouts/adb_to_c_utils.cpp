/*
 * Bit-field run-time of the generated layouts. Every generated pack, unpack
 * and print stands on these routines, so they stay small and allocation-free.
 */
#include "tools_layouts/adb_to_c_utils.h"

#include <string.h>

namespace {

// Widths and byte counts beyond what the routines define are cut to their
// largest meaning rather than shifting past the width of the value (which
// would be undefined behaviour).
uint32_t clamp_bits(uint32_t field_size)
{
    return field_size > 32 ? 32 : field_size;
}

uint32_t clamp_bytes(uint32_t byte_size)
{
    return byte_size > 8 ? 8 : byte_size;
}

uint32_t low_mask(uint32_t n)
{
    return n >= 32 ? 0xffffffffu : ((1u << n) - 1u);
}

// Word-and-bit position -> bit address, for a field of up to 32 bits.
uint32_t word_and_bit_to_address(uint32_t position, uint32_t field_size)
{
    return 32u * (position / 32u) + 32u - (position % 32u) - field_size;
}

}  // namespace

extern "C" void adb2c_push_bits_to_buff(uint8_t* buff, uint32_t bit_offset, uint32_t field_size,
                                        uint32_t field_value)
{
    field_size = clamp_bits(field_size);
    uint32_t byte = bit_offset / 8;
    uint32_t in_byte = bit_offset % 8;
    uint32_t done = 0;
    while (done < field_size) {
        uint32_t n = 8 - in_byte;
        if (n > field_size - done) {
            n = field_size - done;
        }
        done += n;
        uint32_t bits = (field_value >> (field_size - done)) & low_mask(n);
        uint32_t shift = 8 - in_byte - n;
        uint8_t mask = static_cast<uint8_t>(low_mask(n) << shift);
        buff[byte] = static_cast<uint8_t>((buff[byte] & ~mask) | (bits << shift));
        ++byte;
        in_byte = 0;
    }
}

extern "C" uint32_t adb2c_pop_bits_from_buff(const uint8_t* buff, uint32_t bit_offset, uint32_t field_size)
{
    field_size = clamp_bits(field_size);
    uint32_t byte = bit_offset / 8;
    uint32_t in_byte = bit_offset % 8;
    uint32_t done = 0;
    uint32_t value = 0;
    while (done < field_size) {
        uint32_t n = 8 - in_byte;
        if (n > field_size - done) {
            n = field_size - done;
        }
        done += n;
        uint32_t shift = 8 - in_byte - n;
        uint32_t bits = (static_cast<uint32_t>(buff[byte]) >> shift) & low_mask(n);
        value |= bits << (field_size - done);
        ++byte;
        in_byte = 0;
    }
    return value;
}

extern "C" void adb2c_push_integer_to_buff(uint8_t* buff, uint32_t bit_offset, uint32_t byte_size,
                                           uint64_t field_value)
{
    byte_size = clamp_bytes(byte_size);
    uint8_t* out = buff + bit_offset / 8;
    for (uint32_t i = 0; i < byte_size; ++i) {
        out[i] = static_cast<uint8_t>(field_value >> (8 * (byte_size - 1 - i)));
    }
}

extern "C" uint64_t adb2c_pop_integer_from_buff(const uint8_t* buff, uint32_t bit_offset, uint32_t byte_size)
{
    byte_size = clamp_bytes(byte_size);
    const uint8_t* in = buff + bit_offset / 8;
    uint64_t value = 0;
    for (uint32_t i = 0; i < byte_size; ++i) {
        value = (value << 8) | in[i];
    }
    return value;
}

// The little-endian bit form moves the field's low byte first: whole bytes
// from the field's first byte on, and the w mod 8 high bits in the top bits of
// the field's last byte. Expressed as a run of big-endian pieces it also has a
// defined meaning for fields that do not start on a byte boundary.
extern "C" void adb2c_push_bits_to_buff_le(uint8_t* buff, uint32_t bit_offset, uint32_t field_size,
                                           uint32_t field_value)
{
    field_size = clamp_bits(field_size);
    uint32_t whole = field_size / 8;
    uint32_t rest = field_size % 8;
    if (rest != 0) {
        adb2c_push_bits_to_buff(buff, bit_offset + 8 * whole, rest, field_value >> (8 * whole));
    }
    for (uint32_t k = whole; k-- > 0;) {
        adb2c_push_bits_to_buff(buff, bit_offset + 8 * k, 8, (field_value >> (8 * k)) & 0xffu);
    }
}

extern "C" uint32_t adb2c_pop_bits_from_buff_le(const uint8_t* buff, uint32_t bit_offset, uint32_t field_size)
{
    field_size = clamp_bits(field_size);
    uint32_t whole = field_size / 8;
    uint32_t rest = field_size % 8;
    uint32_t value = 0;
    if (rest != 0) {
        value = adb2c_pop_bits_from_buff(buff, bit_offset + 8 * whole, rest) << (8 * whole);
    }
    for (uint32_t k = whole; k-- > 0;) {
        value |= adb2c_pop_bits_from_buff(buff, bit_offset + 8 * k, 8) << (8 * k);
    }
    return value;
}

extern "C" void adb2c_push_integer_to_buff_le(uint8_t* buff, uint32_t bit_offset, uint32_t byte_size,
                                              uint64_t field_value)
{
    byte_size = clamp_bytes(byte_size);
    uint8_t* out = buff + bit_offset / 8;
    for (uint32_t i = 0; i < byte_size; ++i) {
        out[i] = static_cast<uint8_t>(field_value >> (8 * i));
    }
}

extern "C" uint64_t adb2c_pop_integer_from_buff_le(const uint8_t* buff, uint32_t bit_offset, uint32_t byte_size)
{
    byte_size = clamp_bytes(byte_size);
    const uint8_t* in = buff + bit_offset / 8;
    uint64_t value = 0;
    for (uint32_t i = byte_size; i-- > 0;) {
        value = (value << 8) | in[i];
    }
    return value;
}

extern "C" uint32_t adb2c_calc_array_field_address(uint32_t start_bit_offset, uint32_t arr_elemnt_size, int arr_idx,
                                                   uint32_t parent_node_size, int is_big_endian_arr)
{
    const uint32_t index = static_cast<uint32_t>(arr_idx);
    if (arr_elemnt_size > 32) {
        // Wide elements are whole words. A width that is not cannot come from
        // a generated layout; report the misuse but do not end the caller's
        // process over it.
        if (arr_elemnt_size % 32 != 0) {
            fprintf(stderr, "adb_to_c_utils: adb2c_calc_array_field_address: Assertion `!(arr_elemnt_size %% 32)' "
                            "failed.\n");
        }
        return start_bit_offset + index * arr_elemnt_size;
    }
    uint32_t position;
    if (is_big_endian_arr) {
        position = start_bit_offset - index * arr_elemnt_size;
        uint32_t words_back = ((start_bit_offset / 32) - (position / 32)) & 0x3fffffffu;
        if (words_back != 0) {
            position += 64u * words_back;
        }
    } else {
        position = start_bit_offset + index * arr_elemnt_size;
    }
    const uint32_t parent = parent_node_size < 32 ? parent_node_size : 32;
    return 32u * (position / 32u) + parent - (position % 32u) - arr_elemnt_size;
}

extern "C" void adb2c_push_to_buf(uint8_t* buff, uint32_t bit_offset, uint32_t field_size, uint64_t field_value)
{
    if (field_size > 32) {
        adb2c_push_integer_to_buff(buff, bit_offset, field_size / 8, field_value);
        return;
    }
    adb2c_push_bits_to_buff(buff, word_and_bit_to_address(bit_offset, field_size), field_size,
                            static_cast<uint32_t>(field_value));
}

extern "C" uint64_t adb2c_pop_from_buf(const uint8_t* buff, uint32_t bit_offset, uint32_t field_size)
{
    if (field_size > 32) {
        return adb2c_pop_integer_from_buff(buff, bit_offset, field_size / 8);
    }
    return adb2c_pop_bits_from_buff(buff, word_and_bit_to_address(bit_offset, field_size), field_size);
}

extern "C" void adb2c_push_to_buf_le(uint8_t* buff, uint32_t bit_offset, uint32_t field_size, uint64_t field_value)
{
    if (field_size > 32) {
        adb2c_push_integer_to_buff_le(buff, bit_offset, field_size / 8, field_value);
        return;
    }
    adb2c_push_bits_to_buff_le(buff, word_and_bit_to_address(bit_offset, field_size), field_size,
                               static_cast<uint32_t>(field_value));
}

extern "C" uint64_t adb2c_pop_from_buf_le(const uint8_t* buff, uint32_t bit_offset, uint32_t field_size)
{
    if (field_size > 32) {
        return adb2c_pop_integer_from_buff_le(buff, bit_offset, field_size / 8);
    }
    return adb2c_pop_bits_from_buff_le(buff, word_and_bit_to_address(bit_offset, field_size), field_size);
}

extern "C" void adb2c_add_indentation(FILE* fd, int indent_level)
{
    while (indent_level-- > 0) {
        fputc('\t', fd);
    }
}

extern "C" void adb2c_print_raw(FILE* fd, const void* buff, int buff_len)
{
    const uint8_t* bytes = static_cast<const uint8_t*>(buff);
    if (bytes != nullptr) {
        for (int i = 0; i < buff_len; ++i) {
            if (i % 4 == 0) {
                fprintf(fd, "\n0x%08x: ", static_cast<unsigned>(i));
            }
            fprintf(fd, " 0x%02x", bytes[i]);
        }
    }
    fputc('\n', fd);
}

namespace {

bool same_name(const char* a, const char* b)
{
    return a != nullptr && b != nullptr && strcmp(a, b) == 0;
}

const char* find_attr(const adb2c_attribute_format* attrs, int attrs_len, const char* name)
{
    if (attrs == nullptr) {
        return nullptr;
    }
    for (int i = 0; i < attrs_len; ++i) {
        if (same_name(attrs[i].name, name)) {
            return attrs[i].val;
        }
    }
    return nullptr;
}

}  // namespace

extern "C" struct adb2c_node_format* adb2c_db_find_node(struct adb2c_node_db* db, const char* name)
{
    if (db == nullptr || db->nodes == nullptr) {
        return nullptr;
    }
    for (int i = 0; i < db->nodes_len; ++i) {
        if (same_name(db->nodes[i].name, name)) {
            return &db->nodes[i];
        }
    }
    return nullptr;
}

extern "C" struct adb2c_field_format* adb2c_db_find_field(struct adb2c_node_format* node, const char* name)
{
    if (node == nullptr || node->fields == nullptr) {
        return nullptr;
    }
    for (int i = 0; i < node->fields_len; ++i) {
        if (same_name(node->fields[i].name, name)) {
            return &node->fields[i];
        }
    }
    return nullptr;
}

extern "C" const char* adb2c_db_get_node_attr(struct adb2c_node_format* node, const char* attr_name)
{
    return node == nullptr ? nullptr : find_attr(node->attrs, node->attrs_len, attr_name);
}

extern "C" const char* adb2c_db_get_field_attr(struct adb2c_field_format* field, const char* attr_name)
{
    return field == nullptr ? nullptr : find_attr(field->attrs, field->attrs_len, attr_name);
}

extern "C" const char* adb2c_db_get_field_enum_name(struct adb2c_field_format* field, int val)
{
    if (field != nullptr && field->enums != nullptr) {
        for (int i = 0; i < field->enums_len; ++i) {
            if (field->enums[i].val == val) {
                return field->enums[i].name;
            }
        }
    }
    return "Unknown Enum Value";
}

extern "C" int adb2c_db_get_field_enum_val(struct adb2c_field_format* field, const char* name)
{
    if (field != nullptr && field->enums != nullptr) {
        for (int i = 0; i < field->enums_len; ++i) {
            if (same_name(field->enums[i].name, name)) {
                return field->enums[i].val;
            }
        }
    }
    return -1;
}
