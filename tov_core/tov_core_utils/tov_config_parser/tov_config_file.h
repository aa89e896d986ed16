/*
 * The one rule by which every reader of the product configuration file
 * (TOV_CONFIG_FILE, "key=value" lines) recognises a line. Compiles as C.
 *
 * A line assigns `key` when, after leading blanks (spaces, tabs), it starts
 * with the key, followed by optional blanks and the separator. A line whose
 * first non-blank character is '#' is a comment. The value is everything
 * after the separator with blanks cut at both ends and the line end ('\r',
 * '\n') cut at its end; a further separator stays part of the value.
 */
#ifndef TOV_CORE_UTILS_TOV_CONFIG_PARSER_TOV_CONFIG_FILE_H
#define TOV_CORE_UTILS_TOV_CONFIG_PARSER_TOV_CONFIG_FILE_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define TOV_CONFIG_FILE "/etc/tov/tov.conf"

/* Results of tov_config_read_value. */
#define TOV_CONFIG_FOUND 0
#define TOV_CONFIG_NOT_FOUND 1
#define TOV_CONFIG_TOO_LONG 2
#define TOV_CONFIG_OPEN_FAILED (-1)
#define TOV_CONFIG_BAD_ARGUMENT (-2)
#define TOV_CONFIG_REFUSED (-3)

/* Applies the rule to one line of line_len bytes (the line need not be
 * terminated and may still carry its line end). Returns 1 when the line
 * assigns `key` and sets *value_start and *value_len to the value's place
 * inside `line` (the value may be empty); otherwise returns 0 and leaves
 * them alone. An empty or null key matches nothing. Copies nothing,
 * allocates nothing, never fails. */
int tov_config_line_value(const char* line, size_t line_len, const char* key, char separator,
                          size_t* value_start, size_t* value_len);

/* Reads the file at `path` ('=' as separator) and copies the value of the
 * first assigning line (last_match == 0) or of the last one (last_match != 0)
 * into value, terminated. Lines of any length are read whole.
 * Returns TOV_CONFIG_FOUND; TOV_CONFIG_NOT_FOUND when no line assigns the key;
 * TOV_CONFIG_TOO_LONG when the value needs more than value_size - 1 bytes
 * (value is then left empty, so a cut path is never used);
 * TOV_CONFIG_OPEN_FAILED when the file cannot be opened (errno tells why);
 * TOV_CONFIG_REFUSED when it is not a regular file (links are followed; a
 * FIFO or device is never opened), holds more than 1 MiB (the product-file
 * limit of regular_file.h) or cannot be read;
 * TOV_CONFIG_BAD_ARGUMENT for a null pointer or value_size 0.
 * value is emptied on every result but TOV_CONFIG_FOUND and
 * TOV_CONFIG_BAD_ARGUMENT. Never blocks on the open; blocks only on the
 * read of a regular file. */
int tov_config_read_value(const char* path, const char* key, int last_match, char* value, size_t value_size);

#ifdef __cplusplus
}
#endif

#endif
