/*
 * The remote client: a device on another host, reached through its device
 * server with one text request and one text reply per operation, over a
 * plain TCP connection or the SSH utility plug-in. Also the TCP routines,
 * the cable relays and the SSH plug-in's host management.
 *
 * Every request and reply on TCP is ASCII text and one NUL. Compiles as C
 * and as C++.
 */
#ifndef KELVRA_ACCESS_REMOTE_H
#define KELVRA_ACCESS_REMOTE_H

#include <stdbool.h>
#include <stdint.h>

#include "access/mfile.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Version of this client; a server of another major is refused. */
#define REMOTE_CLIENT_VER_MAJOR 1
#define REMOTE_CLIENT_VER_MINOR 5

/* Size of the text buffer parse_remote_device_name fills. */
#define REMOTE_NAME_BUF_SIZE 1024

/* When non-zero, an address-space change to the space already selected
 * sends nothing. 0 at start. */
extern int remote_optimization;

/* ---- opening and closing ---- */

/* Connects, exchanges versions and opens the device part of name on the
 * server. 0, or -1 with errno: EINVAL (malformed name, device part above 36
 * characters), ENOENT (refused by the server), EPROTO (malformed reply),
 * else the transport's. On failure nothing stays open. */
int remote_open(const char* name, mFile* mf, int i2c_addr_type);
/* Sends "C" and closes the transport and the SSH plug-in; 0 when the server
 * acknowledged, else 1. */
int mclose_remote(mFile* mf);
/* Splits host:port,device (after the last '/', every '@' read as '/', at most
 * 1022 characters) into buf (REMOTE_NAME_BUF_SIZE bytes): buf holds the host,
 * *device points into buf. 0, or -1 with errno EINVAL. */
int parse_remote_device_name(const char* name, char* buf, int* port, char** device);
/* SSH plug-in first unless tcp_only or SSH_TIMEOUT is 0, else (or when SSH
 * fails for another reason than too many logins) TCP. 0 or -1. */
int open_remote_connection_client_side(mFile* mf, const char* host, int port, bool tcp_only);
/* One request (the text and its NUL): the count written, or -1. */
int remote_write(mFile* mf, const char* request);
/* One reply into reply (size bytes, NUL included): its length, or -1 with
 * reply holding "" when it failed, did not end with its NUL in time, or did
 * not fit (the rest is drained, so the next reply stays in step). */
int remote_read(mFile* mf, char* reply, int size);
/* TCP: closes the socket (0); SSH: the plug-in's shut_down_ssh result. */
int close_remote_connection(mFile* mf);
/* SSH_TIMEOUT: -1 when unset or not a number, else its value (any base). */
int get_ssh_timeout_env_variable(void);

/* ---- version rules ---- */

int remote_server_supports_icmd(mFile* mf);          /* 1.5 and newer */
int remote_server_supports_read_devid(mFile* mf);    /* 1.6 and newer */
int remote_server_supports_icmd_syndrome(mFile* mf); /* 1.6 and newer */

/* ---- protocol steps ---- */

/* "V" and its reply: 0 (also for an old server), -1 when the transport or the
 * version fails (the transport is then closed). */
int get_remote_version(mFile* mf);
/* Reads "O <major>.<minor>" into the handle: 0, or -1 for a malformed one. */
int parse_remote_version(mFile* mf, const char* reply);
/* "i %d" with force_i2c_address; no reply. 0 or -1. */
int remote_set_i2c_address(mFile* mf);
/* "O 0x%08x <device>"; the reply goes to reply (8 bytes). 0 or -1. */
int send_remote_open_cmd(mFile* mf, const char* device, int i2c_addr_type, char* reply);
/* vsec_supported from the open reply (servers 1.4 and newer): 0 or -1. */
int remote_get_vsec_info(mFile* mf, const char* reply);
/* "D": 4 and the id word, or -1. */
int remote_read_device_id(mFile* mf, unsigned int* device_id);
/* "A 0x%x": 0 when the server selected the space, else -1. */
int set_remote_addr_space(mFile* mf, int space);
/* "I": one ICMD command run by the server on the device's mailbox. data
 * holds size bytes (the larger of request and reply). An m_err_code: the
 * server's status, or -1 when the transport failed (it is then closed). */
int icmd_send_command_remote(mFile* mf, int opcode, void* data, int size, int skip_write);
/* "S": the 128-entry map of answering I2C addresses. 0, or -1 (EIO). */
int remote_i2c_detect(mFile* mf, uint8_t* map);

/* ---- relays and host management ---- */

/* Cable memory through the server: 0, or 6 with errno EIO. */
int dozudov_remote_operation_client_side(mFile* mf, uint32_t offset, uint32_t length, uint8_t* buffer, int write);
/* The server's half: the cables plug-in's byte calls; their result, or -1. */
int dozudov_remote_operation_server_side(mFile* mf, uint32_t offset, uint32_t length, uint8_t* buffer, int write);
/* "<cmd> <text> <letter>[ <extra>]"; prints the replies up to "Finished", a
 * reply longer than 255 characters in pieces. 0; -1 when the request cannot
 * be sent or the replies stop before "Finished". */
int qrvcables_remote_operation_client_side(mFile* mf, const char* text, char cmd, char letter, const char* extra);
void add_remote_host(mFile* mf, const char* host, int port, const char* third);
void remove_remote_host(mFile* mf, const char* host, int port);

/* ---- remote version messages ---- */

int is_warning_enabled(void);
void print_ver_warn(int major, int minor);
void print_ver_err(int major, int minor);

/* ---- TCP routines ---- */

int open_cli_connection(const char* host, int port);
int open_serv_connection(int port);
int open_server_connection(int port);
/* One NUL-terminated text, at most size - 1 bytes: the bytes stored before
 * the NUL, or -1. */
int tcp_reads(int fd, char* buf, int size);
int reads(int fd, char* buf, int size);
int read_tcp(int fd, char* buf, int size);
/* The whole length, or -1. */
int writen(int fd, const void* data, int length);
/* The text and its NUL: the bytes written, or -1. */
int writes(int fd, const char* text);
int write_tcp(int fd, const char* text);
void logset(int on);
void set_remote_log(int on);
void plog(const char* format, ...) __attribute__((format(printf, 1, 2)));
void sleep_function(unsigned int seconds);

#ifdef __cplusplus
}
#endif

#endif
