/*
 * The framework's one door to the operating system. Callers take a fresh
 * object from FactoryOperatingSystemAPI::GetInstance for a call or two and let
 * it go; objects are never shared, so nothing here locks.
 */
#ifndef TOV_CORE_UTILS_OPERATING_SYSTEM_OPERATINGSYSTEMAPI_H
#define TOV_CORE_UTILS_OPERATING_SYSTEM_OPERATINGSYSTEMAPI_H

#include <memory>
#include <string>

class OperatingSystemAPI {
public:
    virtual ~OperatingSystemAPI() = default;

    // The process id.
    virtual int GetPID() = 0;
    // dir + "/" + name, unchecked and not normalised ("/a/" and "b" give "/a//b").
    virtual std::string GetFilePath(const std::string& dir, const std::string& name) = 0;
    // File name of the running executable. Throws std::runtime_error
    // "Cannot get the executable path" when /proc/self/exe cannot be read.
    virtual std::string GetExecutableName() = 0;
    // Directory of the running executable (no trailing '/'). Throws as above.
    virtual std::string GetExecutableDir() = 0;
    // The fixed log directory "/var/log/tov/" (with its trailing '/').
    virtual std::string GetLogDirectory() = 0;
    // Reverses the byte order, in place, of byteCount / 4 consecutive 32-bit
    // words starting at `first`; trailing bytes of an incomplete word and a
    // negative count are left alone. The caller guarantees the words exist.
    virtual void LittleToBig32(unsigned int& first, int byteCount) = 0;
    // mkdir with mode 0777; an existing entry is accepted. Any other failure
    // throws std::runtime_error "Cannot create the directory: " + dir.
    virtual void CreateDirectoryIfNotExist(const std::string& dir) = 0;
    // Blocks the calling thread for the given time (nothing for <= 0),
    // resuming after signals until the time has passed.
    virtual void MilliSecondsSleep(int milliseconds) = 0;
    // gethostname into `buffer`, which must hold 64 bytes; the result is
    // always terminated. Returns gethostname's result (0 or -1).
    virtual int GetHostName(char* buffer) = 0;
    // Reads one line from standard input with echo off, into buffer (at most
    // size - 1 characters, always terminated when size > 0). The terminal
    // settings are restored afterwards; a stdin that is no terminal is read
    // as it is.
    virtual void InputPassword(char* buffer, unsigned int size) = 0;
    // True when `path` names a regular file (links followed) that opens for
    // reading. Never blocks: a FIFO, device or directory is false without
    // being opened.
    virtual bool FileExists(const std::string& path);
    // The memory page size (sysconf(_SC_PAGESIZE)).
    virtual long get_page_size() = 0;
};

class FactoryOperatingSystemAPI {
public:
    // A new object on every call, owned by the caller.
    static std::unique_ptr<OperatingSystemAPI> GetInstance();
};

#endif
