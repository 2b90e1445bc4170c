#include "platform/device_directory.h"

#include <mutex>
#include <vector>

#include "platform/device_names.h"
#include "platform/midi_system.h"
#include "platform/rtmidi_backend.h"
#include "platform/virtual_backend.h"

namespace platform::devices {

namespace {

struct Device {
    MidiBackend* backend;
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
        std::lock_guard lock(m_mutex);
        auto& stored = readable ? m_inputs : m_outputs;
        stored = std::move(list);
        (readable ? m_inputsScanned : m_outputsScanned) = true;
        return static_cast<UINT>(stored.size());
    }

    bool Find(bool readable, UINT_PTR index, Device* device) {
        bool scanned;
        {
            std::lock_guard lock(m_mutex);
            scanned = readable ? m_inputsScanned : m_outputsScanned;
        }
        if (!scanned) {
            Count(readable);
        }
        std::lock_guard lock(m_mutex);
        const auto& list = readable ? m_inputs : m_outputs;
        if (index >= list.size()) {
            return false;
        }
        *device = list[index];
        return true;
    }

    MidiSystem RealSystem() {
        EnsureProbed();
        return m_system;
    }

  private:
    void EnsureProbed() {
        std::call_once(m_probed, [this] {
            m_system = FindMidiSystem(MidiSystemChoiceFromEnvironment());
            m_real = CreateRtMidiBackend(m_system);
            if (!m_real) {
                m_system = MidiSystem::None;
            }
        });
    }

    std::vector<Device> Scan(bool readable) {
        EnsureProbed();
        std::vector<Device> list;
        for (MidiBackend* backend : {m_real.get(), &VirtualBackend()}) {
            if (backend == nullptr) {
                continue;
            }
            for (auto& port : readable ? backend->ReadablePorts() : backend->WritablePorts()) {
                list.push_back({backend, std::move(port.id), std::move(port.name)});
            }
        }
        std::vector<std::string> names;
        for (const auto& device : list) {
            names.push_back(device.name);
        }
        names = NumberDuplicateNames(names);
        for (std::size_t i = 0; i < list.size(); ++i) {
            list[i].name = std::move(names[i]);
        }
        return list;
    }

    std::once_flag m_probed;
    MidiSystem m_system = MidiSystem::None;
    std::unique_ptr<MidiBackend> m_real;

    // Guards the lists as last counted; scans themselves run outside it.
    std::mutex m_mutex;
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
    Device found;
    if (!Directory::Instance().Find(true, device, &found)) {
        return MMSYSERR_BADDEVICEID;
    }
    *stream = found.backend->OpenInput(found.id);
    return *stream ? MMSYSERR_NOERROR : MMSYSERR_NODRIVER;
}

MMRESULT OpenOutput(UINT device, std::unique_ptr<OutputStream>* stream) {
    Device found;
    if (!Directory::Instance().Find(false, device, &found)) {
        return MMSYSERR_BADDEVICEID;
    }
    *stream = found.backend->OpenOutput(found.id);
    return *stream ? MMSYSERR_NOERROR : MMSYSERR_NODRIVER;
}

const char* RealSystemName() {
    return MidiSystemName(Directory::Instance().RealSystem());
}

}  // namespace platform::devices
