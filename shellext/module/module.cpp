// Entry points of Dirvane.dll: the class object, the unload rule and self-registration.
#include "clsid.h"
#include "registrar.h"
#include "common/com.h"
#include "common/system.h"
#include "menu/context_menu.h"
#include "menu/explorer_command.h"
#include "res/resource.h"

using dv::menu::CDirvaneContextMenu;
using dv::menu::CDirvaneExplorerCommand;
using dv::menu::FreeMenuImagesAtUnload;
using dv::menu::FreeMenuImagesIfUnused;

using namespace dv;
using namespace dv::module;

namespace {

// Exists in every process that has loaded the file; never signalled, waited on or closed,
// so it lives as long as such a process.
const HANDLE g_selectorEvent = ::CreateEventW(nullptr, TRUE, FALSE, L"Global\\FileSystemObjectsSelector");

IClassFactory* g_handlerClassObject = nullptr;  // the module's own references, released at unload
IClassFactory* g_commandClassObject = nullptr;

// The class object of T in slot, made on first request (test, lock, test again).
template <class T>
HRESULT GetClassObject(IClassFactory*& slot, IClassFactory** factory) {
    if (!slot) {
        ::EnterCriticalSection(&Module().CreationLock());
        if (!slot) {
            auto* created = new (std::nothrow) CachedClassFactory<T>();
            if (created) {
                created->AddRef();
                slot = created;
            }
        }
        ::LeaveCriticalSection(&Module().CreationLock());
    }
    *factory = slot;
    return slot ? S_OK : E_OUTOFMEMORY;
}

void ReleaseClassObject(IClassFactory*& slot) {
    if (IClassFactory* object = slot) {
        slot = nullptr;
        object->Release();
    }
}

// Runs the registration scripts with the module's replacements, under the system locale, with the
// scripts' HKCR standing for classesRoot.
HRESULT RunScripts(ScriptMode mode, HKEY classesRoot = HKEY_CLASSES_ROOT) {
    const std::wstring path = ModuleFilePath(ResourceInstance());
    if (path.empty()) return HRESULT_FROM_WIN32(::GetLastError());
    if (path.size() >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    std::wstring quoted;
    for (wchar_t c : path) {
        quoted += c;
        if (c == L'\'') quoted += L'\'';  // doubled, so the script's quoting stays intact
    }
    const ScriptReplacements replacements = {
        {L"APPID", kDirvaneAppId}, {L"MODULE", quoted}, {L"MODULE_RAW", quoted}};

    LCID savedLocale = ::GetThreadLocale();
    ::SetThreadLocale(LOCALE_SYSTEM_DEFAULT);
    HRESULT hr;
    HMODULE module = ResourceInstance();
    // The module's script, then one per class; removed in the opposite order. The command class is
    // no context-menu handler: Windows 11 finds it through the package that names it.
    const UINT scripts[] = {IDR_MODULE_REGISTRY, IDR_HANDLER_REGISTRY, IDR_COMMAND_REGISTRY};
    hr = S_OK;
    for (size_t i = 0; i < ARRAYSIZE(scripts) && SUCCEEDED(hr); ++i) {
        const UINT script = scripts[mode == ScriptMode::Register ? i : ARRAYSIZE(scripts) - 1 - i];
        hr = RunRegistryResource(module, script, mode, replacements, classesRoot);
    }
    ::SetThreadLocale(savedLocale);
    return hr;
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    (void)g_selectorEvent;
    if (reason == DLL_PROCESS_ATTACH) return Module().IsInitialized() ? TRUE : FALSE;
    if (reason == DLL_PROCESS_DETACH) {
        ReleaseClassObject(g_handlerClassObject);
        ReleaseClassObject(g_commandClassObject);
        // Unloaded while the process goes on (at its end the system takes everything back).
        if (!reserved) FreeMenuImagesAtUnload();
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!Module().IsInitialized()) return E_UNEXPECTED;
    IClassFactory* factory = nullptr;
    HRESULT hr;
    if (clsid == CLSID_DirvaneContextMenu) hr = GetClassObject<CDirvaneContextMenu>(g_handlerClassObject, &factory);
    else if (clsid == CLSID_DirvaneExplorerCommand) hr = GetClassObject<CDirvaneExplorerCommand>(g_commandClassObject, &factory);
    else return CLASS_E_CLASSNOTAVAILABLE;
    if (FAILED(hr)) return hr;
    hr = factory->QueryInterface(iid, out);
    if (SUCCEEDED(hr) && !*out) hr = CLASS_E_CLASSNOTAVAILABLE;
    return hr;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    // Nothing of the module in use: the menu images that its handlers share go before it unloads.
    return Module().GetLockCount() == 0 && FreeMenuImagesIfUnused() ? S_OK : S_FALSE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() { return RunScripts(ScriptMode::Register); }

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() { return RunScripts(ScriptMode::Unregister); }

// regsvr32 /n /i:user (or /i:machine) registers into one store of classes only: "user" writes
// HKCU\Software\Classes, which needs no administrator rights and serves that user alone; "machine"
// writes HKLM\Software\Classes even where the user's own classes shadow the merged HKCR. With /u
// the same store is cleaned.
extern "C" HRESULT STDAPICALLTYPE DllInstall(BOOL install, PCWSTR commandLine) {
    HKEY root = nullptr;
    if (commandLine && ::lstrcmpiW(commandLine, L"user") == 0) root = HKEY_CURRENT_USER;
    else if (commandLine && ::lstrcmpiW(commandLine, L"machine") == 0) root = HKEY_LOCAL_MACHINE;
    else return E_INVALIDARG;
    unique_hkey classes;
    LONG rc = install ? ::RegCreateKeyExW(root, L"Software\\Classes", 0, nullptr, REG_OPTION_NON_VOLATILE,
                                          KEY_READ | KEY_WRITE, nullptr, classes.put(), nullptr)
                      : ::RegOpenKeyExW(root, L"Software\\Classes", 0, KEY_READ | KEY_WRITE, classes.put());
    if (rc == ERROR_FILE_NOT_FOUND && !install) return S_OK;  // nothing was ever registered there
    if (rc != ERROR_SUCCESS) {
        classes.release();
        return HRESULT_FROM_WIN32(rc);
    }
    return RunScripts(install ? ScriptMode::Register : ScriptMode::Unregister, classes.get());
}
