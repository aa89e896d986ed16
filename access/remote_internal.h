/*
 * What the remote client's parts share: framed reads with a deadline and the
 * bound of every wait on a server.
 */
#ifndef KELVRA_ACCESS_REMOTE_INTERNAL_H
#define KELVRA_ACCESS_REMOTE_INTERNAL_H

#include <stddef.h>
#include <stdint.h>

namespace kelvra_remote {

// Bound, in milliseconds, of one reply wait and of one request write on a
// client connection. A server that stalls costs this much once: the
// connection is closed after it, since a late reply would be taken for the
// answer to the next request. Long enough for the slowest ICMD command a
// server runs (its own busy-bit poll limit).
extern int reply_timeout_ms;

enum class FrameEnd {
    kNul,      // the text ended with its NUL
    kFull,     // size - 1 bytes stored; the NUL is still in the stream
    kEnd,      // the stream ended before the NUL
    kTimeout,  // no NUL before the deadline
    kError,    // a read failed
};

// Reads one NUL-terminated text into buf (size >= 2 bytes), never consuming
// a byte past its NUL; buf is always terminated. timeout_ms < 0: no bound.
FrameEnd read_frame(int fd, char* buf, int size, int timeout_ms, int* count);

// Reads and drops the rest of a text up to its NUL (at most cap bytes
// before it); true when the NUL was reached. *dropped: the bytes dropped
// before the NUL.
bool drain_frame(int fd, int timeout_ms, size_t cap, size_t* dropped);

// Whether the connection has something to read although no reply is due: a
// reply nobody asked for (*err EPROTO), the end of the stream (ECONNRESET)
// or a pending error (its errno). Does not wait and consumes nothing.
bool input_waiting(int fd, int* err);

// Writes all of data within timeout_ms (< 0: no bound); false on failure.
bool write_all(int fd, const void* data, size_t length, int timeout_ms);

// A number as the protocol writes them (decimal, or hexadecimal with "0x"),
// starting right at text: no blank or sign before it, at most 32 bits.
// *end: the first character after it.
bool parse_number(const char* text, const char** end, uint32_t* value);

}  // namespace kelvra_remote

#endif
