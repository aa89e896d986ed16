/*
 * The one way product files are read: the product configuration file and
 * the device-information JSON files. Their paths are fixed or come from
 * configuration, and whatever stands there (a link to /dev/zero, a FIFO, a
 * device node, a huge file) must neither block the process, nor arm a
 * device by opening it, nor fill its memory.
 */
#ifndef TOV_CORE_UTILS_OPERATING_SYSTEM_REGULAR_FILE_H
#define TOV_CORE_UTILS_OPERATING_SYSTEM_REGULAR_FILE_H

#include <stddef.h>

#include <string>

namespace tov_core {

// The largest product file that is read: 1 MiB. The configuration file and
// a device-information file are a few kilobytes; anything bigger is not one
// of them and is refused whole rather than read in part.
const size_t kMaxProductFileSize = 1024 * 1024;

enum class RegularFileStatus {
    Ok,
    OpenFailed,  // missing or unreadable; errno tells why
    NotRegular,  // a directory, FIFO, socket or device (links are followed)
    TooLarge,    // more bytes than the limit
    ReadFailed,  // errno tells why
};

// Opens `path` for reading when it names a regular file: the type is looked
// at before the open (so no device or FIFO is ever opened) and again on the
// descriptor (so a swap in between is caught). Never blocks on the open.
// On Ok, fd is an open descriptor (close-on-exec) that the caller closes.
RegularFileStatus OpenRegularFile(const std::string& path, int& fd);

// The whole content of the regular file at `path`, at most `limit` bytes;
// a file with more bytes is TooLarge, whatever its size claims to be.
// `content` is changed only on Ok.
RegularFileStatus ReadRegularFile(const std::string& path, size_t limit, std::string& content);

}  // namespace tov_core

#endif
