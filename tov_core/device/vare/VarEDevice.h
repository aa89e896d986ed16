/*
 * A device served by another process of the same host (the peer) through a
 * 16-byte shared mailbox file. Each Read or Write posts one request for one
 * 32-bit word, waits for the peer to carry it out and takes the answer. The
 * mailbox has no lock: one requesting process at a time.
 */
#ifndef TOV_CORE_DEVICE_VARE_VAREDEVICE_H
#define TOV_CORE_DEVICE_VARE_VAREDEVICE_H

#include <stdint.h>

#include <string>

#include "tov_core/device/Device.h"

#define VARE_MAILBOX_PATH "/tov_vare_com"

// The whole mailbox file, each word in host byte order.
struct sVarEMailbox {
    uint32_t busy;      // 1: a request is posted (the device); 0: done or free (the peer)
    uint32_t isWrite;   // 1: write data to address; 0: read address into data
    uint32_t address;
    uint32_t data;      // the word to write, or the peer's answer to a read
};

namespace tov_core {

class VarEDevice : public Device {
public:
    // How long each of the two waits (for a free mailbox, then for the
    // peer's answer) lasts before the request fails with -1.
    static constexpr int MAILBOX_TIMEOUT_MS = 5000;
    // Permission bits of a mailbox file that a request creates.
    static constexpr unsigned MAILBOX_FILE_MODE = 0600;

    // Keeps the name; opens nothing.
    VarEDevice(std::string& name, eCommunicationType type);
    ~VarEDevice() override = default;

    // One word through the mailbox: data[0] is filled (Read) or sent
    // (Write). Return 4, or -1 when length is below 4, the mailbox file
    // cannot be opened, sized or mapped, it stays busy for
    // MAILBOX_TIMEOUT_MS, or the peer does not answer within
    // MAILBOX_TIMEOUT_MS (the request is then withdrawn). Block while
    // waiting, sleeping between looks at the mailbox.
    int Read(uint32_t address, uint32_t length, uint32_t* data) override;
    int Write(uint32_t address, uint32_t length, uint32_t* data) override;
    // No access registers through the mailbox: always throw
    // tov_core::TovGeneralException.
    int AccessRegisterSend(uint32_t* data, uint32_t length, uint32_t registerId, int& status) override;
    int AccessRegisterGet(uint32_t* data, uint32_t length, uint32_t registerId, int& status) override;

    int SendTransaction(uint32_t address, uint32_t length, uint32_t* data, uint32_t isWrite);
};

}  // namespace tov_core

#endif
