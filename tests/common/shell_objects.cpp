#include "shell_objects.h"
#include "test_com.h"
#include <shlobj.h>
#include <shlwapi.h>
#include <cstring>

namespace dvtest {

dv::unique_pidl ItemList(const std::wstring& path) {
    dv::unique_pidl list;
    if (FAILED(::SHParseDisplayName(path.c_str(), nullptr, reinterpret_cast<PIDLIST_ABSOLUTE*>(list.put()), 0,
                                    nullptr)))
        list.release();
    return list;
}

namespace {
dv::com_ptr<IDataObject> DataObjectOf(IShellFolder* folder, const std::vector<std::wstring>& names) {
    std::vector<dv::unique_pidl> children;
    std::vector<PCUITEMID_CHILD> raw;
    for (const auto& name : names) {
        dv::unique_pidl child;
        std::wstring mutableName = name;
        if (FAILED(folder->ParseDisplayName(nullptr, nullptr, mutableName.data(), nullptr,
                                            reinterpret_cast<PIDLIST_RELATIVE*>(child.put()), nullptr)))
            return {};
        raw.push_back(reinterpret_cast<PCUITEMID_CHILD>(child.get()));
        children.push_back(std::move(child));
    }
    dv::com_ptr<IDataObject> data;
    if (FAILED(folder->GetUIObjectOf(nullptr, static_cast<UINT>(raw.size()), raw.data(), IID_IDataObject, nullptr,
                                     data.put_void())))
        return {};
    return data;
}
} // namespace

dv::com_ptr<IDataObject> ShellDataObject(const std::wstring& parentFolder, const std::vector<std::wstring>& names) {
    dv::com_ptr<IShellFolder> desktop;
    if (FAILED(::SHGetDesktopFolder(desktop.put()))) return {};
    dv::unique_pidl parent = ItemList(parentFolder);
    if (!parent) return {};
    dv::com_ptr<IShellFolder> folder;
    if (parent.get()->mkid.cb == 0) {
        folder = desktop;
    } else if (FAILED(desktop->BindToObject(parent.get(), nullptr, IID_IShellFolder, folder.put_void()))) {
        return {};
    }
    return DataObjectOf(folder.get(), names);
}

dv::com_ptr<IDataObject> DesktopDataObject(const std::vector<std::wstring>& parsingNames) {
    dv::com_ptr<IShellFolder> desktop;
    if (FAILED(::SHGetDesktopFolder(desktop.put()))) return {};
    return DataObjectOf(desktop.get(), parsingNames);
}

namespace {
// The advise slots that none of the test data objects supports.
class DataObjectBase : public SingleInterfaceObject<IDataObject> {
public:
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }
};

// Offers one format as a copy of fixed bytes in global memory (or nothing at all).
class BlobObject final : public DataObjectBase {
public:
    BlobObject(CLIPFORMAT format, std::vector<BYTE> bytes, bool offer)
        : format_(format), bytes_(std::move(bytes)), offer_(offer) {}
    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override {
        if (QueryGetData(format) != S_OK || !(format->tymed & TYMED_HGLOBAL)) return DV_E_FORMATETC;
        HGLOBAL memory = CopyToGlobal(bytes_);
        if (!memory) return E_OUTOFMEMORY;
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = memory;
        medium->pUnkForRelease = nullptr;
        return S_OK;
    }
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC* format) override {
        return offer_ && format->cfFormat == format_ ? S_OK : DV_E_FORMATETC;
    }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
        out->ptd = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }

private:
    CLIPFORMAT format_;
    std::vector<BYTE> bytes_;
    bool offer_;
};

class NoDropObject final : public DataObjectBase {
public:
    explicit NoDropObject(dv::com_ptr<IDataObject> inner) : inner_(std::move(inner)) {}
    STDMETHODIMP GetData(FORMATETC* f, STGMEDIUM* m) override {
        return f->cfFormat == CF_HDROP ? DV_E_FORMATETC : inner_->GetData(f, m);
    }
    STDMETHODIMP GetDataHere(FORMATETC* f, STGMEDIUM* m) override { return inner_->GetDataHere(f, m); }
    STDMETHODIMP QueryGetData(FORMATETC* f) override {
        return f->cfFormat == CF_HDROP ? DV_E_FORMATETC : inner_->QueryGetData(f);
    }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC* f, FORMATETC* o) override { return inner_->GetCanonicalFormatEtc(f, o); }
    STDMETHODIMP SetData(FORMATETC* f, STGMEDIUM* m, BOOL r) override { return inner_->SetData(f, m, r); }
    STDMETHODIMP EnumFormatEtc(DWORD d, IEnumFORMATETC** e) override { return inner_->EnumFormatEtc(d, e); }

private:
    dv::com_ptr<IDataObject> inner_;
};

} // namespace

dv::com_ptr<IDataObject> WithoutDropList(dv::com_ptr<IDataObject> inner) {
    if (!inner) return {};
    return dv::com_ptr<IDataObject>(new NoDropObject(std::move(inner)), false);
}

HGLOBAL CopyToGlobal(const std::vector<BYTE>& bytes) {
    // Of 0 bytes, a discarded block: it cannot even be locked.
    HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes.empty() ? 0 : bytes.size());
    if (memory && !bytes.empty()) {
        dv::global_lock<BYTE> locked(memory);
        if (locked) std::memcpy(locked.get(), bytes.data(), bytes.size());
    }
    return memory;
}

std::vector<BYTE> DropFilesBlock(const std::vector<std::wstring>& paths) {
    std::vector<BYTE> block(sizeof(DROPFILES));
    DROPFILES header = {};
    header.pFiles = sizeof(DROPFILES);
    header.fWide = TRUE;
    std::memcpy(block.data(), &header, sizeof(header));
    auto append = [&block](const std::wstring& text) {
        const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
        block.insert(block.end(), bytes, bytes + (text.size() + 1) * sizeof(wchar_t));
    };
    for (const auto& p : paths) append(p);
    append(L"");
    return block;
}

dv::com_ptr<IDataObject> BlobDataObject(CLIPFORMAT format, std::vector<BYTE> bytes) {
    return dv::com_ptr<IDataObject>(new BlobObject(format, std::move(bytes), true), false);
}

dv::com_ptr<IDataObject> DropDataObject(const std::vector<std::wstring>& paths, bool offerDrop) {
    return dv::com_ptr<IDataObject>(new BlobObject(CF_HDROP, DropFilesBlock(paths), offerDrop), false);
}

} // namespace dvtest
