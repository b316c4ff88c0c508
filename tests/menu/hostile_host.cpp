// A host that hands the registered handler (through COM) and the manager's paste check (through
// the Clipboard) selection data that other programs could make: run as a child process, so that a
// crash or a hang costs the test only this process. Writes what it saw to a report file:
//
//   hostile_host.exe <report> cases <scratch folder>
//       the fixed cases, one line each: "<name> init=<hresult> paste=<0|1>"
//   hostile_host.exe <report> fuzz <first seed> <count> <scratch folder>
//       generated cases: "seed <n>" before each case is handed over; at the end how many
//       Initialize accepted and the manager offered to paste, and "done"
#include "common/product_ids.h"
#include "common/handles.h"
#include "common/shell_objects.h"
#include "manager/clipboard.h"
#include <windows.h>
#include <shlobj.h>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using dv::manager::ClipboardOffersFolderPaths;
using dv::manager::GetClipboardFolderPaths;

using namespace dv;
using Bytes = std::vector<BYTE>;

namespace {

const CLSID kHandlerClsid = dvtest::kHandlerClsid;
CLIPFORMAT g_idListFormat = 0;

struct Case {
    std::string name;
    bool idList;  // "Shell IDList Array", else CF_HDROP
    Bytes bytes;
};

template <class T>
void Put(Bytes& bytes, size_t offset, T value) {
    if (bytes.size() < offset + sizeof(T)) bytes.resize(offset + sizeof(T));
    std::memcpy(bytes.data() + offset, &value, sizeof(T));
}

Bytes AnsiDropBlock(const std::vector<std::string>& names) {
    Bytes block(sizeof(DROPFILES));
    Put<DWORD>(block, 0, sizeof(DROPFILES));
    for (const std::string& name : names) block.insert(block.end(), name.c_str(), name.c_str() + name.size() + 1);
    block.push_back(0);
    return block;
}

// A sound "Shell IDList Array" of items of one folder.
Bytes IdListBlock(const std::wstring& folder, const std::vector<std::wstring>& names) {
    std::vector<unique_pidl> lists;
    lists.push_back(dvtest::ItemList(folder));
    for (const std::wstring& name : names) {
        unique_pidl full = dvtest::ItemList(folder + L"\\" + name);
        PCUIDLIST_RELATIVE child = full && lists[0] ? ::ILFindChild(lists[0].get(), full.get()) : nullptr;
        lists.emplace_back(child ? ::ILClone(child) : nullptr);
    }
    Bytes block((lists.size() + 1) * sizeof(UINT));
    Put<UINT>(block, 0, static_cast<UINT>(names.size()));
    for (size_t i = 0; i < lists.size(); ++i) {
        if (!lists[i]) return {};
        Put<UINT>(block, (i + 1) * sizeof(UINT), static_cast<UINT>(block.size()));
        const BYTE* raw = reinterpret_cast<const BYTE*>(lists[i].get());
        block.insert(block.end(), raw, raw + ::ILGetSize(lists[i].get()));
    }
    return block;
}

// Every offset leads into one list of a quarter of a million empty items: walking each offset's
// list in turn would take hours on the host's thread.
Bytes OneLongListBlock() {
    constexpr UINT kOffsets = 128 * 1024;
    constexpr size_t kListAt = (kOffsets + 1) * sizeof(UINT);
    constexpr size_t kItems = 256 * 1024;
    Bytes block(kListAt + (kItems + 1) * sizeof(USHORT), 0);
    Put<UINT>(block, 0, kOffsets - 1);
    for (UINT i = 0; i < kOffsets; ++i) Put<UINT>(block, (i + 1) * sizeof(UINT), static_cast<UINT>(kListAt));
    for (size_t i = 0; i < kItems; ++i) Put<USHORT>(block, kListAt + i * sizeof(USHORT), sizeof(USHORT));
    return block;
}

std::vector<Case> FixedCases(const std::wstring& scratch) {
    const std::wstring folder = scratch + L"\\Sound";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    Bytes drop = dvtest::DropFilesBlock({folder});
    Bytes list = IdListBlock(scratch, {L"Sound"});
    std::vector<Case> cases = {
        {"hdrop-sound", false, drop},
        {"hdrop-ansi-sound", false, AnsiDropBlock({"C:\\windows"})},
        {"hdrop-empty-list", false, dvtest::DropFilesBlock({})},
        {"hdrop-no-bytes", false, {}},
        {"hdrop-shorter-than-header", false, Bytes(drop.begin(), drop.begin() + 12)},
        {"hdrop-offset-past-end", false, drop},
        {"hdrop-offset-inside-header", false, drop},
        {"hdrop-unterminated", false, Bytes(drop.begin(), drop.end() - 4)},
        {"hdrop-ansi-unterminated", false, AnsiDropBlock({"C:\\windows"})},
        {"hdrop-name-too-long", false, dvtest::DropFilesBlock({folder, L"C:\\" + std::wstring(257, L'n')})},
        {"cida-sound", true, list},
        {"cida-no-bytes", true, {}},
        {"cida-count-past-end", true, list},
        {"cida-offset-past-end", true, list},
        {"cida-item-past-end", true, list},
        {"cida-unterminated", true, Bytes(list.begin(), list.end() - 2)},
        {"cida-item-size-one", true, list},
        {"cida-one-long-list", true, OneLongListBlock()},
    };
    auto find = [&cases](const char* name) -> Bytes& {
        for (Case& c : cases)
            if (c.name == name) return c.bytes;
        return cases[0].bytes;
    };
    Put<DWORD>(find("hdrop-offset-past-end"), 0, 0x7FFFFFF0);
    Put<DWORD>(find("hdrop-offset-inside-header"), 0, 4);
    find("hdrop-ansi-unterminated").resize(find("hdrop-ansi-unterminated").size() - 2);
    Put<UINT>(find("cida-count-past-end"), 0, 0x40000000);
    Put<UINT>(find("cida-offset-past-end"), 2 * sizeof(UINT), 0xFFFFFFF0);
    Bytes& itemPastEnd = find("cida-item-past-end");
    UINT childAt = 0;
    std::memcpy(&childAt, itemPastEnd.data() + 2 * sizeof(UINT), sizeof(UINT));
    Put<USHORT>(itemPastEnd, childAt, 0xFFF0);
    Put<USHORT>(find("cida-item-size-one"), childAt, 1);
    return cases;
}

// A case for seed: random bytes, or a sound block with a few of its bytes or fields changed.
Case GeneratedCase(unsigned seed, const Bytes& soundDrop, const Bytes& soundList) {
    std::mt19937 random(seed);
    auto below = [&random](size_t limit) { return limit ? static_cast<size_t>(random() % limit) : 0; };
    Case c;
    c.idList = random() % 2 == 0;
    const size_t sizeLimits[] = {64, 4096, 65536};
    if (random() % 3 == 0) {
        c.bytes.resize(below(sizeLimits[below(3)] + 1));
        for (BYTE& b : c.bytes) b = static_cast<BYTE>(random());
        // A plausible start: a small count or the usual header size.
        if (c.bytes.size() >= 4 && random() % 2) Put<UINT>(c.bytes, 0, c.idList ? below(4) : sizeof(DROPFILES));
        return c;
    }
    c.bytes = c.idList ? soundList : soundDrop;
    if (random() % 4 == 0) c.bytes.resize(below(65536) + 1, static_cast<BYTE>(random()));
    const UINT edges[] = {0, 1, 2, 0xFFFF, 0x7FFFFFFF, 0xFFFFFFFF};
    for (size_t changes = 1 + below(4); changes > 0 && !c.bytes.empty(); --changes) {
        const size_t at = below(c.bytes.size());
        switch (random() % 4) {
        case 0: c.bytes[at] = static_cast<BYTE>(random()); break;
        case 1: if (at + 4 <= c.bytes.size()) Put<UINT>(c.bytes, at, edges[below(6)]); break;
        case 2: if (at + 4 <= c.bytes.size()) Put<UINT>(c.bytes, at, static_cast<UINT>(below(c.bytes.size() + 8))); break;
        default: c.bytes.resize(at); break;
        }
    }
    return c;
}

// What the manager makes of the bytes as the Clipboard's file list: whether its menu offers "Paste
// from Explorer". The paste itself must find folders exactly when the menu offered them; exits
// with code 5 when not.
bool PasteOffered(const Bytes& bytes) {
    if (!::OpenClipboard(nullptr)) return false;
    ::EmptyClipboard();
    HGLOBAL memory = dvtest::CopyToGlobal(bytes);
    if (memory && !::SetClipboardData(CF_HDROP, memory)) ::GlobalFree(memory);
    ::CloseClipboard();
    const bool offered = ClipboardOffersFolderPaths();
    std::vector<std::wstring> paths;
    if (GetClipboardFolderPaths(paths) != offered) ::ExitProcess(5);
    return offered;
}

class Host {
public:
    HRESULT Hand(const Case& c) {
        if (!init_ || ++uses_ > 500) {  // a fresh handler now and then, as the shell makes one per menu
            init_.reset();
            ::CoCreateInstance(kHandlerClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit, init_.put_void());
            uses_ = 0;
        }
        if (!init_) return E_NOINTERFACE;
        auto data = dvtest::BlobDataObject(c.idList ? g_idListFormat : CF_HDROP, c.bytes);
        HRESULT hr = init_->Initialize(nullptr, data.get(), nullptr);
        if (SUCCEEDED(hr)) {
            auto menu = init_.query<IContextMenu>();
            unique_hmenu host(::CreatePopupMenu());
            if (menu) menu->QueryContextMenu(host.get(), 0, 1, 0x7FFF, CMF_NORMAL);
        }
        return hr;
    }

private:
    com_ptr<IShellExtInit> init_;
    int uses_ = 0;
};

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) return 2;
    if (FAILED(::OleInitialize(nullptr))) return 3;
    g_idListFormat = static_cast<CLIPFORMAT>(::RegisterClipboardFormatW(CFSTR_SHELLIDLIST));
    FILE* report = _wfopen(argv[1], L"wb");
    if (!report) return 4;
    const std::wstring mode = argv[2];
    Host host;
    if (mode == L"cases") {
        for (const Case& c : FixedCases(argv[3])) {
            HRESULT hr = host.Hand(c);
            bool paste = !c.idList && PasteOffered(c.bytes);
            fprintf(report, "%s init=0x%08lX paste=%d\n", c.name.c_str(), static_cast<unsigned long>(hr), paste);
        }
    } else if (mode == L"fuzz" && argc >= 6) {
        const unsigned first = static_cast<unsigned>(wcstoul(argv[3], nullptr, 10));
        const unsigned count = static_cast<unsigned>(wcstoul(argv[4], nullptr, 10));
        const std::wstring scratch = argv[5];
        const std::wstring sound = scratch + L"\\Sound";
        ::CreateDirectoryW(sound.c_str(), nullptr);
        ::CloseHandle(::CreateFileW((sound + L"\\a.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        const Bytes soundDrop = dvtest::DropFilesBlock({sound, sound + L"\\a.txt"});
        const Bytes soundList = IdListBlock(scratch, {L"Sound", L"Sound\\a.txt"});
        unsigned accepted = 0, pasted = 0;
        for (unsigned seed = first; seed < first + count; ++seed) {
            fprintf(report, "seed %u\n", seed);
            fflush(report);
            Case c = GeneratedCase(seed, soundDrop, soundList);
            if (SUCCEEDED(host.Hand(c))) ++accepted;
            if (!c.idList && PasteOffered(c.bytes)) ++pasted;
        }
        fprintf(report, "accepted %u pasted %u\ndone\n", accepted, pasted);
    } else {
        return 2;
    }
    fclose(report);
    ::OleUninitialize();
    return 0;
}
