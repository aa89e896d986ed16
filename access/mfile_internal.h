/*
 * The device handle as the access core sees it. Plug-ins receive the handle
 * pointer and may read these fields, so the record stays plain C with a
 * fixed field order. Compiles as C and as C++.
 */
#ifndef KELVRA_ACCESS_MFILE_INTERNAL_H
#define KELVRA_ACCESS_MFILE_INTERNAL_H

#include <stdint.h>

#include "access/mfile.h"

#ifdef __cplusplus
namespace tov_core {
class Device;
}
typedef tov_core::Device* mfile_device_ptr;
extern "C" {
#else
/* C code only carries the framework's device object, never calls into it. */
typedef struct tov_core_Device* mfile_device_ptr;
#endif

/* Owned elsewhere in the core: the user-level road and the plug-in loader. */
typedef struct ul_context ul_context;
struct dl_ctx;

#define MFILE_NAME_SIZE 512
#define MFILE_MAX_TILES 8

/* ICMD state of a handle; zero when the handle is made. `opened` comes first
 * because mclose tests it. */
typedef struct icmd_context {
    uint32_t opened;
    uint32_t took_semaphore;
    uint32_t ctrl_addr;
    uint32_t cmd_addr;
    uint32_t cmd_ptr_bitlen;
    uint32_t version_addr;
    uint32_t version_bit_offset;
    uint32_t version_bitlen;
    uint32_t max_cmd_size;
    uint32_t semaphore_addr;
    uint32_t static_cfg_not_done_addr;
    uint32_t static_cfg_not_done_offs;
    uint32_t lock_key;
    uint32_t ib_semaphore_lock;
    int32_t string_tlv_state;
    uint64_t dma_addr;
    uint32_t dma_size;
    uint32_t dma;
    uint32_t ifc_ready;
    uint32_t syndrome_addr;
    uint32_t last_syndrome;
} icmd_context;

/* One entry of the active-tile map that filters CR accesses. */
typedef struct mfile_tile {
    uint8_t active;
    uint32_t first_addr;
    uint32_t last_addr;
} mfile_tile;

/* The twin switch: exchanges the CR and configuration descriptors and returns
 * the access type from before the exchange. */
typedef int (*mfile_pci_switch_fn)(mFile* mf);

struct mFile {
    uint16_t hw_dev_id;
    uint16_t rev_id;
    uint32_t access_type;      /* mdevs_type */
    uint32_t twin_access_type; /* 16 on a CR handle whose configuration node is open too */
    uint32_t i2c_addr_type;    /* see the width table of mset_i2c_addr_width */
    int32_t node_opened;
    char dev_name[MFILE_NAME_SIZE];
    char open_name[MFILE_NAME_SIZE];
    uint32_t adapter_port;
    uint8_t i2c_secondary;
    uint32_t smbus_forced;
    char* ul_dev_name;
    int32_t fd;
    int32_t twin_fd;
    /* CR window of PCI CR handles; USB-adapter handles keep their I2C-semaphore
     * switch (1 or 0) here instead. */
    void* cr_window;
    uint32_t bar_gw_offset;
    int32_t lock_fd;
    mFile* child;
    int32_t vsec_info_missing;
    uint32_t vsec_cap_offset;
    uint32_t space_support;
    ul_context* ul_ctx;
    mfile_pci_switch_fn pci_switch;
    int32_t icmd_supported;
    int32_t cr_mbox_supported;
    uint32_t cr_host_order;
    uint32_t cr_space_offset;
    uint32_t cr_window_len;
    uint32_t vsec_supported;
    uint32_t use_smbus;
    uint32_t i2c_gw_addr;
    uint32_t dev_flags; /* mdevs_flags */
    uint32_t wa_sem_addr;
    uint32_t wa_confirm_pending;
    uint64_t wa_max_polls;
    uint64_t wa_confirms;
    uint64_t wa_polled_confirms;
    int32_t remote_ver_major;
    int32_t remote_ver_minor;
    dev_info* devinfo;
    icmd_context icmd;
    uint32_t addr_space;
    uint32_t max_reg_size[4];
    struct dl_ctx* dl_ctx;
    uint32_t cable_name;
    uint32_t chip_id;
    uint32_t gb_chip;
    uint8_t gb_managed;
    uint8_t gb_is_mngr;
    int32_t gb_mux_index;
    int32_t gb_lane;
    uint32_t gb_access;
    char gb_mngr_name[MFILE_NAME_SIZE];
    char gb_name[MFILE_NAME_SIZE];
    uint8_t gb_i2c_secondary;
    uint8_t gb_i2c_width;
    char gb_open_name[MFILE_NAME_SIZE];
    char gb_switch_dev[MFILE_NAME_SIZE];
    uint32_t gb_icmd_base;
    uint32_t gb_icmd_read_addr;
    int32_t rt_index;
    uint32_t rt_access;
    char rt_name[MFILE_NAME_SIZE];
    uint8_t rt_i2c_secondary;
    uint8_t rt_i2c_width;
    char rt_cable_prefix[514];
    uint32_t remote_chip_kind;
    int32_t remote_sock;
    int32_t remote_ssh;
    int32_t remote;
    void* ssh_client;
    struct dl_ctx* ssh_dl_ctx;
    void* dma_buf;
    int32_t dma_pages;
    void* mem_ops;
    uint32_t tile_map_enabled;
    mfile_tile tiles[MFILE_MAX_TILES];
    mfile_device_ptr device; /* owned by the handle */
};

/* Process-wide forced I2C secondary address; -1 for none. */
extern int force_i2c_address;

/* Port number an adapter name carries after its last '_'. */
int get_qzusb_offset_from_name(const char* name);

/* I2C register-address widths (bytes) and the type a handle stores for each,
 * searched in this order. */
typedef struct width2dtype {
    uint32_t width;
    uint32_t addr_type;
} width2dtype;

static const width2dtype width2dtype_arr[4] = {{0, 3}, {1, 2}, {2, 0}, {4, 1}};

/* The stored type of a width; -1 when the width is not in the table. */
static inline int i2c_width_to_addr_type(uint32_t width)
{
    for (int i = 0; i < 4; i++) {
        if (width2dtype_arr[i].width == width) {
            return (int)width2dtype_arr[i].addr_type;
        }
    }
    return -1;
}

/* The width of a stored type; -1 when the type is not in the table. */
static inline int i2c_addr_type_to_width(uint32_t addr_type)
{
    for (int i = 0; i < 4; i++) {
        if (width2dtype_arr[i].addr_type == addr_type) {
            return (int)width2dtype_arr[i].width;
        }
    }
    return -1;
}

#ifdef __cplusplus
}
#endif

#endif
