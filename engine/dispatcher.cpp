// The reply dispatcher: drains the input queue on every timer tick, turns the unit's replies
// into result codes and signals, answers the requests the unit itself sends, drops the rest.
#include "engine/updater_engine.h"
#include "protocol/messages.h"

namespace {

// Every reaction needs the message's closing F7: the first part of a message that was cut at
// the receive buffer's end must not pass for a whole reply.
bool Complete(const BYTE* entry, DWORD length) {
    return entry[length - 1] == rx::kSysExEnd;
}

}  // namespace

void CUpdaterEngine::PollReplies() {
    for (;;) {
        DWORD length = 0;
        const BYTE* entry = m_in.PeekSysEx(&length);
        if (entry == nullptr) {
            return;
        }
        // An entry too short for the bytes a rule reads is removed without effect.
        if (length >= 5 && entry[0] == rx::kSysExStart && Complete(entry, length)) {
            const BYTE family = entry[1];
            const BYTE command = entry[4];
            if (family == rx::kManufacturerId && entry[3] == rx::g_modelByte.load()) {
                switch (command) {
                    case rx::kCmdStatus:
                        if (length >= 6) {
                            AcceptReply(ReplyKind::kStatus, entry[5], 0);
                        }
                        break;
                    case rx::kCmdBeginUpdate:
                    case rx::kCmdEndUpdate:
                    case 0x05:
                        m_sender.SendStatus(rx::kStatusAccepted);
                        break;
                    case rx::kCmdWriteBlock:
                        AcceptReply(ReplyKind::kWriteAck, 0, 0);
                        break;
                    case 0x03:
                        break;
                    default:
                        m_sender.SendStatus(rx::kStatusNotRecognised);
                        break;
                }
            } else if (family == rx::kUniversalNonRealTime && entry[3] == rx::kGeneralInformation) {
                if (command == 0x01) {
                    m_sender.SendIdentityReply();
                } else if (command == 0x02) {
                    if (length >= 7) {
                        AcceptReply(ReplyKind::kIdentityReply, 0, entry[6]);
                    }
                } else {
                    m_sender.SendStatus(rx::kStatusNotRecognised);
                }
            }
        }
        m_in.PopSysEx();
    }
}
