#define _GNU_SOURCE
#include "fake_qzusb.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usbdevice_fs.h>
#include <semaphore.h>
#include <signal.h>
#include <stdarg.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/types.h>
#include <unistd.h>

#define MAX_FDS 1024
#define MAX_BULKS 512
#define MAX_TARGETS 4
#define REGISTER_FILE_SIZE 0x100000
#define MAX_REPLY 512

static const uint8_t STATUS_OK = 0;
static const uint8_t STATUS_NACK = 1;
static const uint8_t STATUS_BAD_COMMAND = 0xFF;

/* ------------------------------------------------------------ state */

struct target {
    int present;
    uint8_t address;
    uint32_t pointer;
    uint8_t file[REGISTER_FILE_SIZE];
};

static unsigned char node_fds[MAX_FDS];
static unsigned char claimed_fds[MAX_FDS];
static int open_node_count;
static int last_flags = -1;

static struct target targets[MAX_TARGETS];
static uint16_t vendor_id, product_id;
static uint8_t version_major, version_minor, frequency_code;
static uint32_t serial_number;

static int faults_control, faults_claim, faults_out, faults_short_out, faults_in, faults_short_in, faults_status;

static uint8_t reply[MAX_REPLY];
static size_t reply_length;
static int reply_pending;
static uint8_t scripted[MAX_REPLY];
static size_t scripted_length;
static int scripted_pending;

static struct fake_qzusb_bulk bulks[MAX_BULKS];
static size_t bulk_total;
static size_t control_total, claim_total, release_total;
static struct fake_qzusb_control last_control_seen;

/* ------------------------------------------------------------ the bus */

static struct target* find_target(uint8_t address)
{
    for (int i = 0; i < MAX_TARGETS; i++) {
        if (targets[i].present && targets[i].address == address) {
            return &targets[i];
        }
    }
    return NULL;
}

static int add_target(uint8_t address)
{
    if (find_target(address)) {
        return 0;
    }
    for (int i = 0; i < MAX_TARGETS; i++) {
        if (!targets[i].present) {
            memset(targets[i].file, 0, sizeof targets[i].file);
            targets[i].present = 1;
            targets[i].address = address;
            targets[i].pointer = 0;
            return 0;
        }
    }
    return -1;
}

static void remove_target(uint8_t address)
{
    struct target* t = find_target(address);
    if (t) {
        t->present = 0;
    }
}

static int poke(uint8_t address, uint32_t reg, const uint8_t* bytes, size_t count)
{
    struct target* t = find_target(address);
    if (!t) {
        return -1;
    }
    for (size_t i = 0; i < count; i++) {
        t->file[(reg + i) % REGISTER_FILE_SIZE] = bytes[i];
    }
    return 0;
}

static int peek(uint8_t address, uint32_t reg, uint8_t* bytes, size_t count)
{
    struct target* t = find_target(address);
    if (!t) {
        return -1;
    }
    for (size_t i = 0; i < count; i++) {
        bytes[i] = t->file[(reg + i) % REGISTER_FILE_SIZE];
    }
    return 0;
}

/* The register pointer from `width` address bytes in bus order. */
static uint32_t pointer_of(const uint8_t* bytes, unsigned width)
{
    uint32_t pointer = 0;
    for (unsigned i = 0; i < width; i++) {
        pointer = pointer << 8 | bytes[i];
    }
    return pointer;
}

/* ------------------------------------------------------------ the adapter */

static void set_reply_status(uint8_t status)
{
    reply[reply_length++] = status;
    reply_pending = 1;
}

static void command_read(const uint8_t* req, size_t len)
{
    unsigned width = len > 1 ? req[1] : 0;
    size_t expected = width == 0 ? 4 : 5 + width;
    if (len < 2 || width > 4 || len != expected) {
        set_reply_status(STATUS_BAD_COMMAND);
        return;
    }
    size_t at = 2;
    uint8_t status = STATUS_OK;
    if (width != 0) {
        struct target* w = find_target(req[at] >> 1);
        if (!w || (req[at] & 1)) {
            status = STATUS_NACK;
        } else {
            w->pointer = pointer_of(req + at + 1, width);
        }
        at += 1 + width;
    }
    uint8_t read_address = req[at];
    unsigned count = req[at + 1];
    struct target* r = find_target(read_address >> 1);
    if (!r || !(read_address & 1)) {
        status = STATUS_NACK;
    }
    for (unsigned i = 0; i < count; i++) {
        reply[reply_length++] = (status == STATUS_OK) ? r->file[r->pointer++ % REGISTER_FILE_SIZE] : 0;
    }
    set_reply_status(status);
}

static void command_write(const uint8_t* req, size_t len)
{
    unsigned width = len > 1 ? req[1] : 0;
    if (len < 4 || width > 4 || len < 4 + (size_t)width || len != 4 + (size_t)width + req[3 + width]) {
        set_reply_status(STATUS_BAD_COMMAND);
        return;
    }
    struct target* t = find_target(req[2] >> 1);
    if (!t || (req[2] & 1)) {
        set_reply_status(STATUS_NACK);
        return;
    }
    if (width != 0) {
        t->pointer = pointer_of(req + 3, width);
    }
    unsigned count = req[3 + width];
    for (unsigned i = 0; i < count; i++) {
        t->file[t->pointer++ % REGISTER_FILE_SIZE] = req[4 + width + i];
    }
    set_reply_status(STATUS_OK);
}

static void command_scan(void)
{
    for (unsigned a = 0; a < 128; a++) {
        if (find_target((uint8_t)a)) {
            reply[reply_length++] = (uint8_t)(a << 1);
        }
    }
    set_reply_status(STATUS_OK);
}

static void run_command(const uint8_t* req, size_t len)
{
    reply_length = 0;
    if (len == 0) {
        set_reply_status(STATUS_BAD_COMMAND);
        return;
    }
    switch (req[0]) {
    case 1:
        command_read(req, len);
        break;
    case 2:
        command_write(req, len);
        break;
    case 3:
        command_scan();
        break;
    case 10:
        reply[reply_length++] = version_major;
        reply[reply_length++] = version_minor;
        set_reply_status(STATUS_OK);
        break;
    case 11:
        for (int i = 0; i < 4; i++) {
            reply[reply_length++] = (uint8_t)(serial_number >> (8 * i));
        }
        set_reply_status(STATUS_OK);
        break;
    case 27:
        if (len != 2) {
            set_reply_status(STATUS_BAD_COMMAND);
            break;
        }
        frequency_code = req[1];
        set_reply_status(STATUS_OK);
        break;
    case 28:
        reply[reply_length++] = frequency_code;
        set_reply_status(STATUS_OK);
        break;
    default:
        set_reply_status(STATUS_BAD_COMMAND);
        break;
    }
    if (scripted_pending) {
        scripted_pending = 0;
        memcpy(reply, scripted, scripted_length);
        reply_length = scripted_length;
    }
    if (faults_status > 0 && reply_length > 0) {
        faults_status--;
        reply[reply_length - 1] = 1;
    }
}

/* ------------------------------------------------------------ the kernel's side */

typedef int (*close_fn)(int);
typedef int (*ioctl_fn)(int, unsigned long, ...);

static void* next_symbol(const char* name)
{
    return dlsym(RTLD_NEXT, name);
}

static int is_node_path(const char* path)
{
    return path && (strstr(path, "qzusb-") != NULL || strstr(path, "/dev/bus/usb/") != NULL);
}

static int is_node_fd(int fd)
{
    return fd >= 0 && fd < MAX_FDS && node_fds[fd];
}

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
        claimed_fds[fd] = 0;
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
        claimed_fds[fd] = 0;
        open_node_count--;
    }
    return real(fd);
}

static int fail_with(int error)
{
    errno = error;
    return -1;
}

static int signals_blocked_now(void)
{
    sigset_t current;
    if (sigprocmask(SIG_BLOCK, NULL, &current) != 0) {
        return 0;
    }
    return sigismember(&current, SIGINT) == 1 && sigismember(&current, SIGTERM) == 1 &&
           sigismember(&current, SIGUSR2) == 1;
}

static int semaphore_value_now(void)
{
    sem_t* s = sem_open("qzusb_semaphore", 0);
    if (s == SEM_FAILED) {
        return -1;
    }
    int value = -1;
    sem_getvalue(s, &value);
    sem_close(s);
    return value;
}

static struct fake_qzusb_bulk* record_bulk(int fd, const struct usbdevfs_bulktransfer* bulk)
{
    if (bulk_total >= MAX_BULKS) {
        bulk_total++;
        return NULL;
    }
    struct fake_qzusb_bulk* r = &bulks[bulk_total++];
    memset(r, 0, sizeof *r);
    r->endpoint = bulk->ep;
    r->length = bulk->len;
    r->timeout = bulk->timeout;
    r->signals_blocked = signals_blocked_now();
    r->semaphore_value = semaphore_value_now();
    r->claimed = claimed_fds[fd];
    return r;
}

static int bulk_out(struct usbdevfs_bulktransfer* bulk, struct fake_qzusb_bulk* r)
{
    size_t n = bulk->len < FAKE_QZUSB_RECORDED_BYTES ? bulk->len : FAKE_QZUSB_RECORDED_BYTES;
    if (r && n > 0) {
        memcpy(r->bytes, bulk->data, n);
    }
    if (faults_out > 0) {
        faults_out--;
        return fail_with(ETIMEDOUT);
    }
    reply_pending = 0;
    if (faults_short_out > 0) {
        faults_short_out--;
        return bulk->len > 0 ? (int)bulk->len - 1 : 0;
    }
    run_command((const uint8_t*)bulk->data, bulk->len);
    return (int)bulk->len;
}

static int bulk_in(struct usbdevfs_bulktransfer* bulk, struct fake_qzusb_bulk* r)
{
    if (!reply_pending) {
        return fail_with(ETIMEDOUT);
    }
    reply_pending = 0;
    if (faults_in > 0) {
        faults_in--;
        return fail_with(ETIMEDOUT);
    }
    size_t count = reply_length;
    if (faults_short_in > 0 && count > 0) {
        faults_short_in--;
        count--;
    }
    if (count > bulk->len) {
        return fail_with(EOVERFLOW);
    }
    if (count > 0) {
        memcpy(bulk->data, reply, count);
    }
    if (r) {
        memcpy(r->bytes, reply, count < FAKE_QZUSB_RECORDED_BYTES ? count : FAKE_QZUSB_RECORDED_BYTES);
    }
    return (int)count;
}

static int serve_bulk(int fd, struct usbdevfs_bulktransfer* bulk)
{
    struct fake_qzusb_bulk* r = record_bulk(fd, bulk);
    int result;
    if (bulk->ep == 2) {
        result = bulk_out(bulk, r);
    } else if (bulk->ep == 0x84) {
        result = bulk_in(bulk, r);
    } else {
        result = fail_with(ENOENT);
    }
    if (r) {
        r->result = result;
    }
    return result;
}

static int serve_control(struct usbdevfs_ctrltransfer* control)
{
    control_total++;
    last_control_seen.request_type = control->bRequestType;
    last_control_seen.request = control->bRequest;
    last_control_seen.value = control->wValue;
    last_control_seen.index = control->wIndex;
    last_control_seen.length = control->wLength;
    last_control_seen.timeout = control->timeout;
    if (faults_control > 0) {
        faults_control--;
        return fail_with(EPIPE);
    }
    if (control->bRequestType != USB_DIR_IN || control->bRequest != USB_REQ_GET_DESCRIPTOR ||
        control->wValue != (USB_DT_DEVICE << 8)) {
        return fail_with(EPIPE);
    }
    struct usb_device_descriptor d;
    memset(&d, 0, sizeof d);
    d.bLength = USB_DT_DEVICE_SIZE;
    d.bDescriptorType = USB_DT_DEVICE;
    d.bcdUSB = 0x0200;
    d.bMaxPacketSize0 = 64;
    d.idVendor = vendor_id; /* little-endian host */
    d.idProduct = product_id;
    d.bNumConfigurations = 1;
    size_t count = control->wLength < sizeof d ? control->wLength : sizeof d;
    memcpy(control->data, &d, count);
    return (int)count;
}

static int serve_interface(int fd, unsigned long request, const unsigned int* interface)
{
    if (!interface || *interface != 0) {
        return fail_with(EINVAL);
    }
    if (request == USBDEVFS_CLAIMINTERFACE) {
        claim_total++;
        if (faults_claim > 0) {
            faults_claim--;
            return fail_with(EBUSY);
        }
        claimed_fds[fd] = 1;
        return 0;
    }
    release_total++;
    if (!claimed_fds[fd]) {
        return fail_with(EINVAL);
    }
    claimed_fds[fd] = 0;
    return 0;
}

int ioctl(int fd, unsigned long request, ...)
{
    static ioctl_fn real;
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);
    if (!is_node_fd(fd)) {
        if (!real) {
            real = (ioctl_fn)next_symbol("ioctl");
        }
        return real(fd, request, argument);
    }
    switch (request) {
    case USBDEVFS_CONTROL:
        return serve_control((struct usbdevfs_ctrltransfer*)argument);
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE:
        return serve_interface(fd, request, (const unsigned int*)argument);
    case USBDEVFS_BULK:
        return serve_bulk(fd, (struct usbdevfs_bulktransfer*)argument);
    default:
        return fail_with(ENOTTY);
    }
}

/* ------------------------------------------------------------ control interface */

static void reset(void)
{
    memset(targets, 0, sizeof targets);
    add_target(0x48);
    vendor_id = 0x0ABF;
    product_id = 0x3370;
    version_major = 1;
    version_minor = 7;
    serial_number = 0;
    frequency_code = 0;
    faults_control = faults_claim = faults_out = faults_short_out = 0;
    faults_in = faults_short_in = faults_status = 0;
    reply_pending = 0;
    reply_length = 0;
    scripted_pending = 0;
    bulk_total = 0;
    control_total = claim_total = release_total = 0;
    memset(&last_control_seen, 0, sizeof last_control_seen);
}

static void set_descriptor(uint16_t vendor, uint16_t product)
{
    vendor_id = vendor;
    product_id = product;
}

static void fail_controls(int count) { faults_control = count; }
static void fail_claims(int count) { faults_claim = count; }
static void fail_out(int count) { faults_out = count; }
static void short_out(int count) { faults_short_out = count; }
static void fail_in(int count) { faults_in = count; }
static void short_in(int count) { faults_short_in = count; }
static void bad_status(int count) { faults_status = count; }

static void script_reply(const uint8_t* bytes, size_t count)
{
    scripted_length = count < MAX_REPLY ? count : MAX_REPLY;
    if (scripted_length > 0) {
        memcpy(scripted, bytes, scripted_length);
    }
    scripted_pending = 1;
}

static size_t control_count(void) { return control_total; }
static const struct fake_qzusb_control* last_control(void) { return &last_control_seen; }
static size_t claim_count(void) { return claim_total; }
static size_t release_count(void) { return release_total; }

static int claimed(void)
{
    for (int fd = 0; fd < MAX_FDS; fd++) {
        if (node_fds[fd] && claimed_fds[fd]) {
            return 1;
        }
    }
    return 0;
}

static size_t bulk_count(void) { return bulk_total; }

static const struct fake_qzusb_bulk* bulk(size_t index)
{
    return index < bulk_total && index < MAX_BULKS ? &bulks[index] : NULL;
}

static size_t request_count(void)
{
    size_t n = 0;
    for (size_t i = 0; i < bulk_total && i < MAX_BULKS; i++) {
        n += bulks[i].endpoint == 2;
    }
    return n;
}

static const struct fake_qzusb_bulk* request(size_t index)
{
    for (size_t i = 0; i < bulk_total && i < MAX_BULKS; i++) {
        if (bulks[i].endpoint == 2 && index-- == 0) {
            return &bulks[i];
        }
    }
    return NULL;
}

static void set_version(uint8_t major, uint8_t minor)
{
    version_major = major;
    version_minor = minor;
}

static void set_serial(uint32_t serial) { serial_number = serial; }
static uint8_t frequency(void) { return frequency_code; }
static void set_frequency(uint8_t code) { frequency_code = code; }
static int open_nodes(void) { return open_node_count; }
static int last_open_flags(void) { return last_flags; }

const struct fake_qzusb_api* fake_qzusb_get_api(void)
{
    static const struct fake_qzusb_api api = {
        reset,         set_descriptor, fail_controls, fail_claims,   fail_out,       short_out,
        fail_in,       short_in,       bad_status,    script_reply,  control_count,  last_control,
        claim_count,   release_count,  claimed,       bulk_count,    bulk,           request_count,
        request,       add_target,     remove_target, poke,          peek,           set_version,
        set_serial,    frequency,      set_frequency, open_nodes,    last_open_flags,
    };
    return &api;
}
