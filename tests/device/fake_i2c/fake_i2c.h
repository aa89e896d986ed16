/*
 * A fake Linux i2c-dev bus at the system-call edge, preloaded into a test
 * process (LD_PRELOAD). It takes over open/close/ioctl on files whose path
 * contains "dev-i2c" (the file itself must exist: it is really opened, so a
 * missing node fails as it would), answers I2C_RDWR with one target on the
 * bus, and records every transfer. Everything else goes to the C library.
 *
 * A target is a 64 KiB register file with an auto-incrementing register
 * pointer (one target, 0x48, unless a test adds more): the first `width` bytes of a write message (most significant
 * first) set the pointer, further bytes are stored from it; a read message
 * is answered from the pointer on. With width 0 the pointer just carries on.
 * A message to any other address is not acknowledged: the whole transfer
 * fails with ENXIO, as the kernel reports a missing acknowledge.
 *
 * The test process reaches the control interface with
 * dlsym(RTLD_DEFAULT, "fake_i2c_get_api").
 */
#ifndef KELVRA_TESTS_DEVICE_FAKE_I2C_H
#define KELVRA_TESTS_DEVICE_FAKE_I2C_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define FAKE_I2C_RECORDED_BYTES 128
#define FAKE_I2C_RECORDED_MESSAGES 4

struct fake_i2c_message {
    uint16_t addr;
    uint16_t flags;
    uint16_t len;
    /* Bytes written, or bytes handed back for a read (the first
     * FAKE_I2C_RECORDED_BYTES of them). */
    uint8_t bytes[FAKE_I2C_RECORDED_BYTES];
};

struct fake_i2c_transfer {
    uint32_t nmsgs; /* as given by the caller */
    int result;     /* what ioctl returned */
    struct fake_i2c_message msgs[FAKE_I2C_RECORDED_MESSAGES];
};

struct fake_i2c_api {
    /* Forgets the transcript and the register file; target 0x48, width 0. */
    void (*reset)(void);
    void (*set_target)(uint16_t address, unsigned width);
    void (*poke)(uint32_t reg, const uint8_t* bytes, size_t count);
    void (*peek)(uint32_t reg, uint8_t* bytes, size_t count);
    size_t (*transfer_count)(void);
    const struct fake_i2c_transfer* (*transfer)(size_t index);
    /* ioctls other than I2C_RDWR issued on a node (I2C_SLAVE and the like). */
    size_t (*other_ioctl_count)(void);
    /* Nodes open right now, and the flags of the last node opened. */
    int (*open_nodes)(void);
    int (*last_open_flags)(void);
    /* A further target at `address` with a register file of its own (the
     * bus's register-address width applies to it too); 0, or -1 when the
     * bus is full. reset leaves target 0x48 alone on the bus. */
    int (*add_target)(uint16_t address);
    int (*poke_at)(uint16_t address, uint32_t reg, const uint8_t* bytes, size_t count);
    /* The bytes land in that target's file once it has answered `reads`
     * read messages (counted since reset): a device whose answer changes. */
    int (*poke_after_reads)(uint16_t address, size_t reads, uint32_t reg, const uint8_t* bytes, size_t count);
    /* Read messages the target at `address` answered. */
    size_t (*reads_at)(uint16_t address);
};

const struct fake_i2c_api* fake_i2c_get_api(void);

#ifdef __cplusplus
}
#endif

#endif
