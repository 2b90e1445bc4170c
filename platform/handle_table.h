// Open devices by handle. A handle from the caller is only trusted once found here, and the
// shared_ptr keeps a device alive for a call that races with its closing.
#pragma once

#include <memory>
#include <mutex>
#include <unordered_map>

namespace platform {

template <typename Device>
class HandleTable {
  public:
    void Add(const std::shared_ptr<Device>& device) {
        std::lock_guard lock(m_mutex);
        m_devices.emplace(device.get(), device);
    }

    std::shared_ptr<Device> Find(Device* handle) {
        std::lock_guard lock(m_mutex);
        auto it = m_devices.find(handle);
        return it == m_devices.end() ? nullptr : it->second;
    }

    void Remove(Device* handle) {
        std::shared_ptr<Device> last;
        std::lock_guard lock(m_mutex);
        auto it = m_devices.find(handle);
        if (it != m_devices.end()) {
            last = std::move(it->second);
            m_devices.erase(it);
        }
    }

  private:
    std::mutex m_mutex;
    std::unordered_map<Device*, std::shared_ptr<Device>> m_devices;
};

}  // namespace platform
