/*
 * Texts of the status codes and the tables that turn hardware and firmware
 * statuses into them.
 */
#include "access/mfile.h"
#include "access/status_tables.h"

extern "C" {

const char* m_err2str(uint32_t status)
{
    switch (status) {
    case ME_OK: return "ME_OK";
    case ME_GENERAL_ERROR: return "General error";
    case ME_BAD_PARAMS: return "ME_BAD_PARAMS";
    case ME_CR_ERROR: return "ME_CR_ERROR";
    case ME_NOT_IMPLEMENTED: return "ME_NOT_IMPLEMENTED";
    case ME_SEMAPHORE_LOCKED: return "Semaphore locked";
    case ME_MEM_ERROR: return "ME_MEM_ERROR";
    case ME_MAD_SEND_FAILED: return "ME_MAD_SEND_FAILED";
    case ME_UNKOWN_ACCESS_TYPE: return "ME_UNKOWN_ACCESS_TYPE";
    case ME_UNSUPPORTED_DEVICE: return "ME_UNSUPPORTED_DEVICE";
    case ME_UNSUPPORTED_OPERATION: return "ME_UNSUPPORTED_OPERATION";
    case ME_UNSUPPORTED_ACCESS_TYPE: return "ME_UNSUPPORTED_ACCESS_TYPE";
    case ME_GMP_SET_NOT_SUPPORTED:
        return "Sending GMP MAD supports only Get() method, and you are trying to send Set() method\n"
               "to a register which is not small enough to send with SMP MAD.";

    case ME_REG_ACCESS_BAD_STATUS_ERR: return "ME_REG_ACCESS_BAD_STATUS_ERR";
    case ME_REG_ACCESS_BAD_METHOD: return "Bad method";
    case ME_REG_ACCESS_NOT_SUPPORTED: return "The Register access is not supported by the device";
    case ME_REG_ACCESS_DEVICE_BUSY: return "Device is busy";
    case ME_REG_ACCESS_VERSION_NOT_SUPPORTED: return "Version not supported";
    case ME_REG_ACCESS_UNKNOWN_TLV: return "Unknown TLV";
    case ME_REG_ACCESS_REGISTER_NOT_SUPPORTED: return "Register not supported";
    case ME_REG_ACCESS_CLASS_NOT_SUPPORTED: return "Class not supported";
    case ME_REG_ACCESS_METHOD_NOT_SUPPORTED: return "Method not supported";
    case ME_REG_ACCESS_BAD_PARAMETER: return "Bad parameter";
    case ME_REG_ACCESS_RESOURCE_UNAVAILABLE: return "Resource unavailable";
    case ME_REG_ACCESS_MESSAGE_RECEIPT_ACK: return "Message receipt ack";
    case ME_REG_ACCESS_UNKNOWN_ERROR: return "Unknown register error";
    case ME_REG_ACCESS_TOO_LARGE: return "Register is too large";
    case ME_REG_ACCESS_CONFIG_CORRUPTED: return "Config Section Corrupted";
    case ME_REG_ACCESS_LENGTH_TOO_SMALL: return "The given Register length is too small for the Tlv";
    case ME_REG_ACCESS_CONFIG_REJECTED: return "The configuration is rejected";
    case ME_REG_ACCESS_ERASE_COUNT_EXCEEDED: return "The erase count exceeds its limit";
    case ME_REG_ACCESS_FIRMWARE_ERROR: return "Firmware internal error";

    case ME_ICMD_STATUS_CR_FAIL: return "ME_ICMD_STATUS_CR_FAIL";
    case ME_ICMD_INVALID_OPCODE: return "ME_ICMD_INVALID_OPCODE";
    case ME_ICMD_INVALID_CMD: return "ME_ICMD_INVALID_CMD";
    case ME_ICMD_OPERATIONAL_ERROR: return "ME_ICMD_OPERATIONAL_ERROR";
    case ME_ICMD_BAD_PARAM: return "ME_ICMD_BAD_PARAM";
    case ME_ICMD_BUSY: return "ME_ICMD_BUSY";
    case ME_REG_ACCESS_ICMD_NOT_SUPPORTED: return "ME_REG_ACCESS_ICMD_NOT_SUPPORTED";
    case ME_ICMD_STATUS_SEMAPHORE_TO: return "ME_ICMD_STATUS_SEMAPHORE_TO";
    case ME_ICMD_STATUS_EXECUTE_TO: return "ME_ICMD_STATUS_EXECUTE_TO";
    case ME_ICMD_STATUS_IFC_BUSY: return "ME_ICMD_STATUS_IFC_BUSY";
    case ME_ICMD_STATUS_ICMD_NOT_READY: return "ME_ICMD_STATUS_ICMD_NOT_READY";
    case ME_ICMD_UNSUPPORTED_ICMD_VERSION: return "ME_ICMD_UNSUPPORTED_ICMD_VERSION";
    case ME_ICMD_UNKNOWN_STATUS: return "ME_ICMD_UNKNOWN_STATUS";
    case ME_ICMD_ICM_NOT_AVAIL: return "ME_ICMD_ICM_NOT_AVAIL";
    case ME_ICMD_WRITE_PROTECT: return "ME_ICMD_WRITE_PROTECT";
    case ME_ICMD_SIZE_EXCEEDS_LIMIT: return "ME_ICMD_SIZE_EXCEEDS_LIMIT";

    case ME_CMDIF_BUSY: return "Tools HCR busy";
    case ME_CMDIF_TIMEOUT: return "Tools HCR time out.";
    case ME_CMDIF_OPERATION_NOT_SUPPORTED: return "Operation not supported";
    case ME_CMDIF_NOT_SUPPORTED: return "Tools HCR not supported";
    case ME_CMDIF_BAD_SYSTEM_STATUS:
        return "bad system status (driver may be down or Fw does not support this operation)";
    case ME_CMDIF_UNKNOWN_TLV: return "Unknown TLV";
    case ME_CMDIF_BAD_RESET_STATE: return "Bad reset state";
    case ME_CMDIF_UNKNOWN_STATUS: return "Unknown status";

    case ME_MAD_BAD_BUSY: return "Temporarily busy. MAD discarded. This is not an error";
    case ME_MAD_REDIRECT: return "Redirection. This is not an error";
    case ME_MAD_BAD_VER: return "Bad version";
    case ME_MAD_METHOD_NOT_SUPP: return "Method not supported";
    case ME_MAD_METHOD_ATTR_COMB_NOT_SUPP: return "Method and attribute combination isn't supported";
    case ME_MAD_BAD_DATA: return "Bad attribute modifier or field";
    case ME_MAD_GENERAL_ERR: return "Unknown MAD error";
    default: return "Unknown error code";
    }
}

int return_by_reg_status(int reg_status)
{
    // Every status the firmware does not name is an unknown register error.
    switch (reg_status) {
    case 1: return ME_REG_ACCESS_DEVICE_BUSY;
    case 2: return ME_REG_ACCESS_VERSION_NOT_SUPPORTED;
    case 3: return ME_REG_ACCESS_UNKNOWN_TLV;
    case 4: return ME_REG_ACCESS_REGISTER_NOT_SUPPORTED;
    case 5: return ME_REG_ACCESS_CLASS_NOT_SUPPORTED;
    case 6: return ME_REG_ACCESS_METHOD_NOT_SUPPORTED;
    case 7: return ME_REG_ACCESS_BAD_PARAMETER;
    case 8: return ME_REG_ACCESS_RESOURCE_UNAVAILABLE;
    case 9: return ME_REG_ACCESS_MESSAGE_RECEIPT_ACK;
    case 0x20: return ME_REG_ACCESS_CONFIG_REJECTED;
    case 0x21: return ME_REG_ACCESS_ERASE_COUNT_EXCEEDED;
    case 0x22: return ME_REG_ACCESS_CONFIG_CORRUPTED;
    case 0x24: return ME_REG_ACCESS_LENGTH_TOO_SMALL;
    case 0x70: return ME_REG_ACCESS_FIRMWARE_ERROR;
    default: return ME_REG_ACCESS_UNKNOWN_ERROR;
    }
}

int icmd_status_to_m_err(uint8_t icmd_status)
{
    switch (icmd_status) {
    case 0: return ME_OK;
    case 1: return ME_ICMD_INVALID_OPCODE;
    case 2: return ME_ICMD_INVALID_CMD;
    case 3: return ME_ICMD_OPERATIONAL_ERROR;
    case 4: return ME_ICMD_BAD_PARAM;
    case 5: return ME_ICMD_BUSY;
    case 6: return ME_ICMD_ICM_NOT_AVAIL;
    case 7: return ME_ICMD_WRITE_PROTECT;
    default: return ME_ICMD_UNKNOWN_STATUS;
    }
}

int tools_cmdif_status_to_m_err(uint8_t cmdif_status)
{
    switch (cmdif_status) {
    case 0: return ME_OK;
    case 1: return ME_CMDIF_BUSY;
    case 2: return ME_CMDIF_OPERATION_NOT_SUPPORTED;
    case 3: return ME_CMDIF_UNKNOWN_TLV;
    case 4: return ME_CMDIF_BAD_SYSTEM_STATUS;
    case 9: return ME_CMDIF_BAD_RESET_STATE;
    default: return ME_CMDIF_UNKNOWN_STATUS;
    }
}

int gearbox_status_to_m_err(uint32_t gearbox_status)
{
    // The status field is three bits wide.
    switch (gearbox_status & 0x7) {
    case 0: return ME_OK;
    case 1: return ME_GENERAL_ERROR;
    case 2: return ME_UNKOWN_ACCESS_TYPE;
    case 3: return ME_ICMD_BAD_PARAM;
    case 4:
    case 5: return ME_ICMD_UNKNOWN_STATUS;
    case 6: return 7; // a status of its own without a name or text
    default: return ME_REG_ACCESS_ICMD_NOT_SUPPORTED;
    }
}

}  // extern "C"
