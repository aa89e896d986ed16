#define _GNU_SOURCE
#include "fake_i2c.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <stdarg.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/types.h>
#include <unistd.h>

#define MAX_FDS 1024
#define MAX_TRANSFERS 64
#define REGISTER_FILE_SIZE 0x10000
/* The kernel's own limits on one I2C_RDWR request. */
#define KERNEL_MAX_MSGS 42
#define KERNEL_MAX_LEN 8192

static unsigned char node_fds[MAX_FDS];
static int open_node_count;
static int last_flags = -1;

/* Targets on the bus: target 0 is the one set_target names; add_target adds
 * more, each with its own register file and pointer. */
#define MAX_TARGETS 4

struct target {
    int present;
    uint16_t address;
    uint32_t pointer;
    uint8_t file[REGISTER_FILE_SIZE];
    size_t reads; /* read messages answered */
    /* A change of the file that lands once `after_reads` reads were answered. */
    int change_pending;
    size_t after_reads;
    uint32_t change_reg;
    uint8_t change_bytes[16];
    size_t change_count;
};

static struct target targets[MAX_TARGETS] = {{.present = 1, .address = 0x48}};
static unsigned target_width;

static struct fake_i2c_transfer transfers[MAX_TRANSFERS];
static size_t transfer_total;
static size_t other_ioctls;

typedef int (*close_fn)(int);
typedef int (*ioctl_fn)(int, unsigned long, ...);

static void* next_symbol(const char* name)
{
    return dlsym(RTLD_NEXT, name);
}

static int is_node_path(const char* path)
{
    return path && strstr(path, "dev-i2c") != NULL;
}

static int is_node_fd(int fd)
{
    return fd >= 0 && fd < MAX_FDS && node_fds[fd];
}

/* A successful open of any file: remember whether its descriptor is a node
 * (a descriptor number may come back for another file after a close the
 * fake did not see). */
static int after_open(const char* path, int flags, int fd)
{
    if (fd < 0 || fd >= MAX_FDS) {
        return fd;
    }
    if (is_node_path(path)) {
        if (!node_fds[fd]) {
            open_node_count++;
        }
        node_fds[fd] = 1;
        last_flags = flags;
    } else if (node_fds[fd]) {
        node_fds[fd] = 0;
        open_node_count--;
    }
    return fd;
}

#include "tests/fakes/open_interposer.h"

int close(int fd)
{
    static close_fn real;
    if (!real) {
        real = (close_fn)next_symbol("close");
    }
    if (is_node_fd(fd)) {
        node_fds[fd] = 0;
        open_node_count--;
    }
    return real(fd);
}

static struct target* find_target(uint16_t address)
{
    for (int i = 0; i < MAX_TARGETS; i++) {
        if (targets[i].present && targets[i].address == address) {
            return &targets[i];
        }
    }
    return NULL;
}

static void store_in_register_file(struct target* t, const uint8_t* bytes, size_t count)
{
    for (size_t i = 0; i < count; i++) {
        t->file[t->pointer % REGISTER_FILE_SIZE] = bytes[i];
        t->pointer++;
    }
}

static void poke_file(struct target* t, uint32_t reg, const uint8_t* bytes, size_t count)
{
    for (size_t i = 0; i < count; i++) {
        t->file[(reg + i) % REGISTER_FILE_SIZE] = bytes[i];
    }
}

static void load_from_register_file(struct target* t, uint8_t* bytes, size_t count)
{
    for (size_t i = 0; i < count; i++) {
        bytes[i] = t->file[t->pointer % REGISTER_FILE_SIZE];
        t->pointer++;
    }
    t->reads++;
    if (t->change_pending && t->reads >= t->after_reads) {
        t->change_pending = 0;
        poke_file(t, t->change_reg, t->change_bytes, t->change_count);
    }
}

static void play_write(struct target* t, const struct i2c_msg* msg)
{
    size_t offset = 0;
    if (target_width > 0 && msg->len >= target_width) {
        t->pointer = 0;
        for (; offset < target_width; offset++) {
            t->pointer = (t->pointer << 8) | msg->buf[offset];
        }
    }
    store_in_register_file(t, msg->buf + offset, msg->len - offset);
}

static void record_message(struct fake_i2c_message* record, const struct i2c_msg* msg)
{
    size_t count = msg->len < FAKE_I2C_RECORDED_BYTES ? msg->len : FAKE_I2C_RECORDED_BYTES;
    record->addr = msg->addr;
    record->flags = msg->flags;
    record->len = msg->len;
    memset(record->bytes, 0, sizeof record->bytes);
    if (count > 0 && msg->buf) {
        memcpy(record->bytes, msg->buf, count);
    }
}

static int play_transfer(struct i2c_rdwr_ioctl_data* request)
{
    if (!request || !request->msgs) {
        errno = EFAULT;
        return -1;
    }
    struct fake_i2c_transfer* record = transfer_total < MAX_TRANSFERS ? &transfers[transfer_total] : NULL;
    transfer_total++;
    if (record) {
        memset(record, 0, sizeof *record);
        record->nmsgs = request->nmsgs;
    }
    int result = 0;
    int error = 0;
    if (request->nmsgs == 0 || request->nmsgs > KERNEL_MAX_MSGS) {
        result = -1;
        error = EINVAL;
    }
    for (uint32_t i = 0; result == 0 && i < request->nmsgs; i++) {
        if (request->msgs[i].len > KERNEL_MAX_LEN) {
            result = -1;
            error = EINVAL;
        } else if (find_target(request->msgs[i].addr) == NULL) {
            result = -1;
            error = ENXIO;
        }
    }
    for (uint32_t i = 0; i < request->nmsgs && i < KERNEL_MAX_MSGS; i++) {
        struct i2c_msg* msg = &request->msgs[i];
        if (result == 0) {
            struct target* t = find_target(msg->addr);
            if (msg->flags & I2C_M_RD) {
                load_from_register_file(t, msg->buf, msg->len);
            } else {
                play_write(t, msg);
            }
        }
        if (record && i < FAKE_I2C_RECORDED_MESSAGES) {
            record_message(&record->msgs[i], msg);
        }
    }
    if (record) {
        record->result = result < 0 ? -1 : (int)request->nmsgs;
    }
    if (result < 0) {
        errno = error;
        return -1;
    }
    /* The kernel answers the number of messages moved. */
    return (int)request->nmsgs;
}

int ioctl(int fd, unsigned long request, ...)
{
    static ioctl_fn real;
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);
    if (!real) {
        real = (ioctl_fn)next_symbol("ioctl");
    }
    if (!is_node_fd(fd)) {
        return real(fd, request, argument);
    }
    if (request == I2C_RDWR) {
        return play_transfer((struct i2c_rdwr_ioctl_data*)argument);
    }
    other_ioctls++;
    return 0;
}

static void api_reset(void)
{
    memset(targets, 0, sizeof targets);
    targets[0].present = 1;
    targets[0].address = 0x48;
    target_width = 0;
    transfer_total = 0;
    other_ioctls = 0;
}

static void api_set_target(uint16_t address, unsigned width)
{
    targets[0].address = address;
    targets[0].pointer = 0;
    target_width = width;
}

static void api_poke(uint32_t reg, const uint8_t* bytes, size_t count)
{
    poke_file(&targets[0], reg, bytes, count);
}

static void api_peek(uint32_t reg, uint8_t* bytes, size_t count)
{
    for (size_t i = 0; i < count; i++) {
        bytes[i] = targets[0].file[(reg + i) % REGISTER_FILE_SIZE];
    }
}

static int api_add_target(uint16_t address)
{
    if (find_target(address) != NULL) {
        return 0;
    }
    for (int i = 0; i < MAX_TARGETS; i++) {
        if (!targets[i].present) {
            memset(&targets[i], 0, sizeof targets[i]);
            targets[i].present = 1;
            targets[i].address = address;
            return 0;
        }
    }
    return -1;
}

static int api_poke_at(uint16_t address, uint32_t reg, const uint8_t* bytes, size_t count)
{
    struct target* t = find_target(address);
    if (t == NULL) {
        return -1;
    }
    poke_file(t, reg, bytes, count);
    return 0;
}

static int api_poke_after_reads(uint16_t address, size_t reads, uint32_t reg, const uint8_t* bytes, size_t count)
{
    struct target* t = find_target(address);
    if (t == NULL || count > sizeof t->change_bytes) {
        return -1;
    }
    t->change_pending = 1;
    t->after_reads = reads;
    t->change_reg = reg;
    memcpy(t->change_bytes, bytes, count);
    t->change_count = count;
    return 0;
}

static size_t api_reads_at(uint16_t address)
{
    struct target* t = find_target(address);
    return t != NULL ? t->reads : 0;
}

static size_t api_transfer_count(void)
{
    return transfer_total;
}

static const struct fake_i2c_transfer* api_transfer(size_t index)
{
    return index < transfer_total && index < MAX_TRANSFERS ? &transfers[index] : NULL;
}

static size_t api_other_ioctl_count(void)
{
    return other_ioctls;
}

static int api_open_nodes(void)
{
    return open_node_count;
}

static int api_last_open_flags(void)
{
    return last_flags;
}

static const struct fake_i2c_api api = {
    api_reset,           api_set_target,        api_poke,       api_peek,
    api_transfer_count,  api_transfer,          api_other_ioctl_count,
    api_open_nodes,      api_last_open_flags,   api_add_target, api_poke_at,
    api_poke_after_reads, api_reads_at,
};

const struct fake_i2c_api* fake_i2c_get_api(void)
{
    return &api;
}
