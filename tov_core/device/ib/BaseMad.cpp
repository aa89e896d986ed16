#include "tov_core/device/ib/BaseMad.h"

BaseMad::BaseMad(std::shared_ptr<LibIBMadWrapper>& wrapper) : m_poLibIBMadWrapper(wrapper) {}
