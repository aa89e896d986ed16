/*
 * Control interface of the fake PYX kernel driver (libfake_pyx_driver.so).
 *
 * The library is preloaded into a test process. It answers ioctl and mmap on
 * the driver's device nodes the tests lay out inside a private mount
 * namespace; every other descriptor goes to the C library untouched:
 *   - node-tree driver: /dev/pyx/<node>, a text file whose "domain:bus:dev.fn="
 *     (or "bus:dev.fn=") line names the PCI function; "pci_cr" in the name
 *     makes it a CR node, "pciconf" a configuration node;
 *   - per-function driver: /dev/<domain>:<bus>:<dev>.<fn>_pyxconf and _pyxcr.
 * A node answers only when its function was added with fake_pyx_add; the
 * other nodes answer every request with ENODEV.
 *
 * The device model of a function: a CR space (memory shared with every
 * mapping of its CR node), further address spaces, VPD, the configuration
 * header, driver memory, registered DMA pages, and knobs for the answers.
 * CR words are kept as the device's bus shows them: big-endian unless the
 * function is marked host-order; the driver's word requests answer in host
 * order. The per-function driver takes address space 0 (what a handle sends
 * before it selects a space) as the CR space, like space 2.
 *
 * Tests resolve these functions with dlsym (see fake_driver_client.h), so the
 * test program does not link the library and it works only when preloaded.
 * Compiles as C and as C++.
 */
#ifndef KELVRA_TESTS_FAKE_PYX_DRIVER_H
#define KELVRA_TESTS_FAKE_PYX_DRIVER_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define FAKE_PYX_MAX_OVERRIDES 16
#define FAKE_PYX_SPACES 16
#define FAKE_PYX_SPACE_WORDS 1024
#define FAKE_PYX_MEM_SIZE 8192
#define FAKE_PYX_VPD_SIZE 256

/* A device behind a function's address spaces (see fake_pyx_set_device).
 * Each returns 0, or a negative errno that the request fails with. */
typedef int (*fake_pyx_space_read_fn)(void* ctx, uint32_t space, uint32_t offset, uint32_t* value);
typedef int (*fake_pyx_space_write_fn)(void* ctx, uint32_t space, uint32_t offset, uint32_t value);

/* How one request code answers on a function, instead of its normal answer. */
typedef struct fake_pyx_override {
    uint32_t code;
    int fail_errno; /* non-zero: the request fails with this errno */
    int result;     /* else: the data is filled and this value is returned */
    int remaining;  /* how many requests it applies to; -1 for all */
} fake_pyx_override;

typedef struct fake_pyx_function {
    unsigned domain, bus, dev, func;
    uint32_t cr_size;    /* bytes of CR space; also the window length answered */
    int host_order;      /* 1: CR words are host order on the bus (no swap) */
    uint8_t* cr;         /* the CR space, as mapped */
    uint32_t vsec_supported;   /* answered by 0x8030D206 and 0x8028D001 */
    uint32_t space_support;    /* answered by 0x8030D206 */
    uint32_t function_index;   /* answered by 0x8004D103 and 0x8004D501 */
    int version_fields_bad;    /* 1: the version handshake answers wrong fields */
    uint64_t mem_props_addr;   /* answered by 0x8200D20B */
    uint32_t mem_props_size;
    uint32_t conf_header[64];  /* dwords of the PCI configuration header */
    uint8_t vpd[FAKE_PYX_VPD_SIZE];
    uint8_t mem[FAKE_PYX_MEM_SIZE];     /* driver memory (0xC410D20A) */
    uint32_t space_words[FAKE_PYX_SPACES][FAKE_PYX_SPACE_WORDS]; /* spaces other than 2 */
    uint32_t dma_pages;        /* pages registered and not released */
    uint64_t dma_user_addr[8]; /* user addresses of the registered pages */
    int mmap_fails;            /* mmap of the CR node fails with ENOMEM */
    int maps;                  /* mappings made of the CR node */
    fake_pyx_override overrides[FAKE_PYX_MAX_OVERRIDES];
    fake_pyx_space_read_fn device_read; /* set by fake_pyx_set_device */
    fake_pyx_space_write_fn device_write;
    void* device_ctx;
} fake_pyx_function;

/* One request as the driver saw it. */
typedef struct fake_pyx_request {
    uint32_t code;
    char node[256];
    uint8_t record[32]; /* the first bytes of the record as it came in */
    int result;
} fake_pyx_request;

/* Forgets every function and the request log. */
void fake_pyx_reset(void);
/* Adds a function with cr_size bytes of zeroed CR space; its model stays
 * valid until fake_pyx_reset. */
fake_pyx_function* fake_pyx_add(unsigned domain, unsigned bus, unsigned dev, unsigned func, uint32_t cr_size);
fake_pyx_function* fake_pyx_find(unsigned domain, unsigned bus, unsigned dev, unsigned func);
/* CR words in host order, whatever the bus order. */
uint32_t fake_pyx_cr_read(fake_pyx_function* f, uint32_t addr);
void fake_pyx_cr_write(fake_pyx_function* f, uint32_t addr, uint32_t value);
/* Makes the next `times` requests with this code (-1: all) fail with errno
 * (fail_errno non-zero) or return `result`. */
void fake_pyx_override_request(fake_pyx_function* f, uint32_t code, int fail_errno, int result, int times);
/* Puts a device behind the function: from now on the word and block
 * requests of every address space (CR space included) go to it instead of
 * the model's stores, so a test can run firmware behind the driver. The
 * mapped CR window stays the model's memory. Null functions undo it. */
void fake_pyx_set_device(fake_pyx_function* f, fake_pyx_space_read_fn read, fake_pyx_space_write_fn write,
                         void* ctx);
/* The request log, oldest first. */
int fake_pyx_log_count(void);
const fake_pyx_request* fake_pyx_log_entry(int index);
void fake_pyx_log_clear(void);
/* Count of logged requests with this code. */
int fake_pyx_log_count_code(uint32_t code);

#ifdef __cplusplus
}
#endif

#endif
