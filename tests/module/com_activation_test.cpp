// COM activation from the registry, as Explorer does it, and the class-object and unload rules.
#include "common/product_ids.h"
#include "common/handles.h"
#include "common/test_support.h"
#include <gtest/gtest.h>
#include <shlobj.h>

using namespace dv;

namespace {

const CLSID kClsid = dvtest::kHandlerClsid;
const CLSID kOtherClsid = {0x5E2A7C41, 0x3B9D, 0x4F08, {0xA6, 0xC2, 0x71, 0xD0, 0xE4, 0xB9, 0x8F, 0x36}};

using CanUnloadFn = HRESULT(STDAPICALLTYPE*)();
using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

class ComActivation : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(dvtest::RunProcess(L"regsvr32.exe /s \"" + dvtest::DistFile(L"Dirvane.dll") + L"\""), 0u);
    }
    static void TearDownTestSuite() {
        dvtest::RunProcess(L"regsvr32.exe /s /u \"" + dvtest::DistFile(L"Dirvane.dll") + L"\"");
    }
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(com_.result())); }

    // The DLL that COM loaded into this process.
    static HMODULE LoadedDll() { return ::GetModuleHandleW(L"Dirvane.dll"); }
    static HRESULT CanUnload() {
        auto fn = reinterpret_cast<CanUnloadFn>(::GetProcAddress(LoadedDll(), "DllCanUnloadNow"));
        return fn ? fn() : E_FAIL;
    }

    com_init com_;
};

TEST_F(ComActivation, CreatesTheHandlerWithItsInterfaces) {
    com_ptr<IShellExtInit> init;
    ASSERT_EQ(::CoCreateInstance(kClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit, init.put_void()), S_OK);
    auto menu = init.query<IContextMenu>();
    auto menu2 = init.query<IContextMenu2>();
    auto menu3 = init.query<IContextMenu3>();
    ASSERT_TRUE(menu && menu2 && menu3);
    // IUnknown is answered through the first entry; the three menu interfaces share one table.
    com_ptr<IUnknown> unknown = init.query<IUnknown>();
    EXPECT_EQ(static_cast<void*>(unknown.get()), static_cast<void*>(init.get()));
    EXPECT_EQ(static_cast<void*>(menu.get()), static_cast<void*>(menu3.get()));
    EXPECT_FALSE(init.query<IShellFolder>());
}

// The command tree of Windows 11's first-level menu: a class of its own, with its own class object.
TEST_F(ComActivation, CreatesTheCommandTreeWithItsOwnClassObject) {
    com_ptr<IClassFactory> handlerFactory, commandFactory, again;
    ASSERT_EQ(::CoGetClassObject(kClsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, handlerFactory.put_void()), S_OK);
    ASSERT_EQ(::CoGetClassObject(dvtest::kCommandClsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                 commandFactory.put_void()), S_OK);
    ASSERT_EQ(::CoGetClassObject(dvtest::kCommandClsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, again.put_void()),
              S_OK);
    EXPECT_NE(handlerFactory.get(), commandFactory.get());
    EXPECT_EQ(commandFactory.get(), again.get());
    com_ptr<IExplorerCommand> command;
    IUnknown* outer = reinterpret_cast<IUnknown*>(again.get());
    EXPECT_EQ(commandFactory->CreateInstance(outer, IID_IExplorerCommand, command.put_void()), CLASS_E_NOAGGREGATION);
    ASSERT_EQ(commandFactory->CreateInstance(nullptr, IID_IExplorerCommand, command.put_void()), S_OK);
    EXPECT_TRUE(command.query<IObjectWithSite>());
    EXPECT_FALSE(command.query<IContextMenu>());
    handlerFactory.reset();
    commandFactory.reset();
    again.reset();
    EXPECT_EQ(CanUnload(), S_FALSE);  // the command
    command.reset();
    EXPECT_TRUE(dvtest::WaitFor([] { return CanUnload() == S_OK; }));
}

TEST_F(ComActivation, ClassObjectIsCachedAndRefusesAggregation) {
    com_ptr<IClassFactory> first, second;
    ASSERT_EQ(::CoGetClassObject(kClsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, first.put_void()), S_OK);
    ASSERT_EQ(::CoGetClassObject(kClsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, second.put_void()), S_OK);
    EXPECT_EQ(first.get(), second.get());

    com_ptr<IUnknown> object;
    IUnknown* outer = reinterpret_cast<IUnknown*>(first.get());
    EXPECT_EQ(first->CreateInstance(outer, IID_IUnknown, object.put_void()), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(first->CreateInstance(outer, IID_IContextMenu, object.put_void()), CLASS_E_NOAGGREGATION);
    EXPECT_FALSE(object);
    EXPECT_EQ(first->CreateInstance(nullptr, IID_IContextMenu, nullptr), E_POINTER);
    EXPECT_EQ(first->CreateInstance(nullptr, IID_IShellFolder, object.put_void()), E_NOINTERFACE);
    EXPECT_FALSE(object);
}

TEST_F(ComActivation, DllGetClassObjectAnswersOnlyItsClass) {
    com_ptr<IClassFactory> factory;
    ASSERT_EQ(::CoGetClassObject(kClsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.put_void()), S_OK);
    auto get = reinterpret_cast<GetClassObjectFn>(::GetProcAddress(LoadedDll(), "DllGetClassObject"));
    ASSERT_TRUE(get);
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(get(kOtherClsid, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(get(kClsid, IID_IClassFactory, nullptr), E_POINTER);
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(get(kClsid, IID_IShellFolder, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
}

TEST_F(ComActivation, UnloadWaitsForObjectsClientsAndServerLocks) {
    com_ptr<IClassFactory> factory;
    ASSERT_EQ(::CoGetClassObject(kClsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.put_void()), S_OK);
    EXPECT_EQ(CanUnload(), S_FALSE);  // a client holds the class object
    com_ptr<IContextMenu> menu;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IContextMenu, menu.put_void()), S_OK);
    factory->LockServer(TRUE);
    factory.reset();
    EXPECT_EQ(CanUnload(), S_FALSE);  // the handler and the server lock
    menu.reset();
    EXPECT_EQ(CanUnload(), S_FALSE);  // the server lock alone
    ASSERT_EQ(::CoGetClassObject(kClsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.put_void()), S_OK);
    factory->LockServer(FALSE);
    factory.reset();
    // The handler's background update check keeps the DLL loaded until it ends by itself.
    EXPECT_TRUE(dvtest::WaitFor([] { return CanUnload() == S_OK; }));
}

} // namespace
