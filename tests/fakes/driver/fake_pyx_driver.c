/*
 * A stand-in for the adapters' PYX kernel driver at the system-call edge.
 * Preloaded into a test process, it answers ioctl and mmap on the fixture
 * nodes the test lays out (see fake_pyx_driver.h) and hands every other call
 * to the C library.
 *
 * Record layouts are written out here from the driver's interface on their
 * own, byte offset by byte offset, so that a record the product gets wrong
 * shows up as a wrong answer rather than agreeing by construction.
 */
#define _GNU_SOURCE
#include "fake_pyx_driver.h"

#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#define MAX_FUNCTIONS 16
#define MAX_LOG 4096

enum driver_form { NOT_OURS, NODE_TREE, PER_FUNCTION };
enum node_kind { NODE_OTHER, NODE_CR, NODE_CONF };

struct node {
    enum driver_form form;
    enum node_kind kind;
    char path[256];
    fake_pyx_function* f; /* null: a node of a function the test did not add */
};

static fake_pyx_function* functions[MAX_FUNCTIONS];
static int function_count;
static fake_pyx_request request_log[MAX_LOG];
static int log_count;

typedef int (*ioctl_fn)(int, unsigned long, void*);
typedef void* (*mmap_fn)(void*, size_t, int, int, int, off_t);

static ioctl_fn real_ioctl(void)
{
    static ioctl_fn fn;
    if (fn == NULL) {
        fn = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
    }
    return fn;
}

static mmap_fn real_mmap(void)
{
    static mmap_fn fn;
    if (fn == NULL) {
        fn = (mmap_fn)dlsym(RTLD_NEXT, "mmap");
    }
    return fn;
}

/* ---- the model ---- */

void fake_pyx_reset(void)
{
    for (int i = 0; i < function_count; i++) {
        munmap(functions[i]->cr, functions[i]->cr_size);
        free(functions[i]);
        functions[i] = NULL;
    }
    function_count = 0;
    log_count = 0;
}

fake_pyx_function* fake_pyx_find(unsigned domain, unsigned bus, unsigned dev, unsigned func)
{
    for (int i = 0; i < function_count; i++) {
        fake_pyx_function* f = functions[i];
        if (f->domain == domain && f->bus == bus && f->dev == dev && f->func == func) {
            return f;
        }
    }
    return NULL;
}

fake_pyx_function* fake_pyx_add(unsigned domain, unsigned bus, unsigned dev, unsigned func, uint32_t cr_size)
{
    if (function_count == MAX_FUNCTIONS || cr_size < 4) {
        return NULL;
    }
    fake_pyx_function* f = calloc(1, sizeof *f);
    if (f == NULL) {
        return NULL;
    }
    /* Shared anonymous memory: a mapping of the CR node is a second view of
     * the same pages, so window accesses and driver requests see one space. */
    void* cr = real_mmap()(NULL, cr_size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (cr == MAP_FAILED) {
        free(f);
        return NULL;
    }
    f->domain = domain;
    f->bus = bus;
    f->dev = dev;
    f->func = func;
    f->cr_size = cr_size;
    f->cr = cr;
    f->vsec_supported = 1;
    f->space_support = 0x3FF;
    functions[function_count++] = f;
    return f;
}

static uint32_t bswap32(uint32_t v)
{
    return __builtin_bswap32(v);
}

static int cr_ok(const fake_pyx_function* f, uint64_t addr, uint64_t len)
{
    return addr + len <= f->cr_size;
}

uint32_t fake_pyx_cr_read(fake_pyx_function* f, uint32_t addr)
{
    if (!cr_ok(f, addr, 4)) {
        return 0xFFFFFFFF;
    }
    uint32_t raw;
    memcpy(&raw, f->cr + addr, 4);
    return f->host_order ? raw : bswap32(raw);
}

void fake_pyx_cr_write(fake_pyx_function* f, uint32_t addr, uint32_t value)
{
    if (!cr_ok(f, addr, 4)) {
        return;
    }
    uint32_t raw = f->host_order ? value : bswap32(value);
    memcpy(f->cr + addr, &raw, 4);
}

void fake_pyx_override_request(fake_pyx_function* f, uint32_t code, int fail_errno, int result, int times)
{
    for (int i = 0; i < FAKE_PYX_MAX_OVERRIDES; i++) {
        fake_pyx_override* o = &f->overrides[i];
        if (o->code == 0 || o->code == code) {
            o->code = code;
            o->fail_errno = fail_errno;
            o->result = result;
            o->remaining = times;
            return;
        }
    }
}

int fake_pyx_log_count(void)
{
    return log_count;
}

const fake_pyx_request* fake_pyx_log_entry(int index)
{
    return index >= 0 && index < log_count ? &request_log[index] : NULL;
}

void fake_pyx_log_clear(void)
{
    log_count = 0;
}

int fake_pyx_log_count_code(uint32_t code)
{
    int n = 0;
    for (int i = 0; i < log_count; i++) {
        n += request_log[i].code == code;
    }
    return n;
}

/* ---- nodes ---- */

static int parse_node_text(const char* path, unsigned* d, unsigned* b, unsigned* v, unsigned* fn)
{
    FILE* file = fopen(path, "r");
    if (file == NULL) {
        return 0;
    }
    char line[1024];
    int found = 0;
    while (!found && fgets(line, sizeof line, file) != NULL) {
        const char* at = strstr(line, "domain:bus:dev.fn=");
        if (at != NULL) {
            found = sscanf(at + 18, "%x:%x:%x.%u", d, b, v, fn) == 4;
            continue;
        }
        at = strstr(line, "bus:dev.fn=");
        if (at != NULL) {
            *d = 0;
            found = sscanf(at + 11, "%x:%x:%x.%u", d, b, v, fn) == 4 || sscanf(at + 11, "%x:%x.%u", b, v, fn) == 3;
        }
    }
    fclose(file);
    return found;
}

static struct node lookup(int fd)
{
    struct node n;
    memset(&n, 0, sizeof n);
    if (fd < 0) {
        return n;
    }
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t len = readlink(link, n.path, sizeof n.path - 1);
    if (len <= 0) {
        return n;
    }
    n.path[len] = '\0';
    unsigned d = 0, b = 0, v = 0, fn = 0;
    if (strncmp(n.path, "/dev/pyx/", 9) == 0) {
        const char* base = strrchr(n.path, '/') + 1;
        n.form = NODE_TREE;
        n.kind = strstr(base, "pci_cr") ? NODE_CR : strstr(base, "pciconf") ? NODE_CONF : NODE_OTHER;
        if (parse_node_text(n.path, &d, &b, &v, &fn)) {
            n.f = fake_pyx_find(d, b, v, fn);
        }
        return n;
    }
    char suffix[16] = "";
    if (sscanf(n.path, "/dev/%x:%x:%x.%u_%15s", &d, &b, &v, &fn, suffix) == 5 &&
        (strcmp(suffix, "pyxconf") == 0 || strcmp(suffix, "pyxcr") == 0)) {
        n.form = PER_FUNCTION;
        n.kind = suffix[3] == 'c' && suffix[4] == 'r' ? NODE_CR : NODE_CONF;
        n.f = fake_pyx_find(d, b, v, fn);
    }
    return n;
}

/* ---- records ---- */

static uint32_t get32(const uint8_t* r, size_t at)
{
    uint32_t v;
    memcpy(&v, r + at, 4);
    return v;
}

static void put32(uint8_t* r, size_t at, uint32_t v)
{
    memcpy(r + at, &v, 4);
}

static void put16(uint8_t* r, size_t at, uint16_t v)
{
    memcpy(r + at, &v, 2);
}

static void put64(uint8_t* r, size_t at, uint64_t v)
{
    memcpy(r + at, &v, 8);
}

static uint64_t get64(const uint8_t* r, size_t at)
{
    uint64_t v;
    memcpy(&v, r + at, 8);
    return v;
}

static size_t record_size(unsigned long code)
{
    return (code >> 16) & 0x3FFF;
}

/* A word of an address space: the CR space for space 2, else the small
 * per-space store. */
static uint32_t* space_word(fake_pyx_function* f, uint32_t space, uint32_t offset)
{
    if (space >= FAKE_PYX_SPACES || offset % 4 != 0 || offset / 4 >= FAKE_PYX_SPACE_WORDS) {
        return NULL;
    }
    return &f->space_words[space][offset / 4];
}

void fake_pyx_set_device(fake_pyx_function* f, fake_pyx_space_read_fn read, fake_pyx_space_write_fn write,
                         void* ctx)
{
    f->device_read = read;
    f->device_write = write;
    f->device_ctx = ctx;
}

static int word_read(fake_pyx_function* f, uint32_t space, uint32_t offset, uint32_t* out)
{
    if (f->device_read != NULL) {
        return f->device_read(f->device_ctx, space, offset, out);
    }
    if (space == 2) {
        if (offset % 4 != 0 || !cr_ok(f, offset, 4)) {
            return -EINVAL;
        }
        *out = fake_pyx_cr_read(f, offset);
        return 0;
    }
    uint32_t* w = space_word(f, space, offset);
    if (w == NULL) {
        return -EINVAL;
    }
    *out = *w;
    return 0;
}

static int word_write(fake_pyx_function* f, uint32_t space, uint32_t offset, uint32_t value)
{
    if (f->device_write != NULL) {
        return f->device_write(f->device_ctx, space, offset, value);
    }
    if (space == 2) {
        if (offset % 4 != 0 || !cr_ok(f, offset, 4)) {
            return -EINVAL;
        }
        fake_pyx_cr_write(f, offset, value);
        return 0;
    }
    uint32_t* w = space_word(f, space, offset);
    if (w == NULL) {
        return -EINVAL;
    }
    *w = value;
    return 0;
}

/* The per-function driver takes space 0 as its default, the CR space; a
 * handle that never selected a space sends 0. */
static uint32_t per_function_space(uint32_t space)
{
    return space == 0 ? 2 : space;
}

/* Block records: space at 0, offset at 4, size at 8, data at 12. The size is
 * bounded by the record's data area whatever the code says. */
static int block_read(fake_pyx_function* f, uint32_t space, uint8_t* r)
{
    uint32_t offset = get32(r, 4), size = get32(r, 8);
    if (size > 256 || size % 4 != 0) {
        return -EINVAL;
    }
    for (uint32_t i = 0; i < size; i += 4) {
        uint32_t w;
        int rc = word_read(f, space, offset + i, &w);
        if (rc < 0) {
            return rc;
        }
        put32(r, 12 + i, w);
    }
    return (int)size;
}

static int block_write(fake_pyx_function* f, uint32_t space, uint8_t* r)
{
    uint32_t offset = get32(r, 4), size = get32(r, 8);
    if (size > 256 || size % 4 != 0) {
        return -EINVAL;
    }
    for (uint32_t i = 0; i < size; i += 4) {
        int rc = word_write(f, space, offset + i, get32(r, 12 + i));
        if (rc < 0) {
            return rc;
        }
    }
    return (int)size;
}

/* The normal answer of a request; a negative value is -errno. */
static int answer(const struct node* n, unsigned long code, uint8_t* r)
{
    fake_pyx_function* f = n->f;
    int conf = n->kind == NODE_CONF, cr = n->kind == NODE_CR;
    uint32_t w = 0;
    int rc;

    if (n->form == NODE_TREE) {
        switch (code) {
        case 0x8058D20C: /* version handshake */
            if (!conf) break;
            put16(r, 0, f->version_fields_bad ? 2 : 1);
            put16(r, 4, 1);
            put16(r, 16, 1);
            put32(r, 20, 0x10000);
            return 0;
        case 0x8030D206: /* VSEC information */
            if (!conf) break;
            put32(r, 36, f->vsec_supported);
            put32(r, 40, f->space_support);
            return 0;
        case 0x8008D201: /* word read, old driver: CR space */
            if (!conf) break;
            rc = word_read(f, 2, get32(r, 0), &w);
            if (rc == 0) put32(r, 4, w);
            return rc;
        case 0x4008D202:
            if (!conf) break;
            return word_write(f, 2, get32(r, 0), get32(r, 4));
        case 0x800CD207:
            if (!conf) break;
            rc = word_read(f, get32(r, 0), get32(r, 4), &w);
            if (rc == 0) put32(r, 8, w);
            return rc;
        case 0x400CD208:
            if (!conf) break;
            return word_write(f, get32(r, 0), get32(r, 4), get32(r, 8));
        case 0x810CD204:
        case 0x8008D204:
            if (!conf) break;
            return block_read(f, get32(r, 0), r);
        case 0x410CD205:
            if (!conf) break;
            return block_write(f, get32(r, 0), r);
        case 0x8008D207: /* VPD word */
            if (!conf || get32(r, 0) + 4 > FAKE_PYX_VPD_SIZE) break;
            memcpy(r + 4, f->vpd + get32(r, 0), 4);
            return 0;
        case 0x4008D208:
            if (!conf || get32(r, 0) + 4 > FAKE_PYX_VPD_SIZE) break;
            memcpy(f->vpd + get32(r, 0), r + 4, 4);
            return 0;
        case 0x8008D20F: /* configuration header dword */
            if (!conf || get32(r, 0) % 4 != 0 || get32(r, 0) >= sizeof f->conf_header) break;
            put32(r, 4, f->conf_header[get32(r, 0) / 4]);
            return 0;
        case 0xC410D20A: { /* driver memory */
            uint32_t off = get32(r, 8), size = get32(r, 12);
            if (!conf || size > 1024 || off + size > FAKE_PYX_MEM_SIZE) break;
            if (get32(r, 4)) memcpy(f->mem + off, r + 16, size);
            else memcpy(r + 16, f->mem + off, size);
            return 0;
        }
        case 0x8200D20B: /* memory properties */
            if (!conf) break;
            put64(r, 0, f->mem_props_addr);
            put32(r, 8, f->mem_props_size);
            return 0;
        case 0x8090D20D: { /* register DMA pages */
            uint32_t count = get32(r, 0);
            if (!conf || count > 8) break;
            for (uint32_t i = 0; i < count; i++) {
                put64(r, 16 + 16 * i, 0x100000000ull + 0x1000ull * i);
                f->dma_user_addr[i] = get64(r, 24 + 16 * i);
            }
            f->dma_pages = count;
            return 0;
        }
        case 0x8090D20E:
            if (!conf) break;
            f->dma_pages = 0;
            return 0;
        case 0x8010D102: /* CR window length */
            if (!cr) break;
            put64(r, 0, 0);
            put64(r, 8, f->cr_size);
            return 0;
        case 0x8004D103: /* work-around function index */
            if (!cr) break;
            put32(r, 0, f->function_index);
            return 0;
        }
        return -ENOTTY;
    }

    switch (code) { /* per-function driver */
    case 0x8028D001:
        if (!conf) break;
        put32(r, 36, f->vsec_supported);
        return 0;
    case 0x8004D501:
        if (!cr) break;
        put32(r, 0, f->function_index);
        return 0;
    case 0x800CD101:
        rc = word_read(f, per_function_space(get32(r, 0)), get32(r, 4), &w);
        if (rc == 0) put32(r, 8, w);
        return rc;
    case 0x400CD102:
        return word_write(f, per_function_space(get32(r, 0)), get32(r, 4), get32(r, 8));
    case 0x810CD203:
    case 0x800CD203:
        if (!conf) break;
        return block_read(f, per_function_space(get32(r, 0)), r);
    case 0x410CD204:
        if (!conf) break;
        return block_write(f, per_function_space(get32(r, 0)), r);
    case 0x800CD601:
        if (!conf || get32(r, 0) + 4 > FAKE_PYX_VPD_SIZE) break;
        memcpy(r + 8, f->vpd + get32(r, 0), 4);
        return 0;
    }
    return -ENOTTY;
}

static void log_request(const struct node* n, unsigned long code, const uint8_t* r, size_t size)
{
    if (log_count == MAX_LOG) {
        return;
    }
    fake_pyx_request* e = &request_log[log_count++];
    memset(e, 0, sizeof *e);
    e->code = (uint32_t)code;
    snprintf(e->node, sizeof e->node, "%s", n->path);
    if (r != NULL) {
        memcpy(e->record, r, size < sizeof e->record ? size : sizeof e->record);
    }
}

int ioctl(int fd, unsigned long request, ...)
{
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);

    struct node n = lookup(fd);
    if (n.form == NOT_OURS) {
        return real_ioctl()(fd, request, arg);
    }
    uint8_t* r = arg;
    log_request(&n, request, r, record_size(request));
    fake_pyx_request* entry = &request_log[log_count - 1];
    if (n.f == NULL || r == NULL) {
        entry->result = -1;
        errno = n.f == NULL ? ENODEV : EFAULT;
        return -1;
    }
    int rc = answer(&n, request, r);
    for (int i = 0; i < FAKE_PYX_MAX_OVERRIDES; i++) {
        fake_pyx_override* o = &n.f->overrides[i];
        if (o->code == (uint32_t)request && o->remaining != 0) {
            if (o->remaining > 0) {
                o->remaining--;
            }
            if (o->fail_errno) {
                entry->result = -1;
                errno = o->fail_errno;
                return -1;
            }
            rc = o->result;
            break;
        }
    }
    if (rc < 0) {
        entry->result = -1;
        errno = -rc;
        return -1;
    }
    entry->result = rc;
    return rc;
}

void* mmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset)
{
    struct node n = fd >= 0 ? lookup(fd) : (struct node){0};
    if (n.form != NODE_TREE || n.kind != NODE_CR) {
        return real_mmap()(addr, length, prot, flags, fd, offset);
    }
    if (n.f == NULL || n.f->mmap_fails || offset < 0 || (uint64_t)offset + length > n.f->cr_size ||
        offset % 4096 != 0 || !(flags & MAP_SHARED)) {
        errno = n.f == NULL ? ENODEV : n.f->mmap_fails ? ENOMEM : EINVAL;
        return MAP_FAILED;
    }
    /* A second view of the model's CR pages at the asked address. */
    void* view = mremap(n.f->cr + offset, 0, length, MREMAP_MAYMOVE);
    if (view == MAP_FAILED) {
        return MAP_FAILED;
    }
    n.f->maps++;
    return view;
}

void* mmap64(void* addr, size_t length, int prot, int flags, int fd, off_t offset)
{
    return mmap(addr, length, prot, flags, fd, offset);
}
