#include "engine/sysex_sender.h"

#include "protocol/messages.h"

namespace {

// The message buffer and the Identity Reply image are program-wide, so their guard is too.
std::mutex g_sendMutex;

}  // namespace

int CSysExSender::SendLocked(const std::uint8_t* bytes, std::int32_t length) {
    MIDIHDR header{};
    header.lpData = reinterpret_cast<LPSTR>(const_cast<std::uint8_t*>(bytes));
    header.dwBufferLength = static_cast<DWORD>(length);
    header.dwFlags = 0;
    return m_port.SendLong(&header) ? 0 : -1;
}

int CSysExSender::SendSysEx(const std::uint8_t* bytes, std::int32_t length) {
    std::lock_guard lock(g_sendMutex);
    return SendLocked(bytes, length);
}

int CSysExSender::SendStatus(std::uint8_t code) {
    std::lock_guard lock(g_sendMutex);
    auto length = rx::BuildStatus(rx::g_messageBuffer, rx::g_modelByte.load(), code);
    return SendLocked(rx::g_messageBuffer, length);
}

int CSysExSender::SendWriteBlock(std::uint8_t model, const std::uint8_t* data, std::int32_t address,
                                 std::int32_t length) {
    std::lock_guard lock(g_sendMutex);
    auto size = rx::BuildWriteBlock(rx::g_messageBuffer, model, data, address, length);
    return SendLocked(rx::g_messageBuffer, size);
}

int CSysExSender::SendEraseRange(std::uint8_t model, std::int32_t address, std::int32_t size) {
    std::lock_guard lock(g_sendMutex);
    auto length = rx::BuildEraseRange(rx::g_messageBuffer, model, address, size);
    return SendLocked(rx::g_messageBuffer, length);
}

int CSysExSender::SendBeginUpdate(std::uint8_t model) {
    std::lock_guard lock(g_sendMutex);
    auto length = rx::BuildBeginUpdate(rx::g_messageBuffer, model);
    return SendLocked(rx::g_messageBuffer, length);
}

int CSysExSender::SendEndUpdate(std::uint8_t model) {
    std::lock_guard lock(g_sendMutex);
    auto length = rx::BuildEndUpdate(rx::g_messageBuffer, model);
    return SendLocked(rx::g_messageBuffer, length);
}

int CSysExSender::SendIdentityRequest() {
    return SendSysEx(rx::kIdentityRequestImage, sizeof rx::kIdentityRequestImage);
}

int CSysExSender::SendIdentityReply() {
    return SendSysEx(rx::g_identityReplyImage, sizeof rx::g_identityReplyImage);
}

void CSysExSender::SetIdentityReplyFamily(std::uint8_t family) {
    std::lock_guard lock(g_sendMutex);
    rx::g_identityReplyImage[6] = family;
}

int CSysExSender::OpenPort(int index) {
    std::lock_guard lock(g_sendMutex);
    return m_port.Open(index);
}

int CSysExSender::ClosePort() {
    std::lock_guard lock(g_sendMutex);
    return m_port.Close();
}
