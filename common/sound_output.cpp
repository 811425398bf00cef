#include "common/sound_output.h"

#include <mmdeviceapi.h>
#include <endpointvolume.h>

#include "common/loaded_function.h"

namespace {

// Spelled out, so that nothing has to link the GUID library.
constexpr CLSID kDeviceEnumerator = {0xBCDE0395, 0xE52F, 0x467C, {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};
constexpr IID kDeviceEnumeratorInterface = {0xA95664D2, 0x9614, 0x4F35, {0xA7, 0x46, 0xDE, 0x8D, 0xB6, 0x36, 0x17, 0xE6}};
constexpr IID kEndpointVolumeInterface = {0x5CDF2C82, 0x841E, 0x4546, {0x97, 0x22, 0x0C, 0xF7, 0x40, 0x78, 0x22, 0x9A}};

// COM's library is loaded by full path at the first read only: a program that never rings
// never maps it, and an elevated Kalnix never takes a copy found by a search.
struct ComFunctions {
    decltype(&::CoInitializeEx) initialize;
    decltype(&::CoUninitialize) uninitialize;
    decltype(&::CoCreateInstance) createInstance;
};
ComFunctions g_com = {};
HMODULE g_ole32 = nullptr;
bool g_comStarted = false;

HRESULT LoadCom() {
    if (g_ole32) return S_OK;
    wchar_t path[MAX_PATH];
    const wchar_t kLibrary[] = L"\\ole32.dll";
    UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length + ARRAYSIZE(kLibrary) > MAX_PATH) return HRESULT_FROM_WIN32(ERROR_BUFFER_OVERFLOW);
    lstrcpynW(path + length, kLibrary, MAX_PATH - length);
    HMODULE module = LoadLibraryW(path);
    if (!module) return HRESULT_FROM_WIN32(GetLastError());
    g_com.initialize = LoadedFunction<decltype(g_com.initialize)>(L"ole32.dll", "CoInitializeEx");
    g_com.uninitialize = LoadedFunction<decltype(g_com.uninitialize)>(L"ole32.dll", "CoUninitialize");
    g_com.createInstance = LoadedFunction<decltype(g_com.createInstance)>(L"ole32.dll", "CoCreateInstance");
    if (!g_com.initialize || !g_com.uninitialize || !g_com.createInstance) {
        FreeLibrary(module);
        return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    }
    g_ole32 = module;  // kept until the end of the program: COM's objects live in it
    return S_OK;
}

HRESULT StartCom() {
    if (g_comStarted) return S_OK;
    HRESULT result = LoadCom();
    if (FAILED(result)) return result;
    // S_FALSE: started already on this thread; it still needs its own end.
    result = g_com.initialize(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(result)) return result;
    g_comStarted = true;
    return S_OK;
}

template <class Interface>
void Release(Interface*& object) {
    if (object) object->Release();
    object = nullptr;
}

}  // namespace

HRESULT WINAPI ReadDefaultSoundOutput(BOOL* muted, float* volume) {
    HRESULT result = StartCom();
    if (FAILED(result)) return result;
    IMMDeviceEnumerator* enumerator = nullptr;
    IMMDevice* device = nullptr;
    IAudioEndpointVolume* endpoint = nullptr;
    result = g_com.createInstance(kDeviceEnumerator, nullptr, CLSCTX_INPROC_SERVER, kDeviceEnumeratorInterface,
                                  reinterpret_cast<void**>(&enumerator));
    if (SUCCEEDED(result)) result = enumerator->GetDefaultAudioEndpoint(eRender, eConsole, &device);
    if (SUCCEEDED(result))
        result = device->Activate(kEndpointVolumeInterface, CLSCTX_INPROC_SERVER, nullptr,
                                  reinterpret_cast<void**>(&endpoint));
    if (SUCCEEDED(result)) result = endpoint->GetMute(muted);
    if (SUCCEEDED(result)) result = endpoint->GetMasterVolumeLevelScalar(volume);
    Release(endpoint);
    Release(device);
    Release(enumerator);
    return result;
}

void EndSoundOutputReads() {
    if (!g_comStarted) return;
    g_com.uninitialize();
    g_comStarted = false;
}
