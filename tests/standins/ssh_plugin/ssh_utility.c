/*
 * Stand-in for the platform's SSH utility plug-in, for tests only. Its
 * results are chosen by the test through the environment, read at each
 * call:
 *
 *   KELVRA_SSH_STANDIN_CONNECT    result of set_up_client_connection (default
 *                                 0: connect). Any other value is returned
 *                                 at once and nothing is connected.
 *   KELVRA_SSH_STANDIN_FORWARD    "host:port" the "SSH" connection really
 *                                 reaches (default: the host and port given),
 *                                 normally the simulated adapter's TCP server.
 *   KELVRA_SSH_STANDIN_WRITE      forced result of write_ssh (nothing sent)
 *   KELVRA_SSH_STANDIN_READ       forced result of read_ssh (empty reply)
 *   KELVRA_SSH_STANDIN_SHUTDOWN   result of shut_down_ssh (default 0)
 *   KELVRA_SSH_STANDIN_TIMEOUT_MS bound of each wait on the connection
 *                                 (default 10000)
 *   KELVRA_SSH_STANDIN_LOG        file to which every call appends a line:
 *                                 "<entry point> <arguments> -> <result>"
 *
 * Over a connection, requests and replies are framed as on TCP: text and a
 * NUL. read_ssh is given no buffer size, so it bounds a reply by the
 * client's reply buffer for the kind of the request written last (the
 * protocol table); the rest of a longer reply is read up to its NUL and
 * dropped, so the next reply stays in step. A reply cut by the end of the
 * stream, and a wait beyond the bound, fail with -1.
 */
#include "tests/sim/remote_protocol.h"

#include <errno.h>
#include <netdb.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#define EXPORT __attribute__((visibility("default")))

struct standin_client {
    int fd;
    size_t reply_bound; /* the client's reply buffer for the last request */
};

static void log_call(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
static void log_call(const char* fmt, ...)
{
    const char* path = getenv("KELVRA_SSH_STANDIN_LOG");
    FILE* f;
    va_list ap;
    if (path == NULL || *path == '\0') {
        return;
    }
    f = fopen(path, "a");
    if (f == NULL) {
        return;
    }
    va_start(ap, fmt);
    vfprintf(f, fmt, ap);
    va_end(ap);
    fputc('\n', f);
    fclose(f);
}

/* The variable as a whole number; 0 with *set 0 when unset or not a number. */
static int env_int(const char* name, int* set)
{
    const char* text = getenv(name);
    char* end = NULL;
    long value;
    *set = 0;
    if (text == NULL || *text == '\0') {
        return 0;
    }
    errno = 0;
    value = strtol(text, &end, 0);
    if (*end != '\0' || errno != 0 || value < -2147483647L || value > 2147483647L) {
        return 0;
    }
    *set = 1;
    return (int)value;
}

static int timeout_ms(void)
{
    int set;
    int ms = env_int("KELVRA_SSH_STANDIN_TIMEOUT_MS", &set);
    return set && ms > 0 ? ms : 10000;
}

static int connect_to(const char* host, const char* port)
{
    struct addrinfo hints, *found = NULL, *a;
    struct timeval tv;
    int ms = timeout_ms();
    int fd = -1;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    if (getaddrinfo(host, port, &hints, &found) != 0) {
        return -1;
    }
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    for (a = found; a != NULL; a = a->ai_next) {
        fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            continue;
        }
        /* The send time-out also bounds connect. */
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        if (connect(fd, a->ai_addr, a->ai_addrlen) == 0) {
            break;
        }
        close(fd);
        fd = -1;
    }
    freeaddrinfo(found);
    return fd;
}

EXPORT int set_up_client_connection(const char* host, int port, void** ssh_client)
{
    int set;
    int result = env_int("KELVRA_SSH_STANDIN_CONNECT", &set);
    const char* forward = getenv("KELVRA_SSH_STANDIN_FORWARD");
    char target_host[256];
    char target_port[16];
    struct standin_client* client;
    int fd;

    if (host == NULL || ssh_client == NULL) {
        log_call("set_up_client_connection (null) %d -> -1", port);
        return -1;
    }
    if (result != 0) {
        log_call("set_up_client_connection %s %d -> %d", host, port, result);
        return result;
    }
    if (forward != NULL && *forward != '\0') {
        const char* colon = strrchr(forward, ':');
        size_t len = colon ? (size_t)(colon - forward) : 0;
        if (colon == NULL || len == 0 || len >= sizeof target_host || strlen(colon + 1) >= sizeof target_port) {
            log_call("set_up_client_connection %s %d -> 2", host, port);
            return 2;
        }
        memcpy(target_host, forward, len);
        target_host[len] = '\0';
        snprintf(target_port, sizeof target_port, "%s", colon + 1);
    } else {
        snprintf(target_host, sizeof target_host, "%s", host);
        snprintf(target_port, sizeof target_port, "%d", port);
    }
    fd = connect_to(target_host, target_port);
    client = fd >= 0 ? calloc(1, sizeof *client) : NULL;
    if (client == NULL) {
        if (fd >= 0) {
            close(fd);
        }
        log_call("set_up_client_connection %s %d -> 2", host, port);
        return 2; /* neither success nor too many login attempts */
    }
    client->fd = fd;
    client->reply_bound = kelvra_remote_reply_buffer(KELVRA_REMOTE_UNKNOWN);
    *ssh_client = client;
    log_call("set_up_client_connection %s %d -> 0", host, port);
    return 0;
}

EXPORT int shut_down_ssh(void* ssh_client)
{
    struct standin_client* client = ssh_client;
    int set;
    int result = env_int("KELVRA_SSH_STANDIN_SHUTDOWN", &set);
    if (client == NULL) {
        log_call("shut_down_ssh (null) -> -1");
        return -1;
    }
    close(client->fd);
    free(client);
    log_call("shut_down_ssh -> %d", result);
    return result;
}

EXPORT int write_ssh(const char* request, void* ssh_client)
{
    struct standin_client* client = ssh_client;
    int set;
    int forced = env_int("KELVRA_SSH_STANDIN_WRITE", &set);
    size_t len, done = 0;
    size_t bound;
    if (client == NULL || request == NULL) {
        log_call("write_ssh (null) -> -1");
        return -1;
    }
    if (set) {
        log_call("write_ssh %s -> %d", request, forced);
        return forced;
    }
    len = strlen(request) + 1; /* with its NUL */
    while (done < len) {
        ssize_t n = send(client->fd, request + done, len - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            log_call("write_ssh %s -> -1", request);
            return -1;
        }
        done += (size_t)n;
    }
    bound = kelvra_remote_reply_buffer(kelvra_remote_request_kind(request));
    client->reply_bound = bound > 0 ? bound : kelvra_remote_reply_buffer(KELVRA_REMOTE_UNKNOWN);
    log_call("write_ssh %s -> %d", request, (int)len);
    return (int)len;
}

/* One byte: 1, 0 at the end of the stream, -1 on error or time-out. */
static int read_byte(int fd, char* c)
{
    for (;;) {
        ssize_t n = recv(fd, c, 1, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return n > 0 ? 1 : (n == 0 ? 0 : -1);
    }
}

EXPORT int read_ssh(char* reply, void* ssh_client)
{
    struct standin_client* client = ssh_client;
    int set;
    int forced = env_int("KELVRA_SSH_STANDIN_READ", &set);
    size_t stored = 0;
    char c = 1;
    int r;
    if (client == NULL || reply == NULL) {
        log_call("read_ssh (null) -> -1");
        return -1;
    }
    reply[0] = '\0';
    if (set) {
        log_call("read_ssh  -> %d", forced);
        return forced;
    }
    while ((r = read_byte(client->fd, &c)) == 1 && c != '\0') {
        if (stored + 1 < client->reply_bound) {
            reply[stored++] = c;
        }
    }
    reply[stored] = '\0';
    if (r != 1) {
        log_call("read_ssh %s -> -1", reply);
        return -1; /* the reply never ended: lost connection or time-out */
    }
    log_call("read_ssh %s -> %d", reply, (int)stored);
    return (int)stored;
}

EXPORT void add_host(const char* host, int port, const char* third)
{
    log_call("add_host %s %d %s", host ? host : "(null)", port, third ? third : "(null)");
}

#ifndef SSH_STANDIN_WITHOUT_REMOVE_HOST
EXPORT void remove_host(const char* host, int port)
{
    log_call("remove_host %s %d", host ? host : "(null)", port);
}
#endif
