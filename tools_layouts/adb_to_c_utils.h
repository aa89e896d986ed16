/*
 * Bit-field run-time of the generated layouts.
 *
 * A wire image is big-endian throughout. A bit address counts the image's
 * bits most significant first: address 0 is the 0x80 bit of byte 0, address
 * 8 the 0x80 bit of byte 1. A field of width w at address A occupies
 * addresses A to A + w - 1, its most significant bit at A.
 *
 * The "word-and-bit" position used by adb2c_calc_array_field_address and
 * the one-call routines is 32 * (index of the 32-bit word) + the position of
 * the field's least significant bit inside that word, counted upward from
 * the word's least significant bit.
 *
 * Nothing here checks buffer lengths: the generated layouts pass constants
 * that fit their own size, and the callers hand in buffers of that size.
 * Compiles as C and as C++.
 */
#ifndef KELVRA_TOOLS_LAYOUTS_ADB_TO_C_UTILS_H
#define KELVRA_TOOLS_LAYOUTS_ADB_TO_C_UTILS_H

#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Stores the low field_size bits (0 to 32) of field_value at bit_offset; every
 * other bit of the buffer keeps its value. */
void adb2c_push_bits_to_buff(uint8_t* buff, uint32_t bit_offset, uint32_t field_size, uint32_t field_value);
/* The field_size bits (0 to 32) at bit_offset, right-aligned. */
uint32_t adb2c_pop_bits_from_buff(const uint8_t* buff, uint32_t bit_offset, uint32_t field_size);
/* Stores the low byte_size bytes (1 to 8) of field_value big-endian from
 * byte bit_offset / 8. */
void adb2c_push_integer_to_buff(uint8_t* buff, uint32_t bit_offset, uint32_t byte_size, uint64_t field_value);
/* Reads byte_size bytes (1 to 8) big-endian from byte bit_offset / 8. */
uint64_t adb2c_pop_integer_from_buff(const uint8_t* buff, uint32_t bit_offset, uint32_t byte_size);

/* Little-endian forms: the field's bytes least significant first. */
void adb2c_push_bits_to_buff_le(uint8_t* buff, uint32_t bit_offset, uint32_t field_size, uint32_t field_value);
uint32_t adb2c_pop_bits_from_buff_le(const uint8_t* buff, uint32_t bit_offset, uint32_t field_size);
void adb2c_push_integer_to_buff_le(uint8_t* buff, uint32_t bit_offset, uint32_t byte_size, uint64_t field_value);
uint64_t adb2c_pop_integer_from_buff_le(const uint8_t* buff, uint32_t bit_offset, uint32_t byte_size);

/* Bit address of element arr_idx of an array field. For elements of up to
 * 32 bits start_bit_offset is element 0's word-and-bit position, for wider
 * ones its bit address; parent_node_size is the size in bits of the layout
 * that holds the array. */
uint32_t adb2c_calc_array_field_address(uint32_t start_bit_offset, uint32_t arr_elemnt_size, int arr_idx,
                                        uint32_t parent_node_size, int is_big_endian_arr);

/* One-call field access; bit_offset in word-and-bit form for fields of up to
 * 32 bits, the bit address for wider ones (a multiple of 32 bits). */
void adb2c_push_to_buf(uint8_t* buff, uint32_t bit_offset, uint32_t field_size, uint64_t field_value);
uint64_t adb2c_pop_from_buf(const uint8_t* buff, uint32_t bit_offset, uint32_t field_size);
void adb2c_push_to_buf_le(uint8_t* buff, uint32_t bit_offset, uint32_t field_size, uint64_t field_value);
uint64_t adb2c_pop_from_buf_le(const uint8_t* buff, uint32_t bit_offset, uint32_t field_size);

/* Writes indent_level TAB characters; nothing for 0 or less. */
void adb2c_add_indentation(FILE* fd, int indent_level);
/* Hex dump: "\n0x%08x: " before every fourth byte, " 0x%02x" per byte, then
 * one newline. */
void adb2c_print_raw(FILE* fd, const void* buff, int buff_len);

/* Layout-description database. Nothing in the system builds one; the
 * lookups serve programs that bring their own. */
struct adb2c_enum_format {
    int val;
    const char* name;
};

struct adb2c_attribute_format {
    const char* name;
    const char* val;
};

struct adb2c_field_format {
    const char* name;
    uint32_t offset;
    uint32_t size;
    int enums_len;
    struct adb2c_enum_format* enums;
    int attrs_len;
    struct adb2c_attribute_format* attrs;
};

struct adb2c_node_format {
    const char* name;
    uint32_t size;
    uint32_t is_union;
    int attrs_len;
    struct adb2c_attribute_format* attrs;
    int fields_len;
    struct adb2c_field_format* fields;
};

struct adb2c_node_db {
    int nodes_len;
    struct adb2c_node_format* nodes;
};

/* First node, field or attribute of that exact name; null when there is none
 * (or when an argument is null). */
struct adb2c_node_format* adb2c_db_find_node(struct adb2c_node_db* db, const char* name);
struct adb2c_field_format* adb2c_db_find_field(struct adb2c_node_format* node, const char* name);
const char* adb2c_db_get_node_attr(struct adb2c_node_format* node, const char* attr_name);
const char* adb2c_db_get_field_attr(struct adb2c_field_format* field, const char* attr_name);
/* Name of the first enumerator of that value, else "Unknown Enum Value". */
const char* adb2c_db_get_field_enum_name(struct adb2c_field_format* field, int val);
/* Value of the first enumerator of that name, else -1. */
int adb2c_db_get_field_enum_val(struct adb2c_field_format* field, const char* name);

#ifdef __cplusplus
}
#endif

#endif
