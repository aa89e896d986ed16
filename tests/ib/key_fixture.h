// Fixtures for the management-key lookup: a product configuration file in a
// private mount namespace and an OpenSM cache directory of the test's own.
#ifndef KELVRA_TESTS_IB_KEY_FIXTURE_H
#define KELVRA_TESTS_IB_KEY_FIXTURE_H

#include <stdlib.h>

#include <memory>
#include <optional>
#include <string>

#include "tests/common/fixed_paths.h"
#include "tests/common/testkit.h"
#include "tov_core/tov_core_utils/logger/Logger.h"

namespace ib_test {

// A GUID as OpenSM writes it.
const char* const kGuid = "0x0002c90300a1b2c3";

// A product configuration file that wants no keys: an in-band device needs
// the file whatever it holds.
const std::optional<std::string> kWithoutKeys = std::string();

class KeyFiles {
public:
    // `config`: the text of /etc/tov/tov.conf, each "DIR" replaced by the
    // cache directory; no value: no such file.
    explicit KeyFiles(const std::optional<std::string>& config)
        : config_(config ? std::optional<std::string>(Expand(*config)) : std::nullopt)
    {
    }

    const std::string& dir() const { return cache_.path(); }
    std::string path(const std::string& name) const { return cache_.file(name); }
    void write(const std::string& name, const std::string& content) const { cache_.write(name, content); }
    std::string Expand(std::string text) const
    {
        for (size_t at = text.find("DIR"); at != std::string::npos; at = text.find("DIR", at)) {
            text.replace(at, 3, cache_.path());
            at += cache_.path().size();
        }
        return text;
    }

private:
    testkit::TempDir cache_;
    tov_test::ProductConfigFile config_;
};

// Makes the framework logger print every level from here on.
inline void LogEverything()
{
    setenv("TOV_PRINT_LOG", "0", 1);
    tov_core::Logger::DeleteInstance();
}

}  // namespace ib_test

#endif
