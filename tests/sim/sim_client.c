#include "tests/sim/sim_client.h"

#include <errno.h>
#include <poll.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

enum { TIMEOUT_MS = 10000, MAX_LINE = 512 };

static void set_error(char* err, size_t err_size, const char* format, ...)
{
    if (!err || err_size == 0) {
        return;
    }
    va_list ap;
    va_start(ap, format);
    vsnprintf(err, err_size, format, ap);
    va_end(ap);
}

/* Reads exactly len bytes, each wait bounded. */
static int read_exact(int fd, unsigned char* buf, size_t len)
{
    size_t got = 0;
    while (got < len) {
        struct pollfd p = {fd, POLLIN, 0};
        int r = poll(&p, 1, TIMEOUT_MS);
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r <= 0) {
            return -1;
        }
        ssize_t n = read(fd, buf + got, len - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return -1;
        }
        got += (size_t)n;
    }
    return 0;
}

static int read_line(int fd, char* line, size_t size)
{
    size_t used = 0;
    while (used + 1 < size) {
        unsigned char c;
        if (read_exact(fd, &c, 1) != 0) {
            return -1;
        }
        if (c == '\n') {
            line[used] = '\0';
            return 0;
        }
        line[used++] = (char)c;
    }
    return -1;
}

int kelvra_sim_resource_dump(const char* socket_path, const char* device, uint16_t segment_type,
                             uint32_t index1, unsigned char** data, size_t* size, char* err,
                             size_t err_size)
{
    if (!data || !size || !device) {
        set_error(err, err_size, "bad arguments");
        return -1;
    }
    *data = NULL;
    *size = 0;
    if (!socket_path) {
        socket_path = getenv(KELVRA_SIM_SOCKET_ENV);
    }
    if (!socket_path || !*socket_path) {
        set_error(err, err_size, "no simulated adapter (" KELVRA_SIM_SOCKET_ENV " is not set)");
        return -1;
    }
    struct sockaddr_un addr;
    memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (strlen(socket_path) >= sizeof addr.sun_path) {
        set_error(err, err_size, "socket path too long");
        return -1;
    }
    strcpy(addr.sun_path, socket_path);
    char request[MAX_LINE];
    int len = snprintf(request, sizeof request, "DUMP %s 0x%x 0x%x\n", device, (unsigned)segment_type,
                       (unsigned)index1);
    if (len < 0 || (size_t)len >= sizeof request || strchr(device, '\n') || strchr(device, ' ')) {
        set_error(err, err_size, "bad device name");
        return -1;
    }
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || connect(fd, (struct sockaddr*)&addr, sizeof addr) != 0) {
        set_error(err, err_size, "cannot reach the simulated adapter at %s: %s", socket_path, strerror(errno));
        if (fd >= 0) {
            close(fd);
        }
        return -1;
    }
    int rc = -1;
    char line[MAX_LINE];
    unsigned long n = 0;
    char tail = 0;
    if (send(fd, request, (size_t)len, MSG_NOSIGNAL) != len || read_line(fd, line, sizeof line) != 0) {
        set_error(err, err_size, "no reply from the simulated adapter");
    } else if (strncmp(line, "ERR ", 4) == 0) {
        set_error(err, err_size, "%s", line + 4);
    } else if (sscanf(line, "OK %lu%c", &n, &tail) != 1 || n > KELVRA_SIM_MAX_REPLY) {
        set_error(err, err_size, "malformed reply from the simulated adapter");
    } else if (n == 0) {
        rc = 0;
    } else if (!(*data = malloc(n))) {
        set_error(err, err_size, "out of memory");
    } else if (read_exact(fd, *data, n) != 0) {
        free(*data);
        *data = NULL;
        set_error(err, err_size, "short reply from the simulated adapter");
    } else {
        *size = n;
        rc = 0;
    }
    close(fd);
    return rc;
}
