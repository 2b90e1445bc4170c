#include "platform/resource.h"

#include <cstring>
#include <list>
#include <mutex>
#include <string>

struct ResourceEntry {
    std::string type;
    int id;
    const void* data;
    DWORD size;
};

namespace {

// A list, so that an HRSRC stays valid while other resources are registered.
std::mutex g_resourcesMutex;
std::list<ResourceEntry> g_resources;

ResourceEntry* Find(LPCSTR type, int id) {
    for (auto& entry : g_resources) {
        if (entry.id == id && entry.type == type) {
            return &entry;
        }
    }
    return nullptr;
}

}  // namespace

HRSRC FindResourceA(HMODULE, LPCSTR name, LPCSTR type) {
    auto id = reinterpret_cast<std::uintptr_t>(name);
    if (type == nullptr || id > 0xFFFF) {
        return nullptr;  // resources are looked up by numeric id only
    }
    std::lock_guard lock(g_resourcesMutex);
    return Find(type, static_cast<int>(id));
}

HGLOBAL LoadResource(HMODULE, HRSRC resource) {
    if (resource == nullptr) {
        return nullptr;
    }
    std::lock_guard lock(g_resourcesMutex);
    return resource->data;
}

const void* LockResource(HGLOBAL loaded) {
    return loaded;
}

DWORD SizeofResource(HMODULE, HRSRC resource) {
    if (resource == nullptr) {
        return 0;
    }
    std::lock_guard lock(g_resourcesMutex);
    return resource->size;
}

void RegisterResource(LPCSTR type, int id, const void* data, DWORD size) {
    std::lock_guard lock(g_resourcesMutex);
    if (auto* entry = Find(type, id)) {
        entry->data = data;
        entry->size = size;
        return;
    }
    g_resources.push_back({type, id, data, size});
}

void UnregisterResource(LPCSTR type, int id) {
    std::lock_guard lock(g_resourcesMutex);
    g_resources.remove_if([&](const ResourceEntry& e) { return e.id == id && e.type == type; });
}
