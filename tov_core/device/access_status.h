/*
 * The status codes and access methods that the device access core and the
 * device framework share. The framework's devices return these values and the
 * access core passes them on, so they live below both: the access core's
 * public header includes this one, and the framework never reaches up into
 * the access core. Compiles on its own as C and as C++.
 */
#ifndef TOV_CORE_DEVICE_ACCESS_STATUS_H
#define TOV_CORE_DEVICE_ACCESS_STATUS_H

#ifdef __cplusplus
extern "C" {
#endif

/* Status of the register, ICMD and mailbox operations. The values are part of
 * the exported interface: callers compare and print them. */
typedef enum {
    ME_OK = 0,
    ME_GENERAL_ERROR = 1,
    ME_BAD_PARAMS = 2,
    ME_CR_ERROR = 3,
    ME_NOT_IMPLEMENTED = 4,
    ME_SEMAPHORE_LOCKED = 5,
    ME_MEM_ERROR = 6,
    ME_MAD_SEND_FAILED = 8,
    ME_UNKOWN_ACCESS_TYPE = 9,
    ME_UNSUPPORTED_DEVICE = 10,
    ME_UNSUPPORTED_OPERATION = 16,
    ME_UNSUPPORTED_ACCESS_TYPE = 17,
    ME_GMP_SET_NOT_SUPPORTED = 18,

    /* access-register status */
    ME_REG_ACCESS_BAD_STATUS_ERR = 0x100,
    ME_REG_ACCESS_BAD_METHOD = 257,
    ME_REG_ACCESS_NOT_SUPPORTED = 258,
    ME_REG_ACCESS_DEVICE_BUSY = 259,
    ME_REG_ACCESS_VERSION_NOT_SUPPORTED = 260,
    ME_REG_ACCESS_UNKNOWN_TLV = 261,
    ME_REG_ACCESS_REGISTER_NOT_SUPPORTED = 262,
    ME_REG_ACCESS_CLASS_NOT_SUPPORTED = 263,
    ME_REG_ACCESS_METHOD_NOT_SUPPORTED = 264,
    ME_REG_ACCESS_BAD_PARAMETER = 265,
    ME_REG_ACCESS_RESOURCE_UNAVAILABLE = 266,
    ME_REG_ACCESS_MESSAGE_RECEIPT_ACK = 267,
    ME_REG_ACCESS_UNKNOWN_ERROR = 268,
    ME_REG_ACCESS_TOO_LARGE = 269,
    ME_REG_ACCESS_CONFIG_CORRUPTED = 270,
    ME_REG_ACCESS_LENGTH_TOO_SMALL = 271,
    ME_REG_ACCESS_CONFIG_REJECTED = 272,
    ME_REG_ACCESS_ERASE_COUNT_EXCEEDED = 273,
    ME_REG_ACCESS_FIRMWARE_ERROR = 274,

    /* ICMD */
    ME_ICMD_STATUS_CR_FAIL = 0x200,
    ME_ICMD_INVALID_OPCODE = 513,
    ME_ICMD_INVALID_CMD = 514,
    ME_ICMD_OPERATIONAL_ERROR = 515,
    ME_ICMD_BAD_PARAM = 516,
    ME_ICMD_BUSY = 517,
    ME_REG_ACCESS_ICMD_NOT_SUPPORTED = 519,
    ME_ICMD_STATUS_SEMAPHORE_TO = 520,
    ME_ICMD_STATUS_EXECUTE_TO = 521,
    ME_ICMD_STATUS_IFC_BUSY = 522,
    ME_ICMD_STATUS_ICMD_NOT_READY = 523,
    ME_ICMD_UNSUPPORTED_ICMD_VERSION = 524,
    ME_ICMD_UNKNOWN_STATUS = 525,
    ME_ICMD_ICM_NOT_AVAIL = 526,
    ME_ICMD_WRITE_PROTECT = 527,
    ME_ICMD_SIZE_EXCEEDS_LIMIT = 528,

    /* tools command interface */
    ME_CMDIF_BUSY = 0x300,
    ME_CMDIF_TIMEOUT = 769,
    ME_CMDIF_BAD_STATUS = 770, /* internal: never leaves the mailbox code */
    ME_CMDIF_OPERATION_NOT_SUPPORTED = 771,
    ME_CMDIF_NOT_SUPPORTED = 772,
    ME_CMDIF_BAD_SYSTEM_STATUS = 773,
    ME_CMDIF_UNKNOWN_TLV = 774,
    ME_CMDIF_BAD_RESET_STATE = 775,
    ME_CMDIF_UNKNOWN_STATUS = 776,

    /* management datagrams */
    ME_MAD_BAD_BUSY = 0x400,
    ME_MAD_REDIRECT = 1025,
    ME_MAD_BAD_VER = 1026,
    ME_MAD_METHOD_NOT_SUPP = 1027,
    ME_MAD_METHOD_ATTR_COMB_NOT_SUPP = 1028,
    ME_MAD_BAD_DATA = 1029,
    ME_MAD_GENERAL_ERR = 1030,
} m_err_code;

/* Direction of an access-register request. */
typedef enum eAccessMethod {
    ACCESS_METHOD_GET = 1,
    ACCESS_METHOD_SET = 2,
} eAccessMethod;

#ifdef __cplusplus
}
#endif

#endif
