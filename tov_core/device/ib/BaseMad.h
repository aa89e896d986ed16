/*
 * One management datagram to the node of an in-band device. A transport is
 * made on the caller's stack for one operation, sends exactly one MAD
 * through the device's shared libibmad binding and reports the outcome as an
 * m_err_code: 0 success, ME_MAD_SEND_FAILED (8) when no usable reply came,
 * 0x400..0x406 when the reply carried a MAD status. The payload is sent from
 * and the reply received into the same buffer. Nothing here throws, retries
 * or allocates; retries and the default timeout belong to the port.
 */
#ifndef TOV_CORE_DEVICE_IB_BASEMAD_H
#define TOV_CORE_DEVICE_IB_BASEMAD_H

#include <stdint.h>

#include <memory>

#include "tov_core/device/ib/LibIBMadWrapper.h"
#include "tov_core/device/ib/MadBuffer.h"

// The MAD form of an in-band register or CR-space access.
enum eMadType {
    MAD_TYPE_SMP = 0,
    MAD_TYPE_GMP = 1,
    MAD_TYPE_CLASS_A = 2,
};

class BaseMad {
public:
    // Shares ownership of the binding, so it outlives the MAD in flight.
    explicit BaseMad(std::shared_ptr<LibIBMadWrapper>& wrapper);
    virtual ~BaseMad() = default;

    // A timeout of 0 means the port's timeout.
    virtual int Set(tov_core::MadBuffer& buffer, uint32_t timeout, uint32_t attributeId,
                    uint32_t attributeModifier) = 0;
    virtual int Get(tov_core::MadBuffer& buffer, uint32_t timeout, uint32_t attributeId,
                    uint32_t attributeModifier) = 0;

protected:
    std::shared_ptr<LibIBMadWrapper> m_poLibIBMadWrapper;
};

#endif
