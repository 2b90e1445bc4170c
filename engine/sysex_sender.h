// CSysExSender: builds the host's messages in the program-wide message buffer and sends them
// through the output port. The update run's worker and the dispatcher on the timer thread both
// send; one lock keeps a build and its send from overlapping another, and keeps the port from
// being opened or closed while a send is in flight.
#pragma once

#include <cstdint>
#include <mutex>

#include "midi/midi_out_port.h"

class CSysExSender {
  public:
    explicit CSysExSender(MidiOutPort& port) : m_port(port) {}

    // 0 when sent, -1 when the port is closed or the platform refused the message.
    int SendSysEx(const std::uint8_t* bytes, std::int32_t length);
    int SendStatus(std::uint8_t code = 0);
    int SendWriteBlock(std::uint8_t model, const std::uint8_t* data, std::int32_t address,
                       std::int32_t length);
    int SendEraseRange(std::uint8_t model, std::int32_t address, std::int32_t size);
    int SendBeginUpdate(std::uint8_t model);
    int SendEndUpdate(std::uint8_t model);
    int SendIdentityRequest();
    int SendIdentityReply();

    // Stamps the family code of a passed model check into the stored Identity Reply.
    void SetIdentityReplyFamily(std::uint8_t family);

    // The port's Open and Close, excluded from sends in flight.
    [[nodiscard]] int OpenPort(int index);
    int ClosePort();

  private:
    int SendLocked(const std::uint8_t* bytes, std::int32_t length);

    MidiOutPort& m_port;
};
