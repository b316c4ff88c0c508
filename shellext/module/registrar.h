// A registrar for the registry-script language of the registration resources:
// root blocks, keys with default values, `val` named string values, NoRemove, ForceRemove
// and %NAME% replacements, in registration and unregistration mode.
#pragma once
#include <windows.h>
#include <string>
#include <utility>
#include <vector>

namespace dv::module {

using ScriptReplacements = std::vector<std::pair<std::wstring, std::wstring>>;

enum class ScriptMode { Register, Unregister };

// Runs a script. Syntax errors, unknown roots and unknown replacements give DISP_E_EXCEPTION;
// registry failures give the registry error as an HRESULT. Work done before a failure stays.
// The script's HKCR stands for classesRoot: a user's own classes (HKCU\Software\Classes) register
// the server for that user alone.
HRESULT RunRegistryScript(const std::wstring& script, ScriptMode mode, const ScriptReplacements& replacements,
                          HKEY classesRoot = HKEY_CLASSES_ROOT);

// Loads a "REGISTRY" resource (ANSI text) from a module and runs it.
HRESULT RunRegistryResource(HMODULE module, UINT resourceId, ScriptMode mode,
                            const ScriptReplacements& replacements, HKEY classesRoot = HKEY_CLASSES_ROOT);

} // namespace dv::module
