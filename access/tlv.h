/*
 * Type-length-value framing of access-register requests and the bit-buffer
 * helpers it stands on. Wire images use big-endian bit addressing: bit
 * address 0 is the most significant bit of byte 0. Compiles as C and as C++.
 */
#ifndef KELVRA_ACCESS_TLV_H
#define KELVRA_ACCESS_TLV_H

#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

#define OPERATION_TLV_SIZE 16
#define REG_TLV_SIZE 4
#define STRING_TLV_SIZE 132
#define STRING_TLV_STRING_SIZE 128

typedef struct OperationTlv {
    uint8_t reserved0;
    uint8_t status; /* register status in the answer */
    uint8_t dr;
    uint16_t len; /* in 32-bit words */
    uint8_t Type;
#ifdef __cplusplus
    uint8_t class_; /* "class" to C code; a keyword in C++ */
#else
    uint8_t class;
#endif
    uint8_t method;
    uint8_t r;
    uint16_t register_id;
    uint64_t tid; /* carried in host byte order */
} OperationTlv;

typedef struct reg_tlv {
    uint16_t reserved0;
    uint16_t len; /* the TLV and its payload in 32-bit words */
    uint8_t Type;
} reg_tlv;

typedef struct string_tlv {
    uint16_t reserved0;
    uint16_t len;
    uint8_t Type;
    char String[STRING_TLV_STRING_SIZE];
} string_tlv;

void OperationTlv_pack(const OperationTlv* tlv, uint8_t* buff);
void OperationTlv_unpack(OperationTlv* tlv, const uint8_t* buff);
void OperationTlv_dump(const OperationTlv* tlv, FILE* fd);

void reg_tlv_pack(const reg_tlv* tlv, uint8_t* buff);
void reg_tlv_unpack(reg_tlv* tlv, const uint8_t* buff);
void reg_tlv_dump(const reg_tlv* tlv, FILE* fd);
/* Zeroes the record and sets it up for a payload of reg_len bytes. */
void init_reg_tlv(reg_tlv* tlv, uint32_t reg_len);

/* Only the first 127 characters of String travel; unpacking terminates it. */
void string_tlv_pack(const string_tlv* tlv, uint8_t* buff);
void string_tlv_unpack(string_tlv* tlv, const uint8_t* buff);
void string_tlv_dump(const string_tlv* tlv, FILE* fd);
void init_string_tlv(string_tlv* tlv);

/* Dumps the three records of one request to standard output. */
void debug_dump_tlvs(const OperationTlv* op_tlv, const reg_tlv* reg, const string_tlv* str);

/* Writes the low field_size bits (1 to 32) of field_value from bit_offset on,
 * most significant bit first, leaving the surrounding bits as they were. */
void push_to_buff(uint8_t* buff, uint32_t bit_offset, uint32_t field_size, uint32_t field_value);
/* Reads field_size bits from bit_offset on, right-aligned; 0 for width 0. */
uint32_t pop_from_buff(const uint8_t* buff, uint32_t bit_offset, uint32_t field_size);
/* Big-endian word at byte bit_offset / 8. */
void push_to_buff_32(uint8_t* buff, uint32_t bit_offset, uint32_t field_value);
uint32_t pop_from_buff_32(const uint8_t* buff, uint32_t bit_offset);
/* Eight bytes in host byte order at byte bit_offset / 8. */
void push_to_buff_64(uint8_t* buff, uint32_t bit_offset, uint64_t field_value);
uint64_t pop_from_buff_64(const uint8_t* buff, uint32_t bit_offset);
/* Bit address of element arr_idx of an array field. */
uint32_t calc_array_field_offset(uint32_t start_bit_offset, uint32_t arr_elemnt_size, int arr_idx,
                                 uint32_t parent_node_size, int is_big_endian_arr);

#ifdef __cplusplus
}
#endif

#endif
