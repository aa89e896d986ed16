// The InfiniBand bridge functions. The access core that calls them is
// procedural: an exception must never reach it, whatever its type, so each
// function ends in a catch-all that returns its fixed failure value.
#include "tov_core/device/ib/IBDeviceWrapperC.h"

#include <string>

#include "tov_core/device/access_status.h"
#include "tov_core/device/ib/IBDevice.h"
#include "tov_core/tov_core_utils/logger/Logger.h"

namespace {

const int kNoInBandChunk = 4;

IBDevice* InBand(tov_core::Device* device)
{
    return dynamic_cast<IBDevice*>(device);
}

// The access core passes its method numbers; anything but a write asks as
// a read.
eAccessMethod Method(int method)
{
    return method == ACCESS_METHOD_SET ? ACCESS_METHOD_SET : ACCESS_METHOD_GET;
}

std::string Hex(unsigned int value)
{
    return tov_core::Logger::GetInstance(TOV_LOCATION, "TOV_PRINT_LOG")->Hexify(static_cast<int>(value));
}

int SendSmp(uint8_t* data, unsigned int attr_id, unsigned int attr_mod, IBDevice* ib, eAccessMethod method)
{
    if (!ib || !data) {
        return -1;
    }
    return ib->SendSmpMad(data, attr_id, attr_mod, method);
}

}  // namespace

extern "C" {

int is_gmp_supported(int method, tov_core::Device* device)
{
    try {
        IBDevice* ib = InBand(device);
        return ib && ib->IsGmpSupported(Method(method)) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int is_class_a_supported(int method, tov_core::Device* device)
{
    try {
        IBDevice* ib = InBand(device);
        return ib && ib->IsClassASupported(Method(method)) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int get_ib_max_chunk_size(tov_core::Device* device)
{
    IBDevice* ib = InBand(device);
    return ib ? static_cast<int>(ib->GetMaxChunkSize()) : kNoInBandChunk;
}

int reset_ib_device(tov_core::Device* device)
{
    try {
        IBDevice* ib = InBand(device);
        return ib ? ib->SwReset() : -1;
    } catch (...) {
        // errno stays as the reset left it (ENOTSUP for a refused switch).
        return -1;
    }
}

int mad_set(uint8_t* data, unsigned int attr_id, unsigned int attr_mod, tov_core::Device* device)
{
    try {
        TOV_LOG_DEBUG("Sending SMP MAD:");
        TOV_LOG_DEBUG("Method: SET");
        std::string attribute = Hex(attr_id);
        TOV_LOG_DEBUG("Attribute ID: " + attribute);
        std::string modifier = Hex(attr_mod);
        TOV_LOG_DEBUG("Attribute Mode: " + modifier);
        return SendSmp(data, attr_id, attr_mod, InBand(device), ACCESS_METHOD_SET);
    } catch (...) {
        return -1;
    }
}

int mad_get(uint8_t* data, unsigned int attr_id, unsigned int attr_mod, tov_core::Device* device)
{
    try {
        TOV_LOG_DEBUG("Sending SMP MAD:");
        TOV_LOG_DEBUG("Method: GET");
        std::string attribute = Hex(attr_id);
        TOV_LOG_DEBUG("Attribute ID: " + attribute);
        std::string modifier = Hex(attr_mod);
        TOV_LOG_DEBUG("Attribute Mode: " + modifier);
        return SendSmp(data, attr_id, attr_mod, InBand(device), ACCESS_METHOD_GET);
    } catch (...) {
        return -1;
    }
}

}  // extern "C"
