/*
 * The remote-access protocol as the device server sees it: how a request
 * text is classified, and how large the client's reply buffer is for each
 * kind (a reply, its NUL included, must fit it). Plain C and header-only so
 * that both the TCP front end and stand-in shared libraries (the SSH
 * plug-in) use the one table. Test infrastructure only.
 */
#ifndef KELVRA_TESTS_SIM_REMOTE_PROTOCOL_H
#define KELVRA_TESTS_SIM_REMOTE_PROTOCOL_H

#include <stddef.h>
#include <string.h>

#ifdef __cplusplus
extern "C" {
#endif

enum kelvra_remote_kind {
    KELVRA_REMOTE_VERSION,      /* "V" */
    KELVRA_REMOTE_FORCE_I2C,    /* "i %d": never answered */
    KELVRA_REMOTE_OPEN,         /* "O 0x%08x " + device */
    KELVRA_REMOTE_CLOSE,        /* "C" */
    KELVRA_REMOTE_READ,         /* "R 0x%08x" */
    KELVRA_REMOTE_WRITE,        /* "W 0x%08x 0x%08x" */
    KELVRA_REMOTE_BLOCK_READ,   /* "B 0x%08x 0x%08x" */
    KELVRA_REMOTE_BLOCK_WRITE,  /* "U 0x%08x 0x%08x" + words */
    KELVRA_REMOTE_ADDR_SPACE,   /* "A 0x%x" */
    KELVRA_REMOTE_DEVICE_ID,    /* "D" */
    KELVRA_REMOTE_I2C_READ,     /* "r %d 0x%02x 0x%x 0x%x" */
    KELVRA_REMOTE_I2C_WRITE,    /* "w %d 0x%02x 0x%x 0x%x " + hex */
    KELVRA_REMOTE_SCAN,         /* "S" */
    KELVRA_REMOTE_ICMD,         /* "I 0x%04x 0x%04x %c" [+ " 0x" + hex] */
    KELVRA_REMOTE_SWITCH,       /* "P" */
    KELVRA_REMOTE_CABLE_READ,   /* "x 0x%08x 0x%08x" */
    KELVRA_REMOTE_CABLE_WRITE,  /* "X 0x%08x 0x%08x 0x" + hex */
    KELVRA_REMOTE_RELAY,        /* "%c %s %c[ %s]": the cable-tool relay */
    KELVRA_REMOTE_UNKNOWN,
    KELVRA_REMOTE_KIND_COUNT
};

/* The cable-tool relay: a letter, a blank, a word, a blank, one character,
 * then the end or a blank and an argument text. */
static inline int kelvra_remote_is_relay(const char* text)
{
    const char* word = text + 2;
    const char* blank;
    if (text[0] == '\0' || text[0] == ' ' || text[1] != ' ' || *word == '\0' || *word == ' ') {
        return 0;
    }
    blank = strchr(word, ' ');
    if (blank == NULL || blank[1] == '\0' || blank[1] == ' ') {
        return 0;
    }
    return blank[2] == '\0' || blank[2] == ' ';
}

static inline enum kelvra_remote_kind kelvra_remote_request_kind(const char* text)
{
    char letter = text[0];
    if (letter == '\0' || (text[1] != '\0' && text[1] != ' ')) {
        return KELVRA_REMOTE_UNKNOWN;
    }
    /* An open of a one-character device has the relay's shape; the open's
     * hexadecimal I2C address type tells them apart. */
    if (letter == 'O' && strncmp(text, "O 0x", 4) == 0) {
        return KELVRA_REMOTE_OPEN;
    }
    if (kelvra_remote_is_relay(text)) {
        return KELVRA_REMOTE_RELAY;
    }
    switch (letter) {
    case 'V': return KELVRA_REMOTE_VERSION;
    case 'i': return KELVRA_REMOTE_FORCE_I2C;
    case 'O': return KELVRA_REMOTE_OPEN;
    case 'C': return KELVRA_REMOTE_CLOSE;
    case 'R': return KELVRA_REMOTE_READ;
    case 'W': return KELVRA_REMOTE_WRITE;
    case 'B': return KELVRA_REMOTE_BLOCK_READ;
    case 'U': return KELVRA_REMOTE_BLOCK_WRITE;
    case 'A': return KELVRA_REMOTE_ADDR_SPACE;
    case 'D': return KELVRA_REMOTE_DEVICE_ID;
    case 'r': return KELVRA_REMOTE_I2C_READ;
    case 'w': return KELVRA_REMOTE_I2C_WRITE;
    case 'S': return KELVRA_REMOTE_SCAN;
    case 'I': return KELVRA_REMOTE_ICMD;
    case 'P': return KELVRA_REMOTE_SWITCH;
    case 'x': return KELVRA_REMOTE_CABLE_READ;
    case 'X': return KELVRA_REMOTE_CABLE_WRITE;
    default: return KELVRA_REMOTE_UNKNOWN;
    }
}

/* The client's reply buffer for a request kind, NUL included: a reply must
 * hold at most this many bytes less one before its NUL. 0: no reply is read.
 * "V" is read into 8 bytes by the open (20 by the twin switch); the smaller
 * is the bound. An unknown request gets the smallest buffer of all. */
static inline size_t kelvra_remote_reply_buffer(enum kelvra_remote_kind kind)
{
    switch (kind) {
    case KELVRA_REMOTE_VERSION: return 8;
    case KELVRA_REMOTE_FORCE_I2C: return 0;
    case KELVRA_REMOTE_OPEN: return 8;
    case KELVRA_REMOTE_CLOSE: return 10;
    case KELVRA_REMOTE_READ: return 20;
    case KELVRA_REMOTE_WRITE: return 40;
    case KELVRA_REMOTE_BLOCK_READ: return 1536;
    case KELVRA_REMOTE_BLOCK_WRITE: return 1536;
    case KELVRA_REMOTE_ADDR_SPACE: return 1536;
    case KELVRA_REMOTE_DEVICE_ID: return 20;
    case KELVRA_REMOTE_I2C_READ: return 256;
    case KELVRA_REMOTE_I2C_WRITE: return 256;
    case KELVRA_REMOTE_SCAN: return 1024;
    case KELVRA_REMOTE_ICMD: return 4123;
    case KELVRA_REMOTE_SWITCH: return 20;
    case KELVRA_REMOTE_CABLE_READ: return 4123;
    case KELVRA_REMOTE_CABLE_WRITE: return 4123;
    case KELVRA_REMOTE_RELAY: return 256;
    default: return 8;
    }
}

#ifdef __cplusplus
}
#endif

#endif
