// Tests against the simulated node: the real libibmad over the user-MAD
// stand-in (first on the library path through the test's environment), the
// node answering behind it.
#ifndef KELVRA_TESTS_IB_NODE_FIXTURE_H
#define KELVRA_TESTS_IB_NODE_FIXTURE_H

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "tests/common/fixed_paths.h"
#include "tests/ib/ib_node.h"
#include "tests/ib/key_fixture.h"
#include "tov_core/device/ib/LibIBMadWrapper.h"
#include "umad_world.h"

namespace ib_test {

class NodeTest : public testing::Test {
protected:
    void SetUp() override { Attach(&node); }
    void TearDown() override { Attach(nullptr); }

    // A binding to LID 16 set up as a device sets it up; nothing seen yet.
    std::shared_ptr<LibIBMadWrapper> Binding()
    {
        static const int kClasses[] = {1, 0x81, 0x0A, 9};
        auto wrapper = std::make_shared<LibIBMadWrapper>();
        wrapper->RPCOpenPort(nullptr, 1, kClasses, 4);
        wrapper->RPCSetRetries(3);
        wrapper->SetMadTimeout(1000);
        wrapper->IBResolvePortIDStr("16", IB_DEST_LID);
        wrapper->InitializeKeys();
        node.seen.clear();
        return wrapper;
    }

    KeyFiles files{ib_test::kWithoutKeys};
    tov_test::VarLog var_log{false};
    IbNode node;
};

inline std::vector<uint8_t> Bytes(const uint8_t* from, size_t count)
{
    return std::vector<uint8_t>(from, from + count);
}

}  // namespace ib_test

#endif
