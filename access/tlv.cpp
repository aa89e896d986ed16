/*
 * TLV records of access-register requests and the bit-buffer helpers.
 */
#include <inttypes.h>
#include <string.h>

#include "access/tlv.h"

extern "C" {

void push_to_buff(uint8_t* buff, uint32_t bit_offset, uint32_t field_size, uint32_t field_value)
{
    uint32_t byte = bit_offset / 8;
    uint32_t first_bit = bit_offset % 8;
    uint32_t remaining = field_size;
    while (remaining > 0) {
        uint32_t room = 8 - first_bit;
        uint32_t take = remaining < room ? remaining : room;
        uint32_t shift = room - take;
        uint32_t low = remaining - take; // value bits still to follow this byte
        // Bits beyond the 32 of the value are zero, never a shift past its width.
        uint32_t bits = low >= 32 ? 0 : (field_value >> low) & ((1u << take) - 1);
        uint8_t mask = (uint8_t)(((1u << take) - 1) << shift);
        buff[byte] = (uint8_t)((buff[byte] & ~mask) | (bits << shift));
        remaining -= take;
        byte++;
        first_bit = 0;
    }
}

uint32_t pop_from_buff(const uint8_t* buff, uint32_t bit_offset, uint32_t field_size)
{
    uint32_t byte = bit_offset / 8;
    uint32_t first_bit = bit_offset % 8;
    uint32_t remaining = field_size;
    uint32_t value = 0;
    while (remaining > 0) {
        uint32_t room = 8 - first_bit;
        uint32_t take = remaining < room ? remaining : room;
        uint32_t shift = room - take;
        uint32_t bits = ((uint32_t)buff[byte] >> shift) & ((1u << take) - 1);
        value = (value << take) | bits;
        remaining -= take;
        byte++;
        first_bit = 0;
    }
    return value;
}

void push_to_buff_32(uint8_t* buff, uint32_t bit_offset, uint32_t field_value)
{
    uint8_t* at = buff + bit_offset / 8;
    at[0] = (uint8_t)(field_value >> 24);
    at[1] = (uint8_t)(field_value >> 16);
    at[2] = (uint8_t)(field_value >> 8);
    at[3] = (uint8_t)field_value;
}

uint32_t pop_from_buff_32(const uint8_t* buff, uint32_t bit_offset)
{
    const uint8_t* at = buff + bit_offset / 8;
    return ((uint32_t)at[0] << 24) | ((uint32_t)at[1] << 16) | ((uint32_t)at[2] << 8) | at[3];
}

void push_to_buff_64(uint8_t* buff, uint32_t bit_offset, uint64_t field_value)
{
    memcpy(buff + bit_offset / 8, &field_value, sizeof field_value);
}

uint64_t pop_from_buff_64(const uint8_t* buff, uint32_t bit_offset)
{
    uint64_t value;
    memcpy(&value, buff + bit_offset / 8, sizeof value);
    return value;
}

uint32_t calc_array_field_offset(uint32_t start_bit_offset, uint32_t arr_elemnt_size, int arr_idx,
                                 uint32_t parent_node_size, int is_big_endian_arr)
{
    uint32_t index = (uint32_t)arr_idx;
    if (arr_elemnt_size > 32) {
        if (arr_elemnt_size % 32) {
            fprintf(stderr, "\n-W- Array field size is not 32 bit aligned.\n");
        }
        return start_bit_offset + arr_elemnt_size * index;
    }
    uint32_t offs;
    if (is_big_endian_arr) {
        offs = start_bit_offset - arr_elemnt_size * index;
        // Stepping back across a dword boundary lands in the previous dword,
        // whose elements count from its other end.
        uint32_t dword_delta = ((start_bit_offset / 32) - (offs / 32)) % (1u << 30);
        if (dword_delta != 0) {
            offs += 64 * dword_delta;
        }
    } else {
        offs = start_bit_offset + arr_elemnt_size * index;
    }
    uint32_t dword_size = parent_node_size < 32 ? parent_node_size : 32;
    return dword_size + (offs & ~31u) - arr_elemnt_size - (offs % 32);
}

void OperationTlv_pack(const OperationTlv* tlv, uint8_t* buff)
{
    push_to_buff(buff, 0, 5, tlv->Type);
    push_to_buff(buff, 5, 11, tlv->len);
    push_to_buff(buff, 16, 1, tlv->dr);
    push_to_buff(buff, 17, 7, tlv->status);
    push_to_buff(buff, 24, 8, tlv->reserved0);
    push_to_buff(buff, 32, 16, tlv->register_id);
    push_to_buff(buff, 48, 1, tlv->r);
    push_to_buff(buff, 49, 7, tlv->method);
    push_to_buff(buff, 56, 8, tlv->class_);
    push_to_buff_64(buff, 64, tlv->tid);
}

void OperationTlv_unpack(OperationTlv* tlv, const uint8_t* buff)
{
    tlv->Type = (uint8_t)pop_from_buff(buff, 0, 5);
    tlv->len = (uint16_t)pop_from_buff(buff, 5, 11);
    tlv->dr = (uint8_t)pop_from_buff(buff, 16, 1);
    tlv->status = (uint8_t)pop_from_buff(buff, 17, 7);
    tlv->reserved0 = (uint8_t)pop_from_buff(buff, 24, 8);
    tlv->register_id = (uint16_t)pop_from_buff(buff, 32, 16);
    tlv->r = (uint8_t)pop_from_buff(buff, 48, 1);
    tlv->method = (uint8_t)pop_from_buff(buff, 49, 7);
    tlv->class_ = (uint8_t)pop_from_buff(buff, 56, 8);
    tlv->tid = pop_from_buff_64(buff, 64);
}

void OperationTlv_dump(const OperationTlv* tlv, FILE* fd)
{
    fprintf(fd, "OperationTlv::reserved0: %u\n", (unsigned)tlv->reserved0);
    fprintf(fd, "OperationTlv::status: %u\n", (unsigned)tlv->status);
    fprintf(fd, "OperationTlv::dr: %u\n", (unsigned)tlv->dr);
    fprintf(fd, "OperationTlv::len: %u\n", (unsigned)tlv->len);
    fprintf(fd, "OperationTlv::Type: %u\n", (unsigned)tlv->Type);
    fprintf(fd, "OperationTlv::class: %u\n", (unsigned)tlv->class_);
    fprintf(fd, "OperationTlv::method: %u\n", (unsigned)tlv->method);
    fprintf(fd, "OperationTlv::r: %u\n", (unsigned)tlv->r);
    fprintf(fd, "OperationTlv::register_id: %u\n", (unsigned)tlv->register_id);
    fprintf(fd, "OperationTlv::tid: %" PRIu64 "\n", tlv->tid);
}

void reg_tlv_pack(const reg_tlv* tlv, uint8_t* buff)
{
    push_to_buff(buff, 0, 5, tlv->Type);
    push_to_buff(buff, 5, 11, tlv->len);
    push_to_buff(buff, 16, 16, tlv->reserved0);
}

void reg_tlv_unpack(reg_tlv* tlv, const uint8_t* buff)
{
    tlv->Type = (uint8_t)pop_from_buff(buff, 0, 5);
    tlv->len = (uint16_t)pop_from_buff(buff, 5, 11);
    tlv->reserved0 = (uint16_t)pop_from_buff(buff, 16, 16);
}

void reg_tlv_dump(const reg_tlv* tlv, FILE* fd)
{
    fprintf(fd, "reg_tlv::reserved0: %u\n", (unsigned)tlv->reserved0);
    fprintf(fd, "reg_tlv::len: %u\n", (unsigned)tlv->len);
    fprintf(fd, "reg_tlv::Type: %u\n", (unsigned)tlv->Type);
}

void init_reg_tlv(reg_tlv* tlv, uint32_t reg_len)
{
    memset(tlv, 0, sizeof *tlv);
    tlv->Type = 3;
    tlv->len = (uint16_t)((reg_len + 4) / 4);
}

void string_tlv_pack(const string_tlv* tlv, uint8_t* buff)
{
    push_to_buff(buff, 0, 5, tlv->Type);
    push_to_buff(buff, 5, 11, tlv->len);
    push_to_buff(buff, 16, 16, tlv->reserved0);
    for (uint32_t i = 0; i < STRING_TLV_STRING_SIZE - 1; i++) {
        push_to_buff(buff, 32 + 8 * i, 8, (uint8_t)tlv->String[i]);
    }
}

void string_tlv_unpack(string_tlv* tlv, const uint8_t* buff)
{
    tlv->Type = (uint8_t)pop_from_buff(buff, 0, 5);
    tlv->len = (uint16_t)pop_from_buff(buff, 5, 11);
    tlv->reserved0 = (uint16_t)pop_from_buff(buff, 16, 16);
    for (uint32_t i = 0; i < STRING_TLV_STRING_SIZE - 1; i++) {
        tlv->String[i] = (char)pop_from_buff(buff, 32 + 8 * i, 8);
    }
    tlv->String[STRING_TLV_STRING_SIZE - 1] = '\0';
}

void string_tlv_dump(const string_tlv* tlv, FILE* fd)
{
    fprintf(fd, "string_tlv::reserved0: %u\n", (unsigned)tlv->reserved0);
    fprintf(fd, "string_tlv::len: %u\n", (unsigned)tlv->len);
    fprintf(fd, "string_tlv::Type: %u\n", (unsigned)tlv->Type);
    fprintf(fd, "string_tlv::String: \n");
    // The record may come from anywhere: never read past its text field.
    fprintf(fd, "[%.*s]\n", STRING_TLV_STRING_SIZE, tlv->String);
}

void init_string_tlv(string_tlv* tlv)
{
    memset(tlv, 0, sizeof *tlv);
    tlv->Type = 2;
    tlv->len = STRING_TLV_SIZE / 4;
}

void debug_dump_tlvs(const OperationTlv* op_tlv, const reg_tlv* reg, const string_tlv* str)
{
    printf("\tOperation Tlv\n");
    OperationTlv_dump(op_tlv, stdout);
    printf("\tReg Tlv\n");
    reg_tlv_dump(reg, stdout);
    printf("\tString Tlv\n");
    string_tlv_dump(str, stdout);
}

}  // extern "C"
