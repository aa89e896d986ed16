// Fixtures for the fixed paths the framework reads or writes, visible only
// inside the test process's private mount namespace.
#ifndef KELVRA_TESTS_COMMON_FIXED_PATHS_H
#define KELVRA_TESTS_COMMON_FIXED_PATHS_H

#include <optional>
#include <string>

#include "tests/common/testkit.h"

namespace tov_test {

// Lays a writable overlay over /etc (the host's /etc stays untouched) and
// puts `content` into /etc/tov/tov.conf, or removes that file when content is
// empty-optional.
class ProductConfigFile {
public:
    explicit ProductConfigFile(const std::optional<std::string>& content);
    ~ProductConfigFile();
    ProductConfigFile(const ProductConfigFile&) = delete;
    ProductConfigFile& operator=(const ProductConfigFile&) = delete;

private:
    testkit::TempDir dir_;
    std::string scratch_;
};

// Replaces /var/log with an empty directory, read-only when asked.
class VarLog {
public:
    explicit VarLog(bool read_only);
    ~VarLog();
    VarLog(const VarLog&) = delete;
    VarLog& operator=(const VarLog&) = delete;
    const std::string& backing() const { return dir_.path(); }

private:
    testkit::TempDir dir_;
};

}  // namespace tov_test

#endif
