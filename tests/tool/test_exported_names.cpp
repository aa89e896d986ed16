// The names callers and plug-ins link against: the executable exports them
// under their exact linkage names (global-namespace classes where the
// framework keeps them outside tov_core, the exact parameter types), and a
// class's virtual operations sit in their table slots in the fixed order.
#include <gtest/gtest.h>

#include <string.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/common/testkit.h"
#include "tov_core/device/quorvane_os/BaseQuorvaneOS.h"
#include "tov_core/device/usb_devices/qzusb/BaseQZUSB.h"
#include "tov_core/tov_core_utils/bit_operations/BitOperations.h"

namespace {

struct Symbol {
    char kind;
    std::string name;  // the rest of nm's line: a demangled name has spaces
};

std::vector<Symbol> exported_symbol_list(bool demangled)
{
    std::vector<std::string> command = {"/usr/bin/nm", "-D", "--defined-only", KELVRA_BIN};
    if (demangled) {
        command.insert(command.begin() + 1, "-C");
    }
    testkit::RunResult r = testkit::run(command);
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<Symbol> symbols;
    std::istringstream lines(r.out);
    std::string address, name;
    char kind;
    while (lines >> address >> kind && std::getline(lines >> std::ws, name)) {
        symbols.push_back({kind, name});
    }
    return symbols;
}

std::set<std::string> exported_symbols()
{
    std::set<std::string> names;
    for (const Symbol& symbol : exported_symbol_list(false)) {
        names.insert(symbol.name);
    }
    return names;
}

TEST(ExportedNames, FrameworkUtilitiesLiveInTheGlobalNamespace)
{
    std::set<std::string> names = exported_symbols();
    ASSERT_FALSE(names.empty());
    const char* expected[] = {
        "_ZN25FactoryOperatingSystemAPI11GetInstanceEv",
        "_ZN18OperatingSystemAPI10FileExistsERKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE",
        "_ZN5Linux6GetPIDEv",
        "_ZN5Linux17GetExecutablePathB5cxx11Ev",
        "_ZN21FactoryDynamicLinking11GetInstanceEv",
        "_ZN19LinuxDynamicLinking18LoadDynamicLibraryERKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE",
        "_ZN18FactorySemaphoreOS11GetInstanceEv",
        "_ZN18FactorySemaphoreOS13m_poSemaphoreE",
        "_ZN18FactorySemaphoreOS17destroy_semaphoreEP13BaseSemaphore",
        "_ZN18LinuxBaseSemaphore14semaphore_lockEv",
        // unsigned char* (not const) and unsigned int.
        "_ZN8tov_core13BitOperations15PopFromBuffer64EPhj",
        "get_bar_offset",
        "check_qzusb_block_access",
        // The USB adapter bridge, with C linkage.
        "qzusb_read",
        "qzusb_write",
        "qzusb_set_i2c_address_width",
        "qzusb_update_slave_address",
        "qzusb_access_set_frequency",
        "qzusb_access_get_frequency",
        "qzusb_detect",
        "qzusb_get_version",
        "qzusb_get_serial_number",
        "_ZN9BaseQZUSB15SendTransactionER23sQZUSBHeaderTransaction",
    };
    for (const char* name : expected) {
        EXPECT_EQ(names.count(name), 1u) << name;
    }
    // None of them is left behind in tov_core as well.
    for (const std::string& name : names) {
        for (const char* moved : {"N8tov_core18OperatingSystemAPI", "N8tov_core5Linux", "N8tov_core14DynamicLinking",
                                  "N8tov_core19LinuxDynamicLinking", "N8tov_core21FactoryDynamicLinking",
                                  "N8tov_core13BaseSemaphore", "N8tov_core18LinuxBaseSemaphore",
                                  "N8tov_core18FactorySemaphoreOS", "N8tov_core25FactoryOperatingSystemAPI",
                                  "PopFromBuffer64EPKhj"}) {
            EXPECT_EQ(name.find(moved), std::string::npos) << name;
        }
    }
}

// The in-band operations, each defined out of line in the text section (T):
// a weak copy (W) of an inline one is there only when some caller was built
// without inlining it, and an optimised build drops it.
TEST(ExportedNames, InBandOperationsAreDefinedUnderTheirOwnNames)
{
    std::vector<Symbol> symbols = exported_symbol_list(true);
    ASSERT_FALSE(symbols.empty());
    // Whole names, or names up to their argument list.
    const char* expected[] = {
        "BaseMad::BaseMad(std::shared_ptr<LibIBMadWrapper>&)",
        "SmpMad::SmpMad(std::shared_ptr<LibIBMadWrapper>&)",
        "GmpMad::GmpMad(std::shared_ptr<LibIBMadWrapper>&)",
        "ClassAMad::ClassAMad(std::shared_ptr<LibIBMadWrapper>&)",
        "tov_core::SmpMadInterface::~SmpMadInterface()",
        "tov_core::ConfigSpaceAccessBuffer::SetIterationStep(unsigned int)",
        "tov_core::ConfigSpaceAccessBuffer::SetRecordDataOffset(unsigned int)",
        "tov_core::ConfigSpaceAccessBuffer::SetRecordBitMask(unsigned int)",
        "tov_core::AccessRegisterMadBuffer::SetBufferData(",
        "tov_core::AccessRegisterMadBuffer::GetBufferData(",
        "AccessRegisterMadGmp::PerfromRegAccessOperation(",
        "IBDevice::GetMaxChunkSize() const",
    };
    for (const char* operation : expected) {
        bool found = false;
        for (const Symbol& symbol : symbols) {
            found = found || (symbol.kind == 'T' && symbol.name.rfind(operation, 0) == 0);
        }
        EXPECT_TRUE(found) << operation;
    }
}

// A pointer to a virtual member function holds 1 + the byte offset of its
// slot in the table (the C++ ABI of this platform).
template <class Method>
size_t slot_of(Method method)
{
    uintptr_t raw = 0;
    memcpy(&raw, &method, sizeof raw);
    EXPECT_EQ(raw % sizeof(void*), 1u) << "not a virtual slot";
    return (raw - 1) / sizeof(void*);
}

TEST(ExportedNames, SwitchSdkBaseTableStartsWithItsInitOperations)
{
    EXPECT_EQ(slot_of(&BaseQuorvaneOS::InitDynamicFunctions), 0u);
    EXPECT_EQ(slot_of(&BaseQuorvaneOS::InitDynamicLibrary), 1u);
}

TEST(ExportedNames, UsbAdapterTableFollowsTheDeviceOperations)
{
    // Slots 0 and 1 hold the destructor, 2 to 5 the device's own
    // operations.
    EXPECT_EQ(slot_of(&USBDevice::GetI2CFrequency), 6u);
    EXPECT_EQ(slot_of(&USBDevice::SetI2CFrequency), 7u);
    EXPECT_EQ(slot_of(&USBDevice::ScanI2CSecondary), 8u);
    EXPECT_EQ(slot_of(&USBDevice::GetFWVersion), 9u);
    EXPECT_EQ(slot_of(&USBDevice::GetSerialNumber), 10u);
    EXPECT_EQ(slot_of(&USBDevice::SetI2CAddressWidth), 11u);
    EXPECT_EQ(slot_of(&USBDevice::SetI2CSlaveAddress), 12u);
    EXPECT_EQ(slot_of(&BaseQZUSB::SendTransaction), 13u);
    EXPECT_EQ(slot_of(&BaseQZUSB::ClaimInterface), 14u);
    EXPECT_EQ(slot_of(&BaseQZUSB::ReleaseInterface), 15u);
    EXPECT_EQ(slot_of(&BaseQZUSB::SendRequest), 16u);
    EXPECT_EQ(slot_of(&BaseQZUSB::GetResponse), 17u);
}

}  // namespace
