#include <gtest/gtest.h>

#include "platform/com/com.h"
#include "platform/com/guid.h"

TEST(Guid, TextFormRoundTrips) {
  const GUID g{0x15891CD2, 0xF41F, 0x4E61, {0xA0, 0x94, 0xCE, 0x10, 0xD5, 0x07, 0x3C, 0x58}};
  EXPECT_EQ(platform::GuidToString(g), "{15891CD2-F41F-4E61-A094-CE10D5073C58}");
  EXPECT_EQ(platform::GuidFromString("{15891cd2-f41f-4e61-a094-ce10d5073c58}"), g);
  EXPECT_EQ(platform::GuidFromString("15891CD2-F41F-4E61-A094-CE10D5073C58"), g);
  EXPECT_FALSE(platform::GuidFromString("{15891CD2-F41F-4E61-A094-CE10D5073C5}"));
  EXPECT_FALSE(platform::GuidFromString("{15891CD2+F41F-4E61-A094-CE10D5073C58}"));
}

TEST(Guid, NameBasedIdentityIsStableAndDistinct) {
  EXPECT_EQ(platform::GuidFromName("/usr/share/sounds/sf2/a.sf2"),
            platform::GuidFromName("/usr/share/sounds/sf2/a.sf2"));
  EXPECT_FALSE(platform::GuidFromName("/a.sf2") == platform::GuidFromName("/b.sf2"));
}

TEST(Com, CreationNeedsAnInitialisedThread) {
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(GUID_NULL, nullptr, CLSCTX_INPROC, IID_IUnknown, &object), CO_E_NOTINITIALIZED);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
  EXPECT_EQ(CoCreateInstance(GUID_NULL, nullptr, CLSCTX_INPROC, IID_IUnknown, &object), REGDB_E_CLASSNOTREG);
  CoUninitialize();
  CoUninitialize();
  EXPECT_FALSE(platform::IsComInitialized());
}
