#include <map>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "access/mfile.h"
#include "access/status_tables.h"

namespace {

struct CodeText {
    int64_t code;
    const char* text;
};

void PrintTo(const CodeText& c, std::ostream* os)
{
    *os << c.code;
}

class ErrorText : public testing::TestWithParam<CodeText> {};

TEST_P(ErrorText, MatchesTheTable)
{
    EXPECT_STREQ(m_err2str((uint32_t)GetParam().code), GetParam().text);
}

const char* const kUnknown = "Unknown error code";

INSTANTIATE_TEST_SUITE_P(
    General, ErrorText,
    testing::Values(CodeText{0, "ME_OK"}, CodeText{1, "General error"}, CodeText{2, "ME_BAD_PARAMS"},
                    CodeText{3, "ME_CR_ERROR"}, CodeText{4, "ME_NOT_IMPLEMENTED"}, CodeText{5, "Semaphore locked"},
                    CodeText{6, "ME_MEM_ERROR"}, CodeText{7, kUnknown}, CodeText{8, "ME_MAD_SEND_FAILED"},
                    CodeText{9, "ME_UNKOWN_ACCESS_TYPE"}, CodeText{10, "ME_UNSUPPORTED_DEVICE"},
                    CodeText{11, kUnknown}, CodeText{15, kUnknown}, CodeText{16, "ME_UNSUPPORTED_OPERATION"},
                    CodeText{17, "ME_UNSUPPORTED_ACCESS_TYPE"},
                    CodeText{18, "Sending GMP MAD supports only Get() method, and you are trying to send Set() "
                                 "method\nto a register which is not small enough to send with SMP MAD."},
                    CodeText{19, kUnknown}, CodeText{255, kUnknown}, CodeText{-1, kUnknown}));

INSTANTIATE_TEST_SUITE_P(
    Register, ErrorText,
    testing::Values(CodeText{256, "ME_REG_ACCESS_BAD_STATUS_ERR"}, CodeText{257, "Bad method"},
                    CodeText{258, "The Register access is not supported by the device"},
                    CodeText{259, "Device is busy"}, CodeText{260, "Version not supported"},
                    CodeText{261, "Unknown TLV"}, CodeText{262, "Register not supported"},
                    CodeText{263, "Class not supported"}, CodeText{264, "Method not supported"},
                    CodeText{265, "Bad parameter"}, CodeText{266, "Resource unavailable"},
                    CodeText{267, "Message receipt ack"}, CodeText{268, "Unknown register error"},
                    CodeText{269, "Register is too large"}, CodeText{270, "Config Section Corrupted"},
                    CodeText{271, "The given Register length is too small for the Tlv"},
                    CodeText{272, "The configuration is rejected"},
                    CodeText{273, "The erase count exceeds its limit"}, CodeText{274, "Firmware internal error"},
                    CodeText{275, kUnknown}));

INSTANTIATE_TEST_SUITE_P(
    Icmd, ErrorText,
    testing::Values(CodeText{511, kUnknown}, CodeText{512, "ME_ICMD_STATUS_CR_FAIL"},
                    CodeText{513, "ME_ICMD_INVALID_OPCODE"}, CodeText{514, "ME_ICMD_INVALID_CMD"},
                    CodeText{515, "ME_ICMD_OPERATIONAL_ERROR"}, CodeText{516, "ME_ICMD_BAD_PARAM"},
                    CodeText{517, "ME_ICMD_BUSY"}, CodeText{518, kUnknown},
                    CodeText{519, "ME_REG_ACCESS_ICMD_NOT_SUPPORTED"}, CodeText{520, "ME_ICMD_STATUS_SEMAPHORE_TO"},
                    CodeText{521, "ME_ICMD_STATUS_EXECUTE_TO"}, CodeText{522, "ME_ICMD_STATUS_IFC_BUSY"},
                    CodeText{523, "ME_ICMD_STATUS_ICMD_NOT_READY"},
                    CodeText{524, "ME_ICMD_UNSUPPORTED_ICMD_VERSION"}, CodeText{525, "ME_ICMD_UNKNOWN_STATUS"},
                    CodeText{526, "ME_ICMD_ICM_NOT_AVAIL"}, CodeText{527, "ME_ICMD_WRITE_PROTECT"},
                    CodeText{528, "ME_ICMD_SIZE_EXCEEDS_LIMIT"}, CodeText{529, kUnknown}));

INSTANTIATE_TEST_SUITE_P(
    ToolsCmdif, ErrorText,
    testing::Values(CodeText{767, kUnknown}, CodeText{768, "Tools HCR busy"}, CodeText{769, "Tools HCR time out."},
                    CodeText{770, kUnknown}, CodeText{771, "Operation not supported"},
                    CodeText{772, "Tools HCR not supported"},
                    CodeText{773, "bad system status (driver may be down or Fw does not support this operation)"},
                    CodeText{774, "Unknown TLV"}, CodeText{775, "Bad reset state"}, CodeText{776, "Unknown status"},
                    CodeText{777, kUnknown}));

INSTANTIATE_TEST_SUITE_P(
    Mad, ErrorText,
    testing::Values(CodeText{1023, kUnknown},
                    CodeText{1024, "Temporarily busy. MAD discarded. This is not an error"},
                    CodeText{1025, "Redirection. This is not an error"}, CodeText{1026, "Bad version"},
                    CodeText{1027, "Method not supported"},
                    CodeText{1028, "Method and attribute combination isn't supported"},
                    CodeText{1029, "Bad attribute modifier or field"}, CodeText{1030, "Unknown MAD error"},
                    CodeText{1031, kUnknown}, CodeText{0x7fffffff, kUnknown}));

// Firmware names only a few register statuses; every other one, 0 included,
// is an unknown register error (never "too large").
TEST(RegisterStatus, EveryStatusTranslates)
{
    const std::map<int, int> named = {{1, 259}, {2, 260}, {3, 261}, {4, 262},  {5, 263},  {6, 264},  {7, 265},
                                      {8, 266}, {9, 267}, {32, 272}, {33, 273}, {34, 270}, {36, 271}, {112, 274}};
    for (int status = -5; status <= 300; status++) {
        auto it = named.find(status);
        int expected = it == named.end() ? ME_REG_ACCESS_UNKNOWN_ERROR : it->second;
        EXPECT_EQ(return_by_reg_status(status), expected) << "status " << status;
    }
}

TEST(IcmdStatus, EveryStatusByteTranslates)
{
    const int named[] = {0, 513, 514, 515, 516, 517, 526, 527};
    for (int status = 0; status <= 255; status++) {
        int expected = status < 8 ? named[status] : ME_ICMD_UNKNOWN_STATUS;
        EXPECT_EQ(icmd_status_to_m_err((uint8_t)status), expected) << "status " << status;
    }
}

TEST(ToolsCmdifStatus, EveryStatusByteTranslates)
{
    const int named[] = {0, 768, 771, 774, 773, 776, 776, 776, 776, 775};
    for (int status = 0; status <= 255; status++) {
        int expected = status < 10 ? named[status] : ME_CMDIF_UNKNOWN_STATUS;
        EXPECT_EQ(tools_cmdif_status_to_m_err((uint8_t)status), expected) << "status " << status;
    }
}

TEST(GearboxStatus, EveryStatusTranslates)
{
    const int expected[] = {0, 1, 9, 516, 525, 525, 7, 519};
    for (uint32_t status = 0; status < 8; status++) {
        EXPECT_EQ(gearbox_status_to_m_err(status), expected[status]) << "status " << status;
    }
}

}  // namespace
