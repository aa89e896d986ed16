/*
 * Flat device-information interface for procedural callers. Compiles as C;
 * every function has C linkage and its bare name.
 *
 * The current device: create_instance makes a hardware id current, reading
 * its JSON file once; the queries answer about it; delete_instance drops it.
 * The per-id and catalogue functions work without the current device and
 * leave it alone.
 *
 * No function ever fails with an exception: a failure is logged at Error
 * (TOV_PRINT_LOG decides whether it shows) and the function answers its
 * default: 0 or false as a rule; -1 from create_instance,
 * create_instance_with_json_dir, get_num_of_devices and the catalogue
 * counts; 24 from get_cmd_ptr_bitlen. A text function leaves its buffer
 * untouched on failure; an id-array function writes nothing into its array.
 * A caller cannot tell a default from a genuine value of the same number.
 *
 * Text results: a function that fills a caller's buffer writes at most
 * DEVICE_INFO_MAX_TEXT_SIZE bytes, the terminating zero included; a longer
 * text is cut to DEVICE_INFO_MAX_TEXT_SIZE - 1 bytes and terminated. Give
 * every text function a buffer of at least that size. A null buffer, key or
 * section is a failure.
 *
 * Id arrays: hardware ids as uint32_t in catalogue order; give room for
 * DEVICE_INFO_CATALOGUE_SIZE entries.
 *
 * Not thread-safe: use from one thread at a time.
 */
#ifndef TOV_CORE_DEVICE_PYX_DEVICE_WRAPPER_PYXDEVICEWRAPPERC_H
#define TOV_CORE_DEVICE_PYX_DEVICE_WRAPPER_PYXDEVICEWRAPPERC_H

#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#define DEVICE_INFO_MAX_TEXT_SIZE 256
#define DEVICE_INFO_CATALOGUE_SIZE 41

#ifdef __cplusplus
extern "C" {
#endif

/* Lifecycle. 0, or -1 when the id's file cannot be read (no current device
 * is left then, not even the one held before). An id that is already current
 * is kept without reading any file, whatever the directory. */
int create_instance(int devId);
int create_instance_with_json_dir(int devId, const char* jsonDir);
void delete_instance(void);

/* Texts of the current device. */
void get_device_name(char* name);
void get_device_short_name(char* name);
void get_device_fw_name(char* name);
void get_mkey_path(char* path);
void get_field_as_string(char* value, const char* key, const char* section);

/* Any key of any section of the current device; 0 on failure. */
int get_field_as_int(const char* key, const char* section);
bool get_field_as_bool(const char* key, const char* section);
/* The checked form for values a caller must not take as 0 by default:
 * 0 and *value set when the key holds a JSON integer from 0 to max;
 * 1 (*value untouched) when the section has no such key; -1 (logged,
 * *value untouched) when it is of another type (a text such as "0x3000",
 * a boolean, a fraction) or out of range, or when there is no current
 * device. */
int get_field_as_unsigned(const char* key, const char* section, uint32_t max, uint32_t* value);

/* Kind and image layout of the current device. */
bool is_nic(void);
bool is_switch(void);
bool is_gearbox(void);
bool is_retimer(void);
bool is_veyo(void); /* a retimer counts as well */
bool is_4th_gen_nic(void);
bool is_5th_gen_nic(void);
bool is_fs2(void);
bool is_fs3(void);
bool is_fs4(void);
bool is_fs5(void);

/* Chip of the current device (its hardware id only). */
bool is_oskel(void);
bool is_tz3(void);
bool is_tz3b(void);
bool is_tz4_family(void);
bool is_tz4(void);
bool is_tz4b(void);
bool is_tz5(void);
bool is_tz6(void);
bool is_tz6b(void);
bool is_tz6c(void);
bool is_tz7(void);
bool is_tz8(void);
bool is_tessel(void);
bool is_tessel2(void);
bool is_tessel3(void);
bool is_tessel4(void);
bool is_hollin(void);
bool is_hollin2(void);
bool is_ferrow(void);
bool is_ferrow2(void);
bool is_ferrow3(void);
bool is_ferrow4(void);
bool is_ondrel(void);
bool is_ondrel2(void);
bool is_ondrel3(void);
bool is_vq500(void);
bool is_quillet(void);
bool is_quillet_sddv(void);
bool is_tobel_gear_box(void);

/* Capabilities of the current device. */
bool supports_eth(void);
bool is_pcie_uc_supported(void);
bool is_phy_uc_supported(void);
bool is_dynamic_db_supported(void);
bool is_dynamic_device_without_irisc_id(void);
bool fw_str_db_signature_exists(void);
bool supports_phy_uc(void);
bool is_zkRisc(void);

/* Identity of the current device. */
int get_device_hw_id(void);
uint32_t get_pci_device_id(void); /* last entry of pci_device_id_list; 0 for none */
int get_device_fw_major(void);

/* Tracer event format of the current device. */
int get_ptr_chunk_size(void);
int get_fifo_events_in_row(void);
int get_fifo_size(void);
int get_ts_id(void);
int get_g_event_ts_offs(void);
int get_g_event_ts_size(void);
int get_g_event_lost_bit_offs(void);
int get_g_event_data_offs(void);
int get_g_event_data_size(void);
int get_g_event_id_offs(void);
int get_g_event_id_size(void);
int get_g_event_unrel_bit_offs(void);

/* Processor layout for the tracers. */
int get_max_main_irisc(void);
int get_max_apu(void);
int get_max_num_of_tiles(void);
int get_max_irisc_per_tile(void);
int get_iris_start_addr(void);
int get_iris_step(void);
int get_tile_start(void);
int get_tile_step(void);
int get_apu_start_addr_step(void);
int get_apu_step(void);
int get_apu_max_num_of_steps(void);

/* ICMD mailbox of a device reached through CR space. */
int get_cmd_ptr_address(void);
int get_cmd_ptr_bitlen(void); /* 24 on failure */
int get_semaphore_address(void);
int get_static_cfg_not_done_address(void);
int get_static_cfg_not_done_offset(void);
int get_version_bit_offset(void);
int get_version_bitlen(void);
int get_version_address(void);

/* The number of catalogued hardware ids (DEVICE_INFO_CATALOGUE_SIZE). */
int get_num_of_devices(void);

/* Per-id queries: each reads devId's file from the "default" directory;
 * 0 when it cannot. */
bool is_nic_device(int devId);
bool is_switch_device(int devId);
bool is_gear_box(int devId);
bool is_cable(int devId);
bool is_5th_gen_nic_device(int devId);
bool is_dynamic_db_support_device(int devId);
bool is_enum_dynamic_db_supported(int devId);
bool is_deprecated(int devId); /* 0x1F5, 0x1FF, 0x1F7 (their file must exist) */

/* Catalogue. The counts answer -1 on failure (nothing copied then). */
int get_all_device_ids(uint32_t* ids);
int get_all_5th_gen_nics(uint32_t* ids);
int get_num_of_tracer_supported_deveices(void);
/* Never writes more ids than the last count that
 * get_num_of_tracer_supported_deveices answered (DEVICE_INFO_CATALOGUE_SIZE
 * before the first count). */
void get_all_tracer_supported_ids(uint32_t* ids);
void get_device_name_by_id(int devId, char* name);
void get_device_by_enum(int devId, char* name);
/* index 0 .. DEVICE_INFO_CATALOGUE_SIZE - 1; any other leaves name alone. */
void get_device_name_by_index(int index, char* name);
/* The first catalogued id whose device name equals name exactly, or -1. */
int get_device_id_from_str(const char* name);

/* Device names on standard output, one line each. */
void print_all_nics(void);
void print_all_supported_nics(void);
void print_all_switches(void);
void print_all_supported_switches(void);
void print_all_supported_retimers(void);

#ifdef __cplusplus
}
#endif

#endif
