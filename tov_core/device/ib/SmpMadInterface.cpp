#include "tov_core/device/ib/SmpMadInterface.h"

#include "tov_core/device/ib/MadBuffer.h"
#include "tov_core/device/ib/SmpMad.h"

namespace tov_core {

SmpMadInterface::SmpMadInterface(std::shared_ptr<LibIBMadWrapper>& wrapper)
    : m_uPayloadSize(SmpMadBuffer::PAYLOAD_SIZE), m_poLibIBMadWrapper(wrapper)
{
}

SmpMadInterface::~SmpMadInterface() = default;

int SmpMadInterface::SendSmp(uint8_t* data, uint32_t attributeId, uint32_t attributeModifier, eAccessMethod method)
{
    SmpMadBuffer buffer;
    buffer.SetBufferData(data, m_uPayloadSize);
    int result;
    {
        SmpMad transport(m_poLibIBMadWrapper);
        result = method == ACCESS_METHOD_SET ? transport.Set(buffer, 0, attributeId, attributeModifier)
                                             : transport.Get(buffer, 0, attributeId, attributeModifier);
    }
    buffer.GetBufferData(data, m_uPayloadSize);
    return result;
}

}  // namespace tov_core
