// The named event lives while any process has the DLL loaded. This program never loads the DLL.
#include "common/test_support.h"
#include <gtest/gtest.h>

using namespace dv;

namespace {

constexpr const wchar_t kSelectorEvent[] = L"Global\\FileSystemObjectsSelector";

bool EventExists() {
    unique_handle event(::OpenEventW(SYNCHRONIZE, FALSE, kSelectorEvent));
    return static_cast<bool>(event);
}

struct Holder {
    unique_handle process;
    unique_handle quit;
};

Holder StartHolder(const wchar_t* quitName) {
    Holder holder;
    holder.quit.reset(::CreateEventW(nullptr, TRUE, FALSE, quitName));
    holder.process = dvtest::StartProcess(L"\"" + dvtest::ProgramFolder() + L"\\dll_holder.exe\" \"" +
                                          dvtest::DistFile(L"Dirvane.dll") + L"\" " + quitName);
    return holder;
}

bool StopHolder(Holder& holder) {
    ::SetEvent(holder.quit.get());
    return ::WaitForSingleObject(holder.process.get(), 10000) == WAIT_OBJECT_0;
}

TEST(NamedEvent, ExistsWhileAnyProcessHasTheDllLoaded) {
    ASSERT_TRUE(dvtest::WaitFor([] { return !EventExists(); })) << "another process holds the DLL";
    Holder first = StartHolder(L"DirvaneHolderQuit1");
    ASSERT_TRUE(first.process);
    ASSERT_TRUE(dvtest::WaitFor(EventExists));
    Holder second = StartHolder(L"DirvaneHolderQuit2");
    ASSERT_TRUE(second.process);
    ASSERT_TRUE(dvtest::WaitFor([] {
        unique_handle ready(::OpenEventW(SYNCHRONIZE, FALSE, L"DirvaneHolderQuit2Ready"));
        return static_cast<bool>(ready);
    }));

    ASSERT_TRUE(StopHolder(first));
    EXPECT_TRUE(EventExists());
    ASSERT_TRUE(StopHolder(second));
    EXPECT_TRUE(dvtest::WaitFor([] { return !EventExists(); }));
}

} // namespace
