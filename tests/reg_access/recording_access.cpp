/*
 * The recording stand-in of the access core's register call.
 */
#include "tests/reg_access/recording_access.h"

#include <errno.h>

namespace reg_access_test {

StandIn* g_stand_in = nullptr;

namespace {
int handle_storage[3];
}  // namespace

mFile* const kPlainHandle = reinterpret_cast<mFile*>(&handle_storage[0]);
mFile* const kGpuHandle = reinterpret_cast<mFile*>(&handle_storage[1]);
mFile* const kSwitchHandle = reinterpret_cast<mFile*>(&handle_storage[2]);

}  // namespace reg_access_test

using reg_access_test::g_stand_in;

extern "C" int maccess_reg(mFile* mf, uint16_t reg_id, int reg_method, void* reg_data, uint32_t reg_size,
                           uint32_t r_size_reg, uint32_t w_size_reg, int* reg_status)
{
    const uint8_t* bytes = static_cast<const uint8_t*>(reg_data);
    g_stand_in->calls.push_back({mf, reg_id, reg_method, reg_data, reg_access_test::Bytes(bytes, bytes + reg_size),
                                 reg_size, r_size_reg, w_size_reg, reg_status});
    if (reg_status == nullptr) {
        return 2;  // as the access core answers a missing status variable
    }
    *reg_status = g_stand_in->reg_status;
    if (g_stand_in->answer) {
        g_stand_in->answer(static_cast<uint8_t*>(reg_data), reg_size);
    }
    return g_stand_in->result;
}

extern "C" int mget_mdevs_type(mFile* mf, uint32_t* mtype)
{
    ++g_stand_in->type_queries;
    auto it = g_stand_in->types.find(mf);
    if (it == g_stand_in->types.end()) {
        errno = EINVAL;
        return 1;
    }
    *mtype = it->second;
    return 0;
}

extern "C" const char* m_err2str(uint32_t status)
{
    g_stand_in->err2str_codes.push_back(static_cast<int>(status));
    return static_cast<int>(status) == 257 ? "Bad method" : "some other text";
}

extern "C" int mget_max_reg_size(mFile* mf, int reg_method)
{
    (void)mf;
    (void)reg_method;
    return g_stand_in->max_reg_size;
}
