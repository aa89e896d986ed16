/*
 * The remote client: opening a device of another host through its device
 * server, the transport (TCP or the SSH utility plug-in), the version rules
 * and the requests other operations of the core send through it.
 *
 * Contracts kept by every request here:
 * - a reply is read into a buffer of the size its request fixes; a reply
 *   that does not fit is drained to its NUL and is an error, so the next
 *   reply stays in step;
 * - a reply is parsed only within its text; a short or malformed one is an
 *   error and leaves the caller's buffers untouched;
 * - every wait on a TCP server is bounded (kelvra_remote::reply_timeout_ms);
 *   a server that stalls, or ends a reply early, loses its connection, and
 *   every later request of the handle fails at once;
 * - a TCP connection that has bytes waiting before a request is sent (a
 *   reply nobody asked for) is out of step and is dropped the same way.
 */
#include "access/debug_trace.h"
#include "access/remote.h"

#include <ctype.h>
#include <errno.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "access/dl_ctx.h"
#include "access/mfile_internal.h"
#include "access/plugin_loader.h"
#include "access/remote_internal.h"

int remote_optimization = 0;

namespace kelvra_remote {

bool parse_number(const char* text, const char** end, uint32_t* value)
{
    if (!isdigit((unsigned char)text[0])) {
        return false;
    }
    char* stop = nullptr;
    errno = 0;
    unsigned long long v = strtoull(text, &stop, 0);
    if (stop == text || errno == ERANGE || v > 0xFFFFFFFFull) {
        return false;
    }
    *value = (uint32_t)v;
    *end = stop;
    return true;
}

}  // namespace kelvra_remote

namespace {

using kelvra_remote::FrameEnd;

constexpr int kSshSetUp = DL_SET_UP_CLIENT_CONNECTION;
constexpr int kSshShutDown = DL_SHUT_DOWN_SSH;
constexpr int kSshWrite = DL_WRITE_SSH;
constexpr int kSshRead = DL_READ_SSH;
constexpr int kSshRemoveHost = DL_REMOVE_HOST;
constexpr int kSshAddHost = DL_ADD_HOST;

// Reply buffers of the requests sent from here (NUL included).
constexpr int kVersionReply = 8;
constexpr int kOpenReply = 8;
constexpr int kCloseReply = 10;
constexpr int kDeviceIdReply = 20;
constexpr int kAddrSpaceReply = 1536;
constexpr int kScanReply = 1024;
constexpr int kIcmdReply = 4123;
constexpr int kCableReply = 4123;
constexpr int kRelayReply = 256;

// The open request shares one 50-byte buffer with its replies.
constexpr int kOpenRequestSize = 50;
constexpr size_t kMaxDevicePart = 36;
// The largest ICMD data whose request text ("I 0x%04x 0x%04x W 0x" and two
// hex digits per byte) and reply fit the 4123-byte buffers.
constexpr int kMaxIcmdSize = 2049;
constexpr uint32_t kCableChunk = 2048;
// A plug-in's read_ssh gets no size; it writes into this scratch buffer
// (larger than any reply of the protocol) and the reply is copied from it
// within the caller's buffer.
constexpr size_t kSshScratch = 8192;
// The longest rest of an overlong reply that is drained before the
// connection is given up.
constexpr size_t kDrainCap = 64 * 1024;

using access_trace::debug_on;

void debug(const char* format, ...) __attribute__((format(printf, 1, 2)));
void debug(const char* format, ...)
{
    if (!debug_on()) {
        return;
    }
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
}

int fail(int err)
{
    errno = err;
    return -1;
}

// ---- the SSH utility plug-in ----

using SetUpFn = int (*)(const char*, int, void**);
using ShutDownFn = int (*)(void*);
using WriteFn = int (*)(const char*, void*);
using ReadFn = int (*)(char*, void*);
using RemoveHostFn = void (*)(const char*, int);
using AddHostFn = void (*)(const char*, int, const char*);

// The entry in a slot, or null after the message of the missing piece.
void* ssh_entry(mFile* mf, int slot, const char* name)
{
    if (mf->ssh_dl_ctx == nullptr) {
        debug("-E- Failed to load library: %s\n", "ssh_utility_wrapper");
        return nullptr;
    }
    void* entry = mf->ssh_dl_ctx->entries[slot];
    if (entry == nullptr) {
        debug("-E- Failed to load function: %s\n", name);
        errno = EOPNOTSUPP;
    }
    return entry;
}

int ssh_set_up(mFile* mf, const char* host, int port)
{
    auto fn = reinterpret_cast<SetUpFn>(ssh_entry(mf, kSshSetUp, "set_up_client_connection"));
    if (fn == nullptr) {
        return -1;
    }
    debug("-D- Calling %s\n", "set_up_client_connection");
    int rc = fn(host, port, &mf->ssh_client);
    debug("-D- %s return: %d\n", "set_up_client_connection", rc);
    return rc;
}

int ssh_shut_down(mFile* mf)
{
    auto fn = reinterpret_cast<ShutDownFn>(ssh_entry(mf, kSshShutDown, "shut_down_ssh"));
    if (fn == nullptr) {
        return -1;
    }
    debug("-D- Calling %s\n", "shut_down_ssh");
    int rc = fn(mf->ssh_client);
    debug("-D- %s return: %d\n", "shut_down_ssh", rc);
    return rc;
}

int ssh_write(mFile* mf, const char* request)
{
    auto fn = reinterpret_cast<WriteFn>(ssh_entry(mf, kSshWrite, "write_ssh"));
    if (fn == nullptr) {
        return -1;
    }
    debug("-D- Calling %s\n", "write_ssh");
    int rc = fn(request, mf->ssh_client);
    debug("-D- %s return: %d\n", "write_ssh", rc);
    return rc;
}

int ssh_read(mFile* mf, char* reply)
{
    auto fn = reinterpret_cast<ReadFn>(ssh_entry(mf, kSshRead, "read_ssh"));
    if (fn == nullptr) {
        return -1;
    }
    debug("-D- Calling %s\n", "read_ssh");
    int rc = fn(reply, mf->ssh_client);
    debug("-D- %s return: %d\n", "read_ssh", rc);
    return rc;
}

void free_ssh_ctx(mFile* mf)
{
    if (mf->ssh_dl_ctx != nullptr) {
        qzcr_utils_free_dl_ctx(mf->ssh_dl_ctx);
        mf->ssh_dl_ctx = nullptr;
    }
}

// ---- parsing replies ----

using kelvra_remote::parse_number;

// The whole text is one number.
bool parse_whole_number(const char* text, uint32_t* value)
{
    const char* end = nullptr;
    return parse_number(text, &end, value) && *end == '\0';
}

int hex_digit(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// The data of an 'O' reply to "I", "x" or "X": after 'O' and one character
// an optional "0x", then exactly two hex digits per byte. Decoded into out
// (length bytes) only when the whole text is well formed.
bool parse_hex_data(const char* reply, uint8_t* out, size_t length)
{
    const char* p = reply + 1;
    if (*p == '\0') {
        return length == 0;
    }
    p++;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        p += 2;
    }
    if (strlen(p) != 2 * length) {
        return false;
    }
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; i++) {
        int hi = hex_digit(p[2 * i]);
        int lo = hex_digit(p[2 * i + 1]);
        if (hi < 0 || lo < 0) {
            return false;
        }
        bytes[i] = (uint8_t)(hi << 4 | lo);
    }
    if (length > 0) {
        memcpy(out, bytes.data(), length);
    }
    return true;
}

void append_hex(std::string& out, const uint8_t* bytes, size_t length)
{
    static const char digits[] = "0123456789abcdef";
    for (size_t i = 0; i < length; i++) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 0xF];
    }
}

// One request and its reply; false when either failed (reply then holds "").
bool exchange(mFile* mf, const char* request, char* reply, int size)
{
    reply[0] = '\0';
    return remote_write(mf, request) >= 0 && remote_read(mf, reply, size) >= 0;
}

// A failed open after the connection: nothing stays open.
int fail_open(mFile* mf, int err)
{
    close_remote_connection(mf);
    free_ssh_ctx(mf);
    mf->remote = 0;
    mf->remote_ssh = 0;
    mf->remote_sock = -1;
    errno = err;
    return -1;
}

void sig_pipe(int)
{
    puts("Got SIGPIPE...");
}

void install_sig_pipe()
{
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = sig_pipe;
    sigemptyset(&sa.sa_mask);
    if (sigaction(SIGPIPE, &sa, nullptr) != 0) {
        puts("Error installing signal handler");
        exit(1);
    }
}

}  // namespace

extern "C" {

// ---- remote version messages ----

int is_warning_enabled(void)
{
    return getenv("QZCR_REMOTE_WARN") != nullptr ? 1 : 0;
}

void print_ver_warn(int major, int minor)
{
    if (is_warning_enabled()) {
        fprintf(stderr,
                "-W- The PYX remote version %d.%d is older than local client version %d.%d. Some features may "
                "not work.\n",
                major, minor, REMOTE_CLIENT_VER_MAJOR, REMOTE_CLIENT_VER_MINOR);
    }
}

void print_ver_err(int major, int minor)
{
    fprintf(stderr,
            "-E- The PYX remote version mismatch: Remote Server: %d.%d, Local Client: %d.%d. Please install a newer "
            "TOV.\n",
            major, minor, REMOTE_CLIENT_VER_MAJOR, REMOTE_CLIENT_VER_MINOR);
}

// ---- the transport ----

int get_ssh_timeout_env_variable(void)
{
    const char* value = getenv("SSH_TIMEOUT");
    if (value == nullptr) {
        return -1;
    }
    char* end = nullptr;
    long v = strtol(value, &end, 0);
    if (*end != '\0') {
        debug("bad format given for SSH environment variable!");
        return -1;
    }
    return (int)v;
}

int open_remote_connection_client_side(mFile* mf, const char* host, int port, bool tcp_only)
try {
    if (mf == nullptr || host == nullptr) {
        return fail(EINVAL);
    }
    int ssh_timeout = get_ssh_timeout_env_variable();
    bool ssh_failed = false;
    if (ssh_timeout != 0 && !tcp_only) {
        struct dl_ctx* ctx = qzcr_utils_load_dl_ctx(DL_KIND_SSH_UTILITY);
        if (ctx == nullptr) {
            // Without the plug-in, TCP still reaches the server.
            debug("-E- Failed to load library: ssh utility shared library\n");
        } else {
            mf->ssh_dl_ctx = ctx;
            mf->ssh_client = nullptr;
            int rc = ssh_set_up(mf, host, port);
            if (rc == 0 && mf->ssh_client != nullptr) {
                debug("SSH connection successful.");
                mf->remote = 1;
                mf->remote_ssh = 1;
                return 0;
            }
            if (rc == 1) {
                debug("SSH connection failed - too many login attempts.");
                return -1;
            }
            ssh_failed = true;
        }
    }
    debug("SSH connection failed - falling back to tcp connection.");
    // The pause gives a server that just refused SSH time to settle; with no
    // SSH attempt there is nothing to wait for.
    if (ssh_failed) {
        sleep_function(1);
    }
    int fd = open_cli_connection(host, port);
    if (fd < 0) {
        debug("tcp connection failed.");
        return -1;
    }
    mf->remote_sock = fd;
    mf->remote_ssh = 0;
    mf->remote = 1;
    return 0;
} catch (...) {
    return fail(ENOMEM);
}

int close_remote_connection(mFile* mf)
{
    if (mf == nullptr) {
        return fail(EINVAL);
    }
    if (mf->remote_ssh) {
        if (mf->ssh_client == nullptr) {
            return 0;
        }
        int rc = ssh_shut_down(mf);
        mf->ssh_client = nullptr;
        return rc;
    }
    if (mf->remote_sock >= 0) {
        close(mf->remote_sock);
    }
    mf->remote_sock = -1;
    return 0;
}

int remote_write(mFile* mf, const char* request)
try {
    if (mf == nullptr || request == nullptr) {
        return fail(EINVAL);
    }
    plog("%s\n", request);
    if (mf->remote_ssh) {
        if (mf->ssh_client == nullptr) {
            return fail(EBADF);
        }
        int rc = ssh_write(mf, request);
        return rc < 0 ? -1 : rc;
    }
    if (mf->remote_sock < 0) {
        return fail(EBADF);
    }
    // Every reply of this connection so far has been read. Anything waiting
    // now would be read as the answer to this request, and each later answer
    // as that of the request before it (a write refused by the server
    // reported as done): the connection is out of step and is dropped.
    int out_of_step = 0;
    if (kelvra_remote::input_waiting(mf->remote_sock, &out_of_step)) {
        close_remote_connection(mf);
        return fail(out_of_step);
    }
    size_t length = strlen(request) + 1;
    if (!kelvra_remote::write_all(mf->remote_sock, request, length, kelvra_remote::reply_timeout_ms)) {
        // Part of the request may have gone out: the stream is out of step.
        int e = errno;
        close_remote_connection(mf);
        return fail(e);
    }
    return (int)length;
} catch (...) {
    return fail(ENOMEM);
}

int remote_read(mFile* mf, char* reply, int size)
try {
    if (reply == nullptr || size < 1) {
        return fail(EINVAL);
    }
    reply[0] = '\0';
    if (mf == nullptr || size < 2) {
        return fail(EINVAL);
    }
    if (mf->remote_ssh) {
        if (mf->ssh_client == nullptr) {
            return fail(EBADF);
        }
        std::vector<char> scratch(kSshScratch, '\0');
        int rc = ssh_read(mf, scratch.data());
        scratch.back() = '\0';
        if (rc < 0) {
            return fail(EIO);
        }
        size_t length = strlen(scratch.data());
        if (length > (size_t)size - 1) {
            return fail(EMSGSIZE);
        }
        memcpy(reply, scratch.data(), length + 1);
        return (int)length;
    }
    if (mf->remote_sock < 0) {
        return fail(EBADF);
    }
    int count = 0;
    FrameEnd end = kelvra_remote::read_frame(mf->remote_sock, reply, size, kelvra_remote::reply_timeout_ms, &count);
    int err = 0;
    switch (end) {
    case FrameEnd::kNul:
        plog("%s\n", reply);
        return count;
    case FrameEnd::kFull: {
        size_t dropped = 0;
        bool reached = kelvra_remote::drain_frame(mf->remote_sock, kelvra_remote::reply_timeout_ms, kDrainCap,
                                                  &dropped);
        if (reached && dropped == 0) {
            // The text filled the buffer exactly; its NUL came next.
            return count;
        }
        reply[0] = '\0';
        if (reached) {
            return fail(EMSGSIZE);
        }
        err = EMSGSIZE;
        break;
    }
    case FrameEnd::kEnd:
        err = ECONNRESET;
        break;
    case FrameEnd::kTimeout:
        err = ETIMEDOUT;
        break;
    case FrameEnd::kError:
        err = errno != 0 ? errno : EIO;
        break;
    }
    // The rest of this reply may still come and would be taken for the next
    // one: the connection is of no further use.
    reply[0] = '\0';
    close_remote_connection(mf);
    return fail(err);
} catch (...) {
    if (reply != nullptr && size >= 1) {
        reply[0] = '\0';
    }
    return fail(ENOMEM);
}

// ---- names and opening ----

int parse_remote_device_name(const char* name, char* buf, int* port, char** device)
{
    if (name == nullptr || buf == nullptr || port == nullptr || device == nullptr) {
        return fail(EINVAL);
    }
    const char* slash = strrchr(name, '/');
    const char* text = slash != nullptr ? slash + 1 : name;
    size_t length = strnlen(text, REMOTE_NAME_BUF_SIZE - 2);
    memcpy(buf, text, length);
    buf[length] = '\0';
    for (char* p = buf; *p != '\0'; p++) {
        if (*p == '@') {
            *p = '/';
        }
    }
    char* colon = strchr(buf, ':');
    char* comma = strchr(buf, ',');
    if (colon == nullptr || comma == nullptr || comma < colon) {
        return fail(EINVAL);
    }
    long value = 0;
    for (const char* p = colon + 1; isdigit((unsigned char)*p); p++) {
        value = value * 10 + (*p - '0');
        if (value > 65535) {
            return fail(EINVAL);
        }
    }
    *colon = '\0';
    *port = (int)value;
    *device = comma + 1;
    return 0;
}

int parse_remote_version(mFile* mf, const char* reply)
{
    if (mf == nullptr || reply == nullptr) {
        return fail(EINVAL);
    }
    mf->remote_ver_major = 0;
    mf->remote_ver_minor = 0;
    if (reply[0] != 'O' || reply[1] == '\0') {
        return fail(EPROTO);
    }
    uint32_t major = 0, minor = 0;
    const char* end = nullptr;
    if (!parse_number(reply + 2, &end, &major) || major > 0x7FFFFFFF) {
        return fail(EPROTO);
    }
    mf->remote_ver_major = (int32_t)major;
    if (*end == '\0' || !parse_number(end + 1, &end, &minor) || minor > 0x7FFFFFFF) {
        return fail(EPROTO);
    }
    mf->remote_ver_minor = (int32_t)minor;
    return 0;
}

int get_remote_version(mFile* mf)
{
    if (mf == nullptr) {
        return fail(EINVAL);
    }
    char reply[kVersionReply];
    if (remote_write(mf, "V") < 0) {
        close_remote_connection(mf);
        return -1;
    }
    if (remote_read(mf, reply, sizeof reply) < 0) {
        close_remote_connection(mf);
        return -1;
    }
    if (reply[0] == 'O') {
        bool well_formed = parse_remote_version(mf, reply) == 0;
        int major = mf->remote_ver_major, minor = mf->remote_ver_minor;
        if (well_formed && major == REMOTE_CLIENT_VER_MAJOR) {
            if (minor < REMOTE_CLIENT_VER_MINOR) {
                print_ver_warn(major, minor);
            }
            return 0;
        }
        print_ver_err(major, minor);
        close_remote_connection(mf);
        return fail(EPROTO);
    }
    if (reply[0] == 'E') {
        print_ver_warn(1, 0);
    }
    mf->remote_ver_major = 0;
    mf->remote_ver_minor = 0;
    return 0;
}

int remote_set_i2c_address(mFile* mf)
{
    char request[32];
    snprintf(request, sizeof request, "i %d", force_i2c_address);
    return remote_write(mf, request) < 0 ? -1 : 0;
}

int send_remote_open_cmd(mFile* mf, const char* device, int i2c_addr_type, char* reply)
{
    if (mf == nullptr || device == nullptr || reply == nullptr) {
        return fail(EINVAL);
    }
    char request[kOpenRequestSize];
    int n = snprintf(request, sizeof request, "O 0x%08x %s", (unsigned)i2c_addr_type, device);
    if (n < 0 || n >= (int)sizeof request) {
        return fail(EINVAL);
    }
    if (remote_write(mf, request) < 0 || remote_read(mf, reply, kOpenReply) < 0) {
        return -1;
    }
    return 0;
}

int remote_get_vsec_info(mFile* mf, const char* reply)
{
    if (mf == nullptr || reply == nullptr) {
        return fail(EINVAL);
    }
    if (mf->remote_ver_minor > 3) {
        // A bare "O" says nothing of the capability: the server has none to
        // offer. Anything after it must be the number.
        uint32_t value = 0;
        if (reply[0] != 'O' || (reply[1] != '\0' && !parse_whole_number(reply + 2, &value))) {
            return fail(EPROTO);
        }
        mf->vsec_supported = value;
    }
    if (mf->vsec_supported) {
        mf->addr_space = 2;
    }
    return 0;
}

int remote_open(const char* name, mFile* mf, int i2c_addr_type)
try {
    if (name == nullptr || mf == nullptr) {
        return fail(EINVAL);
    }
    char host[REMOTE_NAME_BUF_SIZE];
    int port = 0;
    char* device = nullptr;
    if (parse_remote_device_name(name, host, &port, &device) != 0) {
        return -1;
    }
    // The open request holds at most this much of the device part; a longer
    // one would be sent cut, naming another device.
    if (strlen(device) > kMaxDevicePart) {
        return fail(EINVAL);
    }
    if (open_remote_connection_client_side(mf, host, port, strstr(name, "emu_virtual") != nullptr) != 0) {
        int e = errno != 0 ? errno : ECONNREFUSED;
        return fail_open(mf, e);
    }
    if (get_remote_version(mf) != 0) {
        return fail_open(mf, errno != 0 ? errno : EIO);
    }
    if (force_i2c_address != -1 && remote_set_i2c_address(mf) != 0) {
        return fail_open(mf, errno != 0 ? errno : EIO);
    }
    char reply[kOpenReply];
    if (send_remote_open_cmd(mf, device, i2c_addr_type, reply) != 0) {
        return fail_open(mf, errno != 0 ? errno : EIO);
    }
    if (reply[0] != 'O') {
        return fail_open(mf, ENOENT);
    }
    if (remote_get_vsec_info(mf, reply) != 0) {
        return fail_open(mf, EPROTO);
    }
    mf->i2c_addr_type = (uint32_t)i2c_addr_type;
    install_sig_pipe();
    mf->dev_flags = get_device_flags(name);
    return 0;
} catch (...) {
    return fail(ENOMEM);
}

int mclose_remote(mFile* mf)
{
    if (mf == nullptr) {
        return 1;
    }
    char reply[kCloseReply];
    int result = exchange(mf, "C", reply, sizeof reply) && reply[0] == 'O' ? 0 : 1;
    close_remote_connection(mf);
    free_ssh_ctx(mf);
    mf->remote_sock = -1;
    return result;
}

// ---- version rules ----

int remote_server_supports_icmd(mFile* mf)
{
    return mf != nullptr && mf->remote && mf->remote_ver_minor > 4 ? 1 : 0;
}

int remote_server_supports_read_devid(mFile* mf)
{
    return mf != nullptr && mf->remote && mf->remote_ver_minor > 5 ? 1 : 0;
}

int remote_server_supports_icmd_syndrome(mFile* mf)
{
    return mf != nullptr && mf->remote && mf->remote_ver_minor > 5 ? 1 : 0;
}

// ---- requests of other operations ----

int remote_read_device_id(mFile* mf, unsigned int* device_id)
{
    if (mf == nullptr || device_id == nullptr) {
        return fail(EINVAL);
    }
    char reply[kDeviceIdReply];
    uint32_t value = 0;
    if (!exchange(mf, "D", reply, sizeof reply) || reply[0] != 'O' || reply[1] == '\0' ||
        !parse_whole_number(reply + 2, &value)) {
        return fail(EIO);
    }
    *device_id = value;
    return 4;
}

int set_remote_addr_space(mFile* mf, int space)
{
    if (mf == nullptr || space < 0 || space > 15) {
        return -1;
    }
    if (mf->remote_ver_minor <= 3) {
        return -1;
    }
    if (remote_optimization && mf->addr_space == (uint32_t)space) {
        return 0;
    }
    char request[16];
    snprintf(request, sizeof request, "A 0x%x", (unsigned)space);
    std::vector<char> reply(kAddrSpaceReply);
    if (!exchange(mf, request, reply.data(), kAddrSpaceReply) || reply[0] != 'O') {
        return -1;
    }
    mf->addr_space = (uint32_t)space;
    return 0;
}

int icmd_send_command_remote(mFile* mf, int opcode, void* data, int size, int skip_write)
try {
    if (mf == nullptr || size < 0 || (data == nullptr && size > 0)) {
        return ME_BAD_PARAMS;
    }
    // Neither the request's data nor the reply's would fit their buffers.
    if (size > kMaxIcmdSize) {
        return ME_ICMD_SIZE_EXCEEDS_LIMIT;
    }
    char head[32];
    snprintf(head, sizeof head, "I 0x%04x 0x%04x %c", (unsigned)opcode & 0xFFFF, (unsigned)size,
             skip_write ? 'R' : 'W');
    std::string request = head;
    if (!skip_write) {
        request += " 0x";
        append_hex(request, static_cast<const uint8_t*>(data), (size_t)size);
    }
    std::vector<char> reply(kIcmdReply);
    if (remote_write(mf, request.c_str()) < 0 || remote_read(mf, reply.data(), kIcmdReply) < 0) {
        close_remote_connection(mf);
        return -1;
    }
    if (reply[0] == 'O') {
        return parse_hex_data(reply.data(), static_cast<uint8_t*>(data), (size_t)size) ? ME_OK
                                                                                       : ME_ICMD_STATUS_CR_FAIL;
    }
    // "<letter> <status> [<syndrome>]"
    std::vector<std::string> words;
    std::string word;
    for (const char* p = reply.data(); *p != '\0'; p++) {
        if (*p == ' ') {
            if (!word.empty()) {
                words.push_back(word);
                word.clear();
            }
        } else {
            word += *p;
        }
    }
    if (!word.empty()) {
        words.push_back(word);
    }
    uint32_t status = 0;
    // An error reply never means success, whatever number it carries.
    if (words.size() < 2 || !parse_whole_number(words[1].c_str(), &status) || status == 0 || status > 0x7FFFFFFF) {
        return ME_ICMD_UNKNOWN_STATUS;
    }
    uint32_t syndrome = 0;
    if (remote_server_supports_icmd_syndrome(mf) && words.size() >= 3 &&
        parse_whole_number(words[2].c_str(), &syndrome)) {
        mf->icmd.last_syndrome = syndrome;
    }
    return (int)status;
} catch (...) {
    return ME_MEM_ERROR;
}

int remote_i2c_detect(mFile* mf, uint8_t* map)
try {
    if (mf == nullptr || map == nullptr) {
        return fail(EINVAL);
    }
    memset(map, 0, 128);
    std::vector<char> reply(kScanReply);
    if (!exchange(mf, "S", reply.data(), kScanReply) || reply[0] != 'O') {
        return fail(EIO);
    }
    if (reply[1] == '\0') {
        return 0;
    }
    uint8_t found[128] = {0};
    const char* p = reply.data() + 2;
    while (*p != '\0') {
        uint32_t address = 0;
        const char* end = nullptr;
        if (!parse_number(p, &end, &address) || (*end != '\0' && *end != ' ')) {
            return fail(EIO);
        }
        // The map has one entry per 7-bit address; others are not ours.
        if (address < sizeof found) {
            found[address] = 1;
        }
        p = *end == ' ' ? end + 1 : end;
    }
    memcpy(map, found, sizeof found);
    return 0;
} catch (...) {
    return fail(ENOMEM);
}

// ---- relays ----

int dozudov_remote_operation_client_side(mFile* mf, uint32_t offset, uint32_t length, uint8_t* buffer, int write)
try {
    if (length == 0) {
        return 0;
    }
    if (mf == nullptr || buffer == nullptr) {
        errno = EINVAL;
        return 6;
    }
    std::vector<char> reply(kCableReply);
    for (uint32_t done = 0; done < length;) {
        uint32_t chunk = length - done < kCableChunk ? length - done : kCableChunk;
        char head[40];
        snprintf(head, sizeof head, "%c 0x%08x 0x%08x", write ? 'X' : 'x', offset + done, chunk);
        std::string request = head;
        if (write) {
            request += " 0x";
            append_hex(request, buffer + done, chunk);
        }
        // A write's reply only acknowledges: the caller's data is never
        // overwritten by what the server sends back.
        if (!exchange(mf, request.c_str(), reply.data(), kCableReply) || reply[0] != 'O' ||
            (!write && !parse_hex_data(reply.data(), buffer + done, chunk))) {
            errno = EIO;
            return 6;
        }
        done += chunk;
    }
    return 0;
} catch (...) {
    errno = ENOMEM;
    return 6;
}

int dozudov_remote_operation_server_side(mFile* mf, uint32_t offset, uint32_t length, uint8_t* buffer, int write)
{
    if (mf == nullptr) {
        return -1;
    }
    // A context already loaded into the handle is used again, not leaked.
    if (mf->dl_ctx == nullptr) {
        mf->dl_ctx = qzcr_utils_load_dl_ctx(DL_KIND_CABLES);
        if (mf->dl_ctx == nullptr) {
            mf->dl_ctx = qzcr_utils_load_dl_ctx(DL_KIND_CABLES_RETRY);
        }
    }
    if (mf->dl_ctx == nullptr) {
        return -1;
    }
    using BytesFn = int (*)(mFile*, uint32_t, uint8_t*, uint32_t);
    auto read_bytes = reinterpret_cast<BytesFn>(mf->dl_ctx->entries[DL_DOZUDOV_READ_BYTES]);
    auto write_bytes = reinterpret_cast<BytesFn>(mf->dl_ctx->entries[DL_DOZUDOV_WRITE_BYTES]);
    if (read_bytes == nullptr || write_bytes == nullptr) {
        return -1;
    }
    if (write == 0) {
        return read_bytes(mf, offset, buffer, length);
    }
    if (write == 1) {
        return write_bytes(mf, offset, buffer, length);
    }
    return -1;
}

// Pieces of one relayed command's output at most; more are not awaited.
static const int kRelayMaxReplies = 65536;

namespace {

// Reads the relayed output a piece at a time: a reply longer than the piece
// buffer comes in several pieces, the first ones of size - 1 characters.
class RelayReader {
public:
    explicit RelayReader(mFile* mf) : mf_(mf) {}

    // The piece's length (0 for an empty reply), or -1 on a failed read.
    int next(char* piece, int size)
    {
        piece[0] = '\0';
        return mf_->remote_ssh ? next_ssh(piece, size) : next_tcp(piece, size);
    }

private:
    int next_tcp(char* piece, int size)
    {
        if (mf_->remote_sock < 0) {
            return fail(EBADF);
        }
        for (;;) {
            int count = 0;
            FrameEnd end =
                kelvra_remote::read_frame(mf_->remote_sock, piece, size, kelvra_remote::reply_timeout_ms, &count);
            if (end == FrameEnd::kFull) {
                in_long_reply_ = true;
                return count;
            }
            if (end != FrameEnd::kNul) {
                // The connection is out of step or gone.
                close_remote_connection(mf_);
                return fail(end == FrameEnd::kTimeout ? ETIMEDOUT : EIO);
            }
            bool ended_long_reply = in_long_reply_;
            in_long_reply_ = false;
            // The NUL right after a full piece ends that reply; it is no
            // empty reply of its own.
            if (count == 0 && ended_long_reply) {
                continue;
            }
            return count;
        }
    }

    int next_ssh(char* piece, int size)
    {
        if (rest_.empty()) {
            std::vector<char> scratch(kSshScratch, '\0');
            if (mf_->ssh_client == nullptr || ssh_read(mf_, scratch.data()) < 0) {
                return fail(EIO);
            }
            scratch.back() = '\0';
            rest_ = scratch.data();
            if (rest_.empty()) {
                return 0;
            }
        }
        size_t take = std::min(rest_.size(), (size_t)size - 1);
        memcpy(piece, rest_.data(), take);
        piece[take] = '\0';
        rest_.erase(0, take);
        return (int)take;
    }

    mFile* mf_;
    bool in_long_reply_ = false;
    std::string rest_;
};

}  // namespace

int qrvcables_remote_operation_client_side(mFile* mf, const char* text, char cmd, char letter, const char* extra)
try {
    if (mf == nullptr || text == nullptr) {
        return 0;
    }
    std::string request;
    request += cmd;
    request += ' ';
    request += text;
    request += ' ';
    request += letter;
    if (extra != nullptr && strcmp(extra, "0") != 0) {
        request += ' ';
        request += extra;
    }
    if (remote_write(mf, request.c_str()) < 0) {
        return -1;
    }
    // The server streams the command's output until "Finished". A failed
    // read, or a server that never finishes, ends the relay as a failure.
    RelayReader reader(mf);
    char reply[kRelayReply];
    int rc = -1;
    for (int count = 0; count < kRelayMaxReplies; count++) {
        if (reader.next(reply, sizeof reply) <= 0) {
            break;
        }
        if (strstr(reply, "Finished") != nullptr) {
            rc = 0;
            break;
        }
        printf("%s", reply);
    }
    fflush(stdout);
    return rc;
} catch (...) {
    return -1;
}

// ---- host management of the SSH plug-in ----

void add_remote_host(mFile* mf, const char* host, int port, const char* third)
{
    if (mf == nullptr) {
        return;
    }
    auto fn = reinterpret_cast<AddHostFn>(ssh_entry(mf, kSshAddHost, "add_host"));
    if (fn == nullptr) {
        return;
    }
    debug("-D- Calling %s\n", "add_host");
    fn(host, port, third);
    debug("-D- %s return: %d\n", "add_host", 0);
}

void remove_remote_host(mFile* mf, const char* host, int port)
{
    if (mf == nullptr) {
        return;
    }
    auto fn = reinterpret_cast<RemoveHostFn>(ssh_entry(mf, kSshRemoveHost, "remove_host"));
    if (fn == nullptr) {
        return;
    }
    debug("-D- Calling %s\n", "remove_host");
    fn(host, port);
    debug("-D- %s return: %d\n", "remove_host", 0);
}

}  // extern "C"
