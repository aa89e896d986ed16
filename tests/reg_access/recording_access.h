/*
 * A recording stand-in of the access core's register call (and of the few
 * other access-core functions the register functions use), for tests that
 * link the register functions without the access core.
 */
#ifndef KELVRA_TESTS_REG_ACCESS_RECORDING_ACCESS_H
#define KELVRA_TESTS_REG_ACCESS_RECORDING_ACCESS_H

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "access/mfile.h"

namespace reg_access_test {

using Bytes = std::vector<uint8_t>;

struct RegCall {
    mFile* mf;
    uint16_t reg_id;
    int method;
    const void* payload;
    Bytes sent;
    uint32_t reg_size;
    uint32_t r_size;
    uint32_t w_size;
    int* status;
};

// What the stand-in register call does: it records each call, optionally
// writes an answer over the payload, and returns the configured result.
struct StandIn {
    std::vector<RegCall> calls;
    std::map<mFile*, uint32_t> types;  // handles whose type can be read
    int result = 0;
    std::function<void(uint8_t* payload, uint32_t size)> answer;
    int reg_status = 0x55;  // what the register call stores as the status
    int type_queries = 0;
    std::vector<int> err2str_codes;
    int max_reg_size = 1024;
};

extern StandIn* g_stand_in;

constexpr uint32_t kGpu = 0x800000;
constexpr uint32_t kSwitchOs = 2;
constexpr uint32_t kPciConfig = 0x1;

// Fake handles: the register functions never look inside one.
extern mFile* const kPlainHandle;
extern mFile* const kGpuHandle;
extern mFile* const kSwitchHandle;

class RegAccess : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_stand_in = &stand_in;
        stand_in.types[kPlainHandle] = kPciConfig;
        stand_in.types[kGpuHandle] = kGpu;
        stand_in.types[kSwitchHandle] = kSwitchOs;
    }
    void TearDown() override { g_stand_in = nullptr; }

    StandIn stand_in;
};

}  // namespace reg_access_test

#endif
