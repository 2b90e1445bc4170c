#include "platform/device_directory.h"

#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/device_names.h"
#include "platform/midi_system.h"
#include "platform/rtmidi_backend.h"
#include "platform/virtual_backend.h"

namespace platform::devices {

namespace {

struct Device {
    bool isVirtual;
    std::string id;
    std::string name;
};

class Directory {
  public:
    static Directory& Instance() {
        // Never destroyed: ports may still be closed during static destruction.
        static auto* directory = new Directory;
        return *directory;
    }

    UINT Count(bool readable) {
        std::vector<Device> list = Scan(readable);
        std::lock_guard lock(m_listsMutex);
        auto& stored = readable ? m_inputs : m_outputs;
        stored = std::move(list);
        (readable ? m_inputsScanned : m_outputsScanned) = true;
        return static_cast<UINT>(stored.size());
    }

    bool Find(bool readable, UINT_PTR index, Device* device) {
        bool scanned;
        {
            std::lock_guard lock(m_listsMutex);
            scanned = readable ? m_inputsScanned : m_outputsScanned;
        }
        if (!scanned) {
            Count(readable);
        }
        std::lock_guard lock(m_listsMutex);
        const auto& list = readable ? m_inputs : m_outputs;
        if (index >= list.size()) {
            return false;
        }
        *device = list[index];
        return true;
    }

    std::unique_ptr<InputStream> OpenInput(const Device& device) {
        if (device.isVirtual) {
            return VirtualBackend().OpenInput(device.id);
        }
        std::lock_guard lock(m_realMutex);
        return m_real ? m_real->OpenInput(device.id) : nullptr;
    }

    std::unique_ptr<OutputStream> OpenOutput(const Device& device) {
        if (device.isVirtual) {
            return VirtualBackend().OpenOutput(device.id);
        }
        std::lock_guard lock(m_realMutex);
        return m_real ? m_real->OpenOutput(device.id) : nullptr;
    }

    MidiSystem RealSystem() {
        EnsureProbed();
        return m_system;
    }

  private:
    void EnsureProbed() {
        std::call_once(m_probed, [this] {
            m_system = FindMidiSystem(MidiSystemChoiceFromEnvironment());
            std::lock_guard lock(m_realMutex);
            m_real = CreateRtMidiBackend(m_system);
            if (!m_real) {
                m_system = MidiSystem::None;
                return;
            }
            // The backend's own clients (the listers) would otherwise stay registered with ALSA
            // or JACK until the system notices that this process is gone.
            std::atexit([] {
                auto& directory = Instance();
                std::lock_guard lock(directory.m_realMutex);
                directory.m_real.reset();
            });
        });
    }

    std::vector<Device> Scan(bool readable) {
        EnsureProbed();
        std::vector<PortRef> real;
        {
            std::lock_guard lock(m_realMutex);
            if (m_real) {
                real = readable ? m_real->ReadablePorts() : m_real->WritablePorts();
            }
        }
        auto& virtuals = VirtualBackend();
        std::vector<PortRef> local = readable ? virtuals.ReadablePorts() : virtuals.WritablePorts();

        std::vector<Device> list;
        std::vector<std::string> names;
        for (const bool isVirtual : {false, true}) {
            for (const auto& port : isVirtual ? local : real) {
                list.push_back(Device{isVirtual, port.id, {}});
                names.push_back(port.name);
            }
        }
        names = NumberDuplicateNames(names);
        for (std::size_t i = 0; i < list.size(); ++i) {
            list[i].name = std::move(names[i]);
        }
        return list;
    }

    std::once_flag m_probed;
    MidiSystem m_system = MidiSystem::None;

    // Guards the real backend, which exit closes while another thread may still scan or open.
    std::mutex m_realMutex;
    std::unique_ptr<MidiBackend> m_real;

    // Guards the lists as last counted; scans themselves run outside it.
    std::mutex m_listsMutex;
    std::vector<Device> m_inputs;
    std::vector<Device> m_outputs;
    bool m_inputsScanned = false;
    bool m_outputsScanned = false;
};

}  // namespace

UINT CountInputs() {
    return Directory::Instance().Count(true);
}

UINT CountOutputs() {
    return Directory::Instance().Count(false);
}

bool InputName(UINT_PTR device, std::string* name) {
    Device found;
    if (!Directory::Instance().Find(true, device, &found)) {
        return false;
    }
    *name = found.name;
    return true;
}

bool OutputName(UINT_PTR device, std::string* name) {
    Device found;
    if (!Directory::Instance().Find(false, device, &found)) {
        return false;
    }
    *name = found.name;
    return true;
}

MMRESULT OpenInput(UINT device, std::unique_ptr<InputStream>* stream) {
    auto& directory = Directory::Instance();
    Device found;
    if (!directory.Find(true, device, &found)) {
        return MMSYSERR_BADDEVICEID;
    }
    *stream = directory.OpenInput(found);
    return *stream ? MMSYSERR_NOERROR : MMSYSERR_NODRIVER;
}

MMRESULT OpenOutput(UINT device, std::unique_ptr<OutputStream>* stream) {
    auto& directory = Directory::Instance();
    Device found;
    if (!directory.Find(false, device, &found)) {
        return MMSYSERR_BADDEVICEID;
    }
    *stream = directory.OpenOutput(found);
    return *stream ? MMSYSERR_NOERROR : MMSYSERR_NODRIVER;
}

const char* RealSystemName() {
    return MidiSystemName(Directory::Instance().RealSystem());
}

}  // namespace platform::devices
