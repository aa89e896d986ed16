/*
 * What the stand-in SDK libraries share with the tests that load them: the
 * tests script the answers here before the product loads a stand-in, and
 * read back what each entry point was given and in which order the calls,
 * loads and unloads came. One instance per process, in a shared library
 * that both the test program and every stand-in link, so it outlives the
 * stand-ins' unloading.
 */
#ifndef KELVRA_TESTS_BACKENDS_STANDIN_WORLD_H
#define KELVRA_TESTS_BACKENDS_STANDIN_WORLD_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define WORLD_JOURNAL_LINES 64
#define WORLD_LINE 128
#define WORLD_IMAGE 64
#define WORLD_CR_SPACE 8192

/* One call of "jqd_access_reg_raw" as the SDK saw it, read through the
 * SDK's own view of the records. */
struct world_reg_request {
    int32_t command;           /* meta, offset 0 */
    uint8_t device;            /* meta, offset 4 */
    uint8_t meta_byte5;        /* meta, offset 5 */
    uint32_t meta_word8;       /* meta, offset 8 */
    const void* buffer;        /* image, offset 0 */
    uint16_t size;             /* image, offset 8 */
    uint32_t third;            /* the raw call's third argument */
    uint32_t register_id;
    const void* fifth;
    const void* sixth;
    uint8_t image[WORLD_IMAGE]; /* the bytes the buffer held on entry */
};

typedef struct backend_world {
    char journal[WORLD_JOURNAL_LINES][WORLD_LINE];
    int journal_lines;

    /* register SDK */
    int reg_init_calls;
    int reg_init_fail_from;   /* 0: never fails; n: the n-th call and later fail */
    int reg_init_arg0;
    const void* reg_init_arg1;
    int reg_init_arg2;
    int reg_raw_result;
    uint8_t reg_answer[WORLD_IMAGE]; /* written over the buffer of a successful get */
    uint32_t reg_answer_length;
    int reg_raw_calls;
    struct world_reg_request last_reg;
    int max_size_result;
    uint32_t max_size_words;
    uint8_t max_size_device;

    /* CR-space SDK: CR space as the SDK keeps it, byte by byte */
    int cr_init_result;
    int cr_read_result;
    int cr_write_result;
    uint8_t cr_space[WORLD_CR_SPACE];
    uint8_t last_cr_device;
    uint32_t last_cr_length;
    const void* last_cr_buffer;

    /* JTAG SDK */
    int jtag_init_result;
    int jtag_read_result;
    int jtag_write_result;
    uint32_t jtag_word;       /* what a read stores */
    uint32_t last_jtag_index;
    uint32_t last_jtag_address;
    uint32_t last_jtag_value;
    const void* last_jtag_buffer;
} backend_world;

backend_world* backend_world_get(void);
/* Empties the journal and clears every scripted answer and record: the
 * world a process starts with, for the next test case in the same one. */
void backend_world_reset(void);
/* Appends one line to the journal (cut to WORLD_LINE - 1 characters). */
void backend_world_note(const char* format, ...) __attribute__((format(printf, 1, 2)));

#ifdef __cplusplus
}
#endif

#endif
