#include "common/monitor_connections.h"

#include <wbemcli.h>

#include <new>

#include "common/com_library.h"
#include "common/scoped_handle.h"

namespace {

// Spelled out, so that nothing has to link the GUID library.
constexpr CLSID kWbemLocator = {0x4590F811, 0x1D3A, 0x11D0, {0x89, 0x1F, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};
constexpr IID kWbemLocatorInterface = {0xDC12A687, 0x737F, 0x11CF, {0x88, 0x4D, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};

// The caller's wait for the whole reading, and the worker's for each record.
constexpr DWORD kReadingWaitMs = 3000;
constexpr LONG kRecordWaitMs = 2000;
constexpr SIZE_T kWorkerStackBytes = 64 * 1024;

// Shared by the caller and the worker; whichever lets go last frees it, so that a caller that
// stopped waiting leaves nothing behind and nothing the worker still writes to.
struct Reading {
    LONG references;
    HRESULT result;
    UINT count;
    MonitorConnection records[kMostMonitorConnections];
};

void LetGo(Reading* reading) {
    if (InterlockedDecrement(&reading->references) == 0) delete reading;
}

// A VARIANT cleared when the scope ends.
class ScopedVariant {
public:
    explicit ScopedVariant(const ComFunctions& com) : com_(com) { value_.vt = VT_EMPTY; }
    ~ScopedVariant() { com_.clearVariant(&value_); }
    ScopedVariant(const ScopedVariant&) = delete;
    ScopedVariant& operator=(const ScopedVariant&) = delete;
    VARIANT* get() { return &value_; }

private:
    const ComFunctions& com_;
    VARIANT value_;
};

// The provider answers for the caller, which it must be allowed to impersonate.
HRESULT AllowImpersonation(const ComFunctions& com, IUnknown* proxy) {
    return com.setProxyBlanket(proxy, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                               RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
}

// CIM's uint32 comes as VT_I4 and its boolean as VT_BOOL.
HRESULT ReadRecord(const ComFunctions& com, IWbemClassObject* object, MonitorConnection* record) {
    ScopedVariant technology(com);
    ScopedVariant active(com);
    HRESULT result = object->Get(L"VideoOutputTechnology", 0, technology.get(), nullptr, nullptr);
    if (SUCCEEDED(result)) result = object->Get(L"Active", 0, active.get(), nullptr, nullptr);
    if (FAILED(result)) return result;
    if (technology.get()->vt != VT_I4 || active.get()->vt != VT_BOOL) return WBEM_E_TYPE_MISMATCH;
    record->videoOutputTechnology = static_cast<DWORD>(technology.get()->lVal);
    record->active = active.get()->boolVal != VARIANT_FALSE;
    return S_OK;
}

HRESULT QueryRecords(const ComFunctions& com, Reading* reading) {
    ComRef<IWbemLocator> locator;
    HRESULT result =
        com.createInstance(kWbemLocator, nullptr, CLSCTX_INPROC_SERVER, kWbemLocatorInterface, locator.putVoid());
    if (FAILED(result)) return result;
    ComString space(com, L"ROOT\\WMI");
    ComString language(com, L"WQL");
    ComString query(com, L"SELECT Active, VideoOutputTechnology FROM WmiMonitorConnectionParams");
    if (!space.get() || !language.get() || !query.get()) return E_OUTOFMEMORY;
    ComRef<IWbemServices> services;
    // The flag bounds the connection to two minutes; the caller stopped waiting long before.
    result = locator->ConnectServer(space.get(), nullptr, nullptr, nullptr, WBEM_FLAG_CONNECT_USE_MAX_WAIT, nullptr,
                                    nullptr, services.put());
    if (SUCCEEDED(result)) result = AllowImpersonation(com, services.get());
    if (FAILED(result)) return result;
    ComRef<IEnumWbemClassObject> found;
    result = services->ExecQuery(language.get(), query.get(), WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                                 nullptr, found.put());
    if (SUCCEEDED(result)) result = AllowImpersonation(com, found.get());
    if (FAILED(result)) return result;
    for (;;) {
        ComRef<IWbemClassObject> object;
        ULONG returned = 0;
        result = found->Next(kRecordWaitMs, 1, object.put(), &returned);
        if (result == WBEM_S_TIMEDOUT) return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
        if (FAILED(result)) return result;
        if (returned == 0) return S_OK;  // WBEM_S_FALSE: no more records
        if (reading->count == kMostMonitorConnections) return HRESULT_FROM_WIN32(ERROR_MORE_DATA);
        result = ReadRecord(com, object.get(), &reading->records[reading->count]);
        if (FAILED(result)) return result;
        ++reading->count;
    }
}

DWORD WINAPI ReadingWorker(LPVOID parameter) {
    Reading* reading = static_cast<Reading*>(parameter);
    const ComFunctions& com = Com();
    if (!com.initialize) {
        reading->result = HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    } else {
        // The scope ends after the objects, which QueryRecords releases before it returns.
        ComScope scope(com, COINIT_MULTITHREADED);
        reading->result = scope.Usable() ? QueryRecords(com, reading) : CO_E_NOTINITIALIZED;
    }
    LetGo(reading);
    return 0;
}

}  // namespace

HRESULT WINAPI ReadMonitorConnections(MonitorConnection* records, UINT capacity, UINT* count) {
    *count = 0;
    Reading* reading = new (std::nothrow) Reading();
    if (!reading) return E_OUTOFMEMORY;
    reading->references = 2;
    ScopedHandle worker(CreateThread(nullptr, kWorkerStackBytes, ReadingWorker, reading,
                                     STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    if (!worker.valid()) {
        HRESULT result = HRESULT_FROM_WIN32(GetLastError());
        delete reading;
        return result;
    }
    HRESULT result = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    if (WaitForSingleObject(worker.get(), kReadingWaitMs) == WAIT_OBJECT_0) {
        result = reading->result;
        if (SUCCEEDED(result) && reading->count > capacity) result = HRESULT_FROM_WIN32(ERROR_MORE_DATA);
        if (SUCCEEDED(result)) {
            for (UINT i = 0; i < reading->count; ++i) records[i] = reading->records[i];
            *count = reading->count;
        }
    }
    LetGo(reading);
    return result;
}
