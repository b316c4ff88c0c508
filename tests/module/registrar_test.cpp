#include "module/registrar.h"
#include <gtest/gtest.h>
TEST(Registrar, Placeholder) { EXPECT_EQ(dv::RunRegistryScript(L"HKXX { }", dv::ScriptMode::Register, {}), DISP_E_EXCEPTION); }
