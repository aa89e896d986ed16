/*
 * Public interface of the device access core: the device handle, its access
 * types and name flags, the status codes, and device discovery.
 * Compiles on its own as C and as C++.
 */
#ifndef KELVRA_ACCESS_MFILE_H
#define KELVRA_ACCESS_MFILE_H

#include <stdint.h>

#include "tov_core/device/access_status.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The handle is opaque to callers; the access core keeps its fields in
 * access/mfile_internal.h. */
typedef struct mFile mFile;

/* Route by which a handle reaches its device (one value per handle; a mask of
 * them selects what mopen_adv accepts). */
typedef enum mdevs_type {
    ACCESS_SWITCH_OS = 0x2,
    ACCESS_JTAG = 0x3,
    ACCESS_LPC = 0x4,
    ACCESS_PCI_CR = 0x8,
    ACCESS_PCICONF = 0x10,
    ACCESS_AGGREGATED_PORT = 0x20,
    ACCESS_IB = 0x40,
    ACCESS_QZUSB = 0x200,
    ACCESS_VARE = 0x400,
    ACCESS_REMOTE = 0x800,
    ACCESS_I2C_DEV = 0x1000,
    ACCESS_CABLE = 0x8000,
    ACCESS_LIVEFISH = 0x20000,
    ACCESS_CHIP = 0x100000,
    ACCESS_PCI_BAR_GW = 0x200000,
    ACCESS_GEARBOX = 0x400000,
    ACCESS_GPU = 0x800000,
    ACCESS_NDC = 0x1000000,
} mdevs_type;

/* What a device name says about the device (a bitmask; the values overlap
 * those of mdevs_type but mean something else). */
typedef enum mdevs_flags {
    MDEVS_VARE = 0x1,
    MDEVS_USB = 0x2,
    MDEVS_PCI = 0x20,
    MDEVS_REMOTE = 0x80,
    MDEVS_I2C_DEV = 0x200,
    MDEVS_IB = 0x400,
    MDEVS_SWITCH_OS = 0x800,
    MDEVS_LPC = 0x1000,
    MDEVS_ZKL = 0x2000,
    MDEVS_CABLE = 0x8000,
    MDEVS_LIVEFISH = 0x10000,
    MDEVS_VY_CHIP = 0x200000,
    MDEVS_GEARBOX = 0x400000,
    MDEVS_ZKJTAG = 0x800000,
    MDEVS_GPU = 0x1000000,
    MDEVS_RETIMER = 0x2000000,
    MDEVS_AGGREGATED_PORT = 0x4000000,
} mdevs_flags;

/* Size of every device-name field of the records below. */
#define MDEV_NAME_SIZE 512
#define MDEV_NUMA_NODE_SIZE 4096

/* A virtual function of a listed PCI function. */
typedef struct vf_info {
    char name[MDEV_NAME_SIZE];
    uint16_t domain;
    uint8_t bus;
    uint8_t dev;
    uint8_t func;
    char** net_devs; /* null-terminated list */
    char** ib_devs;  /* null-terminated list */
} vf_info;

/* One listed device. Arrays of them belong to the caller of mdevices_info or
 * mdevices_info_v until mdevices_info_destroy. */
typedef struct dev_info {
    uint32_t type; /* 0x20 PCI function, 0x80 remote, 0x10000 livefish, else the name's flags */
    char dev_name[MDEV_NAME_SIZE];
    int ul_record;
    uint16_t domain;
    uint8_t bus;
    uint8_t dev;
    uint8_t func;
    uint16_t pci_dev_id;
    uint16_t vendor_id;
    uint32_t class_code;
    uint16_t subsys_id;
    uint16_t subsys_vendor_id;
    char cr_dev[MDEV_NAME_SIZE];
    char conf_dev[MDEV_NAME_SIZE];
    char** net_devs;
    char** ib_devs;
    char numa_node[MDEV_NUMA_NODE_SIZE];
    struct vf_info* vf_info;
    uint16_t vf_count;
} dev_info;

/* ---- open and close ---- */

/* Opens a device by name with every access type but cable and plug-in chip;
 * null with errno set when it cannot be opened. */
mFile* mopen(const char* name);
/* Opens a device and keeps it only when its access type has a bit in
 * adv_opt (else EPERM). */
mFile* mopen_adv(const char* name, uint32_t adv_opt);
/* The open road with an I2C register-address type (see mset_i2c_addr_width). */
mFile* mopend(const char* name, int i2c_addr_type);
/* Releases everything the open acquired; 0 for a null handle, else the
 * result of closing the device's road. */
int mclose(mFile* mf);
/* Clears the PCI semaphores a crashed user may have left on a device; an
 * m_err_code. */
int mclear_pci_semaphore(const char* name);
/* Reads the device-id word; the count of the word read (4 on success). */
int read_device_id(mFile* mf, uint32_t* device_id);
/* Exchanges a PCI handle's CR and configuration descriptors; the access type
 * from before the exchange. */
int mpci_change_ker(mFile* mf);

/* ---- word and block access ---- */

/* One 32-bit word at a byte address of the current address space: 4 on
 * success, else -1 (errno set) or 0 where a road gives up quietly. */
int mread4(mFile* mf, unsigned int offset, uint32_t* value);
int mwrite4(mFile* mf, unsigned int offset, uint32_t value);
/* Blocks of words in the largest chunks the road allows; the bytes moved. */
int mread4_block(mFile* mf, unsigned int offset, uint32_t* data, int byte_len);
int mwrite4_block(mFile* mf, unsigned int offset, uint32_t* data, int byte_len);
/* The block calls with every whole word byte-swapped on the caller's side.
 * mwrite_buffer leaves the caller's buffer as it was. */
int mread_buffer(mFile* mf, unsigned int offset, uint8_t* data, int byte_len);
int mwrite_buffer(mFile* mf, unsigned int offset, uint8_t* data, int byte_len);
/* One chunk of mwrite4_block: its bytes, or -1. */
int mwrite_chunk(mFile* mf, unsigned int offset, uint32_t* data, int byte_len);
/* A chunk as consecutive word calls: the length, 22 (EINVAL) for a length
 * that is not a multiple of 4, -1 when a word fails. */
int mread_chunk_as_multi_mread4(mFile* mf, unsigned int offset, uint32_t* data, int byte_len);
int mwrite_chunk_as_multi_mwrite4(mFile* mf, unsigned int offset, uint32_t* data, int byte_len);
/* Bytes of an I2C device behind the handle (at most 64): the bytes moved or
 * -1. The secondary address and width stay set on the handle. */
int mread_i2cblock(mFile* mf, uint8_t i2c_secondary, uint8_t addr_width, unsigned int offset, void* data,
                   int length);
int mwrite_i2cblock(mFile* mf, uint8_t i2c_secondary, uint8_t addr_width, unsigned int offset, void* data,
                    int length);
/* The I2C-block calls with the handle's secondary address and width. */
int mread64(mFile* mf, unsigned int offset, void* data, int length);
int mwrite64(mFile* mf, unsigned int offset, void* data, int length);
/* Largest chunk in bytes a block call of this handle moves at once. */
int get_chunk_size(mFile* mf);
/* 1 when the handle moves blocks in large chunks: any handle that is not a
 * USB adapter, and an adapter whose word at 0xF0014 reads back from a block
 * read at 0xF0010 (an adapter that cannot answers 0xFFFFFFFF there). */
int check_qzusb_block_access(mFile* mf);
/* Address space of later word accesses; 0, or -1 when the device lacks it. */
int mset_addr_space(mFile* mf, int space);
/* Byte-swaps length/4 words in place. */
void fix_endianness(uint32_t* buf, int length);
void buff_cpu2be(uint32_t* buf, int length);
/* 1 when I2C transfers through this PCI device are refused unless forced. */
int pci_i2c_access_prevented(mFile* mf);

/* ---- classification of names and handles ---- */

/* The mdevs_flags of a device name. */
uint32_t get_device_flags(const char* name);
/* 1 when the handle's flags hold the USB, cable, livefish or chip bit. */
int is_pci_device(mFile* mf);
/* The handle's remote mark; 0 for a null handle. */
int is_remote_dev(mFile* mf);
int is_vq500_device(mFile* mf);
int is_vq500_pci_device(uint32_t pci_dev_id);
int is_pxuc_pciconf(mFile* mf);
int is_livefish_device(mFile* mf);

/* ---- accessors ---- */

/* Copies the handle's access type; 0, or 1 with errno EINVAL. */
int mget_mdevs_type(mFile* mf, uint32_t* mtype);
/* Copies the handle's name flags; 0, or 1 with errno EINVAL. */
int mget_mdevs_flags(mFile* mf, uint32_t* devs_flags);
/* I2C register-address width in bytes (0, 1, 2 or 4); 0, or 1 for another
 * width (the handle is left as it was). */
int mset_i2c_addr_width(mFile* mf, uint8_t addr_width);
int mget_i2c_addr_width(mFile* mf, uint8_t* addr_width);
/* Stores the I2C secondary address and returns the previous one; 0xFF for a
 * null handle. */
int mset_i2c_secondary(mFile* mf, uint8_t i2c_secondary);
/* 0, or -1 for a null handle or out pointer. */
int mget_i2c_secondary(mFile* mf, uint8_t* i2c_secondary);
/* The address space of later word accesses; -1 for a null handle. */
int mget_addr_space(mFile* mf);
/* 1 when the vendor-specific gateway serves the handle. */
int mget_vsec_supp(mFile* mf);
/* Forces the I2C secondary address of later opens; -1 for none. */
void set_force_i2c_address(int i2c_address);

/* ---- status codes ---- */

/* The text of a status code; "Unknown error code" for any value without one. */
const char* m_err2str(uint32_t status);
/* The m_err_code of a non-zero access-register status. */
int return_by_reg_status(int reg_status);

/* ---- access registers ---- */

/* Sends one access-register request (method: an eAccessMethod value). The
 * payload is both request and answer. Returns an m_err_code. */
int maccess_reg(mFile* mf, uint16_t reg_id, int reg_method, void* reg_data, uint32_t reg_size,
                uint32_t r_size_reg, uint32_t w_size_reg, int* reg_status);

/* ---- discovery ---- */

/* Writes the names of the devices whose flags share a bit with mask into buf,
 * one NUL-terminated name after the other; the count, or -1 when they do not
 * fit. mdevices hides secondary functions; mdevices_v with all_funcs set
 * lists them too. */
int mdevices(char* buf, int len, int mask);
int mdevices_v(char* buf, int len, int mask, int all_funcs);
/* Device records; null (count 0) when none. Free with mdevices_info_destroy. */
dev_info* mdevices_info(int mask, int* len);
dev_info* mdevices_info_v(int mask, int* len, int all_funcs);
void mdevices_info_destroy(dev_info* devs, int len);
/* 1 when the kernel driver published no node and user-level access is used. */
int check_ul_mode(void);
/* 1 when name is a PCI address in one of the accepted forms. */
int is_bdf(const char* name, unsigned* domain, unsigned* bus, unsigned* dev, unsigned* func);
/* 1 for an InfiniBand (network) name; the device name goes to out, which holds
 * MDEV_NAME_SIZE bytes. */
int is_ib_dev(const char* name, char* out);
int is_net_dev(const char* name, char* out);
/* The BAR gateway offset a driver node file names on its first
 * "bar_gw_offset = 0x..." line; -1 when it names none or it does not parse. */
int get_bar_offset(const char* node);
/* 0 when the driver's node file names a PCI address, else 1. */
int get_dev_dbdf(const char* dev_name, uint16_t* domain, uint8_t* bus, uint8_t* dev, uint8_t* func);
/* InfiniBand (ib set) or network interface names of a PCI function, as a
 * null-terminated list; null for none. Free with destroy_ib_net_devs. */
char** get_ib_net_devs(int domain, int bus, int dev, int func, int ib);
void destroy_ib_net_devs(char** devs);
/* The function's NUMA node as text (at most MDEV_NUMA_NODE_SIZE bytes with
 * the NUL), or "NA". */
void get_numa_node(uint16_t domain, uint8_t bus, uint8_t dev, uint8_t func, char* data);
/* Virtual functions of a PCI function; null (count 0) when none. */
vf_info* get_vf_info(uint16_t domain, uint8_t bus, uint8_t dev, uint8_t func, uint16_t* count);
void destroy_vf_devs(vf_info* vfs, int count);
/* 1 when hide is set and the node belongs to a function other than 0. */
int ignore_device(int hide, const char* name);
/* 1 when the handle's own record is a PCIe switch function. */
int is_pcie_switch_device(mFile* mf, dev_info* dev);
/* PCI address text of the handle's record (out holds 64 bytes); its length. */
int get_pci_dev_name(mFile* mf, char* buf);
/* First InfiniBand name of the handle's record (out holds 32 bytes); its
 * length. */
int get_pci_dev_rdma(mFile* mf, char* buf);

#ifdef __cplusplus
}
#endif

#endif
