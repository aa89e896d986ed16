/*
 * A fake of the first USB-to-I2C adapter kind at the system-call edge,
 * preloaded into a test process (LD_PRELOAD). It takes over every open
 * variant, close and ioctl on files whose path contains "qzusb-" or
 * "/dev/bus/usb/" (the file itself must exist: it is really opened, so a
 * missing node fails as it would), and answers the usbfs requests the way
 * the adapter and the kernel would:
 *  - USBDEVFS_CONTROL: the 18-byte device descriptor (vendor and product
 *    settable);
 *  - USBDEVFS_CLAIMINTERFACE / USBDEVFS_RELEASEINTERFACE of interface 0;
 *  - USBDEVFS_BULK: a request on endpoint 2 is one adapter command, whose
 *    reply the next transfer on endpoint 0x84 reads (no reply pending: the
 *    transfer times out, -1 with ETIMEDOUT; a reply longer than the buffer:
 *    -1 with EOVERFLOW).
 * Commands: 1 I2C read, 2 I2C write, 3 bus scan, 10 firmware version,
 * 11 serial number, 27 set and 28 get the I2C frequency code. Targets on the
 * bus are register files (1 MiB each, address taken modulo) with a register
 * pointer set by the address bytes of a transfer, first byte most
 * significant; a target that is not there answers status 1 (no acknowledge).
 * Everything else goes to the C library.
 *
 * The test process reaches the control interface with
 * dlsym(RTLD_DEFAULT, "fake_qzusb_get_api").
 */
#ifndef KELVRA_TESTS_DEVICE_FAKE_QZUSB_H
#define KELVRA_TESTS_DEVICE_FAKE_QZUSB_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define FAKE_QZUSB_RECORDED_BYTES 300

/* One bulk transfer as the adapter saw it. */
struct fake_qzusb_bulk {
    unsigned endpoint;
    unsigned length;  /* as given by the caller */
    unsigned timeout; /* milliseconds, as given */
    int result;       /* what ioctl returned */
    /* Bytes sent, or bytes handed back (the first FAKE_QZUSB_RECORDED_BYTES). */
    uint8_t bytes[FAKE_QZUSB_RECORDED_BYTES];
    /* Whether SIGINT, SIGTERM and SIGUSR2 were all blocked in the calling
     * thread during the transfer. */
    int signals_blocked;
    /* Count of the named semaphore "qzusb_semaphore" during the transfer,
     * or -1 when it does not exist. */
    int semaphore_value;
    /* Whether interface 0 was claimed on the descriptor. */
    int claimed;
};

struct fake_qzusb_control {
    unsigned request_type, request, value, index, length, timeout;
};

struct fake_qzusb_api {
    /* Forgets the transcript, the faults and the bus: the right descriptor,
     * target 0x48 alone (zeroed), firmware 1.7, serial 0, frequency 0. */
    void (*reset)(void);
    void (*set_descriptor)(uint16_t vendor, uint16_t product);
    /* Faults, each for the next `count` matching requests:
     * control transfers fail (-1, EPIPE); claims fail (-1, EBUSY); bulk OUT
     * fails (-1, ETIMEDOUT, nothing reaches the adapter); bulk OUT is cut by
     * one byte (the adapter drops the cut request); bulk IN fails (-1,
     * ETIMEDOUT, the reply is lost); bulk IN is cut by one byte; the reply's
     * status byte is 1. */
    void (*fail_controls)(int count);
    void (*fail_claims)(int count);
    void (*fail_out)(int count);
    void (*short_out)(int count);
    void (*fail_in)(int count);
    void (*short_in)(int count);
    void (*bad_status)(int count);
    /* The next reply is these bytes, whatever the command. */
    void (*script_reply)(const uint8_t* bytes, size_t count);

    size_t (*control_count)(void);
    const struct fake_qzusb_control* (*last_control)(void);
    size_t (*claim_count)(void);
    size_t (*release_count)(void);
    int (*claimed)(void);
    size_t (*bulk_count)(void);
    const struct fake_qzusb_bulk* (*bulk)(size_t index);
    /* Bulk transfers on endpoint 2 only (the requests), by index. */
    size_t (*request_count)(void);
    const struct fake_qzusb_bulk* (*request)(size_t index);

    /* The bus. */
    int (*add_target)(uint8_t address);
    void (*remove_target)(uint8_t address);
    int (*poke)(uint8_t address, uint32_t reg, const uint8_t* bytes, size_t count);
    int (*peek)(uint8_t address, uint32_t reg, uint8_t* bytes, size_t count);
    void (*set_version)(uint8_t major, uint8_t minor);
    void (*set_serial)(uint32_t serial);
    uint8_t (*frequency)(void);
    void (*set_frequency)(uint8_t code);

    /* Nodes open right now, and the flags of the last node opened. */
    int (*open_nodes)(void);
    int (*last_open_flags)(void);
};

const struct fake_qzusb_api* fake_qzusb_get_api(void);

#ifdef __cplusplus
}
#endif

#endif
